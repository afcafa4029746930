// Status codes of the exports and their fixed texts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarnwick.h"

namespace tarnwick {

enum class StatusCode : std::int32_t {
#define STATUS(value, name, text) name = value,
#include "status/status_codes.def"
#undef STATUS
};

// How many codes the table holds.
inline constexpr std::size_t kStatusCodeCount = 0
#define STATUS(value, name, text) +1
#include "status/status_codes.def"
#undef STATUS
    ;

constexpr std::int32_t ToInt(StatusCode code) { return static_cast<std::int32_t>(code); }

// The text of a code; the same code always gives the same pointer, and any
// value outside the table gives "error: other".
const char16_t* StatusMessage(std::int32_t code);

}  // namespace tarnwick
