// Cuts seed inputs for the fuzz targets out of a real volume image: its boot
// sector, some of its file records and the index buffers of its directories,
// all as they lie on disk (before any fix-up). Found by parsing the image
// with the library itself, so seeds follow whatever the image holds.
//
//   tarnwick_fuzz_seeds <image> <seed-dir> <tag>
//
// writes <seed-dir>/boot_sector/<tag>, <seed-dir>/file_record/<tag>-<n>,
// <seed-dir>/index_buffer/<tag>-<n>-<k>, and, for a volume whose load reads
// nothing beyond its first few MiB, <seed-dir>/volume/<tag>: the volume cut
// right after the last byte a load reads, which loads the same catalogue.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ntfs/file_record.h"
#include "volume/boot_sector.h"

namespace {

using namespace tarnwick;

constexpr int kMostRecords = 48;
constexpr int kMostBuffers = 12;
constexpr std::int64_t kLargestVolumeSeed = 2 << 20;

bool ReadAt(int fd, std::int64_t offset, std::vector<std::uint8_t>& out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void Write(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <image> <seed-dir> <tag>\n", argv[0]);
        return 2;
    }
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    const std::filesystem::path out = argv[2];
    const std::string tag = argv[3];

    std::vector<std::uint8_t> boot(boot_sector::kSize);
    VolumeInfo volume;
    if (!ReadAt(fd, 0, boot) || ParseBootSector(boot, volume) != 0) {
        std::fprintf(stderr, "%s: not an NTFS volume\n", argv[1]);
        return 1;
    }
    Write(out / "boot_sector" / tag, boot);
    const std::int64_t cluster = volume.ClusterSize();
    const auto recordSize = static_cast<std::size_t>(volume.fileRecordSize);

    std::vector<std::uint8_t> record(recordSize);
    if (!ReadAt(fd, volume.mftStartLcn * cluster, record)) return 1;
    FileRecordHeader header;
    RunList mftRuns;
    if (ParseEntry(ParseMode::MftData, record, header, mftRuns) != 0) return 1;

    // The end of the last byte a load reads.
    std::int64_t needed = volume.mftStartLcn * cluster + static_cast<std::int64_t>(recordSize);
    int records = 0;
    int buffers = 0;
    std::uint32_t number = 0;
    for (const RunEntry& run : mftRuns) {
        const std::int64_t runBytes = static_cast<std::int64_t>(run.length) * cluster;
        needed = std::max(needed, run.lcn * cluster + runBytes);
        for (std::int64_t at = 0; at + static_cast<std::int64_t>(recordSize) <= runBytes; at += static_cast<std::int64_t>(recordSize), ++number) {
            if (!ReadAt(fd, run.lcn * cluster + at, record)) break;
            if (std::memcmp(record.data(), "FILE", 4) != 0) continue;
            std::vector<std::uint8_t> parsed = record;
            RunList indexRuns;
            const int directory = ParseEntry(ParseMode::IndexAllocation, parsed, header, indexRuns);
            // Metadata records, directories and extension records are the
            // varied ones; plain files look much alike.
            if (records < kMostRecords && (number < 16 || directory == 0 || header.baseRecord != 0)) {
                Write(out / "file_record" / (tag + "-" + std::to_string(number)), record);
                ++records;
            }
            if (directory != 0) continue;
            for (const RunEntry& indexRun : indexRuns) {
                const std::int64_t end = indexRun.lcn * cluster + static_cast<std::int64_t>(indexRun.length) * cluster;
                needed = std::max(needed, end - end % volume.indexBufferSize);
            }
            if (volume.indexBufferSize != 4096) continue;
            int k = 0;
            for (const RunEntry& indexRun : indexRuns) {
                const std::int64_t bytes = static_cast<std::int64_t>(indexRun.length) * cluster;
                std::vector<std::uint8_t> buffer(4096);
                for (std::int64_t b = 0; b + 4096 <= bytes && buffers < kMostBuffers; b += 4096, ++k) {
                    if (!ReadAt(fd, indexRun.lcn * cluster + b, buffer)) break;
                    if (std::memcmp(buffer.data(), "INDX", 4) != 0) continue;
                    Write(out / "index_buffer" / (tag + "-" + std::to_string(number) + "-" + std::to_string(k)), buffer);
                    ++buffers;
                }
            }
        }
    }
    bool volumeSeed = false;
    if (needed <= kLargestVolumeSeed) {
        std::vector<std::uint8_t> image(static_cast<std::size_t>(needed));
        if (ReadAt(fd, 0, image)) {
            Write(out / "volume" / tag, image);
            volumeSeed = true;
        }
    }
    close(fd);
    std::printf("%s: boot sector, %d file records, %d index buffers%s\n", tag.c_str(), records, buffers,
                volumeSeed ? (", volume of " + std::to_string(needed) + " bytes").c_str() : "");
    return 0;
}
