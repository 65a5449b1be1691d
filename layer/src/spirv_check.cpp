#include "spirv_check.h"

#include <spirv-tools/libspirv.h>

#include <cstring>
#include <memory>

namespace {

// The validator knows OpenCL's rules for SPIR-V up to 1.2; later versions get the core rules.
spv_target_env environmentFor(uint32_t Version) {
  return Version <= 0x10200 ? SPV_ENV_OPENCL_2_2 : SPV_ENV_UNIVERSAL_1_4;
}

using ContextPtr = std::unique_ptr<spv_context_t, decltype(&spvContextDestroy)>;
using OptionsPtr = std::unique_ptr<spv_validator_options_t, decltype(&spvValidatorOptionsDestroy)>;
using DiagnosticPtr = std::unique_ptr<spv_diagnostic_t, decltype(&spvDiagnosticDestroy)>;

std::string diagnosticText(spv_diagnostic Diagnostic) {
  if (!Diagnostic || !Diagnostic->error)
    return "unknown problem";
  return std::string(Diagnostic->error) + " (at word " +
         std::to_string(Diagnostic->position.index) + ")";
}

// What a reader needs beyond instruction framing: every id below the bound and defined once.
struct IdCheck {
  uint32_t Bound = 0;
  std::vector<bool> Defined;
  std::vector<uint32_t> Used;
  std::string Problem;
};

bool isIdOperand(spv_operand_type_t Type) {
  return Type == SPV_OPERAND_TYPE_ID || Type == SPV_OPERAND_TYPE_TYPE_ID ||
         Type == SPV_OPERAND_TYPE_RESULT_ID || Type == SPV_OPERAND_TYPE_MEMORY_SEMANTICS_ID ||
         Type == SPV_OPERAND_TYPE_SCOPE_ID;
}

spv_result_t checkInstructionIds(void *Data, const spv_parsed_instruction_t *Instruction) {
  auto &Check = *static_cast<IdCheck *>(Data);
  for (uint16_t I = 0; I < Instruction->num_operands; ++I) {
    const spv_parsed_operand_t &Operand = Instruction->operands[I];
    if (!isIdOperand(Operand.type))
      continue;
    uint32_t Id = Instruction->words[Operand.offset];
    if (Id >= Check.Bound) {
      Check.Problem = "id " + std::to_string(Id) + " is beyond the module's id bound";
      return SPV_ERROR_INVALID_ID;
    }
    if (Operand.type != SPV_OPERAND_TYPE_RESULT_ID) {
      Check.Used.push_back(Id);
    } else if (Check.Defined[Id]) {
      Check.Problem = "id " + std::to_string(Id) + " is defined twice";
      return SPV_ERROR_INVALID_ID;
    } else {
      Check.Defined[Id] = true;
    }
  }
  return SPV_SUCCESS;
}

// The translator itself writes ids used before their definition (function pointer constants,
// some loops), which the validator refuses; such modules are read when nothing else is wrong
// with their ids.
bool idsReadable(spv_context Context, const std::vector<uint32_t> &Words, std::string &Problem) {
  IdCheck Check;
  Check.Bound = Words[3];
  if (Check.Bound > kDefaultMaxIdBound) {
    Problem = "the id bound is above the limit";
    return false;
  }
  Check.Defined.assign(Check.Bound, false);
  spv_diagnostic Raw = nullptr;
  spv_result_t Result = spvBinaryParse(Context, &Check, Words.data(), Words.size(), nullptr,
                                       checkInstructionIds, &Raw);
  DiagnosticPtr Diagnostic(Raw, spvDiagnosticDestroy);
  if (Result != SPV_SUCCESS) {
    Problem = Check.Problem.empty() ? diagnosticText(Raw) : Check.Problem;
    return false;
  }
  for (uint32_t Id : Check.Used)
    if (!Check.Defined[Id]) {
      Problem = "id " + std::to_string(Id) + " is used but never defined";
      return false;
    }
  return true;
}

} // namespace

bool looksLikeSpirv(const void *Bytes, size_t Length) {
  if (!Bytes || Length < kSpirvHeaderWords * 4 || Length % 4 != 0)
    return false;
  uint32_t Magic;
  std::memcpy(&Magic, Bytes, sizeof(Magic));
  return Magic == kSpirvMagic || Magic == __builtin_bswap32(kSpirvMagic);
}

std::vector<uint32_t> spirvWords(const void *Bytes, size_t Length) {
  std::vector<uint32_t> Words(Length / 4);
  std::memcpy(Words.data(), Bytes, Words.size() * 4);
  if (!Words.empty() && Words[0] == __builtin_bswap32(kSpirvMagic))
    for (uint32_t &Word : Words)
      Word = __builtin_bswap32(Word);
  return Words;
}

bool spirvReadable(const std::vector<uint32_t> &Words, std::string &Log) {
  if (Words.size() < kSpirvHeaderWords || Words[0] != kSpirvMagic) {
    Log += "error: SPIR-V validation failed: not a SPIR-V module\n";
    return false;
  }
  ContextPtr Context(spvContextCreate(environmentFor(Words[1])), spvContextDestroy);
  OptionsPtr Options(spvValidatorOptionsCreate(), spvValidatorOptionsDestroy);
  spv_const_binary_t Binary{Words.data(), Words.size()};
  spv_diagnostic Raw = nullptr;
  spv_result_t Result = spvValidateWithOptions(Context.get(), Options.get(), &Binary, &Raw);
  DiagnosticPtr Diagnostic(Raw, spvDiagnosticDestroy);
  if (Result == SPV_SUCCESS)
    return true;
  std::string Finding = diagnosticText(Raw);
  bool ForwardUse = Result == SPV_ERROR_INVALID_ID &&
                    Finding.find("has not been defined") != std::string::npos;
  std::string Problem;
  if (ForwardUse && idsReadable(Context.get(), Words, Problem)) {
    Log += "warning: SPIR-V validation: " + Finding + "; read anyway\n";
    return true;
  }
  Log += "error: SPIR-V validation failed: " + (Problem.empty() ? Finding : Problem) + "\n";
  return false;
}
