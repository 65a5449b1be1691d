#include "spirv_1_4_lowering.h"

#include <spirv-tools/libspirv.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr uint32_t kOpUndef = 1, kOpExtInstImport = 11, kOpExtInst = 12, kOpMemoryModel = 14, kOpCapability = 17,
                   kOpTypeInt = 21, kOpTypeFloat = 22, kOpTypeVector = 23, kOpTypeArray = 28,
                   kOpTypeStruct = 30, kOpTypePointer = 32, kOpConstant = 43, kOpFunction = 54, kOpLoad = 61, kOpStore = 62,
                   kOpCopyMemory = 63, kOpCopyMemorySized = 64, kOpDecorate = 71,
                   kOpCompositeExtract = 81, kOpCompositeInsert = 82, kOpCopyObject = 83,
                   kOpFConvert = 115, kOpSConvert = 114, kOpConvertPtrToU = 117, kOpISub = 130,
                   kOpSDiv = 135, kOpIEqual = 170, kOpINotEqual = 171, kOpCopyLogical = 400,
                   kOpPtrEqual = 401, kOpPtrNotEqual = 402, kOpPtrDiff = 403,
                   kOpDecorateString = 5632, kOpMemberDecorateString = 5633;
constexpr uint32_t kDecorationCPacked = 10, kDecorationUserSemantic = 5635, kCapabilityFloat64 = 10,
                   kCapabilityInt64 = 11, kPrintf = 184;
constexpr size_t kHeaderWords = 5;
// Bounds that keep a hostile module from making the rewrite huge or deep.
constexpr int kMaxDepth = 32;
constexpr size_t kMaxCopyWords = 1 << 16;
constexpr uint64_t kMaxSize = uint64_t(1) << 40;

uint32_t instruction(uint32_t Op, uint32_t Count) { return (Count << 16) | Op; }

bool isTypeDeclaration(uint32_t Op) { return (Op >= 19 && Op <= 38) || Op == 322 || Op == 327; }

// What the rewrite needs to know of the module, from one parse.
struct ModuleFacts {
  std::unordered_map<uint32_t, uint32_t> TypeOf;                // value -> its type
  std::unordered_map<uint32_t, std::vector<uint32_t>> Types;    // type -> its declaration
  std::unordered_map<uint32_t, uint64_t> IntegerConstants;      // constant -> value
  std::unordered_set<uint32_t> Packed, Capabilities;
  uint32_t AddressBits = 0; // 0 for logical addressing
  uint32_t OpenCLStd = 0;
  bool Wanted = false; // anything to rewrite
};

spv_result_t collect(void *Data, const spv_parsed_instruction_t *I) {
  auto &Facts = *static_cast<ModuleFacts *>(Data);
  const uint32_t *W = I->words;
  uint32_t Op = I->opcode, Count = I->num_words;
  if (I->type_id && I->result_id)
    Facts.TypeOf[I->result_id] = I->type_id;
  if (isTypeDeclaration(Op) && I->result_id)
    Facts.Types[I->result_id].assign(W, W + Count);
  if (Op == kOpConstant && Count >= 4) {
    uint64_t Value = W[3];
    if (Count >= 5)
      Value |= uint64_t(W[4]) << 32;
    Facts.IntegerConstants[W[2]] = Value;
  } else if (Op == kOpDecorate && Count >= 3 && W[2] == kDecorationCPacked) {
    Facts.Packed.insert(W[1]);
  } else if (Op == kOpCapability && Count >= 2) {
    Facts.Capabilities.insert(W[1]);
  } else if (Op == kOpMemoryModel && Count >= 2) {
    Facts.AddressBits = W[1] == 1 ? 32 : W[1] == 2 ? 64 : 0;
  } else if (Op == kOpExtInstImport && Count >= 3 &&
             strncmp(reinterpret_cast<const char *>(W + 2), "OpenCL.std", 4 * (Count - 2)) == 0) {
    Facts.OpenCLStd = I->result_id;
  }
  Facts.Wanted |= (Op >= kOpCopyLogical && Op <= kOpPtrDiff) ||
                  (Op == kOpCopyMemory && Count > 3) || (Op == kOpCopyMemorySized && Count > 4) ||
                  Op == kOpDecorateString || Op == kOpMemberDecorateString ||
                  (Op == kOpExtInst && Count >= 5 && W[4] == kPrintf);
  return SPV_SUCCESS;
}

class Rewriter {
public:
  Rewriter(const ModuleFacts &Facts, uint32_t Bound) : Facts(Facts), Bound(Bound) {}

  // The instruction at W, as the words that replace it (empty to drop it).
  std::vector<uint32_t> rewrite(const uint32_t *W, uint32_t Count) {
    uint32_t Op = W[0] & 0xFFFF;
    std::vector<uint32_t> Code;
    if (Op == kOpCopyLogical && Count == 4) {
      uint32_t Saved = Bound;
      auto Source = Facts.TypeOf.find(W[3]);
      if (Source != Facts.TypeOf.end() && copyLogical(W[1], Source->second, W[3], W[2], Code, 0))
        return Code;
      Bound = Saved;
    } else if ((Op == kOpPtrEqual || Op == kOpPtrNotEqual || Op == kOpPtrDiff) && Count == 5) {
      if (pointerArithmetic(W, Code))
        return Code;
    } else if (Op == kOpCopyMemory && Count >= 3) {
      if (loadAndStore(W, Count, Code))
        return Code;
      Code.assign(W, W + 3); // the translator refuses it: the build fails with its log
      Code[0] = instruction(Op, 3);
      return Code;
    } else if (Op == kOpCopyMemorySized && Count > 4) {
      Code.assign(W, W + 4);
      Code[0] = instruction(Op, 4);
      return Code;
    } else if ((Op == kOpDecorateString && Count >= 4 && W[2] == kDecorationUserSemantic) ||
               (Op == kOpMemberDecorateString && Count >= 5 &&
                W[3] == kDecorationUserSemantic)) {
      return Code; // remarks for tools, of no effect on the code; the translator reads none
    } else if (Op == kOpExtInst && Count >= 6 && Facts.OpenCLStd && W[3] == Facts.OpenCLStd &&
               W[4] == kPrintf) {
      Code.assign(W, W + Count);
      std::vector<uint32_t> Converts;
      for (uint32_t K = 6; K < Count; ++K)
        if (isScalar(typeOf(W[K]), kOpTypeFloat, 32)) {
          uint32_t Double = doubleType(), Promoted = Bound++;
          Converts.insert(Converts.end(), {instruction(kOpFConvert, 4), Double, Promoted, W[K]});
          Code[K] = Promoted;
        }
      Code.insert(Code.begin(), Converts.begin(), Converts.end());
      return Code;
    }
    return std::vector<uint32_t>(W, W + Count);
  }

  uint32_t bound() const { return Bound; }
  const std::vector<uint32_t> &newCapabilities() const { return NewCapabilities; }
  const std::vector<uint32_t> &newGlobals() const { return NewGlobals; }

private:
  const std::vector<uint32_t> *declaration(uint32_t Type) const {
    auto Found = Facts.Types.find(Type);
    return Found == Facts.Types.end() ? nullptr : &Found->second;
  }
  uint32_t typeOf(uint32_t Value) const {
    auto Found = Facts.TypeOf.find(Value);
    return Found == Facts.TypeOf.end() ? 0 : Found->second;
  }
  bool isScalar(uint32_t Type, uint32_t Op, uint32_t Width) const {
    const std::vector<uint32_t> *D = declaration(Type);
    return D && ((*D)[0] & 0xFFFF) == Op && D->size() >= 3 && (*D)[2] == Width;
  }

  void addCapability(uint32_t Capability) {
    if (Facts.Capabilities.count(Capability) || Added.count(Capability))
      return;
    Added.insert(Capability);
    NewCapabilities.insert(NewCapabilities.end(), {instruction(kOpCapability, 2), Capability});
  }
  // An existing scalar type of this kind and width, or a new one.
  uint32_t scalarType(uint32_t Op, uint32_t Width) {
    uint64_t Key = (uint64_t(Op) << 32) | Width;
    if (auto Made = Scalars.find(Key); Made != Scalars.end())
      return Made->second;
    for (const auto &[Id, D] : Facts.Types)
      if ((D[0] & 0xFFFF) == Op && D.size() >= 3 && D[2] == Width &&
          (Op != kOpTypeInt || (D.size() >= 4 && D[3] == 0)))
        return Scalars[Key] = Id;
    uint32_t Id = Scalars[Key] = Bound++;
    if (Op == kOpTypeInt)
      NewGlobals.insert(NewGlobals.end(), {instruction(kOpTypeInt, 4), Id, Width, 0});
    else
      NewGlobals.insert(NewGlobals.end(), {instruction(kOpTypeFloat, 3), Id, Width});
    if (Width == 64)
      addCapability(Op == kOpTypeInt ? kCapabilityInt64 : kCapabilityFloat64);
    return Id;
  }
  uint32_t doubleType() { return scalarType(kOpTypeFloat, 64); }
  uint32_t addressConstant(uint64_t Value) {
    if (auto Made = AddressConstants.find(Value); Made != AddressConstants.end())
      return Made->second;
    uint32_t Type = scalarType(kOpTypeInt, Facts.AddressBits), Id = Bound++;
    if (Facts.AddressBits == 64)
      NewGlobals.insert(NewGlobals.end(), {instruction(kOpConstant, 5), Type, Id,
                                           uint32_t(Value), uint32_t(Value >> 32)});
    else
      NewGlobals.insert(NewGlobals.end(), {instruction(kOpConstant, 4), Type, Id, uint32_t(Value)});
    return AddressConstants[Value] = Id;
  }

  // Size and alignment in bytes of a value of this type in memory, as the C rules lay it out.
  bool layout(uint32_t Type, uint64_t &Size, uint64_t &Align, int Depth) const {
    const std::vector<uint32_t> *D = declaration(Type);
    if (!D || Depth > kMaxDepth)
      return false;
    const std::vector<uint32_t> &T = *D;
    uint32_t Op = T[0] & 0xFFFF;
    if ((Op == kOpTypeInt || Op == kOpTypeFloat) && T.size() >= 3 && T[2] % 8 == 0 && T[2]) {
      Size = Align = T[2] / 8;
    } else if (Op == kOpTypePointer) {
      Size = Align = Facts.AddressBits / 8;
    } else if (Op == kOpTypeVector && T.size() >= 4) {
      uint64_t Element, ElementAlign;
      if (!layout(T[2], Element, ElementAlign, Depth + 1) || T[3] > 16)
        return false;
      Size = Align = Element * (T[3] == 3 ? 4 : T[3]); // three elements take the room of four
    } else if (Op == kOpTypeArray && T.size() >= 4) {
      auto Length = Facts.IntegerConstants.find(T[3]);
      uint64_t Element;
      if (Length == Facts.IntegerConstants.end() || !layout(T[2], Element, Align, Depth + 1) ||
          Length->second > kMaxSize / (Element ? Element : 1))
        return false;
      Size = Element * Length->second;
    } else if (Op == kOpTypeStruct) {
      bool Packed = Facts.Packed.count(Type) > 0;
      Size = 0;
      Align = 1;
      for (size_t M = 2; M < T.size(); ++M) {
        uint64_t Member, MemberAlign;
        if (!layout(T[M], Member, MemberAlign, Depth + 1))
          return false;
        if (Packed)
          MemberAlign = 1;
        Size = (Size + MemberAlign - 1) / MemberAlign * MemberAlign + Member;
        Align = std::max(Align, MemberAlign);
        if (Size > kMaxSize)
          return false;
      }
      Size = (Size + Align - 1) / Align * Align;
    } else {
      return false;
    }
    return Size > 0 && Size <= kMaxSize;
  }

  // OpCopyMemory as a load and a store (the translator cannot read the copy), each with the
  // volatile, alignment and non-temporal parts of its memory operands: the first set is the
  // target's, the second, when given, the source's.
  bool loadAndStore(const uint32_t *W, uint32_t Count, std::vector<uint32_t> &Code) {
    const std::vector<uint32_t> *Pointer = declaration(typeOf(W[2]));
    if (!Pointer || ((*Pointer)[0] & 0xFFFF) != kOpTypePointer || Pointer->size() < 4)
      return false;
    std::vector<uint32_t> Sets[2];
    uint32_t Given = 0;
    for (uint32_t At = 3; At < Count && Given < 2; ++Given) {
      uint32_t Mask = W[At++];
      Sets[Given] = {Mask & 0x7u}; // Volatile, Aligned, Nontemporal
      for (uint32_t Bit : {0x2u, 0x8u, 0x10u}) // the parts that take an operand
        if (Mask & Bit) {
          if (At >= Count)
            return false;
          if (Bit == 0x2u)
            Sets[Given].push_back(W[At]);
          ++At;
        }
      if (Sets[Given][0] == 0)
        Sets[Given].clear();
    }
    const std::vector<uint32_t> &Target = Sets[0], &Source = Given == 2 ? Sets[1] : Sets[0];
    uint32_t Value = Bound++;
    Code = {instruction(kOpLoad, uint32_t(4 + Source.size())), (*Pointer)[3], Value, W[2]};
    Code.insert(Code.end(), Source.begin(), Source.end());
    Code.insert(Code.end(), {instruction(kOpStore, uint32_t(3 + Target.size())), W[1], Value});
    Code.insert(Code.end(), Target.begin(), Target.end());
    return true;
  }

  // Result (of type To) made from Source (of type From), member by member where they differ.
  bool copyLogical(uint32_t To, uint32_t From, uint32_t Source, uint32_t Result,
                   std::vector<uint32_t> &Code, int Depth) {
    if (To == From) {
      Code.insert(Code.end(), {instruction(kOpCopyObject, 4), To, Result, Source});
      return true;
    }
    const std::vector<uint32_t> *T = declaration(To), *F = declaration(From);
    if (!T || !F || Depth > kMaxDepth || ((*T)[0] & 0xFFFF) != ((*F)[0] & 0xFFFF))
      return false;
    std::vector<uint32_t> ToMembers, FromMembers;
    if (((*T)[0] & 0xFFFF) == kOpTypeStruct) {
      ToMembers.assign(T->begin() + 2, T->end());
      FromMembers.assign(F->begin() + 2, F->end());
    } else if (((*T)[0] & 0xFFFF) == kOpTypeArray && T->size() >= 4 && F->size() >= 4) {
      auto Length = Facts.IntegerConstants.find((*T)[3]);
      auto FromLength = Facts.IntegerConstants.find((*F)[3]);
      if (Length == Facts.IntegerConstants.end() || FromLength == Facts.IntegerConstants.end() ||
          Length->second != FromLength->second || Length->second > kMaxCopyWords)
        return false;
      ToMembers.assign(Length->second, (*T)[2]);
      FromMembers.assign(Length->second, (*F)[2]);
    }
    if (ToMembers.empty() || ToMembers.size() != FromMembers.size() ||
        Code.size() + ToMembers.size() * 11 > kMaxCopyWords)
      return false;
    // The translator builds aggregates of values only by insertion, from an undefined one.
    uint32_t Whole = Bound++;
    Code.insert(Code.end(), {instruction(kOpUndef, 3), To, Whole});
    for (size_t M = 0; M < ToMembers.size(); ++M) {
      uint32_t Part = Bound++;
      Code.insert(Code.end(), {instruction(kOpCompositeExtract, 5), FromMembers[M], Part, Source,
                               uint32_t(M)});
      if (ToMembers[M] != FromMembers[M]) {
        uint32_t Copy = Bound++;
        if (!copyLogical(ToMembers[M], FromMembers[M], Part, Copy, Code, Depth + 1))
          return false;
        Part = Copy;
      }
      uint32_t Next = M + 1 == ToMembers.size() ? Result : Bound++;
      Code.insert(Code.end(), {instruction(kOpCompositeInsert, 6), To, Next, Part, Whole,
                               uint32_t(M)});
      Whole = Next;
    }
    return true;
  }

  // Pointer comparisons and differences on the addresses as integers.
  bool pointerArithmetic(const uint32_t *W, std::vector<uint32_t> &Code) {
    uint32_t Op = W[0] & 0xFFFF;
    const std::vector<uint32_t> *Pointer = declaration(typeOf(W[3]));
    if (!Facts.AddressBits || !Pointer || ((*Pointer)[0] & 0xFFFF) != kOpTypePointer ||
        Pointer->size() < 4)
      return false;
    uint64_t Size = 0, Align = 0;
    if (Op == kOpPtrDiff && !layout((*Pointer)[3], Size, Align, 0))
      return false;
    uint32_t Address = scalarType(kOpTypeInt, Facts.AddressBits);
    uint32_t Left = Bound++, Right = Bound++;
    Code.insert(Code.end(), {instruction(kOpConvertPtrToU, 4), Address, Left, W[3],
                             instruction(kOpConvertPtrToU, 4), Address, Right, W[4]});
    if (Op != kOpPtrDiff) {
      Code.insert(Code.end(), {instruction(Op == kOpPtrEqual ? kOpIEqual : kOpINotEqual, 5), W[1],
                               W[2], Left, Right});
      return true;
    }
    uint32_t Bytes = Bound++, Divisor = addressConstant(Size);
    Code.insert(Code.end(), {instruction(kOpISub, 5), Address, Bytes, Left, Right});
    if (isScalar(W[1], kOpTypeInt, Facts.AddressBits)) {
      Code.insert(Code.end(), {instruction(kOpSDiv, 5), W[1], W[2], Bytes, Divisor});
    } else {
      uint32_t Elements = Bound++;
      Code.insert(Code.end(), {instruction(kOpSDiv, 5), Address, Elements, Bytes, Divisor,
                               instruction(kOpSConvert, 4), W[1], W[2], Elements});
    }
    return true;
  }

  const ModuleFacts &Facts;
  uint32_t Bound;
  std::unordered_map<uint64_t, uint32_t> Scalars, AddressConstants;
  std::unordered_set<uint32_t> Added;
  std::vector<uint32_t> NewCapabilities, NewGlobals;
};

} // namespace

std::vector<uint32_t> lowerSpirv14Constructs(const std::vector<uint32_t> &Words) {
  if (Words.size() <= kHeaderWords)
    return Words;
  ModuleFacts Facts;
  std::unique_ptr<spv_context_t, decltype(&spvContextDestroy)> Context(
      spvContextCreate(SPV_ENV_UNIVERSAL_1_6), spvContextDestroy);
  if (spvBinaryParse(Context.get(), &Facts, Words.data(), Words.size(), nullptr, collect,
                     nullptr) != SPV_SUCCESS ||
      !Facts.Wanted)
    return Words;
  Rewriter Rewrite(Facts, Words[3]);
  std::vector<uint32_t> Globals, Body;
  bool InFunctions = false;
  for (size_t At = kHeaderWords; At < Words.size(); At += Words[At] >> 16) {
    uint32_t Count = Words[At] >> 16;
    InFunctions |= (Words[At] & 0xFFFF) == kOpFunction;
    std::vector<uint32_t> Code = Rewrite.rewrite(&Words[At], Count);
    (InFunctions ? Body : Globals).insert(InFunctions ? Body.end() : Globals.end(), Code.begin(),
                                          Code.end());
  }
  // Capabilities come first; the new types and constants follow the module's own, ahead of
  // every function that uses them.
  std::vector<uint32_t> Out(Words.begin(), Words.begin() + kHeaderWords);
  Out[3] = Rewrite.bound();
  Out.insert(Out.end(), Rewrite.newCapabilities().begin(), Rewrite.newCapabilities().end());
  Out.insert(Out.end(), Globals.begin(), Globals.end());
  Out.insert(Out.end(), Rewrite.newGlobals().begin(), Rewrite.newGlobals().end());
  Out.insert(Out.end(), Body.begin(), Body.end());
  return Out;
}
