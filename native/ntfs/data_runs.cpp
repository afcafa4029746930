#include "ntfs/data_runs.h"

#include "volume/byte_reader.h"

namespace tarnwick {

std::size_t DecodeRun(std::span<const std::uint8_t> bytes, std::size_t position, RunEntry& run) {
    ByteReader r(bytes);
    const std::uint8_t header = r.U8(position);
    const std::size_t lengthWidth = header & 0x0F;
    const std::size_t offsetWidth = header >> 4;
    if (!r.ok() || lengthWidth > 8 || offsetWidth > 8) return 0;

    const std::uint64_t length = r.UVar(position + 1, lengthWidth);
    std::uint64_t delta = r.UVar(position + 1 + lengthWidth, offsetWidth);
    if (!r.ok()) return 0;
    // Sign-extend from the field's width with unsigned shifts only.
    if (offsetWidth > 0 && offsetWidth < 8 && (delta >> (8 * offsetWidth - 1)) != 0) {
        delta |= ~std::uint64_t{0} << (8 * offsetWidth);
    }
    run.length = length;
    run.lcnDelta = static_cast<std::int64_t>(delta);
    return position + 1 + lengthWidth + offsetWidth;
}

void DecodeRunList(std::span<const std::uint8_t> bytes, std::size_t position, RunList& runs) {
    while (position < bytes.size() && bytes[position] != 0) {
        RunEntry run;
        const std::size_t next = DecodeRun(bytes, position, run);
        if (next == 0) return;
        // Wrapping addition: a damaged list must not overflow; the position
        // check of the reader rejects any cluster that ends up out of range.
        const auto previous = runs.empty() ? std::uint64_t{0} : static_cast<std::uint64_t>(runs.back().lcn);
        run.lcn = static_cast<std::int64_t>(previous + static_cast<std::uint64_t>(run.lcnDelta));
        runs.push_back(run);
        position = next;
    }
}

}  // namespace tarnwick
