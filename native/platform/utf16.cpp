#include "platform/utf16.h"

namespace tarnwick {

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out(Utf8Bound(text.size()), '\0');
    out.resize(static_cast<std::size_t>(WriteUtf8(out.data(), text.data(), text.size()) - out.data()));
    return out;
}

}  // namespace tarnwick
