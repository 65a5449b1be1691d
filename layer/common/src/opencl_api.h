// The Khronos headers the layer is written against, at one fixed API version.
#pragma once

#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>
#include <CL/cl_icd.h>
#include <CL/cl_layer.h>

// The next level down (another layer or the loader's driver dispatch), copied at initialisation.
// Every call the layer makes into OpenCL goes through this table.
extern cl_icd_dispatch gNext;
