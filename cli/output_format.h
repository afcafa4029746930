// The output formats of the tool's listings.
#pragma once

#include <optional>
#include <string_view>

namespace tarnwick::cli {

// BodyFile: The Sleuth Kit's body file, for timelines (the listing only).
enum class Format { Csv, JsonLines, BodyFile };

inline std::optional<Format> ParseFormat(std::string_view name) {
    if (name == "csv") return Format::Csv;
    if (name == "jsonl") return Format::JsonLines;
    if (name == "bodyfile") return Format::BodyFile;
    return std::nullopt;
}

}  // namespace tarnwick::cli
