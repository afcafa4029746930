// Sizes as people read them.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick::cli {

// "512 B", "1.5 KiB", "20 MiB", "3.2 GiB": three significant digits at most,
// binary units, as disk tools print them.
std::string HumanBytes(std::uint64_t bytes);

}  // namespace tarnwick::cli
