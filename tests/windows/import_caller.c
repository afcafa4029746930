/* A C caller that links against Tarnwick.dll's import library, as most native
 * callers do: in the x86 build its stdcall declarations must bind to the
 * decorated exports. Exit 0 when the calls arrive and return what they must
 * on a library with no catalogue. */
#include <stdio.h>

#include "tarnwick.h"

int main(void) {
    static const char expected[] = "error: size";
    const uint16_t* text = GetMftMessage(TARNWICK_SIZE);
    size_t i = 0;
    for (; expected[i] != 0; ++i) {
        if (text[i] != (uint16_t)expected[i]) break;
    }
    const int textOk = expected[i] == 0 && text[i] == 0;
    /* No drive has the letter 'A' + 100: not a fixed drive. */
    size_t count = 7;
    const int32_t loaded = LoadMft(100, &count);
    const int32_t cleared = Clear();
    const int32_t pointed = GetPointer(NULL);
    const int32_t copied = GetData(NULL);
    if (!textOk || loaded != TARNWICK_DRIVE_TYPE || count != 7 || cleared != TARNWICK_SIZE || pointed != TARNWICK_SIZE || copied != TARNWICK_SIZE) {
        fprintf(stderr, "import caller: text %d, LoadMft %d, Clear %d, GetPointer %d, GetData %d\n", textOk,
                (int)loaded, (int)cleared, (int)pointed, (int)copied);
        return 1;
    }
    return 0;
}
