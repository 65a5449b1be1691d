#include "profile/timeline_event.h"

#include <algorithm>

void TimelineRing::push(TimelineEvent &&Event) {
  if (Capacity == 0) {
    ++Dropped;
    return;
  }
  if (Slots.size() < Capacity) {
    Slots.push_back(std::move(Event));
    return;
  }
  Slots[Next] = std::move(Event);
  Next = (Next + 1) % Capacity;
  ++Dropped;
}

std::vector<TimelineEvent> TimelineRing::takeInOrder() {
  std::rotate(Slots.begin(), Slots.begin() + Next, Slots.end());
  Next = 0;
  std::vector<TimelineEvent> Events;
  Events.swap(Slots);
  return Events;
}

const char *timelineKindName(TimelineKind Kind) {
  switch (Kind) {
  case TimelineKind::Compile:
    return "Compiling";
  case TimelineKind::Link:
    return "Linking";
  case TimelineKind::Alloc:
    return "DataAlloc";
  case TimelineKind::Write:
    return "DataWrite (Host to Device)";
  case TimelineKind::Read:
    return "DataRead (Device to Host)";
  case TimelineKind::Kernel:
    return "Kernel";
  }
  return "";
}

const char *timelineKindCategory(TimelineKind Kind) {
  switch (Kind) {
  case TimelineKind::Compile:
  case TimelineKind::Link:
    return "build";
  case TimelineKind::Alloc:
    return "alloc";
  case TimelineKind::Write:
  case TimelineKind::Read:
    return "transfer";
  case TimelineKind::Kernel:
    return "kernel";
  }
  return "";
}
