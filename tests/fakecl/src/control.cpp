// The exported control table that in-process tests reach with dlopen and dlsym.
#include "../fakecl_control.h"
#include "scenario.h"
#include "state.h"
#include "usm.h"

#include <cstring>

namespace fakecl {

static void copyText(const std::string &Text, char *Buffer, size_t Size) {
  if (!Buffer || !Size)
    return;
  size_t N = std::min(Text.size(), Size - 1);
  std::memcpy(Buffer, Text.data(), N);
  Buffer[N] = 0;
}

static int controlConfigure(const char *Text, char *Error, size_t ErrorSize) {
  initFromEnvironment();
  std::string Message;
  if (!Text || applyScenario(state(), Text, Message)) {
    copyText("", Error, ErrorSize);
    return 0;
  }
  copyText(Message, Error, ErrorSize);
  return -1;
}

static void controlReset() {
  initFromEnvironment();
  State &S = state();
  Lock L(S.Mutex);
  S.Faults.clear();
  S.Recording = true;
  S.CallLog.clear();
  S.CallCounts.clear();
  S.TimerScript.clear();
  S.Clock = AutoClock();
  S.EventScript.clear();
  S.Deferred = false;
  S.BuildLog.clear();
  S.BinaryModule.clear();
  S.KernelInfoOverrides.clear();
  S.KernelBodies.clear();
  resetPlatforms(S);
}

static size_t controlCallCount(const char *Function) {
  State &S = state();
  Lock L(S.Mutex);
  auto It = S.CallCounts.find(Function ? Function : "");
  return It == S.CallCounts.end() ? 0 : It->second;
}

static size_t controlCallLog(char *Buffer, size_t Size) {
  State &S = state();
  Lock L(S.Mutex);
  std::string Text;
  for (const std::string &Line : S.CallLog) {
    Text += Line;
    Text += '\n';
  }
  copyText(Text, Buffer, Size);
  return Text.size();
}

static void controlResetLog() {
  State &S = state();
  Lock L(S.Mutex);
  S.CallLog.clear();
  S.CallCounts.clear();
}

static size_t controlLiveObjects(const char *Kind) {
  State &S = state();
  Lock L(S.Mutex);
  size_t Total = 0;
  for (int K = 0; K < static_cast<int>(ObjectKind::Count); ++K)
    if (!Kind || std::strcmp(Kind, "all") == 0 || std::strcmp(Kind, objectKindName(static_cast<ObjectKind>(K))) == 0)
      Total += S.Live[K];
  return Total;
}

static int controlSetExtensionFunction(unsigned Platform, const char *Name, void *Fn) {
  initFromEnvironment();
  State &S = state();
  Lock L(S.Mutex);
  if (Platform >= S.Platforms.size() || !Name)
    return -1;
  if (Fn)
    S.Platforms[Platform]->ExtensionFunctions[Name] = Fn;
  else
    S.Platforms[Platform]->ExtensionFunctions.erase(Name);
  return 0;
}

static void controlSetKernelBody(const char *Name, fakecl_kernel_body Body, void *User) {
  State &S = state();
  Lock L(S.Mutex);
  if (!Name)
    return;
  if (Body)
    S.KernelBodies[Name] = {Body, User};
  else
    S.KernelBodies.erase(Name);
}

static void *controlFindGlobal(const char *Name, size_t *Size) {
  State &S = state();
  Lock L(S.Mutex);
  for (auto P = S.ExecutablePrograms.rbegin(); Name && P != S.ExecutablePrograms.rend(); ++P)
    for (GlobalStorage &G : (*P)->Globals)
      if (G.Name == Name) {
        if (Size)
          *Size = G.Size;
        return G.Bytes.get();
      }
  if (Size)
    *Size = 0;
  return nullptr;
}

static int controlUsmInfo(const void *Address, fakecl_usm_info *Info) {
  State &S = state();
  Lock L(S.Mutex);
  const UsmAlloc *A = findAllocation(S, Address);
  if (!Info)
    return A ? 0 : -1;
  std::memset(Info, 0, sizeof(*Info));
  Info->type = MemTypeUnknown;
  if (!A)
    return -1;
  Info->type = A->Type;
  Info->base = A->Base;
  Info->size = A->Size;
  Info->alignment = A->Alignment;
  for (size_t I = 0; I < A->Properties.size() && I + 1 < 8; ++I)
    Info->properties[I] = A->Properties[I];
  return 0;
}

} // namespace fakecl

extern "C" {
__attribute__((visibility("default"))) extern const struct fakecl_control_v1 fakecl_control_v1;
}
const struct fakecl_control_v1 fakecl_control_v1 = {
    FAKECL_CONTROL_VERSION,
    fakecl::controlConfigure,
    fakecl::controlReset,
    fakecl::controlCallCount,
    fakecl::controlCallLog,
    fakecl::controlResetLog,
    fakecl::controlLiveObjects,
    fakecl::controlSetExtensionFunction,
    fakecl::controlSetKernelBody,
    fakecl::controlFindGlobal,
    fakecl::controlUsmInfo,
};
