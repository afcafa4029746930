// Real volumes, and damaged copies of them, for tests that load through the
// exports. The positions of the structures to damage are found by parsing
// the volume with the library's own structure parsers, so a test names what
// it breaks ("the root's first index buffer"), not where it lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "ntfs/data_runs.h"
#include "volume/boot_sector.h"

namespace tarnwick::e2e {

// A byte range [begin, end) of the volume.
struct Extent {
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

// One file record of the master file table, in the order the load reads it.
struct MftRecord {
    std::uint32_t position = 0;  // its index in the table
    std::vector<Extent> pieces;  // more than one where a run ends inside it
    bool contiguous() const { return pieces.size() == 1; }
    std::int64_t offset() const { return pieces.front().begin; }
    std::int64_t end() const { return pieces.back().end; }
};

// A directory whose index allocation the load reads, and its buffers.
struct IndexBuffer {
    std::int64_t offset = 0;
    bool indx = false;  // starts with "INDX" on disk
};
struct Directory {
    std::uint32_t position = 0;  // of its record in the table
    std::uint16_t flags = 0;
    std::vector<IndexBuffer> buffers;
};

// One entry of an index buffer, as parsed from its fixed-up copy.
struct IndexEntry {
    std::size_t position = 0;  // from the buffer's start
    std::uint32_t id = 0;
    std::uint32_t parent = 0;
    std::uint16_t length = 0;
    std::u16string name;
};

class Volume {
public:
    // A real image from the shared folder beside the project, decompressed
    // once into the build tree; nullopt when the folder is not there.
    static std::optional<Volume> Shared(const std::string& relative);
    // A freshly formatted volume; nullopt when mkntfs is not installed.
    static std::optional<Volume> Formatted(int megabytes, int clusterSize);
    // A volume the project's volume builder makes from `description` (the
    // language of tests/volumes/*.vol); nullopt when the builder is not built.
    static std::optional<Volume> Built(const std::string& name, const std::string& description);
    // The volume a test parameter names, made once per process:
    // "mkntfs-<MiB>-<cluster>" formats a fresh volume, anything else names
    // an image of the shared folder; nullptr when it cannot be had here.
    static const Volume* Named(const std::string& source);

    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    const VolumeInfo& info() const { return info_; }
    std::int64_t clusterSize() const { return info_.ClusterSize(); }
    std::int64_t recordSize() const { return info_.fileRecordSize; }
    std::int64_t indexSize() const { return info_.indexBufferSize; }
    std::int64_t record0() const { return info_.mftStartLcn * clusterSize(); }
    const std::vector<MftRecord>& records() const { return records_; }
    const std::vector<Directory>& directories() const { return directories_; }

    // The first live directory with at least one "INDX" buffer (normally
    // the root), or nullptr.
    const Directory* IndexedDirectory() const;
    // The record at `position` of the table, or nullptr.
    const MftRecord* Record(std::uint32_t position) const;
    // A fixed-up copy of the multi-sector structure (file record or index
    // buffer) of `size` bytes at `offset`.
    std::vector<std::uint8_t> FixedUp(std::int64_t offset, std::int64_t size) const;
    // The entries of the index buffer at `offset`, up to its closing entry.
    std::vector<IndexEntry> Entries(std::int64_t offset) const;
    // Position of the first attribute of `type` in the record at `offset`
    // (from the record's start), or nullopt.
    std::optional<std::size_t> Attribute(std::int64_t offset, std::uint32_t type) const;

    // What the undamaged volume loads: its status and entry count.
    std::int32_t referenceStatus = 0;
    std::size_t referenceCount = 0;

private:
    // The volume in the image file at `path`; nullopt when it does not parse.
    static std::optional<Volume> Mapped(const std::string& name, const std::string& path);
    bool Map();

    std::string name_;
    std::string path_;
    std::vector<std::uint8_t> bytes_;
    VolumeInfo info_;
    std::vector<MftRecord> records_;
    std::vector<Directory> directories_;
};

// A copy of a volume to damage. Nothing touches the original's file.
class Damaged {
public:
    explicit Damaged(const Volume& volume) : bytes(volume.bytes()) {}

    // Little-endian `width` bytes at `at` of the volume.
    void Put(std::int64_t at, std::uint64_t value, std::size_t width);
    // The same inside the multi-sector structure at `structure`: bytes that
    // fall on the last two of a 512-byte stride go into its update sequence
    // array, from which the fix-up puts them in place.
    void PutProtected(std::int64_t structure, std::size_t at, std::uint64_t value, std::size_t width);
    void Zero(std::int64_t at, std::size_t length);
    void Truncate(std::int64_t size) { bytes.resize(static_cast<std::size_t>(size)); }

    // Writes the copy to a file of this process, maps a drive letter to it,
    // loads, and removes the file again; `count` is written only on 0.
    std::int32_t Load(std::size_t& count) const;

    std::vector<std::uint8_t> bytes;
    // The file the copy is loaded from is this long, sparse beyond the bytes.
    std::int64_t sparseSize = 0;
};

// Loads the image file at `path` through a mapped drive letter.
std::int32_t LoadImage(const std::string& path, std::size_t& count);

// A volume parameter as a test name made of what gtest allows.
std::string ParamName(const ::testing::TestParamInfo<std::string>& info);

}  // namespace tarnwick::e2e
