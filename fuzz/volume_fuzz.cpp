// A whole volume loaded end to end through the exports: the input is the
// image, opened through the platform layer by drive letter. Every load must
// end with one of the load's defined codes, and Clear must bring the library
// back to empty for the next input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "catalogue/catalogue.h"
#include "fuzz_support.h"
#include "tarnwick.h"

namespace {

bool IsLoadOutcome(std::int32_t status) {
    switch (status) {
        case 0:
        case -101:
        case -102:
        case -107:
        case -108:
        case -109:
        case -110:
        case -111:
        case -112:
        case -113:
        case -1000:
        case -1001:
        case -1002:
        case -1003:
            return true;
        default:
            return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tarnwick::fuzz::MemoryVolume volume('X');
    volume.Assign(data, size);

    std::size_t count = 0xC0FFEE;
    const std::int32_t status = LoadMft(volume.drive(), &count);
    TARNWICK_FUZZ_CHECK(IsLoadOutcome(status));
    tarnwick::Catalogue& catalogue = tarnwick::TheCatalogue();
    if (status == 0) {
        TARNWICK_FUZZ_CHECK(count == catalogue.entries.size() && count > 0);
        std::vector<ResultRecord_Internal*> pointers(count);
        TARNWICK_FUZZ_CHECK(GetPointer(pointers.data()) == 0);
        for (const ResultRecord_Internal* e : pointers) {
            TARNWICK_FUZZ_CHECK(tarnwick::fuzz::Terminated(e->name) && tarnwick::fuzz::Terminated(e->parentName));
            TARNWICK_FUZZ_CHECK(e->duplicate == 0 && e->nameSpace != 2);
            // A parent name is filled from the parent's own name, so it is
            // empty only where that name starts with a NUL unit, which no
            // NTFS name holds but a damaged record may.
            if (e->parentName[0] == 0) {
                const std::int32_t k = catalogue.recordNames.Find(e->parentId);
                TARNWICK_FUZZ_CHECK(k >= 0 && catalogue.recordNames[static_cast<std::size_t>(k)].name[0] == 0);
            }
        }
    } else {
        TARNWICK_FUZZ_CHECK(count == 0xC0FFEE);
    }

    // A load that failed after adding entries blocks the next one until
    // Clear; Clear then brings the library back to empty.
    if (!catalogue.entries.empty()) {
        if (status != 0) TARNWICK_FUZZ_CHECK(LoadMft(volume.drive(), &count) == -100 && count == 0xC0FFEE);
        TARNWICK_FUZZ_CHECK(Clear() == 0);
    }
    // The names of a load that failed with no entry stay until the next
    // load starts; only the entries decide the state.
    TARNWICK_FUZZ_CHECK(catalogue.entries.empty());
    TARNWICK_FUZZ_CHECK(Clear() == -100);
    return 0;
}
