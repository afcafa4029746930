/* A caller of the installed library: loads drive T: (TARNWICK_DRIVE_T names
 * the image), copies the catalogue out and prints how many entries it held. */
#include <stdio.h>
#include <stdlib.h>

#include <tarnwick.h>

static void print_text(const uint16_t* text) {
    for (; *text != 0; ++text) putchar(*text < 0x80 ? (int)*text : '?');
}

int main(void) {
    size_t count = 0;
    ResultRecord_Export* entries;
    int32_t status = LoadMft('T' - 'A', &count);
    if (status != TARNWICK_SUCCESS) {
        fputs("consumer: LoadMft: ", stderr);
        print_text(GetMftMessage(status));
        putchar('\n');
        return 1;
    }
    entries = malloc(count * sizeof *entries);
    if (entries == NULL || GetData(entries) != TARNWICK_SUCCESS || Clear() != TARNWICK_SIZE) {
        fputs("consumer: the catalogue could not be copied out\n", stderr);
        return 1;
    }
    printf("tarnwick %s: %lu entries\n", TARNWICK_VERSION, (unsigned long)count);
    free(entries);
    return 0;
}
