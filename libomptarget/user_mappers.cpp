#include "user_mappers.h"

#include "debug.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The compiler's mapper function: (handle, base, begin, size, map type, name).
using MapperFn = void (*)(void *, void *, void *, int64_t, int64_t, void *);

void append(ExpandedMapList &Out, void *Base, void *Begin, int64_t Size, int64_t Type, void *Name) {
  Out.Bases.push_back(Base);
  Out.Begins.push_back(Begin);
  Out.Sizes.push_back(Size);
  Out.Types.push_back(Type);
  Out.Names.push_back(Name);
}

} // namespace

EXPORT int64_t __tgt_mapper_num_components(void *Handle) {
  return noThrow("__tgt_mapper_num_components", int64_t(0), [&]() -> int64_t {
    return static_cast<int64_t>(static_cast<ExpandedMapList *>(Handle)->Sizes.size());
  });
}

EXPORT void __tgt_push_mapper_component(void *Handle, void *Base, void *Begin, int64_t Size,
                                        int64_t Type, void *Name) {
  noThrow("__tgt_push_mapper_component",
          [&] { append(*static_cast<ExpandedMapList *>(Handle), Base, Begin, Size, Type, Name); });
}

MapList expandMappers(const MapList &List, void *const *Mappers, ExpandedMapList &Out) {
  bool Any = false;
  for (int32_t I = 0; Mappers && I < List.Count; ++I)
    Any = Any || Mappers[I];
  if (!Any)
    return List;
  for (int32_t I = 0; I < List.Count; ++I) {
    void *Name = List.Names ? List.Names[I] : nullptr;
    int64_t Type = List.Types[I];
    if (!Mappers[I]) {
      append(Out, List.Bases[I], List.Begins[I], List.Sizes[I], Type, Name);
      continue;
    }
    // Components are numbered from 1 in the mapper's own list (MEMBER_OF); only their being
    // members matters here, so their place in the whole list may differ.
    ExpandedMapList Components;
    reinterpret_cast<MapperFn>(Mappers[I])(&Components, List.Bases[I], List.Begins[I],
                                           List.Sizes[I], Type, Name);
    HOST_DP("Mapper of entry %d gave %zu components\n", I, Components.Sizes.size());
    for (size_t C = 0; C < Components.Sizes.size(); ++C)
      append(Out, Components.Bases[C], Components.Begins[C], Components.Sizes[C],
             Components.Types[C] & ~int64_t(MapTargetParam), Components.Names[C]);
    if (Type & MapTargetParam)
      append(Out, List.Bases[I], List.Begins[I], 0, MapTargetParam, Name);
  }
  Out.List = {static_cast<int32_t>(Out.Sizes.size()),
              Out.Bases.data(),
              Out.Begins.data(),
              Out.Sizes.data(),
              Out.Types.data(),
              Out.Names.data()};
  return Out.List;
}
