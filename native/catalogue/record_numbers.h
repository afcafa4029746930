// Record numbers (and the ids of entries, which are record numbers) as the
// catalogue orders and tables them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwick {

// A signed number as an unsigned one that orders the same way, for keys
// packed into wider unsigned integers.
constexpr std::uint32_t OrderedBits(std::int32_t value) { return static_cast<std::uint32_t>(value) ^ 0x80000000u; }
constexpr std::int32_t FromOrderedBits(std::uint32_t bits) { return static_cast<std::int32_t>(bits ^ 0x80000000u); }

// True when `range` distinct numbers are few enough, beside `count` items, to
// be given a slot each (a table by number, a count per number): a sound
// volume's record numbers always are; numbers a damaged volume claims may be
// spread over the whole range of 32 bits and are searched instead.
constexpr bool WorthATableByNumber(std::uint64_t range, std::size_t count) {
    return range <= 4 * std::uint64_t{count} + 65536;
}

}  // namespace tarnwick
