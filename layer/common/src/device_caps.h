// Questions about devices, asked of the next level and never of the layer itself. A device's
// answers are asked once and kept, so that the layer's decisions about it never change within a
// process and cost no driver call after the first.
#pragma once

#include "opencl_api.h"

#include <string>
#include <vector>

// The shared-memory extension: a device that has it natively is left to its driver.
#define LAYER_USM_EXTENSION_NAME "cl_tarno_unified_shared_memory"

struct DeviceCaps {
  std::string Extensions; // the driver's own list
  cl_device_svm_capabilities Svm = 0;
  bool AcceptsSpirv = false; // the level below takes SPIR-V itself
  cl_device_type Type = 0;
  cl_ulong MaxAllocSize = 0;
  cl_platform_id Platform = nullptr;
};

// The device's answers: CL_SUCCESS, or the error of the query that failed (nothing is kept then,
// so the next call asks again). A query the driver does not know (CL_INVALID_VALUE) of SVM or
// SPIR-V means the device has neither.
cl_int deviceCaps(cl_device_id Device, DeviceCaps &Caps);

// The level below already offers the extension: the layer then steps aside for this device.
bool hasNativeUsm(const DeviceCaps &Caps);
// The layer serves the extension on this device (buffer SVM, no native support).
bool layerServesUsm(const DeviceCaps &Caps);
// The layer compiles SPIR-V for this device.
bool layerTranslatesSpirv(const DeviceCaps &Caps);

// The driver's answer to a text query; empty on failure, with the driver's code in *Error.
std::string deviceInfoText(cl_device_id Device, cl_device_info Param, cl_int *Error = nullptr);

// CL_SUCCESS with the devices, or the driver's error.
cl_int contextDevices(cl_context Context, std::vector<cl_device_id> &Devices);
cl_int platformDevices(cl_platform_id Platform, std::vector<cl_device_id> &Devices);

// CL_SUCCESS when Serves holds for some device of the platform, CL_INVALID_PLATFORM when it holds
// for none, or the error of a query that failed. Answers are kept until the process ends;
// failures are asked again.
cl_int platformServed(cl_platform_id Platform, bool (*Serves)(const DeviceCaps &));

// Whether a word occurs in a space-separated extension list.
bool extensionListHas(const std::string &List, const char *Name);
