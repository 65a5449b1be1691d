// The module manifest that test images carry: which kernels, globals and offload entries a
// program built from them holds. It is found anywhere in the bytes after a line "FAKECL-MODULE",
// so it can follow a SPIR-V header or sit inside any container a test builds.
#include "info.h"
#include "scenario.h"

#include <cstring>
#include <sstream>

namespace fakecl {

const char ModuleMarker[] = "FAKECL-MODULE";

bool hasModuleMarker(const void *Bytes, size_t Size) {
  return memmem(Bytes, Size, ModuleMarker, sizeof(ModuleMarker) - 1) != nullptr;
}

static std::vector<std::string> splitList(const std::string &Text) {
  std::vector<std::string> Items;
  std::stringstream In(Text);
  std::string Item;
  while (std::getline(In, Item, ','))
    Items.push_back(Item);
  return Items;
}

static void setKernelDefaults(KernelDecl &K) {
  K.Info[CL_KERNEL_WORK_GROUP_SIZE] = infoOf<size_t>(256);
  size_t Compile[3] = {0, 0, 0};
  InfoValue CompileSizes;
  CompileSizes.Bytes.resize(sizeof(Compile));
  std::memcpy(CompileSizes.Bytes.data(), Compile, sizeof(Compile));
  K.Info[CL_KERNEL_COMPILE_WORK_GROUP_SIZE] = CompileSizes;
  K.Info[CL_KERNEL_LOCAL_MEM_SIZE] = infoOf<cl_ulong>(0);
  K.Info[CL_KERNEL_PREFERRED_WORK_GROUP_SIZE_MULTIPLE] = infoOf<size_t>(16);
  K.Info[CL_KERNEL_PRIVATE_MEM_SIZE] = infoOf<cl_ulong>(0);
  K.Info[CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE] = infoOf<size_t>(16);
  K.Info[CL_KERNEL_SUB_GROUP_COUNT_FOR_NDRANGE] = infoOf<size_t>(1);
  K.Info[CL_KERNEL_MAX_NUM_SUB_GROUPS] = infoOf<size_t>(16);
  K.Info[CL_KERNEL_COMPILE_NUM_SUB_GROUPS] = infoOf<size_t>(0);
  K.Info[CL_KERNEL_ATTRIBUTES] = infoOfString("");
}

static bool sizeKey(const Token &T, InfoTable &Info, cl_uint Param, std::string &Error) {
  unsigned long long V;
  if (!parseUnsigned(T.Value, V)) {
    Error = "bad number for " + T.Key;
    return false;
  }
  Info[Param] = infoOf<size_t>(static_cast<size_t>(V));
  return true;
}

static bool parseKernel(const std::vector<Token> &T, ModuleDecl &M, std::string &Error) {
  if (T.size() < 2 || !T[1].Key.empty()) {
    Error = "expected: kernel <name> [args=N] ...";
    return false;
  }
  KernelDecl K;
  K.Name = T[1].Value;
  setKernelDefaults(K);
  for (size_t I = 2; I < T.size(); ++I) {
    const Token &Tok = T[I];
    unsigned long long V;
    if (Tok.Key == "args") {
      if (!parseUnsigned(Tok.Value, V)) {
        Error = "bad args count";
        return false;
      }
      K.NumArgs = static_cast<cl_uint>(V);
    } else if (Tok.Key == "argtypes") {
      K.ArgTypes = splitList(Tok.Value);
    } else if (Tok.Key == "argnames") {
      K.ArgNames = splitList(Tok.Value);
    } else if (Tok.Key == "wgsize") {
      if (!sizeKey(Tok, K.Info, CL_KERNEL_WORK_GROUP_SIZE, Error))
        return false;
    } else if (Tok.Key == "pwgm") {
      if (!sizeKey(Tok, K.Info, CL_KERNEL_PREFERRED_WORK_GROUP_SIZE_MULTIPLE, Error))
        return false;
    } else if (Tok.Key == "maxsg") {
      if (!sizeKey(Tok, K.Info, CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE, Error))
        return false;
    } else if (Tok.Key == "suggest") {
      for (const std::string &Item : splitList(Tok.Value)) {
        if (!parseUnsigned(Item, V)) {
          Error = "bad suggested size";
          return false;
        }
        K.Suggested.push_back(static_cast<size_t>(V));
      }
    } else {
      Error = "unknown kernel key " + (Tok.Key.empty() ? Tok.Value : Tok.Key);
      return false;
    }
  }
  if (K.NumArgs < K.ArgTypes.size())
    K.NumArgs = static_cast<cl_uint>(K.ArgTypes.size());
  M.Kernels.push_back(K);
  return true;
}

static bool parseGlobal(const std::vector<Token> &T, ModuleDecl &M, std::string &Error) {
  unsigned long long Size;
  if (T.size() < 3 || !parseUnsigned(T[2].Value, Size)) {
    Error = "expected: global <name> <size> [init=hex]";
    return false;
  }
  GlobalDecl G;
  G.Name = T[1].Value;
  G.Size = static_cast<size_t>(Size);
  for (size_t I = 3; I < T.size(); ++I) {
    InfoValue Init;
    std::vector<Token> Typed = {{"", "hex"}, {"", T[I].Value}};
    if (T[I].Key != "init" || !parseTypedValue(Typed, 0, Init, Error)) {
      Error = "bad global init " + T[I].Value;
      return false;
    }
    G.Init = Init.Bytes;
  }
  M.Globals.push_back(G);
  return true;
}

static bool parseEntry(const std::vector<Token> &T, ModuleDecl &M, std::string &Error) {
  if (T.size() < 2) {
    Error = "expected: entry <name> [size=N] [flags=N] [global=G|address=A] [namesize=N] [noname]";
    return false;
  }
  EntryDecl E;
  E.Name = T[1].Value;
  for (size_t I = 2; I < T.size(); ++I) {
    long long V = 0;
    const Token &Tok = T[I];
    if (Tok.Key == "global") {
      E.Global = Tok.Value;
      continue;
    }
    if (Tok.Key.empty() && Tok.Value == "noname") {
      E.NoName = true;
      continue;
    }
    if (!parseNumber(Tok.Value, V)) {
      Error = "bad number for " + Tok.Key;
      return false;
    }
    if (Tok.Key == "size")
      E.Size = static_cast<cl_ulong>(V);
    else if (Tok.Key == "flags")
      E.Flags = static_cast<cl_uint>(V);
    else if (Tok.Key == "address")
      E.Address = static_cast<cl_ulong>(V);
    else if (Tok.Key == "namesize")
      E.NameSize = V;
    else {
      Error = "unknown entry key " + Tok.Key;
      return false;
    }
  }
  M.Entries.push_back(E);
  return true;
}

bool parseModule(const unsigned char *Bytes, size_t Size, ModuleDecl &M, std::string &Error) {
  M = ModuleDecl();
  const char *Begin = reinterpret_cast<const char *>(Bytes);
  std::string All(Begin, Size);
  size_t At = All.find(ModuleMarker);
  if (At == std::string::npos)
    return true; // a module without a manifest holds nothing
  std::string Text = All.substr(At + sizeof(ModuleMarker) - 1);
  Text = Text.substr(0, Text.find('\0'));
  std::stringstream In(Text);
  std::string Line;
  while (std::getline(In, Line)) {
    std::vector<Token> T;
    if (!tokenize(Line, T, Error))
      return false;
    if (T.empty())
      continue;
    const std::string &Cmd = T[0].Value;
    bool Ok = true;
    if (Cmd == "end")
      break;
    if (Cmd == "kernel")
      Ok = parseKernel(T, M, Error);
    else if (Cmd == "global")
      Ok = parseGlobal(T, M, Error);
    else if (Cmd == "entry")
      Ok = parseEntry(T, M, Error);
    else if (Cmd == "build-fail")
      M.BuildFails = true;
    else if (Cmd == "log" && T.size() == 2)
      M.Log = T[1].Value;
    else {
      Error = "unknown module line: " + Line;
      Ok = false;
    }
    if (!Ok)
      return false;
  }
  return true;
}

} // namespace fakecl
