/* The public header alone, as a C caller sees it. */
#include "tarnwick.h"

typedef char version_is_text[sizeof(TARNWICK_VERSION) > 5 ? 1 : -1];

int tarnwick_header_alone(void) {
    ResultRecord_Export record;
    size_t count = 0;
    record.flag = TARNWICK_SUCCESS;
    return record.flag + (int)count + (int)sizeof(ResultRecord_Internal);
}
