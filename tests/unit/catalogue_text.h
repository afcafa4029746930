// A catalogue entry's text field (terminated UTF-16 units) as a string, so
// that tests compare names with literals.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick::testing {

inline std::u16string Text(const std::uint16_t* field) {
    std::u16string out;
    for (; *field != 0; ++field) out.push_back(static_cast<char16_t>(*field));
    return out;
}

}  // namespace tarnwick::testing
