#include "volume_layout.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace bench {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

std::uint64_t Le(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(Le(p, 2)); }
std::uint32_t Le32(const unsigned char* p) { return static_cast<std::uint32_t>(Le(p, 4)); }

void ReadAt(int fd, std::uint64_t offset, unsigned char* out, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("short read of the volume");
        done += static_cast<std::size_t>(n);
    }
}

// Sector-end fix-ups; false when the record is damaged.
bool FixUp(unsigned char* record, std::size_t size) {
    const std::uint16_t usaOffset = Le16(record + 4);
    const std::uint16_t usaCount = Le16(record + 6);
    if (usaCount == 0 || usaOffset + 2u * usaCount > size || (usaCount - 1u) * 512u > size) return false;
    for (std::uint32_t i = 1; i < usaCount; ++i) {
        unsigned char* end = record + i * 512 - 2;
        std::memcpy(end, record + usaOffset + 2 * i, 2);
    }
    return true;
}

// Mapping pairs -> byte ranges; sparse runs are skipped.
void DecodeRuns(const unsigned char* p, const unsigned char* end, std::uint32_t clusterSize,
                std::vector<ByteRange>& out) {
    std::int64_t lcn = 0;
    while (p < end && *p != 0) {
        const int lengthBytes = *p & 0x0F;
        const int offsetBytes = *p >> 4;
        if (lengthBytes == 0 || p + 1 + lengthBytes + offsetBytes > end) return;
        const std::uint64_t clusters = Le(p + 1, lengthBytes);
        if (offsetBytes > 0) {
            std::uint64_t raw = Le(p + 1 + lengthBytes, offsetBytes);
            if (offsetBytes < 8 && (raw >> (8 * offsetBytes - 1)) != 0) raw |= ~std::uint64_t{0} << (8 * offsetBytes);
            lcn += static_cast<std::int64_t>(raw);
            out.push_back({static_cast<std::uint64_t>(lcn) * clusterSize, clusters * clusterSize});
        }
        p += 1 + lengthBytes + offsetBytes;
    }
}

// Calls `visit(type, attribute, length)` for every attribute of a fixed-up record.
template <typename Visit>
void Attributes(const unsigned char* record, std::size_t size, Visit visit) {
    std::size_t at = Le16(record + 0x14);
    while (at + 16 <= size) {
        const std::uint32_t type = Le32(record + at);
        const std::uint32_t length = Le32(record + at + 4);
        if (type == 0xFFFFFFFFu || length < 16 || at + length > size) return;
        visit(type, record + at, length);
        at += length;
    }
}

bool IsI30(const unsigned char* attribute) {
    static const unsigned char kName[] = {'$', 0, 'I', 0, '3', 0, '0', 0};
    return attribute[9] == 4 && std::memcmp(attribute + Le16(attribute + 10), kName, sizeof kName) == 0;
}

std::vector<ByteRange> Merge(std::vector<ByteRange> ranges) {
    std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
    std::vector<ByteRange> merged;
    for (const ByteRange& r : ranges) {
        if (!merged.empty() && merged.back().offset + merged.back().length >= r.offset) {
            const std::uint64_t end = std::max(merged.back().offset + merged.back().length, r.offset + r.length);
            merged.back().length = end - merged.back().offset;
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

struct Fd {
    int fd;
    ~Fd() { close(fd); }
};

}  // namespace

VolumeLayout ScanVolumeLayout(const std::string& image) {
    const Fd file{open(image.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) throw std::runtime_error("cannot open " + image);
    unsigned char boot[512];
    ReadAt(file.fd, 0, boot, sizeof boot);
    if (std::memcmp(boot + 3, "NTFS    ", 8) != 0) throw std::runtime_error(image + " is not an NTFS volume");

    VolumeLayout layout;
    const std::uint32_t sectorSize = Le16(boot + 0x0B);
    layout.clusterSize = sectorSize * boot[0x0D];
    const auto perRecord = static_cast<std::int8_t>(boot[0x40]);
    layout.recordSize = perRecord < 0 ? 1u << -perRecord : static_cast<std::uint32_t>(perRecord) * layout.clusterSize;
    const std::uint64_t mftOffset = Le(boot + 0x30, 8) * layout.clusterSize;
    if (layout.clusterSize == 0 || layout.recordSize < 512 || layout.recordSize > 65536) {
        throw std::runtime_error(image + " has an unusual boot sector");
    }

    const std::size_t size = layout.recordSize;
    std::vector<unsigned char> record(size);
    ReadAt(file.fd, mftOffset, record.data(), size);
    if (std::memcmp(record.data(), "FILE", 4) != 0 || !FixUp(record.data(), size)) {
        throw std::runtime_error(image + ": record 0 is damaged");
    }
    Attributes(record.data(), size, [&](std::uint32_t type, const unsigned char* a, std::uint32_t length) {
        if (type == 0x80 && a[8] != 0 && a[9] == 0 && layout.mft.empty()) {
            DecodeRuns(a + Le16(a + 0x20), a + length, layout.clusterSize, layout.mft);
        }
    });
    if (layout.mft.empty()) throw std::runtime_error(image + ": no runs for the master file table");

    // One pass over the records as a stream across the runs.
    std::vector<ByteRange> indexes;
    std::vector<unsigned char> chunk(kChunk);
    std::size_t filled = 0;
    for (const ByteRange& run : layout.mft) {
        layout.mftBytes += run.length;
        for (std::uint64_t done = 0; done < run.length;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, run.length - done));
            ReadAt(file.fd, run.offset + done, chunk.data(), n);
            done += n;
            for (std::size_t at = 0; at < n;) {
                const std::size_t take = std::min(size - filled, n - at);
                std::memcpy(record.data() + filled, chunk.data() + at, take);
                filled += take;
                at += take;
                if (filled < size) break;
                filled = 0;
                unsigned char* r = record.data();
                if (std::memcmp(r, "FILE", 4) != 0 || (Le16(r + 0x16) & 1) == 0 || !FixUp(r, size)) continue;
                ++layout.liveRecords;
                bool directory = false;
                Attributes(r, size, [&](std::uint32_t type, const unsigned char* a, std::uint32_t length) {
                    if (type == 0xA0 && a[8] != 0 && IsI30(a)) {
                        const std::size_t before = indexes.size();
                        DecodeRuns(a + Le16(a + 0x20), a + length, layout.clusterSize, indexes);
                        directory = directory || indexes.size() > before;
                    }
                });
                if (directory) ++layout.directories;
            }
        }
    }
    const auto perIndex = static_cast<std::int8_t>(boot[0x44]);
    const std::uint64_t indexSize = perIndex < 0 ? 1u << -perIndex : static_cast<std::uint64_t>(perIndex) * layout.clusterSize;
    for (const ByteRange& r : indexes) layout.indexBuffers += r.length / indexSize;
    layout.indexes = Merge(std::move(indexes));
    for (const ByteRange& r : layout.indexes) layout.indexBytes += r.length;
    return layout;
}

std::uint64_t ReadRanges(int fd, const std::vector<ByteRange>& ranges, ReadBuffer& buffer) {
    std::uint64_t total = 0;
    for (const ByteRange& r : ranges) {
        for (std::uint64_t done = 0; done < r.length;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), r.length - done));
            ReadAt(fd, r.offset + done, buffer.data(), n);
            done += n;
            total += n;
        }
    }
    return total;
}

}  // namespace bench
