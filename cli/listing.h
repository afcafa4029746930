// The `list` output: one line per catalogue entry, CSV or JSON Lines.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "tarnwick.h"

namespace tarnwick::cli {

class OutputBuffer;
class PathResolver;

enum class Format { Csv, JsonLines };

std::optional<Format> ParseFormat(std::string_view name);

// The CSV header line; JSON Lines has none.
void WriteHeader(OutputBuffer& out, Format format);
void WriteEntry(OutputBuffer& out, Format format, const PathResolver& paths, const ResultRecord_Internal& entry);

// Header and every entry in catalogue order.
void WriteListing(OutputBuffer& out, Format format, std::span<const ResultRecord_Internal* const> entries);

}  // namespace tarnwick::cli
