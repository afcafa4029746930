// The one process-wide state of the library: the entries a load produced,
// the names of the file records it read, and the timing of the last load.
// Callers of the exports serialise every call that touches it.
#pragma once

#include <cstdint>

#include "catalogue/entry_list.h"
#include "catalogue/record_name_list.h"

namespace tarnwick {

struct Catalogue {
    EntryList entries;
    RecordNameList recordNames;
    std::int64_t performanceFrequency = 0;
    std::int64_t loadStart = 0;
    std::int64_t loadEnd = 0;
    std::int64_t loadElapsed = 0;
};

Catalogue& TheCatalogue();

}  // namespace tarnwick
