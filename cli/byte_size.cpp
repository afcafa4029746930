#include "byte_size.h"

#include <cstdio>

namespace tarnwick::cli {

std::string HumanBytes(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    // One decimal below ten, as "1.5 GiB"; whole numbers above, as "20 MiB".
    if (value < 9.95) {
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    } else {
        std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
    }
    return text;
}

}  // namespace tarnwick::cli
