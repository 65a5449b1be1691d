// Which kernel parameters are pointers, read from a SPIR-V image's entry points. The compiler's
// literals (firstprivate values and is_device_ptr pointers share one map type) must reach a
// pointer parameter through the plugin's pointer call and a value parameter as a value.
#ifndef LIBOMPTARGET_KERNEL_PARAMS_H
#define LIBOMPTARGET_KERNEL_PARAMS_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// Per kernel (entry point) name, one flag per parameter: true for a pointer. Empty when the image
// is not a SPIR-V module or cannot be read.
std::map<std::string, std::vector<bool>> kernelPointerParams(const void *Image, size_t Size);

#endif
