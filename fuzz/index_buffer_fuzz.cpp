// Index buffers through the index reader's own walk. The input is the
// content of a small volume (up to four 4 KiB index buffers, the last padded
// with zeros); a directory record made here points its index allocation at
// all of it, so the reader positions, reads, fixes up and walks every buffer
// exactly as in a load. Each input is read once for a live directory and once
// for a deleted one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "catalogue/entry_list.h"
#include "catalogue/record_name_list.h"
#include "fuzz_support.h"
#include "catalogue/index_reader.h"
#include "platform/platform.h"

namespace {

using namespace tarnwick;

constexpr std::size_t kBufferSize = 4096;
constexpr std::size_t kMostBuffers = 4;

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, static_cast<std::uint16_t>(v));
    Put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

// A 1 KiB directory record named "dir" whose index allocation "$I30" is one
// run of `clusters` clusters from cluster 0.
std::vector<std::uint8_t> DirectoryRecord(std::uint16_t flags, std::uint8_t clusters) {
    std::vector<std::uint8_t> r(1024, 0);
    std::memcpy(r.data(), "FILE", 4);
    Put16(r, 4, 48);  // update sequence array, with no strides to fix
    Put16(r, 6, 1);
    Put16(r, 20, 56);  // first attribute
    Put16(r, 22, flags);
    Put32(r, 44, 5);

    std::size_t at = 56;
    // File name, resident: a 66-byte structure and the name "dir".
    Put32(r, at, 0x30);
    Put32(r, at + 4, 24 + 72);
    Put16(r, at + 16, 72);  // value length
    Put16(r, at + 20, 24);  // value offset
    const std::size_t value = at + 24;
    Put32(r, value, 5);  // parent: the root
    r[value + 64] = 3;
    r[value + 65] = 1;  // Win32
    const char16_t name[] = u"dir";
    for (std::size_t i = 0; i < 3; ++i) Put16(r, value + 66 + 2 * i, name[i]);
    at += 24 + 72;

    // Index allocation, non-resident, named $I30.
    Put32(r, at, 0xA0);
    Put32(r, at + 4, 80);
    r[at + 8] = 1;
    r[at + 9] = 4;           // name length
    Put16(r, at + 10, 64);   // name offset
    Put16(r, at + 32, 72);   // mapping pairs
    const char16_t i30[] = u"$I30";
    for (std::size_t i = 0; i < 4; ++i) Put16(r, at + 64 + 2 * i, i30[i]);
    r[at + 72] = 0x11;  // one byte of length, one of offset
    r[at + 73] = clusters;
    r[at + 74] = 0;
    at += 80;
    Put32(r, at, 0xFFFFFFFF);
    return r;
}

fuzz::MemoryVolume& Volume() {
    static fuzz::MemoryVolume volume('W');
    return volume;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t used = std::min(size, kBufferSize * kMostBuffers);
    const std::size_t buffers = std::max<std::size_t>(1, (used + kBufferSize - 1) / kBufferSize);
    std::vector<std::uint8_t> image(buffers * kBufferSize, 0);
    std::copy(data, data + used, image.begin());
    Volume().Assign(image.data(), image.size());
    const platform::RawHandle handle = platform::OpenVolume(Volume().path());
    TARNWICK_FUZZ_CHECK(handle != platform::InvalidHandle());

    for (const std::uint16_t flags : {std::uint16_t{3}, std::uint16_t{2}}) {
        EntryList entries;
        RecordNameList names;
        // Cluster = index buffer, so the run covers every buffer of the image.
        IndexReader reader(handle, static_cast<std::int32_t>(kBufferSize), kBufferSize, entries, names);
        std::vector<std::uint8_t> record = DirectoryRecord(flags, static_cast<std::uint8_t>(buffers));
        const int result = reader.ReadAndParseIndex(record, 5);
        TARNWICK_FUZZ_CHECK(result == -1 || result == 0 || result == 1);
        if (flags == 2) {
            // A deleted directory is checked, never catalogued.
            TARNWICK_FUZZ_CHECK(entries.empty());
            TARNWICK_FUZZ_CHECK(names.empty());
        } else {
            TARNWICK_FUZZ_CHECK(names.size() == 1);
        }
        // The walk advances by at least one byte per entry and ends inside
        // the node, so a buffer gives at most one entry per byte.
        TARNWICK_FUZZ_CHECK(entries.size() <= buffers * kBufferSize);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const ResultRecord_Internal& e = entries[i];
            // A name of NUL units is a name by its length; only its text is empty.
            TARNWICK_FUZZ_CHECK(fuzz::Terminated(e.name));
            TARNWICK_FUZZ_CHECK(fuzz::Terminated(e.parentName));
            TARNWICK_FUZZ_CHECK(e.parentName[0] == u'd' && e.flag == 3 && e.duplicate == 0);
        }
    }
    platform::CloseVolume(handle);
    return 0;
}
