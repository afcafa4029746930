// SOURCE on the command line: a block device, a volume image, a whole disk
// (image) with a partition table, an E01 evidence file, or a drive letter
// that TARNWICK_DRIVE_<letter> maps to one of those.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ewf_source.h"
#include "platform/platform.h"

namespace tarnwick::cli {

struct Source {
    std::string label;  // as the user wrote it, for messages
    std::string path;   // the device or image
    char letter = 0;    // the drive letter the library loads
};

// Fills `source` or returns the reason it cannot (a message without the
// "tarnwick: SOURCE: " prefix). For a path this claims a drive letter whose
// TARNWICK_DRIVE_ variable is unset and points it at the path.
std::optional<std::string> ResolveSource(std::string_view argument, Source& source);

// True for "D", "d", "D:" and "d:".
bool IsDriveLetter(std::string_view argument);

// Checks that the path is a device or a regular file that this process may
// read, so that a refusal gets a precise message before the library's
// general one. Opens it read-only and closes it again.
std::optional<std::string> CheckReadable(const std::string& path);

// Where in the source the volume lies, as the user asked.
struct SourceOptions {
    std::optional<std::uint64_t> offset;  // --offset BYTES
    std::optional<int> partition;         // --partition N
};

// The volume a command reads, once the disk or evidence file around it is
// understood.
struct OpenedSource {
    std::shared_ptr<platform::VolumeReader> volume;
    std::uint64_t offset = 0;  // of the volume in the disk (or the file)
    std::uint64_t length = 0;  // bytes from there to the end of the partition or disk
    int partition = 0;         // the partition's number; 0 when none was involved
    bool evidenceFile = false; // read through libewf
    std::shared_ptr<const MediaErrors> errors;  // evidence files only
    // The library's own drive mapping reaches exactly this volume.
    bool WholeFile() const { return offset == 0 && partition == 0 && !evidenceFile; }
};

// Opens the volume in `source.path`: a volume from its first byte unless an
// offset or partition is given or the first sector is a partition table
// with NTFS partitions. Returns a one-line reason when it cannot.
std::optional<std::string> OpenSource(const Source& source, const SourceOptions& options, OpenedSource& opened);

// Points the source's drive letter at the opened volume (its offset and
// length in the disk), so that the library's catalogue reads the same volume
// as the listing. False for an evidence file, which only this tool reads.
bool MapDriveToVolume(const Source& source, const OpenedSource& opened);

// When args[i] is --offset or --partition (its value in the same argument
// after "=" or in the next), takes it, moves i to its last argument and
// returns true; `problem` then says what is wrong with it, if anything.
bool TakeSourceOption(std::span<const std::string_view> args, std::size_t& i, SourceOptions& options,
                      std::string& problem);

// A handle over the opened volume for the library's readers; CloseVolume
// (or the holder) releases it.
struct HandleCloser {
    void operator()(void* handle) const { platform::CloseVolume(handle); }
};
using SourceHandle = std::unique_ptr<void, HandleCloser>;
SourceHandle OpenHandle(const OpenedSource& opened);

// The first read the media refused, if any: a report made after it would
// describe a volume cut short where the evidence file is damaged.
std::optional<std::string> ReadProblem(const OpenedSource& opened);

// The first 512 bytes of an opened volume (zero past a short read).
void ReadBootSector(const OpenedSource& opened, std::array<std::uint8_t, 512>& boot);

}  // namespace tarnwick::cli
