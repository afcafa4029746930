// The boot sector: whatever it holds, an accepted one must give the load
// positive sizes to divide by and allocate.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "volume/boot_sector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that a read past the end hits the heap's red zone.
    const std::vector<std::uint8_t> boot(data, data + size);
    tarnwick::VolumeInfo info;
    info.fileRecordSize = -7;
    if (tarnwick::ParseBootSector(boot, info) == 0) {
        TARNWICK_FUZZ_CHECK(info.bytesPerSector > 0);
        TARNWICK_FUZZ_CHECK(info.ClusterSize() > 0);
        TARNWICK_FUZZ_CHECK(info.fileRecordSize > 0);
        TARNWICK_FUZZ_CHECK(info.indexBufferSize > 0);
    } else {
        // A refused boot sector leaves the result alone.
        TARNWICK_FUZZ_CHECK(info.fileRecordSize == -7);
    }
    return 0;
}
