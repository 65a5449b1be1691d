// User-defined mappers (declare mapper): the compiler's mapper function lists the components of
// one map entry through __tgt_push_mapper_component; the construct then maps those instead.
#ifndef LIBOMPTARGET_USER_MAPPERS_H
#define LIBOMPTARGET_USER_MAPPERS_H

#include "data_mapper.h"

#include <vector>

// The arrays of a map list with every entry that has a mapper replaced by its components.
struct ExpandedMapList {
  std::vector<void *> Bases, Begins, Names;
  std::vector<int64_t> Sizes, Types;
  MapList List;
};

// List itself when Mappers is null or names no mapper; otherwise Out's list. An entry that was a
// target parameter keeps its place as a size-0 parameter entry after its components, so the
// kernel still receives the device address of its begin.
MapList expandMappers(const MapList &List, void *const *Mappers, ExpandedMapList &Out);

#endif
