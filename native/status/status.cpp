#include "status/status.h"

namespace tarnwick {

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
