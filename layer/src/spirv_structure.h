// A structural check of a SPIR-V module: the translator library asserts (ending the process) on
// streams it cannot decode, so only well-formed instruction streams reach it.
#pragma once

#include <string>
#include <vector>

bool spirvStructureValid(const std::vector<char> &Spirv, std::string &Problem);
