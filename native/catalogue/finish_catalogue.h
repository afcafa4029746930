// Turns the raw entries of the pass into the published catalogue: one entry
// per name of a file in a directory, long names in place of DOS-only ones,
// every parent named, every flag from the entry's own file record.
#pragma once

#include <cstdint>

#include "catalogue/entry_list.h"
#include "catalogue/record_name_list.h"

namespace tarnwick {

// 0, or -101 (no entry), -1000/-1001 (a pair of names it cannot resolve),
// -1002 (a DOS-only name whose record has no name), -1003 (a parent with no
// name). Nothing is undone on failure.
std::int32_t FinishCatalogue(EntryList& entries, RecordNameList& recordNames);

}  // namespace tarnwick
