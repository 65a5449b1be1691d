#include "spirv_check.h"

#include "spirv_block_order.h"
#include "spirv_lowering.h"

#include <spirv-tools/libspirv.h>

#include <cstring>
#include <map>
#include <set>
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

// What the translator's reader needs beyond what the validator checks (it asserts, exits or
// crashes on each): every id below the bound and defined once; strings padded with zeros;
// alignments that are powers of two; extended instructions and constant operations applied to
// values, constant access chains following their pointer's type; names and decorations before
// their target's definition, no property decorated twice; memory orderings OpenCL has; parameter
// attributes it maps (up to NoWrite); extensions it knows; one entry point per function.
struct ReaderCheck {
  uint32_t Bound = 0;
  std::vector<bool> Defined;
  std::vector<uint32_t> TypeOf;
  std::map<uint32_t, std::vector<uint32_t>> Types;   // the words that define each type
  std::map<uint32_t, uint64_t> IntegerConstants;
  std::vector<uint32_t> ValueOperands;               // must name typed values
  std::vector<std::vector<uint32_t>> ConstantChains; // opcode, base, indexes
  std::vector<uint32_t> Semantics;                   // memory semantics operands
  std::set<uint32_t> EntryPoints;
  std::set<std::pair<uint32_t, uint32_t>> Decorations; // target, decoration
  std::vector<uint32_t> Used;
  std::string Problem;
};

bool isIdOperand(spv_operand_type_t Type) {
  return Type == SPV_OPERAND_TYPE_ID || Type == SPV_OPERAND_TYPE_TYPE_ID ||
         Type == SPV_OPERAND_TYPE_RESULT_ID || Type == SPV_OPERAND_TYPE_MEMORY_SEMANTICS_ID ||
         Type == SPV_OPERAND_TYPE_SCOPE_ID;
}

bool zeroPadded(const uint32_t *Words, uint16_t Count) {
  auto Bytes = reinterpret_cast<const unsigned char *>(Words);
  size_t End = size_t(Count) * 4;
  size_t Nul = 0;
  while (Nul < End && Bytes[Nul] != 0)
    ++Nul;
  for (size_t At = Nul; At < End; ++At)
    if (Bytes[At] != 0)
      return false;
  return true;
}

constexpr uint32_t kOpExtension = 10, kOpExtInst = 12, kOpEntryPoint = 15, kOpTypeInt = 21,
                   kOpTypeVector = 23, kOpTypeMatrix = 24, kOpTypeArray = 28,
                   kOpTypeRuntimeArray = 29, kOpTypeStruct = 30, kOpTypePointer = 32,
                   kOpConstant = 43, kOpSpecConstantOp = 52, kOpDecorate = 71;
constexpr uint32_t kDecorationFuncParamAttr = 38, kDecorationAlignment = 44,
                   kLastFuncParamAttr = 6, kMemoryAccessAligned = 2;

// The reader ends the process on an extension it does not know.
bool knownExtension(const std::string &Name) {
  static const auto *Known = new std::set<std::string>{ // never destroyed: used until exit
#define EXT(X) #X,
#include <LLVMSPIRVLib/LLVMSPIRVExtensions.inc>
#undef EXT
  };
  return Known->count(Name) != 0;
}

bool annotation(uint32_t Op) {
  return Op == 5 || Op == 6 || Op == kOpDecorate || Op == 72 || Op == 332 || Op == 5632 ||
         Op == 5633; // names, member names, decorations of every form but groups
}

// Decorations that give an id one property, which a second one would contradict: spec id,
// builtin, linkage (the reader makes two functions of one name), alignment.
bool singleDecoration(uint32_t Kind) {
  return Kind == 1 || Kind == 11 || Kind == 41 || Kind == kDecorationAlignment;
}

// Access chains, the operations of a constant that index their first operand; the pointer
// forms (67, 70) begin with an index that steps over whole objects.
bool indexing(uint32_t Opcode) { return (Opcode >= 65 && Opcode <= 67) || Opcode == 70; }
bool steppingFirst(uint32_t Opcode) { return Opcode == 67 || Opcode == 70; }

void recordDefinition(ReaderCheck &Check, const spv_parsed_instruction_t &Instruction) {
  const uint32_t *Words = Instruction.words;
  uint16_t Op = Instruction.opcode;
  if (Op >= 19 && Op <= 39 && Instruction.num_words >= 2) // type declarations
    Check.Types[Words[1]].assign(Words, Words + Instruction.num_words);
  if (Op == kOpConstant && Instruction.num_words >= 4)
    Check.IntegerConstants[Words[2]] =
        Words[3] | (Instruction.num_words > 4 ? uint64_t(Words[4]) << 32 : 0);
  if (Op == kOpSpecConstantOp && Instruction.num_words >= 5 && indexing(Words[3]))
    Check.ConstantChains.emplace_back(Words + 3, Words + Instruction.num_words);
}

// Empty when the chain walks the type of its base pointer with integer indexes.
std::string chainProblem(const ReaderCheck &Check, const std::vector<uint32_t> &Chain) {
  auto TypeWords = [&Check](uint32_t Type) {
    auto It = Check.Types.find(Type);
    return It == Check.Types.end() ? std::vector<uint32_t>{0, 0} : It->second;
  };
  std::vector<uint32_t> Pointer = TypeWords(Check.TypeOf[Chain[1]]);
  if ((Pointer[0] & 0xFFFF) != kOpTypePointer || Pointer.size() < 4)
    return "id " + std::to_string(Chain[1]) + " is indexed but not a pointer";
  uint32_t Type = Pointer[3];
  for (size_t I = 2; I < Chain.size(); ++I) {
    if ((TypeWords(Check.TypeOf[Chain[I]])[0] & 0xFFFF) != kOpTypeInt)
      return "a constant's index is not an integer";
    if (I == 2 && steppingFirst(Chain[0]))
      continue;
    std::vector<uint32_t> Composite = TypeWords(Type);
    uint32_t Op = Composite[0] & 0xFFFF;
    auto Member = Check.IntegerConstants.find(Chain[I]);
    if ((Op == kOpTypeVector || Op == kOpTypeMatrix || Op == kOpTypeArray ||
         Op == kOpTypeRuntimeArray) && Composite.size() >= 3)
      Type = Composite[2];
    else if (Op == kOpTypeStruct && Member != Check.IntegerConstants.end() &&
             Member->second < Composite.size() - 2)
      Type = Composite[2 + Member->second];
    else
      return "a constant indexes into what has no such part";
  }
  return std::string();
}

bool powerOfTwo(uint32_t Value) { return Value && !(Value & (Value - 1)); }

// The alignment an instruction states (a memory operand or a decoration), or 1.
uint32_t statedAlignment(const spv_parsed_instruction_t &Instruction) {
  const spv_parsed_operand_t *Operands = Instruction.operands;
  auto Word = [&](uint16_t I) { return Instruction.words[Operands[I].offset]; };
  if (Instruction.opcode == kOpDecorate && Instruction.num_operands == 3 &&
      Word(1) == kDecorationAlignment)
    return Word(2);
  for (uint16_t I = 0; I + 1 < Instruction.num_operands; ++I)
    if ((Operands[I].type == SPV_OPERAND_TYPE_MEMORY_ACCESS ||
         Operands[I].type == SPV_OPERAND_TYPE_OPTIONAL_MEMORY_ACCESS) &&
        (Word(I) & kMemoryAccessAligned) && !powerOfTwo(Word(I + 1)))
      return Word(I + 1);
  return 1;
}

spv_result_t checkInstruction(void *Data, const spv_parsed_instruction_t *Instruction) {
  auto &Check = *static_cast<ReaderCheck *>(Data);
  if (!powerOfTwo(statedAlignment(*Instruction))) {
    Check.Problem = "an alignment is not a power of two";
    return SPV_ERROR_INVALID_BINARY;
  }
  if (annotation(Instruction->opcode) && Instruction->num_operands > 0) {
    uint32_t Target = Instruction->words[Instruction->operands[0].offset];
    if (Target < Check.Bound && Check.Defined[Target]) {
      Check.Problem = "id " + std::to_string(Target) + " is annotated after its definition";
      return SPV_ERROR_INVALID_ID;
    }
    bool Decoration = Instruction->opcode == kOpDecorate || Instruction->opcode == 332 ||
                      Instruction->opcode == 5632;
    uint32_t Kind = Instruction->num_operands > 1
                        ? Instruction->words[Instruction->operands[1].offset]
                        : 0;
    if (Kind == kDecorationFuncParamAttr && Instruction->num_operands > 2 &&
        Instruction->words[Instruction->operands[2].offset] > kLastFuncParamAttr) {
      Check.Problem = "a parameter attribute of an extension";
      return SPV_ERROR_INVALID_BINARY;
    }
    if (Decoration && singleDecoration(Kind) && !Check.Decorations.insert({Target, Kind}).second) {
      Check.Problem = "id " + std::to_string(Target) + " has the same decoration twice";
      return SPV_ERROR_INVALID_ID;
    }
  }
  for (uint16_t I = 0; I < Instruction->num_operands; ++I) {
    const spv_parsed_operand_t &Operand = Instruction->operands[I];
    if (Operand.type == SPV_OPERAND_TYPE_LITERAL_STRING &&
        !zeroPadded(Instruction->words + Operand.offset, Operand.num_words)) {
      Check.Problem = "a string is not padded with zeros";
      return SPV_ERROR_INVALID_BINARY;
    }
    if (!isIdOperand(Operand.type))
      continue;
    uint32_t Id = Instruction->words[Operand.offset];
    if (Id >= Check.Bound) {
      Check.Problem = "id " + std::to_string(Id) + " is beyond the module's id bound";
      return SPV_ERROR_INVALID_ID;
    }
    if (Operand.type != SPV_OPERAND_TYPE_RESULT_ID) {
      Check.Used.push_back(Id);
      if (Operand.type == SPV_OPERAND_TYPE_MEMORY_SEMANTICS_ID)
        Check.Semantics.push_back(Id);
      if ((Instruction->opcode == kOpExtInst && I >= 4) ||
          (Instruction->opcode == kOpSpecConstantOp && I >= 3))
        Check.ValueOperands.push_back(Id);
    } else if (Check.Defined[Id]) {
      Check.Problem = "id " + std::to_string(Id) + " is defined twice";
      return SPV_ERROR_INVALID_ID;
    } else {
      Check.Defined[Id] = true;
      Check.TypeOf[Id] = Instruction->type_id;
    }
  }
  if (Instruction->opcode == kOpEntryPoint && Instruction->num_operands > 1 &&
      !Check.EntryPoints.insert(Instruction->words[Instruction->operands[1].offset]).second) {
    Check.Problem = "a function is an entry point twice";
    return SPV_ERROR_INVALID_ID;
  }
  if (Instruction->opcode == kOpExtension && Instruction->num_operands == 1) {
    const spv_parsed_operand_t &Name = Instruction->operands[0];
    auto Text = reinterpret_cast<const char *>(Instruction->words + Name.offset);
    if (!knownExtension(std::string(Text, strnlen(Text, Name.num_words * 4)))) {
      Check.Problem = "the module uses an extension the translator does not know";
      return SPV_ERROR_INVALID_BINARY;
    }
  }
  recordDefinition(Check, *Instruction);
  return SPV_SUCCESS;
}

// Empty when the reader may go ahead.
std::string readerProblem(spv_context Context, const std::vector<uint32_t> &Words) {
  if (Words[4] != 0) // the validator lets a schema through; the reader exits on one
    return "the reserved schema word is not zero";
  ReaderCheck Check;
  Check.Bound = Words[3];
  if (Check.Bound > kDefaultMaxIdBound)
    return "the id bound is above the limit";
  Check.Defined.assign(Check.Bound, false);
  Check.TypeOf.assign(Check.Bound, 0);
  spv_diagnostic Raw = nullptr;
  spv_result_t Result = spvBinaryParse(Context, &Check, Words.data(), Words.size(), nullptr,
                                       checkInstruction, &Raw);
  DiagnosticPtr Diagnostic(Raw, spvDiagnosticDestroy);
  if (Result != SPV_SUCCESS)
    return Check.Problem.empty() ? diagnosticText(Raw) : Check.Problem;
  for (uint32_t Id : Check.Used)
    if (!Check.Defined[Id])
      return "id " + std::to_string(Id) + " is used but never defined";
  for (uint32_t Id : Check.ValueOperands)
    if (!Check.TypeOf[Id])
      return "id " + std::to_string(Id) + " is an operand but not a value";
  for (uint32_t Id : Check.Semantics) {
    auto Value = Check.IntegerConstants.find(Id);
    uint64_t Order = Value == Check.IntegerConstants.end() ? 0 : Value->second & 0x1F;
    if ((Order & 1) || (Order & (Order - 1))) // relaxed, acquire, release, both, or sequential
      return "memory semantics without one ordering OpenCL has";
  }
  for (const std::vector<uint32_t> &Chain : Check.ConstantChains)
    if (std::string Problem = chainProblem(Check, Chain); !Problem.empty())
      return Problem;
  return std::string();
}

} // namespace

bool prepareSpirv(std::vector<uint32_t> &Words, std::string &Log) {
  if (Words.size() < kSpirvHeaderWords || Words[0] != kSpirvMagic) {
    Log += "error: SPIR-V validation failed: not a SPIR-V module\n";
    return false;
  }
  Words = lowerSpirv(Words);
  ContextPtr Context(spvContextCreate(environmentFor(Words[1])), spvContextDestroy);
  // The reader's needs first: they include sound instruction framing, which the rest relies on.
  std::string Problem = readerProblem(Context.get(), Words);
  if (Problem.empty()) {
    Words = orderBlocksByDominance(Words);
    OptionsPtr Options(spvValidatorOptionsCreate(), spvValidatorOptionsDestroy);
    spv_const_binary_t Binary{Words.data(), Words.size()};
    spv_diagnostic Raw = nullptr;
    spv_result_t Result = spvValidateWithOptions(Context.get(), Options.get(), &Binary, &Raw);
    DiagnosticPtr Diagnostic(Raw, spvDiagnosticDestroy);
    if (Result != SPV_SUCCESS)
      Problem = diagnosticText(Raw);
  }
  if (Problem.empty())
    return true;
  Log += "error: SPIR-V validation failed: " + Problem + "\n";
  return false;
}
