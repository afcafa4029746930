#include "status/status.h"

namespace tarnwick {
namespace {

// A code added to the public enum but not to the table stops the build here
// (-Wswitch), and a code listed twice is a duplicate case.
[[maybe_unused]] constexpr bool InTable(TarnwickStatus code) {
    switch (code) {
#define STATUS(value, name, text) \
    case value:                   \
        return true;
#include "status/status_codes.def"
#undef STATUS
    }
    return false;
}

}  // namespace

const char16_t* StatusMessage(std::int32_t code) {
    switch (code) {
#define STATUS(value, name, text) \
    case value:                   \
        return text;
#include "status/status_codes.def"
#undef STATUS
    }
    return u"error: other";
}

}  // namespace tarnwick
