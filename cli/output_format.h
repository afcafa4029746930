// The output formats of the tool's listings.
#pragma once

#include <optional>
#include <string_view>

namespace tarnwick::cli {

enum class Format { Csv, JsonLines };

inline std::optional<Format> ParseFormat(std::string_view name) {
    if (name == "csv") return Format::Csv;
    if (name == "jsonl") return Format::JsonLines;
    return std::nullopt;
}

}  // namespace tarnwick::cli
