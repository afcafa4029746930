// The five exported functions: the whole public surface of the library.
#include "catalogue/catalogue.h"
#include "catalogue/load_mft.h"
#include "ntfs/file_name.h"
#include "platform/platform.h"
#include "status/status.h"
#include "tarnwick.h"

using tarnwick::CopyText;
using tarnwick::StatusCode;
using tarnwick::ToInt;

extern "C" {

TARNWICK_API int32_t TARNWICK_CALL LoadMft(uint32_t drive, size_t* count) {
    // An exception crossing a C interface ends the caller's process. A load
    // that runs out of memory fails instead, keeping what it added like any
    // load that fails in its pass (Clear makes room for the next one).
    try {
        return tarnwick::LoadCatalogue(drive, count);
    } catch (...) {
        return ToInt(StatusCode::Error);
    }
}

TARNWICK_API int32_t TARNWICK_CALL GetData(ResultRecord_Export* buffer) {
    tarnwick::EntryList& entries = tarnwick::TheCatalogue().entries;
    if (entries.empty()) return ToInt(StatusCode::Size);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ResultRecord_Internal& from = entries[i];
        ResultRecord_Export& to = buffer[i];
        to.parentId = from.parentId;
        CopyText(to.parentName, from.parentName);
        to.id = from.id;
        CopyText(to.name, from.name);
        to.allocatedSize = from.allocatedSize;
        to.actualSize = from.actualSize;
        to.creationTime = from.creationTime;
        to.modificationTime = from.modificationTime;
        to.mftModificationTime = from.mftModificationTime;
        to.accessTime = from.accessTime;
        to.flag = from.flag;
    }
    Clear();
    return 0;
}

TARNWICK_API int32_t TARNWICK_CALL GetPointer(ResultRecord_Internal** pointers) {
    tarnwick::EntryList& entries = tarnwick::TheCatalogue().entries;
    if (entries.empty()) return ToInt(StatusCode::Size);
    for (std::size_t i = 0; i < entries.size(); ++i) pointers[i] = &entries[i];
    return 0;
}

TARNWICK_API int32_t TARNWICK_CALL Clear(void) {
    tarnwick::Catalogue& catalogue = tarnwick::TheCatalogue();
    if (catalogue.entries.empty()) return ToInt(StatusCode::Size);
    catalogue.entries.Clear();
    catalogue.recordNames.Clear();
    tarnwick::platform::TrimWorkingSet();
    return 0;
}

TARNWICK_API const uint16_t* TARNWICK_CALL GetMftMessage(int32_t code) {
    return reinterpret_cast<const uint16_t*>(tarnwick::StatusMessage(code));
}

}  // extern "C"
