// The load: from a drive number to a finished catalogue.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwick {

// Fills the process-wide catalogue from drive `drive` (0 is A:). On 0 writes
// the number of entries through `count`; otherwise leaves it alone and
// returns the code of the step that failed.
std::int32_t LoadCatalogue(std::uint32_t drive, std::size_t* count);

}  // namespace tarnwick
