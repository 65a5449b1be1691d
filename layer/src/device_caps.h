// Questions about devices, asked of the next level and never of the layer itself.
#pragma once

#include "opencl_api.h"

#include <string>
#include <vector>

// A text query; empty on failure, with the driver's code in *Error when asked for.
std::string deviceInfoText(cl_device_id Device, cl_device_info Param, cl_int *Error = nullptr);
cl_device_svm_capabilities deviceSvmCapabilities(cl_device_id Device);
cl_device_type deviceType(cl_device_id Device);
cl_ulong deviceMaxAllocSize(cl_device_id Device);
cl_platform_id devicePlatform(cl_device_id Device);

// The level below already offers the extension: the layer then steps aside for this device.
bool deviceHasNativeUsm(cl_device_id Device);
// The layer can serve the extension on this device (buffer SVM, no native support).
bool layerServesUsm(cl_device_id Device);
// The same decision, given the device's extension list.
bool layerServesUsm(cl_device_id Device, const std::string &Extensions);
// The level below takes SPIR-V itself.
bool deviceAcceptsSpirv(cl_device_id Device);

std::vector<cl_device_id> contextDevices(cl_context Context);
std::vector<cl_device_id> platformDevices(cl_platform_id Platform);

// Whether a word occurs in a space-separated extension list.
bool extensionListHas(const std::string &List, const char *Name);
