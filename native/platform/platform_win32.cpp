// The Win32 side of the platform seam: each operation is one Windows call
// with fixed arguments, so the library reads the raw volume on Windows exactly
// as its callers expect (shared, read-only, through the system cache).
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> maps GetDriveType to GetDriveTypeW; the seam's own function
// keeps its name.

#include <atomic>

namespace tarnwick::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");
static_assert(sizeof(RawHandle) == sizeof(HANDLE), "a raw handle holds a HANDLE");

namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// Every access right of a process object (PROCESS_ALL_ACCESS of current
// systems); the working-set call itself needs only PROCESS_SET_QUOTA.
constexpr DWORD kProcessAllAccess = 0x1FFFFF;

std::atomic<DebugSink> installedSink{nullptr};

}  // namespace

RawHandle OpenVolume(const char16_t* volumePath) {
    // No FILE_FLAG_NO_BUFFERING and no overlapped mode: reads go through the
    // system cache, and the volume stays open to other readers and writers.
    const HANDLE handle = CreateFileW(Wide(volumePath), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle;  // INVALID_HANDLE_VALUE is InvalidHandle(): all bits set
}

void CloseVolume(RawHandle handle) {
    // A failed open holds INVALID_HANDLE_VALUE, which was never opened (the
    // same bits name the current process's pseudo-handle).
    if (handle == nullptr || handle == InvalidHandle()) return;
    CloseHandle(handle);
}

bool SetPosition(RawHandle handle, std::int64_t offset, std::uint64_t /*sequentialBytes*/) {
    // The system cache already reads ahead for a sequential handle.
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return SetFilePointerEx(handle, distance, nullptr, FILE_BEGIN) != 0;
}

bool ReadExact(RawHandle handle, void* buffer, std::uint32_t length) {
    DWORD read = 0;
    if (ReadFile(handle, buffer, length, &read, nullptr) == 0) return false;
    // Fewer bytes than asked (the end of a truncated image) would leave the
    // rest of the buffer holding the previous record.
    return read == length;
}

bool ReadExactAt(RawHandle handle, std::int64_t offset, void* buffer, std::uint32_t length) {
    if (offset < 0) return false;
    // On a handle opened for synchronous reads the offset in OVERLAPPED is
    // where this read starts, whatever the handle's own position.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD read = 0;
    if (ReadFile(handle, buffer, length, &read, &at) == 0) return false;
    return read == length;
}

std::uint8_t* ReadInPlace(RawHandle handle, std::uint8_t* fallback, std::uint32_t length) {
    return ReadExact(handle, fallback, length) ? fallback : nullptr;
}

std::uint32_t DriveTypeOf(const char16_t* rootPath) { return GetDriveTypeW(Wide(rootPath)); }

std::int64_t PerformanceCounter() {
    LARGE_INTEGER now;
    now.QuadPart = 0;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::int64_t PerformanceFrequency() {
    LARGE_INTEGER frequency;
    frequency.QuadPart = 0;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

void TrimWorkingSet() {
    // Nothing here is examined: a process that may not trim itself just keeps
    // its pages.
    const HANDLE process = OpenProcess(kProcessAllAccess, FALSE, GetCurrentProcessId());
    SetProcessWorkingSetSize(process, static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
    if (process != nullptr) CloseHandle(process);
}

void DebugOutput(const char16_t* text) {
    const DebugSink sink = installedSink.load();
    if (sink != nullptr) {
        sink(text);
        return;
    }
    OutputDebugStringW(Wide(text));
}

void SetDebugSink(DebugSink sink) { installedSink.store(sink); }

void* AllocateZeroedPages(std::size_t bytes) {
    // Freshly committed pages read as zero.
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreePages(void* pages, std::size_t /*bytes*/) {
    if (pages != nullptr) VirtualFree(pages, 0, MEM_RELEASE);
}

// Committed pages are backed on first touch; Win32 has no call to do it
// ahead without touching them.
void PrefaultPages(void* /*pages*/, std::size_t /*bytes*/) {}

}  // namespace tarnwick::platform
