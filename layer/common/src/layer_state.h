// Handles every layer tracks: contexts and queues.
// All of it is guarded by one mutex; nothing holds it across a call into the driver that may wait.
#pragma once

#include "opencl_api.h"

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

struct DeviceCaps;

struct ContextRecord {
  cl_uint RefCount = 1;
  cl_platform_id Platform = nullptr;
  std::vector<cl_device_id> Devices;
  // True when this layer serves every device of the context itself.
  bool Served = false;
  bool FineGrainBuffers = false;
  cl_ulong MaxAllocSize = 0;
};

struct QueueRecord {
  cl_uint RefCount = 1;
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
};

struct LayerState {
  std::mutex Lock;
  std::map<cl_context, ContextRecord> Contexts;
  std::map<cl_command_queue, QueueRecord> Queues;
};

LayerState &layerState();

// Whether a handle was created through the layer and is still alive; unknown handles get error
// codes instead of being passed to the loader, which would dereference them.
bool queueKnown(cl_command_queue Queue);

// Waits for every command queued in the context, without the layer's lock held meanwhile; the
// first failure to retain or finish a queue, or CL_SUCCESS.
cl_int finishContextQueues(cl_context Context);

// Installs the handlers for context and queue creation and release.
void installTrackingHooks(cl_icd_dispatch &Table);

// Given by each layer: whether it serves a device itself.
bool layerServesDevice(const DeviceCaps &Caps);
// Given by each layer: the application released its last reference to a context the layer
// served; called before the driver's release, without the lock.
void contextReleased(cl_context Context);
