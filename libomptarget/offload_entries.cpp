#include "offload_entries.h"

std::vector<OffloadEntry> convertEntries(const CompilerOffloadEntry *Begin,
                                         const CompilerOffloadEntry *End) {
  std::vector<OffloadEntry> Result;
  for (const CompilerOffloadEntry *E = Begin; E && E < End; ++E) {
    if (E->Kind != 1 || (E->Flags & EntryRequires))
      continue;
    OffloadEntry Out = {E->Address, E->SymbolName, E->Size, 0, 0};
    if (E->Flags & EntryIndirect) {
      Out.size = 0; // the plugin tells functions from variables by size
      Out.flags = 0x8;
    }
    Result.push_back(Out);
  }
  return Result;
}
