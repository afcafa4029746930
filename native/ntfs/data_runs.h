// Mapping pairs: where a non-resident attribute's clusters lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick {

struct RunEntry {
    std::int64_t lcnDelta = 0;  // offset from the previous run's first cluster
    std::uint64_t length = 0;   // clusters
    std::int64_t lcn = 0;       // absolute first cluster
};
using RunList = std::vector<RunEntry>;

// Decodes the run whose header byte is at `position` into `run` (lcnDelta and
// length) and returns the position of the next header, or 0 when the run
// cannot be decoded: a field wider than 8 bytes, which 64 bits cannot hold,
// or bytes past the end of the buffer. The walk ends there.
std::size_t DecodeRun(std::span<const std::uint8_t> bytes, std::size_t position, RunEntry& run);

// Appends every run from `position` until the zero header byte, with
// absolute clusters. An undecodable run or the buffer's end ends the list:
// the runs before it are still the attribute's first clusters.
void DecodeRunList(std::span<const std::uint8_t> bytes, std::size_t position, RunList& runs);

}  // namespace tarnwick
