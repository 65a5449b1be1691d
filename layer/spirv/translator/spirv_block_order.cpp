#include "spirv_block_order.h"

#include <algorithm>
#include <map>

namespace {

constexpr uint32_t kOpFunction = 54, kOpFunctionEnd = 56, kOpLabel = 248, kOpBranch = 249,
                   kOpBranchConditional = 250, kOpSwitch = 251;

bool isTerminator(uint32_t Op) {
  return (Op >= kOpBranch && Op <= 255) || Op == 4416; // branches, kill, returns, unreachable
}

struct Block {
  size_t Begin = 0, End = 0;
  std::vector<uint32_t> Targets; // label ids, switch literals included (harmless extra edges)
};

// The blocks of one function body [Begin, End), or false when its layout is not plain blocks.
bool splitBlocks(const std::vector<uint32_t> &Words, size_t Begin, size_t End,
                 std::vector<Block> &Blocks) {
  for (size_t At = Begin; At < End;) {
    if ((Words[At] & 0xFFFF) != kOpLabel)
      return false;
    Block B;
    B.Begin = At;
    while (At < End && !isTerminator(Words[At] & 0xFFFF))
      At += Words[At] >> 16;
    if (At >= End)
      return false;
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    if (Op == kOpBranch || Op == kOpBranchConditional || Op == kOpSwitch)
      for (uint32_t I = Op == kOpBranch ? 1 : 2; I < Count; ++I)
        B.Targets.push_back(Words[At + I]);
    At += Count;
    B.End = At;
    Blocks.push_back(std::move(B));
  }
  return !Blocks.empty();
}

std::vector<size_t> reversePostOrder(const std::vector<uint32_t> &Words,
                                     const std::vector<Block> &Blocks) {
  std::map<uint32_t, size_t> ByLabel;
  for (size_t I = 0; I < Blocks.size(); ++I)
    ByLabel[Words[Blocks[I].Begin + 1]] = I;
  std::vector<bool> Seen(Blocks.size(), false);
  std::vector<size_t> PostOrder;
  std::vector<std::pair<size_t, size_t>> Stack = {{0, 0}}; // block, next target to follow
  Seen[0] = true;
  while (!Stack.empty()) {
    auto &[Current, Next] = Stack.back();
    if (Next == Blocks[Current].Targets.size()) {
      PostOrder.push_back(Current);
      Stack.pop_back();
      continue;
    }
    auto Target = ByLabel.find(Blocks[Current].Targets[Next++]);
    if (Target != ByLabel.end() && !Seen[Target->second]) {
      Seen[Target->second] = true;
      Stack.push_back({Target->second, 0});
    }
  }
  std::vector<size_t> Order(PostOrder.rbegin(), PostOrder.rend());
  for (size_t I = 0; I < Blocks.size(); ++I)
    if (!Seen[I])
      Order.push_back(I);
  return Order;
}

} // namespace

std::vector<uint32_t> orderBlocksByDominance(const std::vector<uint32_t> &Words) {
  std::vector<uint32_t> Result(Words.begin(), Words.begin() + std::min<size_t>(5, Words.size()));
  size_t BodyBegin = 0;
  for (size_t At = Result.size(); At < Words.size();) {
    uint32_t Op = Words[At] & 0xFFFF, Count = std::max<uint32_t>(Words[At] >> 16, 1);
    if (Op == kOpLabel && !BodyBegin)
      BodyBegin = At;
    if (Op == kOpFunction || !BodyBegin) {
      Result.insert(Result.end(), Words.begin() + At, Words.begin() + At + Count);
    } else if (Op == kOpFunctionEnd) {
      std::vector<Block> Blocks;
      if (splitBlocks(Words, BodyBegin, At, Blocks)) {
        for (size_t I : reversePostOrder(Words, Blocks))
          Result.insert(Result.end(), Words.begin() + Blocks[I].Begin,
                        Words.begin() + Blocks[I].End);
      } else {
        Result.insert(Result.end(), Words.begin() + BodyBegin, Words.begin() + At);
      }
      Result.insert(Result.end(), Words.begin() + At, Words.begin() + At + Count);
      BodyBegin = 0;
    }
    At += Count;
  }
  if (BodyBegin) // a body without its end: kept, for the validator to refuse
    Result.insert(Result.end(), Words.begin() + BodyBegin, Words.end());
  return Result;
}
