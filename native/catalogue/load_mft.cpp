#include "catalogue/load_mft.h"

#include <algorithm>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/finish_catalogue.h"
#include "catalogue/index_reader.h"
#include "mft/mft_layout.h"
#include "mft/mft_stream.h"
#include "ntfs/file_record.h"
#include "platform/platform.h"
#include "status/debug_log.h"
#include "status/status.h"
#include "volume/boot_sector.h"
#include "volume/volume_handle.h"

namespace tarnwick {

namespace {

constexpr std::uint32_t kLastDrive = 'Z' - 'A';

// "\\.\X:\" for the drive-type query; without its last backslash it opens
// the volume.
std::u16string RootPath(std::uint32_t drive) {
    std::u16string path = u"\\\\.\\";
    path.push_back(static_cast<char16_t>(u'A' + drive));
    path += u":\\";
    return path;
}

// The boot sector's geometry. A failed read leaves the buffer zero, which
// the signature test refuses.
StatusCode ReadGeometry(platform::RawHandle volume, VolumeInfo& info) {
    std::vector<std::uint8_t> boot(boot_sector::kSize, 0);
    if (ReadBuffer(boot, volume) != 0) std::fill(boot.begin(), boot.end(), 0);
    return ParseBootSector(boot, info) == 0 ? StatusCode::Success : StatusCode::ParseBoot;
}

// The runs of the master file table. Record 0 must be a plain file in use
// with its data from the table's start; on a long-used volume the rest of
// its runs lie in extension records its attribute list names, and a load
// that read only record 0's runs would lose every record beyond them.
StatusCode ReadTableRuns(platform::RawHandle volume, const VolumeInfo& info, RunList& runs) {
    std::vector<std::uint8_t> record(static_cast<std::size_t>(info.fileRecordSize), 0);
    const std::int64_t offset = ClusterByteOffset(info.mftStartLcn, info.ClusterSize());
    if (offset < 0 || !platform::SetPosition(volume, offset)) return StatusCode::MoveFile;
    if (ReadBuffer(record, volume) != 0) return StatusCode::ReadMft;
    FileRecordHeader header;
    if (ParseEntry(ParseMode::MftData, record, header, runs) != 0) return StatusCode::ParseEntry;
    MftLayout layout;
    switch (ReadMftLayout(volume, info, layout)) {
        case MftLayoutStatus::Ok:
            runs = std::move(layout.runs);
            return StatusCode::Success;
        // The table never covers a cluster twice; runs that did would have
        // the same records read and catalogued again and again.
        case MftLayoutStatus::Overlap:
            return StatusCode::MoveFile2;
        default:
            return StatusCode::ParseEntry;
    }
}

// Every record of every run, in disk order, each handed to the index reader
// as it arrives.
StatusCode ReadRecords(platform::RawHandle records, const VolumeInfo& info, const RunList& runs, IndexReader& reader) {
    const std::uint32_t clusterSize = info.ClusterSize();
    MftStream stream(records, static_cast<std::size_t>(info.fileRecordSize), info.VolumeBytes());
    std::uint32_t position = 0;
    for (const RunEntry& run : runs) {
        const std::int64_t offset = ClusterByteOffset(run.lcn, clusterSize);
        if (offset < 0 || !stream.StartRun(offset, ClusterBytes(run.length, clusterSize))) return StatusCode::MoveFile2;
        for (;;) {
            const int next = stream.Next();
            if (next < 0) return StatusCode::ReadMft2;
            if (next == 0) break;
            if (reader.ReadAndParseIndex(stream.record(), position++) < 0) return StatusCode::ReadAndParseIndx;
        }
    }
    return StatusCode::Success;
}

void StartTiming(Catalogue& catalogue) {
    catalogue.performanceFrequency = platform::PerformanceFrequency();
    catalogue.loadStart = platform::PerformanceCounter();
}

void TrimAndLogTime(Catalogue& catalogue) {
    platform::TrimWorkingSet();
    catalogue.loadEnd = platform::PerformanceCounter();
    catalogue.loadElapsed = catalogue.loadEnd - catalogue.loadStart;
    const double milliseconds =
        static_cast<double>(catalogue.loadElapsed) / static_cast<double>(catalogue.performanceFrequency) * 1000.0;
    DebugLog(u"%.2f ms\n", milliseconds);
}

}  // namespace

std::int32_t LoadCatalogue(std::uint32_t drive, std::size_t* count) {
    Catalogue& catalogue = TheCatalogue();
    if (!catalogue.entries.empty()) return ToInt(StatusCode::Size);
    // Only A: to Z: are drives; a wider number cut to a letter would name
    // another drive than the caller's.
    if (drive > kLastDrive) return ToInt(StatusCode::DriveType);
    // Names left by an earlier failed load, maybe of another volume, must
    // not resolve this load's names.
    catalogue.recordNames.Clear();

    std::u16string path = RootPath(drive);
    if (platform::DriveTypeOf(path.c_str()) != platform::kDriveFixed) return ToInt(StatusCode::DriveType);
    path.pop_back();
    const VolumeHandle records = OpenVolumeHandle(path.c_str());
    if (!IsOpen(records)) return ToInt(StatusCode::OpenFile);

    VolumeInfo volume;
    if (const StatusCode status = ReadGeometry(records.get(), volume); status != StatusCode::Success) {
        return ToInt(status);
    }
    RunList tableRuns;
    if (const StatusCode status = ReadTableRuns(records.get(), volume, tableRuns); status != StatusCode::Success) {
        return ToInt(status);
    }
    StartTiming(catalogue);

    const VolumeHandle indexes = OpenVolumeHandle(path.c_str());
    if (!IsOpen(indexes)) return ToInt(StatusCode::OpenFile2);

    IndexReader reader(indexes.get(), volume.indexBufferSize, volume.ClusterSize(), catalogue.entries,
                       catalogue.recordNames, volume.VolumeBytes());
    if (const StatusCode status = ReadRecords(records.get(), volume, tableRuns, reader); status != StatusCode::Success) {
        return ToInt(status);
    }
    if (const std::int32_t status = FinishCatalogue(catalogue.entries, catalogue.recordNames); status != 0) {
        return status;
    }
    TrimAndLogTime(catalogue);
    if (catalogue.entries.empty()) {
        // Every entry was a duplicate: none is published, so none may stay
        // behind an empty count where Clear could not reach it.
        catalogue.entries.Clear();
        catalogue.recordNames.Clear();
        return ToInt(StatusCode::Size2);
    }
    *count = catalogue.entries.size();
    return 0;
}

}  // namespace tarnwick
