// The master file table read as one stream of records across its runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "platform/platform.h"

namespace tarnwick {

// Reads the master file table as one stream of records across its runs. A
// run may end inside a record when clusters are smaller than records; that
// record is completed from the start of the next run instead of being lost
// and every later record read half a record off.
class MftStream {
public:
    // Nothing at or past `volumeEnd` (bytes) is read: a run that reaches
    // there fails where it crosses it, as a read past the end of a device.
    MftStream(platform::RawHandle volume, std::size_t recordSize,
              std::int64_t volumeEnd = std::numeric_limits<std::int64_t>::max())
        : volume_(volume), record_(recordSize), volumeEnd_(volumeEnd) {}

    // Positions at a run; false when the volume refuses the position.
    bool StartRun(std::int64_t offset, std::uint64_t bytes);

    // Reads the next whole record of the current run: 1 when record() holds
    // one, 0 when the run is used up (any part read waits for the next run),
    // -1 when a read failed or would cross the end of the volume. A record inside one run is parsed where the
    // platform holds it, without a copy; one split between runs is put
    // together in the stream's own buffer.
    int Next();

    // Valid until the next call of Next.
    std::span<std::uint8_t> record() { return {current_, record_.size()}; }

private:
    platform::RawHandle volume_;
    std::vector<std::uint8_t> record_;
    std::uint8_t* current_ = nullptr;
    std::size_t filled_ = 0;
    std::uint64_t runLeft_ = 0;  // up to the end of the volume
    std::int64_t volumeEnd_;
    bool pastEnd_ = false;  // the current run goes on past the end of the volume
};

}  // namespace tarnwick
