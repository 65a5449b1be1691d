#include "frame/cl_call.h"

void logCLCaller(const char *Function, const char *ArgumentText) {
  DP("CL_CALLER: %s %s\n", Function, ArgumentText);
}

void reportCLError(const char *Operation, const char *Function, cl_int Rc) {
  DP("Error: %s:%s failed with error code %d, %s\n", Operation, Function, Rc, getCLErrorName(Rc));
}

void reportCLWarning(const char *Operation, const char *Function, cl_int Rc) {
  DP("Warning: %s:%s returned %d, %s\n", Operation, Function, Rc, getCLErrorName(Rc));
}
