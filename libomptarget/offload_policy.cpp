#include "offload_policy.h"

#include "debug.h"

#include <cstdlib>
#include <strings.h>

namespace {

// The compiler's source location record.
struct SourceIdent {
  int32_t Reserved1;
  int32_t Flags;
  int32_t Reserved2;
  int32_t Reserved3;
  const char *PSource; // ";file;function;line;column;;"
};

} // namespace

OffloadPolicy parseOffloadPolicy(const char *Text) {
  if (!Text || !*Text || !strcasecmp(Text, "DEFAULT"))
    return OffloadPolicy::Default;
  if (!strcasecmp(Text, "MANDATORY"))
    return OffloadPolicy::Mandatory;
  if (!strcasecmp(Text, "DISABLED"))
    return OffloadPolicy::Disabled;
  hostMessage("OMP_TARGET_OFFLOAD=%s is not MANDATORY, DISABLED or DEFAULT; DEFAULT is used\n",
              Text);
  return OffloadPolicy::Default;
}

OffloadPolicy offloadPolicy() {
  static const OffloadPolicy Policy = parseOffloadPolicy(std::getenv("OMP_TARGET_OFFLOAD"));
  return Policy;
}

std::string describeConstruct(const char *Construct, const void *Loc) {
  std::string Text = Construct;
  const char *Source = Loc ? static_cast<const SourceIdent *>(Loc)->PSource : nullptr;
  if (!Source || *Source != ';')
    return Text;
  // Fields: file, function, line, column.
  std::string Fields[4];
  const char *P = Source + 1;
  for (std::string &Field : Fields) {
    while (*P && *P != ';')
      Field += *P++;
    if (*P)
      ++P;
  }
  if (Fields[0].empty() || Fields[0] == "unknown")
    return Text;
  Text += " at " + Fields[0] + ":" + Fields[2] + ":" + Fields[3];
  if (!Fields[1].empty() && Fields[1] != "unknown")
    Text += " in " + Fields[1];
  return Text;
}

void offloadFailed(const char *Construct, const void *Loc, const char *Call, const char *Reason) {
  std::string What = describeConstruct(Construct, Loc);
  if (offloadPolicy() == OffloadPolicy::Mandatory)
    hostFatal("%s failed in %s (%s) while OMP_TARGET_OFFLOAD=MANDATORY\n", What.c_str(), Call,
              Reason);
  HOST_DP("%s not offloaded: %s (%s)\n", What.c_str(), Reason, Call);
}
