// The `list --catalogue` output: one line per entry of the exports'
// catalogue, CSV or JSON Lines.
#pragma once

#include <span>

#include "output_format.h"
#include "tarnwick.h"

namespace tarnwick::cli {

class OutputBuffer;
class PathResolver;

// The CSV header line; JSON Lines has none.
void WriteCatalogueHeader(OutputBuffer& out, Format format);
void WriteCatalogueEntry(OutputBuffer& out, Format format, const PathResolver& paths, const ResultRecord_Internal& entry);

// Header and every entry in catalogue order.
void WriteCatalogue(OutputBuffer& out, Format format, std::span<const ResultRecord_Internal* const> entries);

}  // namespace tarnwick::cli
