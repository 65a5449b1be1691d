// Records keyed by address, kept sorted in chunks of a bounded size with the first key of each
// chunk in a small index. A lookup searches the index, which stays in cache, and then one chunk:
// a few cache lines, where a balanced tree with a million records touches one node per level.
#ifndef MEMORY_ADDRESS_INDEX_H
#define MEMORY_ADDRESS_INDEX_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

template <typename Value> struct AddressIndex {
  // A chunk splits in two when it grows past this; small enough that a search in it stays within
  // a few cache lines, large enough that the index stays small.
  static constexpr size_t ChunkCapacity = 128;

  struct Chunk {
    std::vector<uintptr_t> Keys; // sorted, never empty
    std::vector<Value> Values;   // Values[i] belongs to Keys[i]
  };
  // A record found by a lookup: pointers into the index, valid until it changes.
  struct Entry {
    uintptr_t Key = 0;
    Value *Val = nullptr;
    explicit operator bool() const { return Val != nullptr; }
  };

  std::vector<uintptr_t> Firsts; // Firsts[c] == Chunks[c].Keys.front()
  std::vector<Chunk> Chunks;
  size_t Count = 0;

  size_t size() const { return Count; }
  bool empty() const { return Count == 0; }

  // Inserts unless the key is present; true when inserted.
  bool insert(uintptr_t Key, const Value &V) {
    if (Chunks.empty()) {
      Chunks.push_back(Chunk{{Key}, {V}});
      Firsts.push_back(Key);
      ++Count;
      return true;
    }
    size_t C = chunkAtOrBelow(Key);
    Chunk &Ch = Chunks[C];
    auto Pos = std::lower_bound(Ch.Keys.begin(), Ch.Keys.end(), Key);
    if (Pos != Ch.Keys.end() && *Pos == Key)
      return false;
    size_t I = static_cast<size_t>(Pos - Ch.Keys.begin());
    Ch.Keys.insert(Pos, Key);
    Ch.Values.insert(Ch.Values.begin() + I, V);
    Firsts[C] = Ch.Keys.front();
    ++Count;
    if (Ch.Keys.size() > ChunkCapacity)
      split(C);
    return true;
  }

  // Removes the record with exactly this key into Out; false when there is none.
  bool erase(uintptr_t Key, Value &Out) {
    Entry E = atOrBelow(Key);
    if (!E || E.Key != Key)
      return false;
    size_t C = chunkAtOrBelow(Key);
    Chunk &Ch = Chunks[C];
    size_t I = static_cast<size_t>(std::lower_bound(Ch.Keys.begin(), Ch.Keys.end(), Key) -
                                   Ch.Keys.begin());
    Out = Ch.Values[I];
    Ch.Keys.erase(Ch.Keys.begin() + I);
    Ch.Values.erase(Ch.Values.begin() + I);
    --Count;
    if (Ch.Keys.empty()) {
      Chunks.erase(Chunks.begin() + C);
      Firsts.erase(Firsts.begin() + C);
    } else {
      Firsts[C] = Ch.Keys.front();
    }
    return true;
  }

  // The record with the greatest key not above P.
  Entry atOrBelow(uintptr_t P) {
    auto Up = std::upper_bound(Firsts.begin(), Firsts.end(), P);
    if (Up == Firsts.begin())
      return {};
    Chunk &Ch = Chunks[static_cast<size_t>(Up - Firsts.begin()) - 1];
    size_t I = static_cast<size_t>(std::upper_bound(Ch.Keys.begin(), Ch.Keys.end(), P) -
                                   Ch.Keys.begin()) - 1;
    return {Ch.Keys[I], &Ch.Values[I]};
  }

  // The record with the smallest key above P.
  Entry above(uintptr_t P) {
    auto Up = std::upper_bound(Firsts.begin(), Firsts.end(), P);
    if (Up != Firsts.begin()) {
      Chunk &Ch = Chunks[static_cast<size_t>(Up - Firsts.begin()) - 1];
      auto K = std::upper_bound(Ch.Keys.begin(), Ch.Keys.end(), P);
      if (K != Ch.Keys.end())
        return {*K, &Ch.Values[static_cast<size_t>(K - Ch.Keys.begin())]};
    }
    if (Up == Firsts.end())
      return {};
    Chunk &Next = Chunks[static_cast<size_t>(Up - Firsts.begin())];
    return {Next.Keys.front(), &Next.Values.front()};
  }

  Entry find(uintptr_t Key) {
    Entry E = atOrBelow(Key);
    return E && E.Key == Key ? E : Entry{};
  }

  // The value of a key that must be present (as std::map::at).
  const Value &at(uintptr_t Key) const {
    Entry E = const_cast<AddressIndex *>(this)->find(Key);
    if (!E)
      throw std::out_of_range("AddressIndex::at");
    return *E.Val;
  }

private:
  // The chunk that holds, or would hold, Key: the last whose first key is not above it.
  size_t chunkAtOrBelow(uintptr_t Key) const {
    auto Up = std::upper_bound(Firsts.begin(), Firsts.end(), Key);
    return Up == Firsts.begin() ? 0 : static_cast<size_t>(Up - Firsts.begin()) - 1;
  }

  void split(size_t C) {
    Chunk &Full = Chunks[C];
    size_t Half = Full.Keys.size() / 2;
    Chunk Upper{std::vector<uintptr_t>(Full.Keys.begin() + Half, Full.Keys.end()),
                std::vector<Value>(Full.Values.begin() + Half, Full.Values.end())};
    Full.Keys.resize(Half);
    Full.Values.resize(Half);
    uintptr_t UpperFirst = Upper.Keys.front();
    Chunks.insert(Chunks.begin() + C + 1, std::move(Upper));
    Firsts.insert(Firsts.begin() + C + 1, UpperFirst);
  }
};

#endif
