// The binary the layer gives for its programs (CL_PROGRAM_BINARIES) and takes back
// (clCreateProgramWithBinary): the module as it was before the driver's rewrite, so that a
// program made from it places its variables again, and the kind of binary it was.
#pragma once

#include "opencl_api.h"

#include <string>

std::string layerBinary(cl_program_binary_type Type, const std::string &Bitcode);
// Whether Bytes are such a binary; its parts when they are.
bool readLayerBinary(const unsigned char *Bytes, size_t Length, cl_program_binary_type &Type,
                     std::string &Bitcode);
