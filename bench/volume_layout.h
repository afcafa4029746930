// Where the bytes are that any reader of a whole catalogue must read: the
// master file table (the runs its own record 0 lists) and the index buffers
// of every live directory. Found with a parser of its own, independent of
// the library, so the floor it measures owes nothing to the code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace bench {

struct ByteRange {
    std::uint64_t offset;
    std::uint64_t length;
};

struct VolumeLayout {
    std::uint32_t clusterSize = 0;
    std::uint32_t recordSize = 0;
    std::vector<ByteRange> mft;      // in the order of the master file table's runs
    std::vector<ByteRange> indexes;  // sorted by offset, neighbours merged
    std::uint64_t mftBytes = 0;
    std::uint64_t indexBytes = 0;
    std::uint64_t indexBuffers = 0;  // index buffers of live directories
    std::uint64_t directories = 0;   // live records with index buffers
    std::uint64_t liveRecords = 0;
};

// Throws std::runtime_error when the image is not a readable NTFS volume.
VolumeLayout ScanVolumeLayout(const std::string& image);

// The floor's read buffer, starting on a page: the system copies into one
// that starts off a cache line (as a plain vector's does) about a third
// slower, a handicap the floor must not carry.
class ReadBuffer {
public:
    explicit ReadBuffer(std::size_t bytes)
        : bytes_(bytes), data_(static_cast<unsigned char*>(std::aligned_alloc(kPage, (bytes + kPage - 1) / kPage * kPage))) {
        if (!data_) throw std::bad_alloc();
    }
    unsigned char* data() const { return data_.get(); }
    std::size_t size() const { return bytes_; }

private:
    static constexpr std::size_t kPage = 4096;
    struct Free {
        void operator()(unsigned char* p) const { std::free(p); }
    };
    std::size_t bytes_;
    std::unique_ptr<unsigned char, Free> data_;
};

// Reads every range with reads of at most the buffer's size into it, as a
// reader that only needs the bytes would. Returns the bytes read.
std::uint64_t ReadRanges(int fd, const std::vector<ByteRange>& ranges, ReadBuffer& buffer);

}  // namespace bench
