// The seam between the library and the operating system: exactly the calls
// the load needs. Win32 builds map them one to one onto the Windows API;
// POSIX builds stand in for them over block devices and volume images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tarnwick::platform {

// An open volume. On Windows a HANDLE; elsewhere an opaque object of the
// POSIX layer. InvalidHandle() (all bits set) marks a failed open, as
// INVALID_HANDLE_VALUE does.
using RawHandle = void*;
inline RawHandle InvalidHandle() { return reinterpret_cast<RawHandle>(~std::uintptr_t{0}); }

// Opens a volume path of the form \\.\X: for shared reading (never writing).
RawHandle OpenVolume(const char16_t* volumePath);
void CloseVolume(RawHandle handle);

#if !defined(_WIN32)
// A volume that is not a file or device of its own: a partition inside a
// disk image, or the media of an evidence file. Reads may come from several
// threads at once when several handles share one reader.
class VolumeReader {
public:
    virtual ~VolumeReader() = default;
    // Reads up to `length` bytes at `offset` from the volume's first byte;
    // returns how many arrived. Fewer at the end of the volume or on an error.
    virtual std::size_t ReadAt(std::int64_t offset, void* out, std::size_t length) = 0;
};

// A handle that reads through `reader`, with the same read-ahead and in-place
// reads as a device; CloseVolume releases it. InvalidHandle() for no reader.
RawHandle OpenReader(std::shared_ptr<VolumeReader> reader);
#endif

// Moves the handle to an absolute byte offset. `sequentialBytes` tells how
// many bytes the caller means to read from there one after the other; a
// layer may read ahead that far (the Win32 layer ignores it). False on failure.
bool SetPosition(RawHandle handle, std::int64_t offset, std::uint64_t sequentialBytes = 0);

// Reads exactly `length` bytes from the current position, which then advances
// by the bytes read. A failed or short read returns false: the bytes beyond a
// short read would otherwise be stale data from an earlier read.
bool ReadExact(RawHandle handle, void* buffer, std::uint32_t length);

// Reads exactly `length` bytes at `offset`, whatever the position, so that
// several threads may read one handle at once. Where ReadExact then goes on
// from is not defined. False on a failed or short read.
bool ReadExactAt(RawHandle handle, std::int64_t offset, void* buffer, std::uint32_t length);

// Reads exactly `length` bytes from the current position like ReadExact, but
// where it is cheapest: a layer that holds them already (read ahead) hands
// out its own storage instead of copying them; otherwise they are read into
// `fallback` (room for `length` bytes). The bytes may be changed in place and
// stay valid until the next call on the handle; the layer never serves
// bytes it handed out again. nullptr on a failed or short read.
std::uint8_t* ReadInPlace(RawHandle handle, std::uint8_t* fallback, std::uint32_t length);

// Drive type of a root path \\.\X:\ as GetDriveTypeW reports it; 3 is fixed.
inline constexpr std::uint32_t kDriveFixed = 3;
std::uint32_t DriveTypeOf(const char16_t* rootPath);

std::int64_t PerformanceCounter();
std::int64_t PerformanceFrequency();

// Asks the system to take back as many of the process's resident pages as it
// can. The outcome is never examined.
void TrimWorkingSet();

// The debug-output channel. Tests may install their own sink to capture the
// exact text; nullptr restores the platform's own.
void DebugOutput(const char16_t* text);
using DebugSink = void (*)(const char16_t* text);
void SetDebugSink(DebugSink sink);

// Large zero-filled storage for catalogue entries, served from big mappings
// because a first touch of small heap blocks is several times slower.
void* AllocateZeroedPages(std::size_t bytes);
void FreePages(void* pages, std::size_t bytes);
// Has the system back [pages, pages + bytes) of such storage with memory
// now, so that the first write there does not stop for it; another thread
// may do that beforehand. Only a hint: the bytes never change, a range the
// system cannot back (or no longer mapped) is left as it is.
void PrefaultPages(void* pages, std::size_t bytes);

}  // namespace tarnwick::platform
