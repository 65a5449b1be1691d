// OMP_TARGET_OFFLOAD and what a construct's failure to offload leads to.
#ifndef LIBOMPTARGET_OFFLOAD_POLICY_H
#define LIBOMPTARGET_OFFLOAD_POLICY_H

#include <cstdint>
#include <string>

enum class OffloadPolicy { Default, Mandatory, Disabled };

// The policy a value of OMP_TARGET_OFFLOAD names (case-insensitive); Default for null, and for an
// unknown value after a message.
OffloadPolicy parseOffloadPolicy(const char *Text);
// The process's policy, read once.
OffloadPolicy offloadPolicy();

// "construct at file:line:column in function" from the compiler's source record (ident_t), or
// the construct alone when the record carries no location.
std::string describeConstruct(const char *Construct, const void *Loc);

// A construct could not run on a device: fatal under MANDATORY, naming the construct, the call
// and the reason; otherwise a debug message.
void offloadFailed(const char *Construct, const void *Loc, const char *Call, const char *Reason);

#endif
