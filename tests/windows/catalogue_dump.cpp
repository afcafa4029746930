// Loads the catalogue of one drive through the five exports, as a native
// caller does, and prints it one entry per line, so that the Windows and the
// Linux builds can be compared byte for byte on the same volume image.
//
//   tarnwick_catalogue_dump LETTER      e.g. tarnwick_catalogue_dump X
//
// On the way it checks what only a caller across the library boundary sees:
// the exports bind by name and by ordinal to the same functions (Windows),
// GetPointer and GetData hand out the same entries, GetData leaves the
// caller's bytes after each record's fields alone, and the catalogue's
// states move as the interface says. Exit status: 0 catalogue printed,
// 2 usage, 3 library or exports missing, 4 LoadMft failed (status on
// stderr), 5 the interface broke one of its promises.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tarnwick.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

using LoadMftFunction = int32_t(TARNWICK_CALL*)(uint32_t, size_t*);
using GetDataFunction = int32_t(TARNWICK_CALL*)(ResultRecord_Export*);
using GetPointerFunction = int32_t(TARNWICK_CALL*)(ResultRecord_Internal**);
using ClearFunction = int32_t(TARNWICK_CALL*)();
using GetMftMessageFunction = const uint16_t*(TARNWICK_CALL*)(int32_t);

struct Exports {
    ClearFunction clear = nullptr;
    GetDataFunction getData = nullptr;
    GetMftMessageFunction getMftMessage = nullptr;
    GetPointerFunction getPointer = nullptr;
    LoadMftFunction loadMft = nullptr;
};

#if defined(_WIN32)
template <typename Function>
bool Bind(HMODULE library, const char* name, WORD ordinal, Function& out) {
    const FARPROC byName = GetProcAddress(library, name);
    const FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
    if (byName == nullptr || byName != byOrdinal) {
        std::fprintf(stderr, "export %s: by name %p, by ordinal %u %p\n", name, reinterpret_cast<void*>(byName),
                     static_cast<unsigned>(ordinal), reinterpret_cast<void*>(byOrdinal));
        return false;
    }
    out = reinterpret_cast<Function>(reinterpret_cast<void*>(byName));
    return true;
}

// The names a caller of this build's DLL links against: decorated
// standard-call names in 32-bit x86, plain names in x64.
bool BindExports(Exports& exports) {
    const HMODULE library = LoadLibraryW(L"Tarnwick.dll");
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load Tarnwick.dll (error %lu)\n", GetLastError());
        return false;
    }
#if defined(__i386__) || defined(_M_IX86)
    return Bind(library, "_Clear@0", 1, exports.clear) && Bind(library, "_GetData@4", 2, exports.getData) &&
           Bind(library, "_GetMftMessage@4", 3, exports.getMftMessage) &&
           Bind(library, "_GetPointer@4", 4, exports.getPointer) && Bind(library, "_LoadMft@8", 5, exports.loadMft);
#else
    return Bind(library, "Clear", 1, exports.clear) && Bind(library, "GetData", 2, exports.getData) &&
           Bind(library, "GetMftMessage", 3, exports.getMftMessage) &&
           Bind(library, "GetPointer", 4, exports.getPointer) && Bind(library, "LoadMft", 5, exports.loadMft);
#endif
}
#else
bool BindExports(Exports& exports) {
    exports = {Clear, GetData, GetMftMessage, GetPointer, LoadMft};
    return true;
}
#endif

// A NUL-terminated UTF-16 field of 256 units as UTF-8; unpaired surrogates
// become U+FFFD. A field with no terminator is reported, not overrun.
std::string Utf8(const uint16_t* text) {
    std::string out;
    std::size_t i = 0;
    for (; i < 256 && text[i] != 0; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < 256 && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    if (i == 256) out += "<unterminated>";
    return out;
}

// The fields both record layouts carry, so a line reads the same whether it
// came from GetPointer or from GetData.
template <typename Record>
std::string Line(const Record& r) {
    std::string line;
    for (const long long value : {static_cast<long long>(r.id), static_cast<long long>(r.parentId),
                                  static_cast<long long>(r.flag), static_cast<long long>(r.allocatedSize),
                                  static_cast<long long>(r.actualSize), static_cast<long long>(r.creationTime),
                                  static_cast<long long>(r.modificationTime),
                                  static_cast<long long>(r.mftModificationTime), static_cast<long long>(r.accessTime)}) {
        line += std::to_string(value);
        line += '\t';
    }
    line += Utf8(r.name);
    line += '\t';
    line += Utf8(r.parentName);
    line += '\n';
    return line;
}

int Broken(const char* what) {
    std::fprintf(stderr, "interface check failed: %s\n", what);
    return 5;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strlen(argv[1]) != 1 || argv[1][0] < 'A' || argv[1][0] > 'Z') {
        std::fprintf(stderr, "usage: %s DRIVE-LETTER (A to Z)\n", argv[0]);
        return 2;
    }
    const auto drive = static_cast<uint32_t>(argv[1][0] - 'A');

    Exports api;
    if (!BindExports(api)) return 3;

    if (api.clear() != TARNWICK_SIZE) return Broken("Clear on a fresh library did not report an empty catalogue");

    const size_t untouched = 0xC0FFEE;
    size_t count = untouched;
    const int32_t status = api.loadMft(drive, &count);
    if (status != TARNWICK_SUCCESS) {
        std::fprintf(stderr, "LoadMft: %d %s\n", static_cast<int>(status), Utf8(api.getMftMessage(status)).c_str());
        if (count != untouched) return Broken("a failed LoadMft wrote the count");
        api.clear();
        return 4;
    }
    if (count == 0) return Broken("LoadMft succeeded with no entry");

    size_t again = untouched;
    if (api.loadMft(drive, &again) != TARNWICK_SIZE || again != untouched) {
        return Broken("LoadMft on a loaded catalogue did not refuse with -100 and leave the count alone");
    }

    std::vector<ResultRecord_Internal*> first(count, nullptr);
    std::vector<ResultRecord_Internal*> second(count, nullptr);
    if (api.getPointer(first.data()) != TARNWICK_SUCCESS || api.getPointer(second.data()) != TARNWICK_SUCCESS) {
        return Broken("GetPointer failed on a loaded catalogue");
    }
    if (first != second) return Broken("two GetPointer calls gave different addresses");
    std::string viaPointers;
    for (const ResultRecord_Internal* entry : first) {
        if (entry->duplicate != 0) return Broken("an entry handed out is still marked duplicate");
        viaPointers += Line(*entry);
    }
    if (api.clear() != TARNWICK_SUCCESS || api.clear() != TARNWICK_SIZE) return Broken("Clear did not empty once");

    size_t reloaded = untouched;
    if (api.loadMft(drive, &reloaded) != TARNWICK_SUCCESS || reloaded != count) {
        return Broken("a second load of the same volume gave another count");
    }
    // Caller memory with a pattern: GetData must leave the bytes after each
    // text's terminator and each record's last four bytes as they were.
    constexpr unsigned char kPattern = 0xA5;
    std::vector<ResultRecord_Export> copies(count);
    std::memset(static_cast<void*>(copies.data()), kPattern, count * sizeof(ResultRecord_Export));
    if (api.getData(copies.data()) != TARNWICK_SUCCESS) return Broken("GetData failed on a loaded catalogue");
    std::string viaData;
    for (const ResultRecord_Export& record : copies) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
        for (std::size_t i = 1084; i < 1088; ++i) {
            if (bytes[i] != kPattern) return Broken("GetData wrote the last four bytes of a record");
        }
        std::size_t end = 0;
        while (end < 255 && record.name[end] != 0) ++end;
        if (end + 1 < 256 && record.name[end + 1] != 0xA5A5) return Broken("GetData wrote past a name's terminator");
        viaData += Line(record);
    }
    if (api.getData(copies.data()) != TARNWICK_SIZE || api.getPointer(first.data()) != TARNWICK_SIZE ||
        api.clear() != TARNWICK_SIZE) {
        return Broken("the catalogue was not empty after GetData");
    }
    if (viaData != viaPointers) return Broken("GetData and GetPointer delivered different catalogues");

#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);  // the lines must match the Linux build's byte for byte
#endif
    std::fwrite(viaPointers.data(), 1, viaPointers.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
