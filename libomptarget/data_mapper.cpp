#include "data_mapper.h"

#include "debug.h"

#include <cstdint>
#include <set>
#include <string>

namespace {

using ull = unsigned long long;

// The variable's name from the compiler's ";name;file;line;col;;" record, for messages.
std::string nameOf(const MapList &List, int32_t I) {
  const char *Info = List.Names ? static_cast<const char *>(List.Names[I]) : nullptr;
  if (!Info || Info[0] != ';')
    return "unknown";
  std::string Text(Info + 1);
  return Text.substr(0, Text.find(';'));
}

uintptr_t addressOf(void *P) { return reinterpret_cast<uintptr_t>(P); }
void *pointerOf(uintptr_t A) { return reinterpret_cast<void *>(A); }

// Entries that move no data of their own: literals, firstprivate copies and attachments.
bool movesNoData(uint64_t Type) { return Type & (MapLiteral | MapPrivate | MapAttach); }

// Members live in their parent's mapping and count no references of their own; a pointee mapped
// with its pointer (pointer-and-object) is a mapping of its own, member or not.
bool countsReferences(uint64_t Type) { return !(Type & MapMemberOf) || (Type & MapPtrAndObj); }

// Rewrites the device values of attached pointers inside [Begin, Begin + Size) after a copy to
// the device overwrote them with host values.
int32_t reattachShadows(const DeviceOps &Ops, MappingEntry &E, uintptr_t Begin, uint64_t Size) {
  for (ShadowPointer &S : E.Shadows)
    if (S.HostAddress >= Begin && S.HostAddress + sizeof(void *) <= Begin + Size &&
        Ops.Submit(pointerOf(E.toDevice(S.HostAddress)), &S.DeviceValue, sizeof(void *)) != 0)
      return -1;
  return 0;
}

// Puts the host values of attached pointers back after a copy from the device.
void restoreShadows(const MappingEntry &E, uintptr_t Begin, uint64_t Size) {
  for (const ShadowPointer &S : E.Shadows)
    if (S.HostAddress >= Begin && S.HostAddress + sizeof(void *) <= Begin + Size)
      *reinterpret_cast<uintptr_t *>(S.HostAddress) = S.HostValue;
}

int32_t copyTo(const DeviceOps &Ops, MappingEntry &E, uintptr_t Begin, uint64_t Size) {
  if (Ops.Submit(pointerOf(E.toDevice(Begin)), pointerOf(Begin), static_cast<int64_t>(Size)) != 0) {
    hostMessage("copying %llu bytes at host address 0x%llx to the device failed\n", (ull)Size,
                (ull)Begin);
    return -1;
  }
  return reattachShadows(Ops, E, Begin, Size);
}

int32_t copyFrom(const DeviceOps &Ops, MappingEntry &E, uintptr_t Begin, uint64_t Size) {
  if (Ops.Retrieve(pointerOf(Begin), pointerOf(E.toDevice(Begin)), static_cast<int64_t>(Size)) !=
      0) {
    hostMessage("copying %llu bytes at host address 0x%llx from the device failed\n", (ull)Size,
                (ull)Begin);
    return -1;
  }
  restoreShadows(E, Begin, Size);
  return 0;
}

void reportExtension(const MapList &List, int32_t I, const MappingEntry &E) {
  hostMessage("explicit extension not allowed: host address 0x%llx (%lld bytes, '%s') is not "
              "inside the mapping of host address 0x%llx (%llu bytes)\n",
              (ull)addressOf(List.Begins[I]), (long long)List.Sizes[I], nameOf(List, I).c_str(),
              (ull)E.HostBegin, (ull)(E.HostEnd - E.HostBegin));
}

// Points the device copy of the pointer at Bases[I] to the device copy of its pointee Begins[I],
// when both are mapped and one of them is new here (or the entry says always).
int32_t attach(MappingTable &Table, const DeviceOps &Ops, const MapList &List, int32_t I,
               const std::set<uintptr_t> &Created) {
  uint64_t Type = static_cast<uint64_t>(List.Types[I]);
  uintptr_t PtrAddr = addressOf(List.Bases[I]);
  uintptr_t Pointee = addressOf(List.Begins[I]);
  RangeLookup Ptr = lookupRange(Table, PtrAddr, sizeof(void *));
  RangeLookup Obj = lookupRange(Table, Pointee, 0);
  if (Ptr.State != RangeState::Contained || Obj.State != RangeState::Contained) {
    HOST_DP("Not attaching pointer at 0x%llx to 0x%llx: %s is not mapped\n", (ull)PtrAddr,
            (ull)Pointee, Ptr.State != RangeState::Contained ? "the pointer" : "the pointee");
    return 0;
  }
  if (!Created.count(Ptr.Entry->HostBegin) && !Created.count(Obj.Entry->HostBegin) &&
      !(Type & MapAlways))
    return 0;
  uintptr_t HostValue = *reinterpret_cast<uintptr_t *>(PtrAddr);
  uintptr_t DeviceValue = Obj.Entry->toDevice(Pointee) + (HostValue - Pointee);
  HOST_DP("Attaching pointer at host 0x%llx: device value 0x%llx\n", (ull)PtrAddr,
          (ull)DeviceValue);
  if (Ops.Submit(pointerOf(Ptr.Entry->toDevice(PtrAddr)), &DeviceValue, sizeof(void *)) != 0) {
    hostMessage("attaching the pointer at host address 0x%llx failed\n", (ull)PtrAddr);
    return -1;
  }
  for (ShadowPointer &S : Ptr.Entry->Shadows)
    if (S.HostAddress == PtrAddr) {
      S = {PtrAddr, HostValue, DeviceValue};
      return 0;
    }
  Ptr.Entry->Shadows.push_back({PtrAddr, HostValue, DeviceValue});
  return 0;
}

// Takes back the references a failed mapBegin made, newest first, without copying anything back,
// and frees what they had allocated.
void rollBack(MappingTable &Table, const DeviceOps &Ops, const std::vector<uintptr_t> &Referenced,
              RefKind Kind) {
  for (auto It = Referenced.rbegin(); It != Referenced.rend(); ++It) {
    MappingEntry &E = Table.Entries.at(*It);
    uint64_t &Count = Kind == RefKind::Structured ? E.StructuredRefCount : E.DynamicRefCount;
    if (Count > 0)
      --Count;
    if (E.DynamicRefCount == 0 && E.StructuredRefCount == 0) {
      if (E.OwnsMemory)
        Ops.Free(pointerOf(E.TgtBegin));
      eraseEntry(Table, *It);
    }
  }
}

} // namespace

int32_t mapBegin(MappingTable &Table, const DeviceOps &Ops, const MapList &List, RefKind Kind,
                 RegionArgs *Region) {
  std::set<uintptr_t> Created;       // entries this call allocated: they get their first copies
  std::vector<uintptr_t> Referenced; // entries this call counted, to undo on failure
  std::vector<int32_t> Attachments;
  auto Fail = [&] {
    rollBack(Table, Ops, Referenced, Kind);
    return -1;
  };
  for (int32_t I = 0; I < List.Count; ++I) {
    uint64_t Type = static_cast<uint64_t>(List.Types[I]);
    uintptr_t Base = addressOf(List.Bases[I]);
    uintptr_t Begin = addressOf(List.Begins[I]);
    uint64_t Size = static_cast<uint64_t>(List.Sizes[I]);
    if (Type & MapAttach) {
      Attachments.push_back(I);
      continue;
    }
    if (Type & MapLiteral) {
      if (Region && (Type & MapTargetParam))
        Region->Args.push_back({List.Begins[I], INT64_MAX});
      continue;
    }
    if (Type & MapPrivate) {
      void *Buffer = Ops.Alloc(static_cast<int64_t>(Size), List.Begins[I]);
      if (!Buffer || ((Type & MapTo) && Ops.Submit(Buffer, List.Begins[I], Size) != 0)) {
        hostMessage("the device copy of firstprivate '%s' (%llu bytes) failed\n",
                    nameOf(List, I).c_str(), (ull)Size);
        if (Buffer)
          Ops.Free(Buffer);
        return Fail();
      }
      if (Region) {
        Region->PrivateBuffers.push_back(Buffer);
        if (Type & MapTargetParam)
          Region->Args.push_back({Buffer, static_cast<ptrdiff_t>(Base - Begin)});
      } else {
        Ops.Free(Buffer);
      }
      continue;
    }

    RangeLookup Found = lookupRange(Table, Begin, Size);
    MappingEntry *E = nullptr;
    if (Found.State == RangeState::Extends) {
      reportExtension(List, I, *Found.Entry);
      return Fail();
    }
    if (Found.State == RangeState::Contained) {
      E = Found.Entry;
      if (countsReferences(Type) && !E->Permanent) {
        ++(Kind == RefKind::Structured ? E->StructuredRefCount : E->DynamicRefCount);
        Referenced.push_back(E->HostBegin);
      }
      HOST_DP("Mapping exists for host 0x%llx (%llu bytes): device 0x%llx, references %llu+%llu\n",
              (ull)Begin, (ull)Size, (ull)E->toDevice(Begin), (ull)E->DynamicRefCount,
              (ull)E->StructuredRefCount);
    } else if (Type & MapPresent) {
      hostFatal("'%s' (host address 0x%llx, %llu bytes) is not present on the device, as the "
                "present modifier requires\n",
                nameOf(List, I).c_str(), (ull)Begin, (ull)Size);
    } else if (Size == 0) {
      // A zero-length section of memory the device does not hold: the pointer keeps its value.
      if (Begin)
        HOST_DP("Host pointer 0x%llx ('%s') is not mapped; the device receives its host value\n",
                (ull)Begin, nameOf(List, I).c_str());
    } else {
      void *Tgt = Ops.Alloc(static_cast<int64_t>(Size), List.Begins[I]);
      if (!Tgt) {
        hostMessage("allocating %llu bytes on the device for '%s' failed\n", (ull)Size,
                    nameOf(List, I).c_str());
        return Fail();
      }
      MappingEntry New;
      New.HostBegin = Begin;
      New.HostEnd = Begin + Size;
      New.TgtBegin = addressOf(Tgt);
      New.OwnsMemory = true;
      (Kind == RefKind::Structured ? New.StructuredRefCount : New.DynamicRefCount) = 1;
      E = &insertEntry(Table, New);
      Created.insert(Begin);
      Referenced.push_back(Begin);
      HOST_DP("Mapped host 0x%llx (%llu bytes) to new device memory 0x%llx\n", (ull)Begin,
              (ull)Size, (ull)New.TgtBegin);
    }

    if (E && (Type & MapTo) && Size > 0 && (Created.count(E->HostBegin) || (Type & MapAlways)) &&
        copyTo(Ops, *E, Begin, Size) != 0)
      return Fail();
    if (Type & MapPtrAndObj)
      Attachments.push_back(I);
    // Device addresses of the base: the begin's device address moved back by the same distance.
    uintptr_t TgtBegin = E ? E->toDevice(Begin) : Begin;
    if (Type & MapReturnParam)
      List.Bases[I] = pointerOf(TgtBegin + (Base - Begin));
    if (Region && (Type & MapTargetParam))
      Region->Args.push_back({pointerOf(TgtBegin), static_cast<ptrdiff_t>(Base - Begin)});
  }
  for (int32_t I : Attachments)
    if (attach(Table, Ops, List, I, Created) != 0)
      return Fail();
  return 0;
}

int32_t mapEnd(MappingTable &Table, const DeviceOps &Ops, const MapList &List, RefKind Kind) {
  int32_t Result = 0;
  std::set<uintptr_t> Leaving; // entries whose last reference goes now
  for (int32_t I = List.Count - 1; I >= 0; --I) {
    uint64_t Type = static_cast<uint64_t>(List.Types[I]);
    if (movesNoData(Type) || !countsReferences(Type))
      continue;
    RangeLookup Found =
        lookupRange(Table, addressOf(List.Begins[I]), static_cast<uint64_t>(List.Sizes[I]));
    if (Found.State == RangeState::Extends) {
      reportExtension(List, I, *Found.Entry);
      Result = -1;
      continue;
    }
    if (Found.State != RangeState::Contained || Found.Entry->Permanent)
      continue;
    MappingEntry &E = *Found.Entry;
    if (Kind == RefKind::Structured) {
      if (E.StructuredRefCount > 0)
        --E.StructuredRefCount;
    } else if (Type & MapDelete) {
      E.DynamicRefCount = 0;
    } else if (E.DynamicRefCount > 0) {
      --E.DynamicRefCount;
    }
    if (E.DynamicRefCount == 0 && E.StructuredRefCount == 0)
      Leaving.insert(E.HostBegin);
  }
  for (int32_t I = List.Count - 1; I >= 0; --I) {
    uint64_t Type = static_cast<uint64_t>(List.Types[I]);
    uintptr_t Begin = addressOf(List.Begins[I]);
    uint64_t Size = static_cast<uint64_t>(List.Sizes[I]);
    if (movesNoData(Type) || !(Type & MapFrom) || Size == 0)
      continue;
    RangeLookup Found = lookupRange(Table, Begin, Size);
    if (Found.State != RangeState::Contained)
      continue;
    if ((Leaving.count(Found.Entry->HostBegin) || (Type & MapAlways)) &&
        copyFrom(Ops, *Found.Entry, Begin, Size) != 0)
      Result = -1;
  }
  for (uintptr_t Key : Leaving) {
    MappingEntry &E = Table.Entries.at(Key);
    HOST_DP("Unmapping host 0x%llx (%llu bytes) from device 0x%llx\n", (ull)E.HostBegin,
            (ull)(E.HostEnd - E.HostBegin), (ull)E.TgtBegin);
    if (E.OwnsMemory && Ops.Free(pointerOf(E.TgtBegin)) != 0) {
      hostMessage("freeing device memory 0x%llx failed\n", (ull)E.TgtBegin);
      Result = -1;
    }
    eraseEntry(Table, Key);
  }
  return Result;
}

int32_t mapUpdate(MappingTable &Table, const DeviceOps &Ops, const MapList &List) {
  int32_t Result = 0;
  for (int32_t I = 0; I < List.Count; ++I) {
    uint64_t Type = static_cast<uint64_t>(List.Types[I]);
    uintptr_t Begin = addressOf(List.Begins[I]);
    uint64_t Size = static_cast<uint64_t>(List.Sizes[I]);
    if (movesNoData(Type) || Size == 0)
      continue;
    RangeLookup Found = lookupRange(Table, Begin, Size);
    if (Found.State == RangeState::Extends) {
      reportExtension(List, I, *Found.Entry);
      Result = -1;
      continue;
    }
    if (Found.State == RangeState::Absent) {
      if (Type & MapPresent)
        hostFatal("'%s' (host address 0x%llx, %llu bytes) is not present on the device, as the "
                  "present modifier requires\n",
                  nameOf(List, I).c_str(), (ull)Begin, (ull)Size);
      HOST_DP("Update skipped: host 0x%llx (%llu bytes) is not mapped\n", (ull)Begin, (ull)Size);
      continue;
    }
    if (((Type & MapTo) && copyTo(Ops, *Found.Entry, Begin, Size) != 0) ||
        ((Type & MapFrom) && copyFrom(Ops, *Found.Entry, Begin, Size) != 0))
      Result = -1;
  }
  return Result;
}

void freePrivateBuffers(const DeviceOps &Ops, RegionArgs &Region) {
  for (void *Buffer : Region.PrivateBuffers)
    Ops.Free(Buffer);
  Region.PrivateBuffers.clear();
}
