// The one place the plugin includes the core OpenCL header. Vendor extensions are declared by the
// plugin itself (device/extension_api.h), never taken from system headers.
#ifndef FRAME_OPENCL_H
#define FRAME_OPENCL_H

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 300
#endif
#include <CL/cl.h>

#endif
