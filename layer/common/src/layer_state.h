// The registry of the contexts and queues a layer tracks, whose lifetimes follow the reference
// counts the application holds: a context's record (and what the layer keeps for it) lives until
// the application's last reference and the layer's last child object in it (queue, program,
// kernel) are gone, as the driver's context does. Read-mostly: lookups take the lock shared.
// Nothing holds it across a driver call that may wait or run a callback.
#pragma once

#include "opencl_api.h"

#include <cstddef>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <vector>

struct DeviceCaps;

struct ContextRecord {
  cl_uint RefCount = 1; // the application's references
  cl_uint Children = 0; // queues, programs and kernels of the context the layer counts
  cl_platform_id Platform = nullptr;
  std::vector<cl_device_id> Devices;
  // True when this layer serves every device of the context itself.
  bool Served = false;
  bool FineGrainBuffers = false;
  cl_ulong MaxAllocSize = 0;
  // Markers after the last commands of queues released while the layer held memory in the
  // context: that memory is freed only after them.
  std::vector<cl_event> Released;
};

struct QueueRecord {
  cl_uint RefCount = 1;
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
};

struct LayerState {
  std::shared_mutex Lock;
  std::map<cl_context, ContextRecord> Contexts;
  std::map<cl_command_queue, QueueRecord> Queues;
};

LayerState &layerState();

// Whether a handle was created through the layer and is still alive; unknown handles get error
// codes instead of being passed to the loader, which would dereference them.
bool queueKnown(cl_command_queue Queue);

// A child object of a context came or went; the caller does not hold the lock. The context's
// record goes with its last child once the application holds no reference: call dropChild
// before the driver's release of the child, which may be what keeps the driver's context.
void adoptChild(cl_context Context);
void dropChild(cl_context Context);

// Waits for every command queued in the context, released queues included, without the lock
// held meanwhile; the first failure to retain, finish or wait, or CL_SUCCESS.
cl_int finishContextQueues(cl_context Context);

// Frees SVM memory of the context once every command queued in it so far has finished, without
// waiting: through a private queue whose free command waits for markers in the context's queues.
// Where that cannot be set up, waits for the work and frees at once. Released: markers of
// released queues the context's record no longer holds (it is gone), waited for too.
void freeAfterQueuedWork(cl_context Context, cl_device_id Device, std::vector<void *> Bases,
                         const std::vector<cl_event> &Released = {});

// Installs the handlers for context and queue creation and release.
void installTrackingHooks(cl_icd_dispatch &Table);

// Given by each layer: whether it serves a device itself.
bool layerServesDevice(const DeviceCaps &Caps);
// Given by each layer: whether it holds memory in the context that queued work may use (then a
// released queue leaves a marker the memory waits for). Called without the lock.
bool layerHoldsMemory(cl_context Context);
// Given by each layer: the record of a context it served is gone (the application's last
// reference and the layer's last child in it); called without the lock, while the driver's
// context is still held.
void contextReleased(cl_context Context, const ContextRecord &Record);
