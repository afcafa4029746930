// One file record through everything the load does with it: the mode of the
// master file table's own record, the directory mode, the record's name, and
// the index reader (whose runs then point into a small volume of zeros).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "catalogue/entry_list.h"
#include "catalogue/record_name_list.h"
#include "fuzz_support.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"
#include "catalogue/index_reader.h"
#include "platform/platform.h"

namespace {

using namespace tarnwick;

constexpr std::uint32_t kClusterSize = 512;
constexpr std::int32_t kIndexBufferSize = 4096;

// Every run of a record needs at least its header byte.
void CheckRuns(const RunList& runs, std::size_t recordSize) {
    TARNWICK_FUZZ_CHECK(runs.size() <= recordSize);
}

platform::RawHandle ZeroVolume() {
    static fuzz::MemoryVolume volume('Y');
    static const platform::RawHandle handle = [] {
        const std::vector<std::uint8_t> zeros(64 * 1024, 0);
        volume.Assign(zeros.data(), zeros.size());
        return platform::OpenVolume(volume.path());
    }();
    TARNWICK_FUZZ_CHECK(handle != platform::InvalidHandle());
    return handle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const ParseMode mode : {ParseMode::MftData, ParseMode::IndexAllocation}) {
        std::vector<std::uint8_t> record(data, data + size);
        FileRecordHeader header;
        RunList runs;
        const int parsed = ParseEntry(mode, record, header, runs);
        TARNWICK_FUZZ_CHECK(parsed == -1 || parsed == 0 || parsed == 1);
        if (parsed != 0) TARNWICK_FUZZ_CHECK(runs.empty());
        CheckRuns(runs, size);
        if (parsed < 0) continue;
        const NameRef name = GetRecordName(record, header);
        if (!name.empty()) {
            TARNWICK_FUZZ_CHECK(fuzz::Inside(name.bytes, 2 * name.units, record.data(), record.size()));
            std::uint16_t field[256];
            CopyName(field, name);
            TARNWICK_FUZZ_CHECK(fuzz::Terminated(field));
        }
    }

    EntryList entries;
    RecordNameList names;
    IndexReader reader(ZeroVolume(), kIndexBufferSize, kClusterSize, entries, names);
    std::vector<std::uint8_t> record(data, data + size);
    const int result = reader.ReadAndParseIndex(record, 7);
    TARNWICK_FUZZ_CHECK(result == -1 || result == 0 || result == 1);
    // A volume of zeros holds no index buffer, so nothing can be catalogued.
    TARNWICK_FUZZ_CHECK(entries.empty());
    TARNWICK_FUZZ_CHECK(names.size() <= 1);
    for (std::size_t i = 0; i < names.size(); ++i) TARNWICK_FUZZ_CHECK(fuzz::Terminated(names[i].name));
    return 0;
}
