/* Tarnwick: a flat catalogue of every file and directory of an NTFS volume,
 * read straight from the raw volume.
 *
 * Usage: LoadMft, then either GetData (copies the catalogue out and releases
 * it) or GetPointer + reading the entries in place + Clear. Calls that touch
 * the catalogue must be serialised by the caller; GetMftMessage may run on any
 * thread. On Linux, drive letter X names the device or image given by the
 * environment variable TARNWICK_DRIVE_X. */
#ifndef TARNWICK_H
#define TARNWICK_H

#include <stddef.h>
#include <stdint.h>

/* The one version number of the library. The build reads it from here for the
 * shared library's soname, the packages and `tarnwick --version`; the major
 * number changes only when a program built against an older header could no
 * longer load this library. */
#define TARNWICK_VERSION_MAJOR 1
#define TARNWICK_VERSION_MINOR 0
#define TARNWICK_VERSION_PATCH 0
#define TARNWICK_VERSION_TEXT_(major, minor, patch) #major "." #minor "." #patch
#define TARNWICK_VERSION_TEXT(major, minor, patch) TARNWICK_VERSION_TEXT_(major, minor, patch)
/* "major.minor.patch" */
#define TARNWICK_VERSION \
    TARNWICK_VERSION_TEXT(TARNWICK_VERSION_MAJOR, TARNWICK_VERSION_MINOR, TARNWICK_VERSION_PATCH)

#if defined(_WIN32)
#  define TARNWICK_CALL __stdcall
#  if defined(TARNWICK_BUILDING)
#    define TARNWICK_API __declspec(dllexport)
#  else
#    define TARNWICK_API __declspec(dllimport)
#  endif
#else
#  define TARNWICK_CALL
#  define TARNWICK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes returned by the exports; GetMftMessage gives their texts. The
 * library's own table of texts is keyed by these names, so a value is set here
 * and nowhere else. */
enum TarnwickStatus {
    TARNWICK_SUCCESS = 0,
    TARNWICK_CONTINUE = 1,
    TARNWICK_ERROR = -1,
    TARNWICK_SIZE = -100,             /* LoadMft: catalogue not empty; others: catalogue empty */
    TARNWICK_SIZE_NO_ENTRY = -101,    /* the pass produced no entry */
    TARNWICK_SIZE_ALL_DROPPED = -102, /* nothing left after duplicate removal */
    TARNWICK_DRIVE_TYPE = -103,       /* not a fixed drive */
    TARNWICK_OPEN_FILE = -104,
    TARNWICK_OPEN_FILE2 = -105,
    TARNWICK_READ_BOOT = -106,
    TARNWICK_PARSE_BOOT = -107,
    TARNWICK_MOVE_FILE = -108,
    TARNWICK_MOVE_FILE2 = -109,
    TARNWICK_READ_MFT = -110,
    TARNWICK_READ_MFT2 = -111,
    TARNWICK_PARSE_ENTRY = -112,
    TARNWICK_READ_AND_PARSE_INDX = -113,
    TARNWICK_UNEXPECTED = -1000,
    TARNWICK_UNEXPECTED2 = -1001,
    TARNWICK_UNEXPECTED3 = -1002,
    TARNWICK_UNEXPECTED4 = -1003,
    TARNWICK_UNEXPECTED5 = -1004
};

/* One catalogue entry as the library holds it (1096 bytes). GetPointer hands
 * out addresses of these; they stay valid until Clear. Texts are UTF-16LE,
 * NUL-terminated within 256 units. Times are NTFS ticks (100 ns since
 * 1601-01-01 UTC), sizes are bytes. */
typedef struct ResultRecord_Internal {
    int32_t parentId;
    uint16_t parentName[256];
    int32_t id;
    uint16_t name[256];
    int32_t nameSpace; /* 0 POSIX, 1 Win32, 3 Win32 and DOS */
    int32_t reserved;
    int64_t allocatedSize;
    int64_t actualSize;
    int64_t creationTime;
    int64_t modificationTime;
    int64_t mftModificationTime;
    int64_t accessTime;
    int32_t flag; /* bit 0 in use, bit 1 directory */
    int32_t duplicate;
} ResultRecord_Internal;

/* One catalogue entry as GetData writes it (1088 bytes). Bytes after each
 * text's terminator and the final 4 bytes keep what the caller's buffer held. */
typedef struct ResultRecord_Export {
    int32_t parentId;
    uint16_t parentName[256];
    int32_t id;
    uint16_t name[256];
    int64_t allocatedSize;
    int64_t actualSize;
    int64_t creationTime;
    int64_t modificationTime;
    int64_t mftModificationTime;
    int64_t accessTime;
    int32_t flag;
    int32_t reserved;
} ResultRecord_Export;

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(ResultRecord_Internal) == 1096, "ResultRecord_Internal is 1096 bytes");
static_assert(alignof(ResultRecord_Internal) == 8, "ResultRecord_Internal is 8-aligned");
static_assert(offsetof(ResultRecord_Internal, parentName) == 4, "layout");
static_assert(offsetof(ResultRecord_Internal, id) == 516, "layout");
static_assert(offsetof(ResultRecord_Internal, name) == 520, "layout");
static_assert(offsetof(ResultRecord_Internal, nameSpace) == 1032, "layout");
static_assert(offsetof(ResultRecord_Internal, allocatedSize) == 1040, "layout");
static_assert(offsetof(ResultRecord_Internal, actualSize) == 1048, "layout");
static_assert(offsetof(ResultRecord_Internal, creationTime) == 1056, "layout");
static_assert(offsetof(ResultRecord_Internal, modificationTime) == 1064, "layout");
static_assert(offsetof(ResultRecord_Internal, mftModificationTime) == 1072, "layout");
static_assert(offsetof(ResultRecord_Internal, accessTime) == 1080, "layout");
static_assert(offsetof(ResultRecord_Internal, flag) == 1088, "layout");
static_assert(offsetof(ResultRecord_Internal, duplicate) == 1092, "layout");
static_assert(sizeof(ResultRecord_Export) == 1088, "ResultRecord_Export is 1088 bytes");
static_assert(alignof(ResultRecord_Export) == 8, "ResultRecord_Export is 8-aligned");
static_assert(offsetof(ResultRecord_Export, id) == 516, "layout");
static_assert(offsetof(ResultRecord_Export, name) == 520, "layout");
static_assert(offsetof(ResultRecord_Export, allocatedSize) == 1032, "layout");
static_assert(offsetof(ResultRecord_Export, actualSize) == 1040, "layout");
static_assert(offsetof(ResultRecord_Export, creationTime) == 1048, "layout");
static_assert(offsetof(ResultRecord_Export, modificationTime) == 1056, "layout");
static_assert(offsetof(ResultRecord_Export, mftModificationTime) == 1064, "layout");
static_assert(offsetof(ResultRecord_Export, accessTime) == 1072, "layout");
static_assert(offsetof(ResultRecord_Export, flag) == 1080, "layout");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(ResultRecord_Internal) == 1096, "ResultRecord_Internal is 1096 bytes");
_Static_assert(offsetof(ResultRecord_Internal, flag) == 1088, "layout");
_Static_assert(sizeof(ResultRecord_Export) == 1088, "ResultRecord_Export is 1088 bytes");
_Static_assert(offsetof(ResultRecord_Export, flag) == 1080, "layout");
#endif

/* Loads the catalogue of drive `drive` (0 is A:, 2 is C:). On 0, *count holds
 * the number of entries (at least 1); on failure *count is not written. A load
 * that fails after adding entries leaves them; call Clear before the next. */
TARNWICK_API int32_t TARNWICK_CALL LoadMft(uint32_t drive, size_t* count);

/* Copies every entry into `buffer` (room for count * 1088 bytes, owned by the
 * caller), then releases the catalogue. -100 when the catalogue is empty. */
TARNWICK_API int32_t TARNWICK_CALL GetData(ResultRecord_Export* buffer);

/* Stores the address of every entry into `entries` (room for count
 * addresses). The entries belong to the library and stay valid until Clear.
 * -100 when the catalogue is empty. */
TARNWICK_API int32_t TARNWICK_CALL GetPointer(ResultRecord_Internal** entries);

/* Releases the catalogue. -100 when it is already empty. */
TARNWICK_API int32_t TARNWICK_CALL Clear(void);

/* The constant UTF-16 text of any status code; never NULL, never freed. */
TARNWICK_API const uint16_t* TARNWICK_CALL GetMftMessage(int32_t code);

#ifdef __cplusplus
}
#endif

#endif
