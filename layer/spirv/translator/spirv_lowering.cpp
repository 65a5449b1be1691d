#include "spirv_lowering.h"

#include "spirv_1_4_lowering.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_map>

namespace {

constexpr uint32_t kOpEntryPoint = 15, kOpVariable = 59, kOpFunction = 54, kOpTypeBool = 20, kOpTypeInt = 21, kOpTypeFloat = 22, kOpConstantFalse = 41,
                   kOpConstant = 43, kOpConstantNull = 46;
constexpr uint32_t kStorageFunction = 7, kVersion14 = 0x00010400;
constexpr uint32_t kOpDecorate = 71, kDecorationBuiltIn = 11, kDecorationLinkage = 41;
constexpr uint32_t kOpExtInstImport = 11, kOpExtInst = 12, kOpTypeArray = 28, kOpTypePointer = 32,
                   kOpBitcast = 124, kPrintf = 184;
constexpr size_t kHeaderWords = 5;

uint32_t instruction(uint32_t Op, uint32_t Count) { return (Count << 16) | Op; }

// Words of an OpEntryPoint's name (a zero-terminated string) starting at Begin, within End.
size_t stringWords(const std::vector<uint32_t> &Words, size_t Begin, size_t End) {
  for (size_t At = Begin; At < End; ++At)
    if ((Words[At] & 0xFF000000u) == 0)
      return At + 1 - Begin;
  return End - Begin;
}

// The words of a literal string starting at Begin, as text.
std::string stringAt(const std::vector<uint32_t> &Words, size_t Begin, size_t End) {
  std::string Text;
  for (size_t At = Begin; At < End; ++At)
    for (int Byte = 0; Byte < 4; ++Byte) {
      char C = static_cast<char>((Words[At] >> (8 * Byte)) & 0xFF);
      if (C == 0)
        return Text;
      Text += C;
    }
  return Text;
}

// Makes the format operand of every OpenCL.std printf a pointer to an 8-bit integer: the backend
// passes the string variable itself, a pointer to an array of them, which the validator refuses.
std::vector<uint32_t> castPrintfFormats(const std::vector<uint32_t> &Words) {
  uint32_t OpenCLStd = 0;
  std::unordered_map<uint32_t, uint32_t> TypeOf;                  // value -> its type
  std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> Ptr; // pointer type -> class, pointee
  std::unordered_map<uint32_t, uint32_t> ArrayElement, IntWidth;
  size_t FirstFunction = Words.size();
  for (size_t At = kHeaderWords; At < Words.size(); At += Words[At] >> 16) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    const uint32_t *I = &Words[At];
    if (Op == kOpFunction && FirstFunction == Words.size())
      FirstFunction = At;
    if (Op == kOpExtInstImport && Count >= 3 && stringAt(Words, At + 2, At + Count) == "OpenCL.std")
      OpenCLStd = I[1];
    else if (Op == kOpTypeInt && Count >= 3)
      IntWidth[I[1]] = I[2];
    else if (Op == kOpTypeArray && Count >= 3)
      ArrayElement[I[1]] = I[2];
    else if (Op == kOpTypePointer && Count >= 4)
      Ptr[I[1]] = {I[2], I[3]};
    else if ((Op == kOpVariable || Op == kOpBitcast) && Count >= 3)
      TypeOf[I[2]] = I[1];
  }
  // The format operands to cast, and the char pointer type each needs (by storage class).
  auto charPointee = [&](uint32_t Value, uint32_t &Class, uint32_t &Char) {
    auto Type = TypeOf.find(Value);
    if (Type == TypeOf.end())
      return false;
    auto Pointer = Ptr.find(Type->second);
    if (Pointer == Ptr.end())
      return false;
    auto Element = ArrayElement.find(Pointer->second.second);
    if (Element == ArrayElement.end() || IntWidth.count(Element->second) == 0 ||
        IntWidth[Element->second] != 8)
      return false;
    Class = Pointer->second.first;
    Char = Element->second;
    return true;
  };
  std::vector<uint32_t> Out(Words.begin(), Words.begin() + kHeaderWords);
  uint32_t Bound = Words[3];
  std::unordered_map<uint64_t, uint32_t> CharPointers; // (class, char type) -> pointer type
  for (const auto &[Id, Pointer] : Ptr)
    CharPointers[(uint64_t(Pointer.first) << 32) | Pointer.second] = Id;
  std::vector<uint32_t> NewTypes;
  std::vector<uint32_t> Body;
  for (size_t At = kHeaderWords; At < Words.size();) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    uint32_t Class, Char;
    if (OpenCLStd && Op == kOpExtInst && Count >= 6 && Words[At + 3] == OpenCLStd &&
        Words[At + 4] == kPrintf && charPointee(Words[At + 5], Class, Char)) {
      uint64_t Key = (uint64_t(Class) << 32) | Char;
      auto Found = CharPointers.find(Key);
      if (Found == CharPointers.end()) {
        Found = CharPointers.emplace(Key, Bound++).first;
        NewTypes.insert(NewTypes.end(), {instruction(kOpTypePointer, 4), Found->second, Class, Char});
      }
      uint32_t Cast = Bound++;
      Body.insert(Body.end(), {instruction(kOpBitcast, 4), Found->second, Cast, Words[At + 5]});
      Body.insert(Body.end(), Words.begin() + At, Words.begin() + At + Count);
      Body[Body.size() - Count + 5] = Cast;
    } else {
      (At < FirstFunction ? Out : Body).insert(At < FirstFunction ? Out.end() : Body.end(),
                                               Words.begin() + At, Words.begin() + At + Count);
    }
    At += Count;
  }
  if (NewTypes.empty() && Bound == Words[3])
    return Words;
  Out[3] = Bound;
  Out.insert(Out.end(), NewTypes.begin(), NewTypes.end());
  Out.insert(Out.end(), Body.begin(), Body.end());
  return Out;
}

// One variable per built-in, without linkage attributes: modules linked together each bring their
// own, imported, and the translator makes the copies external globals nobody defines. Copies are
// replaced by the first variable of their built-in where they are read (loads, casts, access
// chains), and their names, decorations and interface entries go.
std::vector<uint32_t> mergeBuiltIns(const std::vector<uint32_t> &Words) {
  constexpr uint32_t kOpName = 5, kOpLoad = 61, kOpAccessChain = 65, kOpInBoundsAccessChain = 66,
                     kOpPtrCastToGeneric = 121, kOpBitcastPointer = 124;
  std::unordered_map<uint32_t, uint32_t> FirstOfKind, Replace;
  for (size_t At = kHeaderWords; At < Words.size(); At += Words[At] >> 16)
    if ((Words[At] & 0xFFFF) == kOpDecorate && (Words[At] >> 16) >= 4 &&
        Words[At + 2] == kDecorationBuiltIn) {
      auto [First, New] = FirstOfKind.emplace(Words[At + 3], Words[At + 1]);
      Replace[Words[At + 1]] = New ? Words[At + 1] : First->second;
    }
  if (Replace.empty())
    return Words;
  auto copy = [&](uint32_t Id) { return Replace.count(Id) && Replace[Id] != Id; };
  std::vector<uint32_t> Out(Words.begin(), Words.begin() + kHeaderWords);
  for (size_t At = kHeaderWords; At < Words.size();) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    std::vector<uint32_t> I(Words.begin() + At, Words.begin() + At + Count);
    At += Count;
    bool Linkage = Op == kOpDecorate && Count >= 3 && I[2] == kDecorationLinkage &&
                   Replace.count(I[1]);
    if (Linkage || ((Op == kOpName || Op == kOpDecorate) && Count >= 2 && copy(I[1])) ||
        (Op == kOpVariable && Count >= 3 && copy(I[2])))
      continue;
    if ((Op == kOpLoad || Op == kOpAccessChain || Op == kOpInBoundsAccessChain ||
         Op == kOpPtrCastToGeneric || Op == kOpBitcastPointer) &&
        Count >= 4 && copy(I[3]))
      I[3] = Replace[I[3]];
    if (Op == kOpEntryPoint && Count >= 4) {
      size_t Interface = 3 + stringWords(I, 3, Count);
      std::vector<uint32_t> Kept(I.begin(), I.begin() + Interface);
      for (size_t K = Interface; K < Count; ++K)
        if (!copy(I[K]))
          Kept.push_back(I[K]);
      Kept[0] = instruction(kOpEntryPoint, static_cast<uint32_t>(Kept.size()));
      I = Kept;
    }
    Out.insert(Out.end(), I.begin(), I.end());
  }
  return Out;
}

// Adds to every entry point's interface the module-scope variables it does not list.
std::vector<uint32_t> completeInterfaces(const std::vector<uint32_t> &Words) {
  std::vector<uint32_t> Globals;
  for (size_t At = kHeaderWords; At < Words.size(); At += Words[At] >> 16) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    if (Op == kOpFunction)
      break;
    if (Op == kOpVariable && Count >= 4 && Words[At + 3] != kStorageFunction)
      Globals.push_back(Words[At + 2]);
  }
  std::vector<uint32_t> Out(Words.begin(), Words.begin() + kHeaderWords);
  for (size_t At = kHeaderWords; At < Words.size();) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    if (Op != kOpEntryPoint || Count < 4) {
      Out.insert(Out.end(), Words.begin() + At, Words.begin() + At + Count);
      At += Count;
      continue;
    }
    size_t Interface = At + 3 + stringWords(Words, At + 3, At + Count);
    std::vector<uint32_t> Listed(Words.begin() + Interface, Words.begin() + At + Count);
    std::vector<uint32_t> Entry(Words.begin() + At, Words.begin() + At + Count);
    for (uint32_t Id : Globals)
      if (std::find(Listed.begin(), Listed.end(), Id) == Listed.end())
        Entry.push_back(Id);
    Entry[0] = instruction(kOpEntryPoint, static_cast<uint32_t>(Entry.size()));
    Out.insert(Out.end(), Entry.begin(), Entry.end());
    At += Count;
  }
  return Out;
}

// Scalar add-with-carry and subtract-with-borrow, which the translator cannot read (it stops
// the whole read), made the plain arithmetic, comparison and select they stand for; the struct
// result is filled with the two values. Types and constants they need come before the first
// function. Vector forms are left for the translator to refuse.
std::vector<uint32_t> expandCarries(const std::vector<uint32_t> &Words) {
  constexpr uint32_t kOpUndef = 1, kOpTypeStruct = 30, kOpCompositeInsert = 82, kOpIAdd = 128,
                     kOpISub = 130, kOpIAddCarry = 149, kOpISubBorrow = 150, kOpSelect = 169,
                     kOpULessThan = 176;
  std::unordered_map<uint32_t, uint32_t> IntWidth, PairOf; // struct of two equal ints -> int
  uint32_t Bool = 0;
  size_t FirstFunction = Words.size();
  bool Any = false;
  for (size_t At = kHeaderWords; At < Words.size(); At += Words[At] >> 16) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    if (Op == kOpFunction && FirstFunction == Words.size())
      FirstFunction = At;
    else if (Op == kOpTypeInt && Count == 4)
      IntWidth[Words[At + 1]] = Words[At + 2];
    else if (Op == kOpTypeBool && Count == 2)
      Bool = Words[At + 1];
    else if (Op == kOpTypeStruct && Count == 4 && Words[At + 2] == Words[At + 3] &&
             IntWidth.count(Words[At + 2]))
      PairOf[Words[At + 1]] = Words[At + 2];
    else if ((Op == kOpIAddCarry || Op == kOpISubBorrow) && Count == 5 &&
             PairOf.count(Words[At + 1]))
      Any = true;
  }
  if (!Any || FirstFunction == Words.size())
    return Words;
  uint32_t Bound = Words[3];
  std::vector<uint32_t> Declarations;
  if (!Bool) {
    Bool = Bound++;
    Declarations.insert(Declarations.end(), {instruction(kOpTypeBool, 2), Bool});
  }
  std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> ZeroOne; // int -> its 0 and 1
  auto constants = [&](uint32_t Int) {
    auto [Found, New] = ZeroOne.emplace(Int, std::make_pair(Bound, Bound + 1));
    if (New) {
      bool Wide = IntWidth[Int] > 32;
      for (uint32_t Value : {0u, 1u}) {
        Declarations.insert(Declarations.end(),
                            {instruction(kOpConstant, Wide ? 5 : 4), Int, Bound++, Value});
        if (Wide)
          Declarations.push_back(0);
      }
    }
    return Found->second;
  };
  // The translator reads a struct built at once only from constants: it is filled one member at
  // a time, from an undefined one.
  std::unordered_map<uint32_t, uint32_t> Undefined; // struct -> its undefined value
  auto undefined = [&](uint32_t Struct) {
    auto [Found, New] = Undefined.emplace(Struct, Bound);
    if (New)
      Declarations.insert(Declarations.end(), {instruction(kOpUndef, 3), Struct, Bound++});
    return Found->second;
  };
  std::vector<uint32_t> Body;
  for (size_t At = FirstFunction; At < Words.size();) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    const uint32_t *I = &Words[At];
    At += Count;
    if ((Op != kOpIAddCarry && Op != kOpISubBorrow) || Count != 5 || !PairOf.count(I[1])) {
      Body.insert(Body.end(), I, I + Count);
      continue;
    }
    uint32_t Int = PairOf[I[1]], Value = Bound++, Flag = Bound++, Carry = Bound++, Half = Bound++;
    auto [Zero, One] = constants(Int);
    // A sum below an operand wrapped; a difference borrows when the first is below the second.
    bool Add = Op == kOpIAddCarry;
    Body.insert(Body.end(), {instruction(Add ? kOpIAdd : kOpISub, 5), Int, Value, I[3], I[4],
                             instruction(kOpULessThan, 5), Bool, Flag, Add ? Value : I[3],
                             Add ? I[3] : I[4], instruction(kOpSelect, 6), Int, Carry, Flag, One,
                             Zero, instruction(kOpCompositeInsert, 6), I[1], Half, Value,
                             undefined(I[1]), 0, instruction(kOpCompositeInsert, 6), I[1], I[2],
                             Carry, Half, 1});
  }
  std::vector<uint32_t> Out(Words.begin(), Words.begin() + FirstFunction);
  Out[3] = Bound;
  Out.insert(Out.end(), Declarations.begin(), Declarations.end());
  Out.insert(Out.end(), Body.begin(), Body.end());
  return Out;
}

} // namespace

std::vector<uint32_t> lowerSpirv(const std::vector<uint32_t> &Words) {
  if (Words.size() < kHeaderWords)
    return Words;
  // Scalar types by id: their width in bits, 1 for bool.
  std::unordered_map<uint32_t, uint32_t> ScalarWidth;
  std::vector<uint32_t> Out(Words.begin(), Words.begin() + kHeaderWords);
  Out.reserve(Words.size());
  for (size_t At = kHeaderWords; At < Words.size();) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    if (Count == 0 || At + Count > Words.size())
      return Words;
    const uint32_t *I = &Words[At];
    if ((Op == kOpTypeInt || Op == kOpTypeFloat) && Count >= 3)
      ScalarWidth[I[1]] = I[2];
    else if (Op == kOpTypeBool && Count == 2)
      ScalarWidth[I[1]] = 1;
    auto Scalar = Op == kOpConstantNull && Count == 3 ? ScalarWidth.find(I[1]) : ScalarWidth.end();
    if (Scalar == ScalarWidth.end()) {
      Out.insert(Out.end(), I, I + Count);
    } else if (Scalar->second == 1) {
      Out.insert(Out.end(), {instruction(kOpConstantFalse, 3), I[1], I[2]});
    } else {
      uint32_t ValueWords = Scalar->second > 32 ? 2 : 1;
      Out.insert(Out.end(), {instruction(kOpConstant, 3 + ValueWords), I[1], I[2]});
      Out.insert(Out.end(), ValueWords, 0u);
    }
    At += Count;
  }
  Out = lowerSpirv14Constructs(castPrintfFormats(mergeBuiltIns(expandCarries(Out))));
  return Words[1] >= kVersion14 ? completeInterfaces(Out) : Out;
}
