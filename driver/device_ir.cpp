#include "device_ir.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <regex>
#include <set>
#include <unordered_map>
#include <sstream>

namespace {

bool isNameChar(char C) {
  return std::isalnum(static_cast<unsigned char>(C)) || C == '-' || C == '$' || C == '.' ||
         C == '_';
}

// IR's c"..." contents decoded, without the terminating zero.
std::string decodeIRString(const std::string &Text) {
  std::string Out;
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == '\\' && I + 2 < Text.size() && std::isxdigit((unsigned char)Text[I + 1]) &&
        std::isxdigit((unsigned char)Text[I + 2])) {
      Out += static_cast<char>(std::stoi(Text.substr(I + 1, 2), nullptr, 16));
      I += 2;
    } else {
      Out += Text[I];
    }
  }
  if (!Out.empty() && Out.back() == '\0')
    Out.pop_back();
  return Out;
}

// The global name (unquoted, escapes decoded) of the token starting with '@' at At, and its length in the
// text; empty when there is none.
std::string globalToken(const std::string &Text, size_t At, size_t &Length) {
  Length = 0;
  if (At + 1 >= Text.size() || Text[At] != '@')
    return std::string();
  if (Text[At + 1] == '"') {
    size_t Close = Text.find('"', At + 2);
    if (Close == std::string::npos)
      return std::string();
    Length = Close + 1 - At;
    return decodeIRString(Text.substr(At + 2, Close - At - 2));
  }
  size_t End = At + 1;
  while (End < Text.size() && isNameChar(Text[End]))
    ++End;
  Length = End - At;
  return Text.substr(At + 1, End - At - 1);
}

// IR's c"..." text of Bytes plus a terminating zero.
std::string irString(const std::string &Bytes) {
  std::string Out = "c\"";
  for (unsigned char C : Bytes) {
    if (std::isprint(C) && C != '"' && C != '\\') {
      Out += static_cast<char>(C);
    } else {
      char Hex[4];
      std::snprintf(Hex, sizeof(Hex), "\\%02X", C);
      Out += Hex;
    }
  }
  return Out + "\\00\"";
}

// A name as IR writes it.
std::string irName(const std::string &Name) {
  bool Plain = !Name.empty() &&
               std::all_of(Name.begin(), Name.end(), [](char C) { return isNameChar(C); });
  if (Plain)
    return "@" + Name;
  std::string Quoted = irString(Name); // c"...\00"
  return "@" + Quoted.substr(1, Quoted.size() - 5) + "\"";
}

std::vector<std::string> lines(const std::string &Text) {
  std::vector<std::string> Out;
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);)
    Out.push_back(Line);
  return Out;
}

// For a line defining a global variable, the offset of its "global"/"constant" keyword, whether
// an address space precedes it; npos for other lines.
size_t variableKeyword(const std::string &Line, bool &HasSpace) {
  HasSpace = false;
  size_t Length;
  if (Line.empty() || Line[0] != '@' || globalToken(Line, 0, Length).empty())
    return std::string::npos;
  if (Line.compare(Length, 3, " = ") != 0)
    return std::string::npos;
  for (size_t At = Length + 3; At < Line.size();) {
    size_t End = Line.find(' ', At);
    if (End == std::string::npos)
      End = Line.size();
    std::string Word = Line.substr(At, End - At);
    if (Word == "global" || Word == "constant")
      return At;
    if (Word == "alias" || Word == "ifunc")
      return std::string::npos;
    if (Word.compare(0, 10, "addrspace(") == 0)
      HasSpace = true;
    At = End + 1;
  }
  return std::string::npos;
}

} // namespace

std::vector<HostEntry> hostEntries(const std::string &HostIR) {
  // Entry names first: "@<name var> = ... c"<text>\00"".
  std::vector<std::pair<std::string, std::string>> Strings;
  std::vector<std::string> All = lines(HostIR);
  auto stringOf = [&](const std::string &Var) -> const std::string * {
    for (const auto &[Name, Text] : Strings)
      if (Name == Var)
        return &Text;
    return nullptr;
  };
  for (const std::string &Line : All) {
    size_t Length;
    std::string Name = globalToken(Line, 0, Length);
    size_t Quote = Line.find(" c\"");
    if (Name.compare(0, 22, ".offloading.entry_name") == 0 && Quote != std::string::npos) {
      size_t Close = Line.find('"', Quote + 3);
      if (Close != std::string::npos)
        Strings.push_back({Name, decodeIRString(Line.substr(Quote + 3, Close - Quote - 3))});
    }
  }
  // Entries: "{ i64 0, i16 1, i16 <kind>, i32 <flags>, ptr @<address>, ptr @<name var>,
  // i64 <size>, ...".
  std::vector<HostEntry> Out;
  for (const std::string &Line : All) {
    size_t Length;
    if (globalToken(Line, 0, Length).compare(0, 18, ".offloading.entry.") != 0)
      continue;
    size_t Open = Line.find(" { ");
    if (Open == std::string::npos)
      continue;
    std::vector<std::string> Fields;
    std::string Field;
    std::istringstream In(Line.substr(Open + 3));
    while (std::getline(In, Field, ','))
      Fields.push_back(Field);
    if (Fields.size() < 7)
      continue;
    auto value = [](const std::string &F) {
      size_t Space = F.find_last_of(' ');
      return Space == std::string::npos ? F : F.substr(Space + 1);
    };
    std::string NameVar = value(Fields[5]);
    size_t NameLength;
    const std::string *Name = stringOf(globalToken(NameVar, 0, NameLength));
    uint64_t Size = std::strtoull(value(Fields[6]).c_str(), nullptr, 10);
    if (Name)
      Out.push_back({*Name, Size,
                     static_cast<uint32_t>(std::strtoul(value(Fields[3]).c_str(), nullptr, 10))});
  }
  return Out;
}

std::string constantPrintfFormats(const std::string &IR, std::vector<std::string> &Formats) {
  // The format argument: a global, directly or cast from the global address space.
  static const std::regex Call(
      R"(@printf\((ptr (?:noundef )?(?:addrspacecast \(ptr addrspace\(1\) )?@([-\w$.]+)(?: to ptr\))?)[,)])");
  std::vector<std::string> All = lines(IR);
  // Candidates: constants of the default or global space passed as a printf format, with no
  // other mention.
  std::unordered_map<std::string, size_t> FormatUses, Mentions;
  std::set<std::string> Constants;
  for (const std::string &Line : All) {
    for (std::sregex_iterator M(Line.begin(), Line.end(), Call), End; M != End; ++M)
      FormatUses[(*M)[2].str()] += 1;
    bool HasSpace;
    size_t Keyword = variableKeyword(Line, HasSpace), Length;
    if (Keyword != std::string::npos && Line.compare(Keyword, 8, "constant") == 0 &&
        (!HasSpace || Line.find(" addrspace(1) ") < Keyword))
      Constants.insert(globalToken(Line, 0, Length));
  }
  for (const std::string &Line : All)
    for (size_t At = Line.find('@'); At != std::string::npos; At = Line.find('@', At + 1)) {
      size_t Length;
      std::string Name = globalToken(Line, At, Length);
      if (FormatUses.count(Name))
        Mentions[Name] += 1;
    }
  std::set<std::string> Chosen;
  for (const auto &[Name, Uses] : FormatUses)
    if (Constants.count(Name) && Mentions[Name] == Uses + 1)
      Chosen.insert(Name);
  if (Chosen.empty())
    return IR;
  Formats.insert(Formats.end(), Chosen.begin(), Chosen.end());
  std::string Out;
  Out.reserve(IR.size());
  for (std::string Line : All) {
    bool HasSpace;
    size_t Keyword = variableKeyword(Line, HasSpace), Length;
    if (Keyword != std::string::npos && Chosen.count(globalToken(Line, 0, Length))) {
      size_t Space = Line.find(" addrspace(1) ");
      if (Space != std::string::npos && Space < Keyword)
        Line.erase(Space, 13), Keyword -= 13;
      Line.insert(Keyword, "addrspace(2) ");
    } else if (Line.compare(0, 8, "declare ") == 0 && Line.find("@printf(ptr") != std::string::npos) {
      Line.insert(Line.find("@printf(ptr") + 11, " addrspace(2)");
    } else if (Line.find("@printf(") != std::string::npos) {
      std::smatch M;
      if (std::regex_search(Line, M, Call) && Chosen.count(M[2].str())) {
        Line.replace(M.position(1), M.length(1), "ptr addrspace(2) noundef @" + M[2].str());
        size_t Type = Line.find("(ptr, ...) @printf(");
        if (Type != std::string::npos)
          Line.replace(Type, 10, "(ptr addrspace(2), ...)");
      }
    }
    Out += Line;
    Out += '\n';
  }
  return Out;
}

std::vector<std::string> defaultSpaceGlobals(const std::string &IR) {
  std::vector<std::string> Out;
  for (const std::string &Line : lines(IR)) {
    bool HasSpace;
    if (variableKeyword(Line, HasSpace) == std::string::npos || HasSpace)
      continue;
    size_t Length;
    std::string Name = globalToken(Line, 0, Length);
    if (Name.compare(0, 5, "llvm.") != 0)
      Out.push_back(Name);
  }
  return Out;
}

std::string moveToGlobalSpace(const std::string &IR, const std::vector<std::string> &Names) {
  std::set<std::string> Moved(Names.begin(), Names.end());
  std::string Out;
  Out.reserve(IR.size() + IR.size() / 4);
  bool LineStart = true;
  for (size_t At = 0; At < IR.size();) {
    char C = IR[At];
    if (C == '@') {
      size_t Length;
      std::string Name = globalToken(IR, At, Length);
      if (Length > 0 && Moved.count(Name)) {
        std::string Token = IR.substr(At, Length);
        if (LineStart) {
          // The definition: the address space goes before its keyword.
          size_t End = IR.find('\n', At);
          std::string Line = IR.substr(At, End == std::string::npos ? std::string::npos : End - At);
          size_t OriginalLength = Line.size();
          bool HasSpace;
          size_t Keyword = variableKeyword(Line, HasSpace);
          if (Keyword != std::string::npos && !HasSpace)
            Line.insert(Keyword, "addrspace(1) ");
          // Uses inside the definition's initializer are rewritten too.
          size_t Equals = Line.find(" = ");
          Out += Line.substr(0, Equals);
          Out += moveToGlobalSpace(Line.substr(Equals), Names);
          At += OriginalLength;
          LineStart = false;
          continue;
        }
        Out += "addrspacecast (ptr addrspace(1) " + Token + " to ptr)";
        At += Length;
        LineStart = false;
        continue;
      }
    }
    Out += C;
    LineStart = C == '\n';
    ++At;
  }
  return Out;
}

std::string lowerFloatAtomics(const std::string &IR) {
  static const std::regex Atomic(
      R"(^(\s*%[-\w$.]+ = )atomicrmw (?:volatile )?(fadd|fsub|fmin|fmax) ptr(?: addrspace\(([0-9]+)\))? )"
      R"(([^,]+), (float|double) ([^ ,]+)(?: syncscope\("[^"]*"\))? [a-z_]+(?:, align [0-9]+)?)");
  std::string Out;
  Out.reserve(IR.size());
  std::set<std::string> Declarations;
  for (const std::string &Line : lines(IR)) {
    std::smatch M;
    if (Line.find("atomicrmw") != std::string::npos && std::regex_search(Line, M, Atomic)) {
      std::string Space = M[3].matched ? M[3].str() : "0";
      std::string Pointer = Space == "0" ? "ptr" : "ptr addrspace(" + Space + ")";
      std::string Type = M[5].str();
      std::string Helper = "@__devrt_atomic_" + M[2].str() + "_" + Type + "_p" + Space;
      // The runtime is C compiled for SPIR-V: its functions have the spir_func convention.
      Out += M[1].str() + "call spir_func " + Type + " " + Helper + "(" + Pointer + " " +
             M[4].str() + ", " + Type + " " + M[6].str() + ")\n";
      Declarations.insert("declare spir_func " + Type + " " + Helper + "(" + Pointer + ", " +
                          Type + ")\n");
      continue;
    }
    Out += Line;
    Out += '\n';
  }
  for (const std::string &Declaration : Declarations)
    Out += Declaration;
  return Out;
}

std::string bindTaskEntries(const std::string &IR) {
  static const std::regex Alloc(R"(^\s*(%[-\w$.]+) = .*call .*@__kmpc_omp_task_alloc\(.*, ptr (@[^ ,)]+)\))");
  static const std::regex Start(
      R"(@__kmpc_omp_task(_with_deps)?\(ptr ([^,]+), i32 ([^,]+), ptr (%[-\w$.]+)([,)]))");
  std::unordered_map<std::string, std::string> Entries; // task value -> entry, per function
  std::string Out;
  Out.reserve(IR.size());
  bool Used[2] = {false, false};
  for (const std::string &Line : lines(IR)) {
    if (Line.compare(0, 7, "define ") == 0)
      Entries.clear();
    std::smatch M;
    if (Line.find("__kmpc_omp_task_alloc(") != std::string::npos &&
        std::regex_search(Line, M, Alloc)) {
      Entries[M[1].str()] = M[2].str();
    } else if (Line.find("@__kmpc_omp_task") != std::string::npos &&
               std::regex_search(Line, M, Start)) {
      auto Entry = Entries.find(M[4].str());
      if (Entry != Entries.end()) {
        bool Deps = M[1].matched;
        Used[Deps] = true;
        // The entry goes last: the call's closing parenthesis is the last one on the line.
        const std::string Old = Deps ? "@__kmpc_omp_task_with_deps" : "@__kmpc_omp_task";
        size_t Name = M.position(0), NameLength = Old.size();
        std::string Call = Line.substr(0, Name) +
                           (Deps ? "@__devrt_omp_task_with_deps_entry" : "@__devrt_omp_task_entry") +
                           Line.substr(Name + NameLength);
        size_t Close = Call.rfind(')');
        Call.insert(Close, ", ptr " + Entry->second);
        Out += Call + "\n";
        continue;
      }
    }
    Out += Line;
    Out += '\n';
  }
  if (Used[0])
    Out += "declare i32 @__devrt_omp_task_entry(ptr, i32, ptr, ptr)\n";
  if (Used[1])
    Out += "declare i32 @__devrt_omp_task_with_deps_entry(ptr, i32, ptr, i32, ptr, i32, ptr, ptr)\n";
  return Out;
}

std::string exportProgramData(const std::string &IR) {
  static const std::string Internal = "@__omp_spirv_program_data = internal ";
  std::string Out = IR;
  size_t At = Out.find(Internal);
  if (At != std::string::npos && (At == 0 || Out[At - 1] == '\n'))
    Out.erase(At + Internal.size() - std::strlen("internal "), std::strlen("internal "));
  return Out;
}

std::string unifyCallingConventions(const std::string &IR) {
  static const std::string Token = " spir_func ";
  std::string Out;
  Out.reserve(IR.size());
  size_t At = 0;
  for (size_t Found; (Found = IR.find(Token, At)) != std::string::npos; At = Found + Token.size()) {
    Out.append(IR, At, Found - At);
    Out += ' ';
  }
  Out.append(IR, At, std::string::npos);
  return Out;
}

std::string dropFunctionAddressStores(const std::string &IR) {
  std::vector<std::string> All = lines(IR);
  std::set<std::string> Functions;
  for (const std::string &Line : All) {
    if (Line.compare(0, 7, "define ") != 0 && Line.compare(0, 8, "declare ") != 0)
      continue;
    size_t At = Line.find(" @");
    size_t Length;
    std::string Name = At == std::string::npos ? std::string() : globalToken(Line, At + 1, Length);
    if (!Name.empty())
      Functions.insert(Name);
  }
  std::string Out;
  Out.reserve(IR.size());
  for (const std::string &Line : All) {
    size_t Store = Line.find("store ptr @");
    size_t Length;
    if (Store != std::string::npos && Line.find_first_not_of(' ') == Store &&
        Functions.count(globalToken(Line, Store + 10, Length)))
      continue;
    Out += Line;
    Out += '\n';
  }
  return Out;
}

std::string lowerOverflowIntrinsics(const std::string &IR) {
  static const std::regex Declaration(
      R"(^declare .*@llvm\.([us])(add|sub)\.with\.overflow\.(i[0-9]+)\()");
  std::string Out;
  Out.reserve(IR.size());
  std::string Definitions;
  for (const std::string &Line : lines(IR)) {
    std::smatch M;
    if (Line.compare(0, 8, "declare ") == 0 && std::regex_search(Line, M, Declaration)) {
      std::string Sign = M[1].str(), Op = M[2].str(), T = M[3].str();
      std::string Result = "{ " + T + ", i1 }";
      std::string Name = "@__devrt." + Sign + Op + ".with.overflow." + T;
      std::string Body = "  %s = " + Op + " " + T + " %a, %b\n";
      if (Sign == "u") {
        Body += Op == "add" ? "  %c = icmp ult " + T + " %s, %a\n"
                            : "  %c = icmp ult " + T + " %a, %b\n";
      } else {
        // Signed overflow: the result's sign differs from what the operands' signs demand.
        Body += Op == "add" ? "  %x = xor " + T + " %a, %s\n  %y = xor " + T + " %b, %s\n"
                            : "  %x = xor " + T + " %a, %b\n  %y = xor " + T + " %a, %s\n";
        Body += "  %z = and " + T + " %x, %y\n  %c = icmp slt " + T + " %z, 0\n";
      }
      Body += "  %r0 = insertvalue " + Result + " poison, " + T + " %s, 0\n";
      Body += "  %r = insertvalue " + Result + " %r0, i1 %c, 1\n  ret " + Result + " %r\n";
      Definitions += "define internal " + Result + " " + Name + "(" + T + " %a, " + T +
                     " %b) {\n" + Body + "}\n";
      continue;
    }
    Out += Line;
    Out += '\n';
  }
  if (Definitions.empty())
    return IR;
  static const std::regex Use(R"(@llvm\.([us](?:add|sub))\.with\.overflow\.(i[0-9]+)\()");
  return std::regex_replace(Out, Use, "@__devrt.$1.with.overflow.$2(") + Definitions;
}

std::vector<std::string> missingRuntimeFunctions(const std::string &IR) {
  std::vector<std::string> Out;
  for (const std::string &Line : lines(IR)) {
    if (Line.compare(0, 8, "declare ") != 0)
      continue;
    size_t At = Line.find(" @");
    size_t Length;
    std::string Name = At == std::string::npos ? std::string() : globalToken(Line, At + 1, Length);
    if (Name.compare(0, 7, "__kmpc_") == 0 || Name.compare(0, 4, "omp_") == 0 ||
        Name.compare(0, 5, "ompx_") == 0)
      Out.push_back(Name);
  }
  return Out;
}

std::vector<std::string> deviceLimitProblems(const std::string &IR) {
  // The limits of the device runtime (devicertl/src/devrt.h, calls.ll, reduction.c).
  constexpr uint64_t kMaxRegionArgs = 64, kMaxReduction = 65536, kMaxShared = 65536;
  static const std::regex Parallel(R"(@__kmpc_parallel_60\((?:[^,]*, ){8}i64 ([0-9]+),)");
  static const std::regex Teams(R"(@__kmpc_nvptx_teams_reduce_nowait_v2\((?:[^,]*, ){3}i64 ([0-9]+),)");
  static const std::regex Shared(R"(@__kmpc_alloc_shared\(i64 ([0-9]+)\))");
  std::vector<std::string> Out;
  for (const std::string &Line : lines(IR)) {
    if (Line.find("call ") == std::string::npos)
      continue;
    std::smatch M;
    auto over = [&](const std::regex &R, uint64_t Limit) {
      return std::regex_search(Line, M, R) && std::stoull(M[1].str()) > Limit;
    };
    if (over(Parallel, kMaxRegionArgs))
      Out.push_back("a parallel region captures " + M[1].str() + " values (at most " +
                    std::to_string(kMaxRegionArgs) + ")");
    else if (over(Teams, kMaxReduction))
      Out.push_back("a reduction across teams of " + M[1].str() + " bytes (at most " +
                    std::to_string(kMaxReduction) + ")");
    else if (over(Shared, kMaxShared))
      Out.push_back("a variable shared with a parallel region of " + M[1].str() +
                    " bytes (at most " + std::to_string(kMaxShared) + " per team)");
  }
  return Out;
}

std::vector<std::string> genericKernels(const std::string &IR) {
  // "@<kernel>_kernel_environment = ... { %struct.ConfigurationEnvironmentTy { i8 U, i8 N, i8 M,"
  // with execution mode M: 1 generic, 2 SPMD, 3 generic made SPMD.
  static const std::regex Environment(
      R"(^@([-\w$.]+)_kernel_environment = .*ConfigurationEnvironmentTy \{ i8 [0-9]+, i8 [0-9]+, i8 ([0-9]+),)");
  std::vector<std::string> Out;
  for (const std::string &Line : lines(IR)) {
    std::smatch M;
    if (Line.find("_kernel_environment = ") != std::string::npos &&
        std::regex_search(Line, M, Environment) && M[2].str() == "1")
      Out.push_back(M[1].str());
  }
  return Out;
}

std::string inlineEverything(const std::string &IR) {
  std::string Out;
  Out.reserve(IR.size());
  for (std::string Line : lines(IR)) {
    if (Line.compare(0, 12, "attributes #") == 0) {
      size_t Open = Line.find("= { ");
      if (Open != std::string::npos) {
        std::istringstream Words(Line.substr(Open + 4));
        std::string Kept = "alwaysinline \"no-builtins\"";
        for (std::string Word; Words >> Word;)
          if (Word != "noinline" && Word != "optnone" && Word != "alwaysinline" && Word != "}" &&
              Word != "\"no-builtins\"")
            Kept += " " + Word;
        Line = Line.substr(0, Open) + "= { " + Kept + " }";
      }
    }
    Out += Line;
    Out += '\n';
  }
  return Out;
}

std::string offloadTableIR(std::vector<HostEntry> Entries, const std::vector<std::string> &Defined) {
  constexpr uint32_t kFunctionFlag = 0x8;
  std::set<std::string> Present(Defined.begin(), Defined.end());
  std::vector<HostEntry> Variables;
  for (const HostEntry &E : Entries)
    if (E.Size > 0 ? Present.count(E.Name) > 0 : !(E.Flags & kFunctionFlag))
      Variables.push_back(E);
  std::sort(Variables.begin(), Variables.end(), [](const HostEntry &A, const HostEntry &B) {
    return std::strcmp(A.Name.c_str(), B.Name.c_str()) < 0;
  });
  // Record: address, name, size, flags, reserved, bytes of the name with its zero (40 bytes).
  // Each record has a type of its own and the table is a structure of them: SPIR-V types
  // pointers by what they point at, so records pointing at different variables differ in type
  // and cannot be elements of one array.
  std::string Out, Types, Records;
  for (size_t I = 0; I < Variables.size(); ++I) {
    const HostEntry &V = Variables[I];
    std::string Index = std::to_string(I);
    std::string Type = "%__omp_offloading_table_entry." + Index;
    std::string NameVar = "@__omp_offloading_table_name." + Index;
    Types += Type + " = type { ptr addrspace(1), ptr addrspace(1), i64, i32, i32, i64 }\n";
    Out += NameVar + " = internal addrspace(1) constant [" + std::to_string(V.Name.size() + 1) +
           " x i8] " + irString(V.Name) + "\n";
    std::string Address = V.Size > 0 ? irName(V.Name) : std::string("null");
    Records += std::string(I ? ", " : "") + Type + " { ptr addrspace(1) " + Address +
               ", ptr addrspace(1) " + NameVar + ", i64 " + std::to_string(V.Size) +
               ", i32 0, i32 0, i64 " + std::to_string(V.Name.size() + 1) + " }";
  }
  std::string TableType = "{ ";
  for (size_t I = 0; I < Variables.size(); ++I)
    TableType += std::string(I ? ", " : "") + "%__omp_offloading_table_entry." + std::to_string(I);
  TableType += " }";
  Out = "\n" + Types + Out + "@__omp_offloading_entries_table = addrspace(1) global " + TableType +
        " { " + Records + " }, align 8\n";
  Out += "@__omp_offloading_entries_table_size = addrspace(1) global i64 " +
         std::to_string(Variables.size() * 40) + ", align 8\n";
  return Out;
}
