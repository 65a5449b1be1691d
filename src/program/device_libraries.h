// The device library programs linked with an image: SPIR-V files beside the plugin's own library
// that supply what the device does not offer itself.
#ifndef PROGRAM_DEVICE_LIBRARIES_H
#define PROGRAM_DEVICE_LIBRARIES_H

#include "frame/opencl.h"

#include <cstdint>
#include <string>
#include <vector>

// The directory of the plugin's library file with its trailing separator; empty when there is no
// separator, and Found is false when the file name cannot be obtained.
std::string pluginDirectory(bool &Found);

// Appends a program for every library the device lacks and whose file can be read and created.
// Problems are reported as debug messages only.
void addDeviceLibraries(int32_t DeviceId, std::vector<cl_program> &Programs);

#endif
