#include "scenario.h"
#include "info.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fakecl {

bool tokenize(const std::string &Line, std::vector<Token> &Tokens, std::string &Error) {
  size_t I = 0, N = Line.size();
  while (I < N) {
    while (I < N && (Line[I] == ' ' || Line[I] == '\t' || Line[I] == '\r'))
      ++I;
    if (I >= N || Line[I] == '#')
      break;
    Token T;
    std::string Word;
    bool InKey = true;
    while (I < N && Line[I] != ' ' && Line[I] != '\t' && Line[I] != '\r') {
      char C = Line[I];
      if (C == '=' && InKey && !Word.empty()) {
        T.Key = Word;
        Word.clear();
        InKey = false;
        ++I;
        continue;
      }
      if (C == '"') {
        ++I;
        while (I < N && Line[I] != '"') {
          if (Line[I] == '\\' && I + 1 < N) {
            char E = Line[++I];
            Word += E == 'n' ? '\n' : E;
          } else {
            Word += Line[I];
          }
          ++I;
        }
        if (I >= N) {
          Error = "unterminated quote";
          return false;
        }
        ++I;
        InKey = false;
        continue;
      }
      Word += C;
      ++I;
    }
    T.Value = Word;
    Tokens.push_back(T);
  }
  return true;
}

bool parseNumber(const std::string &Text, long long &Value) {
  if (Text.empty())
    return false;
  char *End = nullptr;
  errno = 0;
  if (Text[0] == '-') {
    Value = std::strtoll(Text.c_str(), &End, 0);
  } else {
    unsigned long long U = std::strtoull(Text.c_str(), &End, 0);
    Value = static_cast<long long>(U);
  }
  return errno == 0 && End && *End == 0;
}

bool parseUnsigned(const std::string &Text, unsigned long long &Value) {
  long long V;
  if (Text.empty() || Text[0] == '-' || !parseNumber(Text, V))
    return false;
  Value = static_cast<unsigned long long>(V);
  return true;
}

static bool parseHexBytes(const std::string &Text, std::vector<unsigned char> &Bytes) {
  if (Text.size() % 2)
    return false;
  for (size_t I = 0; I < Text.size(); I += 2) {
    unsigned long long B;
    if (!parseUnsigned("0x" + Text.substr(I, 2), B))
      return false;
    Bytes.push_back(static_cast<unsigned char>(B));
  }
  return true;
}

template <class T> static void appendScalar(std::vector<unsigned char> &Bytes, T V) {
  const unsigned char *P = reinterpret_cast<const unsigned char *>(&V);
  Bytes.insert(Bytes.end(), P, P + sizeof(T));
}

bool parseTypedValue(const std::vector<Token> &Tokens, size_t First, InfoValue &Value, std::string &Error) {
  if (First >= Tokens.size()) {
    Error = "missing value type";
    return false;
  }
  const std::string &Type = Tokens[First].Value;
  if (First + 1 >= Tokens.size()) {
    Error = "missing value after " + Type;
    return false;
  }
  const std::string &Text = Tokens[First + 1].Value;
  Value = InfoValue();
  long long N = 0;
  if (Type == "fail") {
    if (!parseNumber(Text, N)) {
      Error = "bad error code " + Text;
      return false;
    }
    Value.Fails = true;
    Value.Error = static_cast<cl_int>(N);
    return true;
  }
  if (Type == "string") {
    Value = infoOfString(Text);
    return true;
  }
  if (Type == "hex") {
    if (!parseHexBytes(Text, Value.Bytes)) {
      Error = "bad hex bytes " + Text;
      return false;
    }
    return true;
  }
  if (Type == "sizes") {
    std::stringstream In(Text);
    std::string Item;
    while (std::getline(In, Item, ',')) {
      unsigned long long U;
      if (!parseUnsigned(Item, U)) {
        Error = "bad size " + Item;
        return false;
      }
      appendScalar<size_t>(Value.Bytes, static_cast<size_t>(U));
    }
    return true;
  }
  if (Type == "bool") {
    bool B = Text == "true" || Text == "1";
    if (!B && Text != "false" && Text != "0") {
      Error = "bad bool " + Text;
      return false;
    }
    appendScalar<cl_bool>(Value.Bytes, B ? CL_TRUE : CL_FALSE);
    return true;
  }
  if (!parseNumber(Text, N)) {
    Error = "bad number " + Text;
    return false;
  }
  if (Type == "u32" || Type == "i32")
    appendScalar<cl_uint>(Value.Bytes, static_cast<cl_uint>(N));
  else if (Type == "u64" || Type == "i64")
    appendScalar<cl_ulong>(Value.Bytes, static_cast<cl_ulong>(N));
  else if (Type == "size")
    appendScalar<size_t>(Value.Bytes, static_cast<size_t>(N));
  else {
    Error = "unknown value type " + Type;
    return false;
  }
  return true;
}

static bool parseDeviceType(const std::string &Text, cl_device_type &Type) {
  static const std::pair<const char *, cl_device_type> Names[] = {
      {"gpu", CL_DEVICE_TYPE_GPU},         {"cpu", CL_DEVICE_TYPE_CPU},
      {"accelerator", CL_DEVICE_TYPE_ACCELERATOR}, {"custom", CL_DEVICE_TYPE_CUSTOM},
      {"default", CL_DEVICE_TYPE_DEFAULT}};
  std::string Lower;
  for (char C : Text)
    Lower += static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  for (auto &N : Names)
    if (Lower == N.first) {
      Type = N.second;
      return true;
    }
  unsigned long long U;
  if (!parseUnsigned(Text, U))
    return false;
  Type = U;
  return true;
}

static std::string withIcdExtension(const std::string &Extensions) {
  if (Extensions.find("cl_khr_icd") != std::string::npos)
    return Extensions;
  return Extensions.empty() ? "cl_khr_icd" : "cl_khr_icd " + Extensions;
}

namespace {

struct LineParser {
  State &S;
  const std::vector<Token> &T;
  std::string &Error;

  bool fail(const std::string &Message) {
    Error = Message;
    return false;
  }

  bool unsignedArg(const Token &Tok, unsigned long long &V) {
    if (!parseUnsigned(Tok.Value, V))
      return fail("bad number " + Tok.Value + " for " + Tok.Key);
    return true;
  }

  bool platform() {
    if (S.Enumerated)
      return fail("the platform layout is fixed once the loader has enumerated it");
    if (!S.PlatformsExplicit) {
      S.Platforms.clear();
      S.PlatformsExplicit = true;
    }
    PlatformModel *P = addPlatform(S);
    for (size_t I = 1; I < T.size(); ++I) {
      const Token &K = T[I];
      cl_uint Param;
      if (K.Key == "version")
        Param = CL_PLATFORM_VERSION;
      else if (K.Key == "name")
        Param = CL_PLATFORM_NAME;
      else if (K.Key == "vendor")
        Param = CL_PLATFORM_VENDOR;
      else if (K.Key == "profile")
        Param = CL_PLATFORM_PROFILE;
      else if (K.Key == "suffix")
        Param = CL_PLATFORM_ICD_SUFFIX_KHR;
      else if (K.Key == "extensions")
        Param = CL_PLATFORM_EXTENSIONS;
      else
        return fail("unknown platform key " + K.Key);
      P->Info[Param] = infoOfString(Param == CL_PLATFORM_EXTENSIONS ? withIcdExtension(K.Value) : K.Value);
    }
    return true;
  }

  bool device() {
    if (!S.CurrentPlatform)
      return fail("device without a platform");
    cl_device_type Type = CL_DEVICE_TYPE_GPU;
    for (size_t I = 1; I < T.size(); ++I)
      if (T[I].Key == "type" && !parseDeviceType(T[I].Value, Type))
        return fail("bad device type " + T[I].Value);
    DeviceModel *D = addDevice(S, *S.CurrentPlatform, Type);
    for (size_t I = 1; I < T.size(); ++I) {
      const Token &K = T[I];
      if (K.Key == "type")
        continue;
      if (K.Key == "name")
        D->Info[CL_DEVICE_NAME] = infoOfString(K.Value);
      else if (K.Key == "extensions")
        D->Info[CL_DEVICE_EXTENSIONS] = infoOfString(K.Value);
      else if (K.Key == "vendor")
        D->Info[CL_DEVICE_VENDOR] = infoOfString(K.Value);
      else if (K.Key == "version")
        D->Info[CL_DEVICE_VERSION] = infoOfString(K.Value);
      else
        return fail("unknown device key " + K.Key);
    }
    return true;
  }

  bool use() {
    unsigned long long P = ~0ull, D = ~0ull;
    for (size_t I = 1; I < T.size(); ++I) {
      if (T[I].Key == "platform") {
        if (!unsignedArg(T[I], P))
          return false;
      } else if (T[I].Key == "device") {
        if (!unsignedArg(T[I], D))
          return false;
      } else {
        return fail("unknown use key " + T[I].Key);
      }
    }
    if (P >= S.Platforms.size())
      return fail("no such platform");
    S.CurrentPlatform = S.Platforms[P].get();
    S.CurrentDevice = nullptr;
    if (D != ~0ull) {
      if (D >= S.CurrentPlatform->Devices.size())
        return fail("no such device");
      S.CurrentDevice = S.CurrentPlatform->Devices[D].get();
    }
    return true;
  }

  bool infoLine(InfoTable &Table) {
    unsigned long long Param;
    if (T.size() < 3 || !parseUnsigned(T[1].Value, Param))
      return fail("expected: " + T[0].Value + " <param> <type> <value>");
    if (T[2].Value == "unset") {
      Table.erase(static_cast<cl_uint>(Param));
      return true;
    }
    InfoValue V;
    if (!parseTypedValue(T, 2, V, Error))
      return false;
    Table[static_cast<cl_uint>(Param)] = V;
    return true;
  }

  bool extfn() {
    if (!S.CurrentPlatform)
      return fail("extfn without a platform");
    if (T.size() != 3 || (T[2].Value != "on" && T[2].Value != "off"))
      return fail("expected: extfn <name|all> on|off");
    bool On = T[2].Value == "on";
    auto Apply = [&](const std::string &Name) -> bool {
      void *Fn = vendorFunction(Name.c_str());
      if (!Fn)
        return fail("unknown vendor function " + Name);
      if (On)
        S.CurrentPlatform->ExtensionFunctions[Name] = Fn;
      else
        S.CurrentPlatform->ExtensionFunctions.erase(Name);
      return true;
    };
    if (T[1].Value != "all")
      return Apply(T[1].Value);
    for (const char *Name : VendorFunctionNames)
      Apply(Name);
    return true;
  }

  bool faultRule() {
    if (T.size() < 2)
      return fail("expected: fail <function> [nth=N|from=N|all] [err=C]");
    FaultRule R;
    R.Function = T[1].Value;
    for (size_t I = 2; I < T.size(); ++I) {
      const Token &K = T[I];
      long long N;
      if (K.Key.empty() && K.Value == "all") {
        R.Every = true;
      } else if (K.Key == "nth" || K.Key == "from") {
        if (!parseNumber(K.Value, N) || N < 1)
          return fail("bad call number " + K.Value);
        R.Nth = static_cast<uint64_t>(N);
        R.FromNth = K.Key == "from";
      } else if (K.Key == "err") {
        if (!parseNumber(K.Value, N))
          return fail("bad error code " + K.Value);
        R.Error = static_cast<cl_int>(N);
      } else {
        return fail("unknown fail key " + (K.Key.empty() ? K.Value : K.Key));
      }
    }
    S.Faults.push_back(R);
    return true;
  }

  bool pass() {
    if (T.size() != 2)
      return fail("expected: pass <function>|all");
    std::vector<FaultRule> Kept;
    for (FaultRule &R : S.Faults)
      if (T[1].Value != "all" && R.Function != T[1].Value)
        Kept.push_back(R);
    S.Faults.swap(Kept);
    return true;
  }

  bool keyedValues(const std::vector<std::string> &Keys, std::vector<unsigned long long> &Values,
                   std::vector<bool> &Given) {
    Values.assign(Keys.size(), 0);
    Given.assign(Keys.size(), false);
    for (size_t I = 1; I < T.size(); ++I) {
      size_t K = 0;
      while (K < Keys.size() && Keys[K] != T[I].Key)
        ++K;
      if (K == Keys.size())
        return fail("unknown key " + (T[I].Key.empty() ? T[I].Value : T[I].Key));
      if (!unsignedArg(T[I], Values[K]))
        return false;
      Given[K] = true;
    }
    return true;
  }

  bool timer() {
    std::vector<unsigned long long> V;
    std::vector<bool> G;
    if (!keyedValues({"device", "host"}, V, G))
      return false;
    if (!G[0] || !G[1])
      return fail("expected: timer device=D host=H");
    S.TimerScript.push_back({V[0], V[1]});
    return true;
  }

  bool clock() {
    std::vector<unsigned long long> V;
    std::vector<bool> G;
    if (!keyedValues({"device", "host", "step"}, V, G))
      return false;
    if (G[0])
      S.Clock.Device = V[0];
    if (G[1])
      S.Clock.Host = V[1];
    if (G[2])
      S.Clock.Step = V[2];
    return true;
  }

  bool eventTimes() {
    std::vector<unsigned long long> V;
    std::vector<bool> G;
    if (!keyedValues({"queued", "submit", "start", "end", "complete"}, V, G))
      return false;
    if (!G[0] || !G[1] || !G[2] || !G[3])
      return fail("expected: event-times queued=Q submit=S start=B end=E [complete=C]");
    EventTimes E;
    for (int I = 0; I < 4; ++I)
      E.Values[I] = V[I];
    E.Values[4] = G[4] ? V[4] : V[3];
    S.EventScript.push_back(E);
    return true;
  }

  bool onOff(bool &Flag) {
    if (T.size() != 2 || (T[1].Value != "on" && T[1].Value != "off"))
      return fail("expected: " + T[0].Value + " on|off");
    Flag = T[1].Value == "on";
    return true;
  }

  bool kernelInfo() {
    unsigned long long Param;
    if (T.size() < 4 || !parseUnsigned(T[2].Value, Param))
      return fail("expected: kernelinfo <kernel> <param> <type> <value>");
    InfoValue V;
    if (!parseTypedValue(T, 3, V, Error))
      return false;
    S.KernelInfoOverrides[T[1].Value][static_cast<cl_uint>(Param)] = V;
    return true;
  }

  bool run() {
    const std::string &Cmd = T[0].Value;
    if (!T[0].Key.empty())
      return fail("a line starts with a command word");
    if (Cmd == "platform")
      return platform();
    if (Cmd == "no-platforms") {
      if (S.Enumerated)
        return fail("the platform layout is fixed once the loader has enumerated it");
      S.Platforms.clear();
      S.PlatformsExplicit = true;
      S.CurrentPlatform = nullptr;
      S.CurrentDevice = nullptr;
      return true;
    }
    if (Cmd == "device")
      return device();
    if (Cmd == "use")
      return use();
    if (Cmd == "devinfo") {
      if (!S.CurrentDevice)
        return fail("devinfo without a device");
      return infoLine(S.CurrentDevice->Info);
    }
    if (Cmd == "platinfo") {
      if (!S.CurrentPlatform)
        return fail("platinfo without a platform");
      return infoLine(S.CurrentPlatform->Info);
    }
    if (Cmd == "extfn")
      return extfn();
    if (Cmd == "fail")
      return faultRule();
    if (Cmd == "pass")
      return pass();
    if (Cmd == "timer")
      return timer();
    if (Cmd == "clock")
      return clock();
    if (Cmd == "event-times")
      return eventTimes();
    if (Cmd == "deferred")
      return onOff(S.Deferred);
    if (Cmd == "record")
      return onOff(S.Recording);
    if (Cmd == "build-log") {
      if (T.size() != 2)
        return fail("expected: build-log \"text\"");
      S.BuildLog = T[1].Value;
      return true;
    }
    if (Cmd == "binary-module") {
      if (T.size() != 2)
        return fail("expected: binary-module \"manifest lines\"");
      S.BinaryModule = T[1].Value;
      return true;
    }
    if (Cmd == "kernelinfo")
      return kernelInfo();
    return fail("unknown command " + Cmd);
  }
};

} // namespace

bool applyScenario(State &S, const std::string &Text, std::string &Error) {
  Lock L(S.Mutex);
  std::stringstream In(Text);
  std::string Line;
  unsigned LineNo = 0;
  while (std::getline(In, Line)) {
    ++LineNo;
    std::vector<Token> Tokens;
    std::string LineError;
    bool Ok = tokenize(Line, Tokens, LineError);
    if (Ok && !Tokens.empty())
      Ok = LineParser{S, Tokens, LineError}.run();
    if (!Ok) {
      Error = "line " + std::to_string(LineNo) + ": " + LineError + ": " + Line;
      return false;
    }
  }
  return true;
}

bool applyScenarioFile(State &S, const char *Path, std::string &Error) {
  std::ifstream In(Path);
  if (!In) {
    Error = "cannot read the file";
    return false;
  }
  std::stringstream Text;
  Text << In.rdbuf();
  return applyScenario(S, Text.str(), Error);
}

} // namespace fakecl
