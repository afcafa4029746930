#include "catalogue/load_mft.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/directory_thread.h"
#include "catalogue/finish_catalogue.h"
#include "catalogue/index_reader.h"
#include "mft/mft_stream.h"
#include "ntfs/file_record.h"
#include "platform/platform.h"
#include "status/debug_log.h"
#include "status/status.h"
#include "volume/boot_sector.h"
#include "volume/volume_handle.h"

namespace tarnwick {

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// lcn * clusterSize, or -1 when negative or beyond 64 bits.
std::int64_t ClusterOffset(std::int64_t lcn, std::uint32_t clusterSize) {
    if (lcn < 0 || lcn > kInt64Max / clusterSize) return -1;
    return lcn * clusterSize;
}

std::uint64_t RunBytes(std::uint64_t clusters, std::uint32_t clusterSize) {
    if (clusters > std::numeric_limits<std::uint64_t>::max() / clusterSize) return std::numeric_limits<std::uint64_t>::max();
    return clusters * clusterSize;
}

bool RunsOverlap(const RunList& runs) {
    std::vector<std::pair<std::int64_t, std::int64_t>> extents;  // [first, end) in clusters
    for (const RunEntry& run : runs) {
        if (run.length == 0) continue;
        const auto room = static_cast<std::uint64_t>(kInt64Max - std::max<std::int64_t>(run.lcn, 0));
        extents.emplace_back(run.lcn, run.lcn + static_cast<std::int64_t>(std::min(run.length, room)));
    }
    std::sort(extents.begin(), extents.end());
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].first < extents[i - 1].second) return true;
    }
    return false;
}

void TrimAndLogTime(Catalogue& catalogue) {
    platform::TrimWorkingSet();
    catalogue.loadEnd = platform::PerformanceCounter();
    catalogue.loadElapsed = catalogue.loadEnd - catalogue.loadStart;
    const double milliseconds =
        static_cast<double>(catalogue.loadElapsed) / static_cast<double>(catalogue.performanceFrequency) * 1000.0;
    DebugLog(u"%.2f ms\n", milliseconds);
    catalogue.timingState = 0;
}

}  // namespace

std::int32_t LoadCatalogue(std::uint32_t drive, std::size_t* count) {
    Catalogue& catalogue = TheCatalogue();
    if (!catalogue.entries.empty()) return ToInt(StatusCode::Size);
    // Names left by an earlier failed load, maybe of another volume, must
    // not resolve this load's names.
    catalogue.recordNames.Clear();

    // "\\.\X:\" for the drive-type query, "\\.\X:" to open the volume.
    std::u16string path = u"\\\\.\\";
    path.push_back(static_cast<char16_t>(static_cast<unsigned char>('A' + drive)));
    path += u":\\";
    if (platform::DriveTypeOf(path.c_str()) != platform::kDriveFixed) return ToInt(StatusCode::DriveType);
    path.erase(path.rfind(u'\\'));

    const VolumeHandle records = OpenVolumeHandle(path.c_str());
    if (!IsOpen(records)) return ToInt(StatusCode::OpenFile);

    std::vector<std::uint8_t> boot(boot_sector::kSize, 0);
    if (ReadBuffer(boot, records.get()) != 0) std::fill(boot.begin(), boot.end(), 0);
    VolumeInfo volume;
    if (ParseBootSector(boot, volume) != 0) return ToInt(StatusCode::ParseBoot);
    const std::uint32_t clusterSize = volume.ClusterSize();

    std::vector<std::uint8_t> record(static_cast<std::size_t>(volume.fileRecordSize), 0);
    const std::int64_t mftOffset = ClusterOffset(volume.mftStartLcn, clusterSize);
    if (mftOffset < 0 || !platform::SetPosition(records.get(), mftOffset)) return ToInt(StatusCode::MoveFile);
    if (ReadBuffer(record, records.get()) != 0) return ToInt(StatusCode::ReadMft);
    FileRecordHeader mftHeader;
    RunList mftRuns;
    if (ParseEntry(ParseMode::MftData, record, mftHeader, mftRuns) != 0) return ToInt(StatusCode::ParseEntry);

    catalogue.performanceFrequency = platform::PerformanceFrequency();
    catalogue.loadStart = platform::PerformanceCounter();
    catalogue.timingState = 1;

    const VolumeHandle indexes = OpenVolumeHandle(path.c_str());
    if (!IsOpen(indexes)) return ToInt(StatusCode::OpenFile2);

    // The master file table never covers a cluster twice; a run list that
    // does would have the same records read and catalogued again and again.
    if (RunsOverlap(mftRuns)) return ToInt(StatusCode::MoveFile2);

    IndexReader reader(indexes.get(), volume.indexBufferSize, clusterSize, catalogue.entries, catalogue.recordNames);
    // The thread appending entries pays for the first touch of their pages
    // unless the pass, waiting for it, has touched them already. Storage
    // prepared and not used goes back once the thread is done, whatever the
    // outcome (this guard outlives the thread).
    struct ReleasePrepared {
        EntryList& entries;
        ~ReleasePrepared() { entries.ReleasePreparedStorage(); }
    } releasePrepared{catalogue.entries};
    DirectoryThread directories(reader, [&catalogue] { return catalogue.entries.PrepareStorage(); });
    // A directory added before the pass failed was met first: its failure
    // is the load's outcome, as if the pass had read it then.
    auto failed = [&directories](StatusCode code) {
        return ToInt(directories.Finish() < 0 ? StatusCode::ReadAndParseIndx : code);
    };
    MftStream stream(records.get(), record.size());
    RunList runs;
    Directory directory;
    std::uint32_t position = 0;
    for (const RunEntry& run : mftRuns) {
        const std::int64_t offset = ClusterOffset(run.lcn, clusterSize);
        if (offset < 0 || !stream.StartRun(offset, RunBytes(run.length, clusterSize))) {
            return failed(StatusCode::MoveFile2);
        }
        for (;;) {
            const int next = stream.Next();
            if (next < 0) return failed(StatusCode::ReadMft2);
            if (next == 0) break;
            if (reader.NoteRecord(stream.record(), position++, runs, directory) == 0) directories.Add(directory);
            if (directories.Failed()) return failed(StatusCode::ReadAndParseIndx);
        }
    }
    if (directories.Finish() < 0) return ToInt(StatusCode::ReadAndParseIndx);
    catalogue.entries.ReleasePreparedStorage();  // before the finishing step asks for memory

    if (const std::int32_t status = FinishCatalogue(catalogue.entries, catalogue.recordNames); status != 0) {
        return status;
    }
    TrimAndLogTime(catalogue);
    if (catalogue.entries.empty()) return ToInt(StatusCode::Size2);
    *count = catalogue.entries.size();
    return 0;
}

}  // namespace tarnwick
