// The public header alone, as a C++ caller sees it, with the same names a C
// caller links against.
#include "tarnwick.h"

int tarnwick_header_alone_cxx() {
    int32_t (TARNWICK_CALL *load)(uint32_t, size_t*) = &LoadMft;
    return load != 0 ? static_cast<int>(TARNWICK_SIZE) : 0;
}
