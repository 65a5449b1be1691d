#include "kernel_records.h"

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

namespace {

// Parameter types of a definition's parameter list, split at its top-level commas.
std::vector<std::string> parameterTypes(const std::string &List) {
  std::vector<std::string> Types;
  int Depth = 0;
  std::string Current;
  auto Flush = [&] {
    size_t First = Current.find_first_not_of(' ');
    if (First != std::string::npos) {
      std::string Param = Current.substr(First);
      // "ptr addrspace(1) noundef %0": the type is its first word and an address space.
      std::string Type = Param.substr(0, Param.find(' '));
      if (Param.compare(Type.size(), 11, " addrspace(") == 0)
        Type = "ptr";
      Types.push_back(Type);
    }
    Current.clear();
  };
  for (char C : List) {
    if (C == '(' || C == '{' || C == '[' || C == '<')
      ++Depth;
    if (C == ')' || C == '}' || C == ']' || C == '>')
      --Depth;
    if (C == ',' && Depth == 0)
      Flush();
    else
      Current += C;
  }
  Flush();
  return Types;
}

unsigned typeBytes(const std::string &Type) {
  if (Type == "i8")
    return 1;
  if (Type == "i16" || Type == "half")
    return 2;
  if (Type == "i32" || Type == "float")
    return 4;
  return 8; // pointers, i64, double
}

} // namespace

std::string defaultDistributeUnchunked(const std::string &DeviceIR,
                                       std::vector<std::string> &Kernels) {
  // Execution mode per kernel from its environment: bit 2 is SPMD.
  static const std::regex Environment(
      R"(^@([-\w$.]+)_kernel_environment = .*ConfigurationEnvironmentTy \{ i8 [0-9]+, i8 [0-9]+, i8 ([0-9]+),)");
  static const std::regex Definition(R"(^define [^@]*@([-\w$.]+)\()");
  static const std::regex TeamSize(
      R"(^  (%[-\w$.]+) = (?:tail )?call i32 @__kmpc_get_hardware_num_threads_in_block\(\))");
  static const std::regex Widened(R"(^  (%[-\w$.]+) = [sz]ext i32 (%[-\w$.]+) to i64)");
  static const std::regex Distribute(
      R"(call spir_func void @__kmpc_distribute_static_init_(?:4|4u|8|8u)\(.*, i32 91, .*, i(?:32|64) (%[-\w$.]+)\)$)");
  std::vector<std::string> SPMD;
  std::istringstream Lines(DeviceIR);
  std::vector<std::string> All;
  for (std::string Line; std::getline(Lines, Line);) {
    std::smatch M;
    if (Line.compare(0, 1, "@") == 0 && std::regex_search(Line, M, Environment) &&
        (std::stoi(M[2].str()) & 2))
      SPMD.push_back(M[1].str());
    All.push_back(Line);
  }
  std::string Out, Function;
  std::set<std::string> Sizes; // values holding the team size in the current function
  for (std::string &Line : All) {
    std::smatch M;
    if (Line.compare(0, 7, "define ") == 0 && std::regex_search(Line, M, Definition)) {
      Function = M[1].str();
      Sizes.clear();
    } else if (std::regex_search(Line, M, TeamSize)) {
      Sizes.insert(M[1].str());
    } else if (std::regex_search(Line, M, Widened) && Sizes.count(M[2].str())) {
      Sizes.insert(M[1].str());
    } else if (Line.find("@__kmpc_distribute_static_init_") != std::string::npos &&
               std::regex_search(Line, M, Distribute) && Sizes.count(M[1].str())) {
      // The kernel a region belongs to is the one whose name starts the region's name.
      for (const std::string &Kernel : SPMD)
        if (Function == Kernel || Function.compare(0, Kernel.size() + 1, Kernel + "_") == 0) {
          Line.replace(Line.find(", i32 91, "), 10, ", i32 92, ");
          if (std::find(Kernels.begin(), Kernels.end(), Kernel) == Kernels.end())
            Kernels.push_back(Kernel);
        }
    }
    Out += Line + "\n";
  }
  return Out;
}

std::string kernelInfoIR(const std::string &DeviceIR, const std::vector<std::string> &Kernels) {
  static const std::regex Kernel(R"(^define .*spir_kernel void @([-\w$.]+)\((.*)\) .*\{$)");
  std::istringstream Lines(DeviceIR);
  std::string Out;
  for (std::string Line; std::getline(Lines, Line);) {
    std::smatch M;
    if (Line.compare(0, 7, "define ") != 0 || !std::regex_match(Line, M, Kernel) ||
        std::find(Kernels.begin(), Kernels.end(), M[1].str()) == Kernels.end())
      continue;
    std::vector<std::string> Types = parameterTypes(M[2].str());
    // Version, argument count, {by value, size} per argument, attributes, the team count limit
    // (none) and the team size limit (one work-item), each limit followed by 4 unused bytes.
    std::string Args;
    for (size_t I = 0; I < Types.size(); ++I)
      Args += std::string(I ? ", " : "") + "[2 x i32] [i32 0, i32 " +
              std::to_string(typeBytes(Types[I])) + "]";
    std::string N = std::to_string(Types.size());
    Out += "@" + M[1].str() + "_kernel_info = addrspace(1) constant { i32, i32, [" + N +
           " x [2 x i32]], i64, i32, i32, i32, i32 } { i32 5, i32 " + N + ", [" + N +
           " x [2 x i32]] [" + Args + "], i64 0, i32 0, i32 0, i32 1, i32 0 }, align 8\n";
  }
  return Out.empty() ? Out : "\n" + Out;
}

std::string settleTeamStackUse(const std::string &LinkedIR) {
  if (LinkedIR.find("@devrtSharedAlloc(") != std::string::npos)
    return LinkedIR;
  const std::string Start = "\n@__devrt_uses_team_stack = ", One = "constant i8 1";
  size_t At = LinkedIR.find(Start);
  if (At == std::string::npos)
    return LinkedIR;
  size_t End = LinkedIR.find('\n', At + 1), Value = LinkedIR.find(One, At);
  if (Value == std::string::npos || Value > End)
    return LinkedIR;
  std::string Out = LinkedIR;
  Out[Value + One.size() - 1] = '0';
  return Out;
}
