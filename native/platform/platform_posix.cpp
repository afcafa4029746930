// The POSIX stand-in for the Win32 calls. Drive letter X names the block
// device or volume image in the environment variable TARNWICK_DRIVE_X; a
// volume inside a whole disk is named by TARNWICK_DRIVE_X_OFFSET (its first
// byte in the disk) and, optionally, TARNWICK_DRIVE_X_LENGTH.
#include "platform/platform.h"
#include "platform/utf16.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tarnwick::platform {

namespace {

// Values GetDriveTypeW reports.
constexpr std::uint32_t kDriveUnknown = 0;
constexpr std::uint32_t kDriveNoRootDir = 1;
constexpr std::uint32_t kDriveRemovable = 2;

// One system call costs about as much as copying a few hundred KiB here, so
// sequential reads are served from a buffer filled a megabyte at a time.
constexpr std::size_t kReadAheadLimit = 1 << 20;

// Read-ahead storage that starts on a cache line: the system copies into a
// buffer that starts off one (as the heap's do, 16 bytes in) about a third
// slower. Its bytes are not kept when it grows.
class ReadAheadBuffer {
public:
    unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    void Grow(std::size_t bytes) {
        if (bytes <= size_) return;
        raw_.reset(new unsigned char[bytes + kLine - 1]);
        const auto address = reinterpret_cast<std::uintptr_t>(raw_.get());
        data_ = raw_.get() + ((kLine - address % kLine) % kLine);
        size_ = bytes;
    }

private:
    static constexpr std::size_t kLine = 64;
    std::unique_ptr<unsigned char[]> raw_;
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

struct Volume {
    int fd = -1;
    std::shared_ptr<VolumeReader> reader;  // instead of fd when set
    std::int64_t base = 0;                 // of the volume in the file or device
    std::int64_t limit = INT64_MAX;        // the volume's length
    std::int64_t position = 0;
    std::int64_t sequentialEnd = 0;  // end of the run the caller announced
    ReadAheadBuffer ahead;
    std::int64_t aheadStart = 0;   // volume offset of ahead[0]
    std::size_t aheadLength = 0;
    // Bytes before this offset were handed out in place and may have been
    // changed there: they are never served again.
    std::int64_t aheadFrom = 0;
};

// "\\.\X:" or "\\.\X:\" -> 'X'; 0 for anything else.
char DriveLetter(const char16_t* path) {
    if (path == nullptr) return 0;
    const std::u16string_view p(path);
    if (p.size() < 6 || p.substr(0, 4) != u"\\\\.\\" || p[5] != u':') return 0;
    if (p.size() > 7 || (p.size() == 7 && p[6] != u'\\')) return 0;
    const char16_t letter = p[4];
    return (letter >= u'A' && letter <= u'Z') ? static_cast<char>(letter) : 0;
}

const char* DriveVariable(char letter, const char* suffix) {
    const std::string name = std::string("TARNWICK_DRIVE_") + letter + suffix;
    const char* value = std::getenv(name.c_str());
    return (value != nullptr && *value != '\0') ? value : nullptr;
}

const char* DevicePathFor(const char16_t* volumePath) {
    const char letter = DriveLetter(volumePath);
    return letter == 0 ? nullptr : DriveVariable(letter, "");
}

// A byte count of the drive's _OFFSET or _LENGTH variable: `fallback` when
// unset, false when set to anything but a plain decimal number.
bool DriveBytes(const char16_t* volumePath, const char* suffix, std::int64_t fallback, std::int64_t& bytes) {
    bytes = fallback;
    const char* text = DriveVariable(DriveLetter(volumePath), suffix);
    if (text == nullptr) return true;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || *text < '0' || *text > '9') return false;
    bytes = value;
    return true;
}

bool ReadFlag(const std::string& path) {
    std::ifstream in(path);
    int value = 0;
    return (in >> value) && value != 0;
}

bool IsRemovableBlockDevice(dev_t device) {
    const std::string sys = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    char resolved[PATH_MAX];
    if (realpath(sys.c_str(), resolved) == nullptr) return false;
    const std::string dir(resolved);
    if (access((dir + "/partition").c_str(), F_OK) == 0) {
        return ReadFlag(dir.substr(0, dir.rfind('/')) + "/removable");
    }
    return ReadFlag(dir + "/removable");
}

// Reads until `length` bytes arrived or the end of the volume; returns the count.
std::size_t ReadAt(const Volume* volume, std::int64_t offset, unsigned char* out, std::size_t length) {
    if (volume->reader) return std::min(volume->reader->ReadAt(offset, out, length), length);
    if (offset >= volume->limit) return 0;
    length = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(length), volume->limit - offset));
    if (offset > INT64_MAX - volume->base) return 0;
    offset += volume->base;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n =
            pread(volume->fd, out + done, length - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void StandardErrorSink(const char16_t* text) {
    static const bool enabled = [] {
        const char* value = std::getenv("TARNWICK_DEBUG");
        return value != nullptr && *value != '\0';
    }();
    if (!enabled || text == nullptr) return;
    const std::string utf8 = Utf16ToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

std::atomic<DebugSink> installedSink{nullptr};

}  // namespace

RawHandle OpenVolume(const char16_t* volumePath) {
    const char* device = DevicePathFor(volumePath);
    if (device == nullptr) return InvalidHandle();
    std::int64_t base = 0;
    std::int64_t limit = 0;
    if (!DriveBytes(volumePath, "_OFFSET", 0, base) || !DriveBytes(volumePath, "_LENGTH", INT64_MAX, limit)) {
        return InvalidHandle();
    }
    const int fd = open(device, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return InvalidHandle();
    auto* volume = new (std::nothrow) Volume;
    if (volume == nullptr) {
        close(fd);
        return InvalidHandle();
    }
    volume->fd = fd;
    volume->base = base;
    volume->limit = limit;
    return volume;
}

RawHandle OpenReader(std::shared_ptr<VolumeReader> reader) {
    if (!reader) return InvalidHandle();
    auto* volume = new (std::nothrow) Volume;
    if (volume == nullptr) return InvalidHandle();
    volume->reader = std::move(reader);
    return volume;
}

void CloseVolume(RawHandle handle) {
    if (handle == nullptr || handle == InvalidHandle()) return;
    auto* volume = static_cast<Volume*>(handle);
    if (volume->fd >= 0) close(volume->fd);
    delete volume;
}

bool SetPosition(RawHandle handle, std::int64_t offset, std::uint64_t sequentialBytes) {
    if (handle == nullptr || handle == InvalidHandle() || offset < 0) return false;
    auto* volume = static_cast<Volume*>(handle);
    volume->position = offset;
    const auto room = static_cast<std::uint64_t>(INT64_MAX - offset);
    volume->sequentialEnd = offset + static_cast<std::int64_t>(std::min(sequentialBytes, room));
    return true;
}

namespace {

// The `length` bytes at the position when the read-ahead holds them, reading
// ahead first when the caller announced more; the position moves past what
// was read. nullptr with `got` set when they are not (all) there: `got` bytes
// from the position lie in the read-ahead, or none when it was not used.
unsigned char* ServeAhead(Volume* volume, std::uint32_t length, std::size_t& got) {
    const std::int64_t start = volume->position;
    got = 0;
    const std::int64_t aheadEnd = volume->aheadStart + static_cast<std::int64_t>(volume->aheadLength);
    if (start >= volume->aheadFrom && start + length <= aheadEnd) {
        volume->position += length;
        got = length;
        return volume->ahead.data() + (start - volume->aheadStart);
    }
    const std::int64_t announced = volume->sequentialEnd - start;
    if (announced <= static_cast<std::int64_t>(length)) return nullptr;
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(announced, kReadAheadLimit));
    if (want <= length) return nullptr;
    volume->ahead.Grow(std::max(want, std::size_t{64} << 10));
    volume->aheadStart = start;
    volume->aheadFrom = start;
    volume->aheadLength = ReadAt(volume, start, volume->ahead.data(), want);
    got = std::min<std::size_t>(volume->aheadLength, length);
    volume->position += static_cast<std::int64_t>(got);
    return got == length ? volume->ahead.data() : nullptr;
}

}  // namespace

bool ReadExact(RawHandle handle, void* buffer, std::uint32_t length) {
    if (handle == nullptr || handle == InvalidHandle()) return false;
    auto* volume = static_cast<Volume*>(handle);
    auto* out = static_cast<unsigned char*>(buffer);
    const std::int64_t start = volume->position;
    std::size_t got = 0;
    const unsigned char* held = ServeAhead(volume, length, got);
    if (held != nullptr || got > 0) {
        std::memcpy(out, volume->ahead.data() + (start - volume->aheadStart), got);
        return got == length;
    }
    got = ReadAt(volume, start, out, length);
    volume->position += static_cast<std::int64_t>(got);
    return got == length;
}

bool ReadExactAt(RawHandle handle, std::int64_t offset, void* buffer, std::uint32_t length) {
    if (handle == nullptr || handle == InvalidHandle() || offset < 0) return false;
    return ReadAt(static_cast<const Volume*>(handle), offset, static_cast<unsigned char*>(buffer), length) == length;
}

std::uint8_t* ReadInPlace(RawHandle handle, std::uint8_t* fallback, std::uint32_t length) {
    if (handle == nullptr || handle == InvalidHandle()) return nullptr;
    auto* volume = static_cast<Volume*>(handle);
    const std::int64_t start = volume->position;
    std::size_t got = 0;
    if (unsigned char* held = ServeAhead(volume, length, got); held != nullptr) {
        volume->aheadFrom = start + length;
        return held;
    }
    if (got > 0) return nullptr;
    got = ReadAt(volume, start, fallback, length);
    volume->position += static_cast<std::int64_t>(got);
    return got == length ? fallback : nullptr;
}

std::uint32_t DriveTypeOf(const char16_t* rootPath) {
    const char letter = DriveLetter(rootPath);
    if (letter == 0) return kDriveNoRootDir;
    const char* device = DevicePathFor(rootPath);
    if (device == nullptr) return kDriveNoRootDir;
    struct stat info {};
    if (stat(device, &info) != 0) return kDriveNoRootDir;
    if (S_ISREG(info.st_mode)) return kDriveFixed;
    if (S_ISBLK(info.st_mode)) return IsRemovableBlockDevice(info.st_rdev) ? kDriveRemovable : kDriveFixed;
    return kDriveUnknown;
}

std::int64_t PerformanceCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::int64_t PerformanceFrequency() { return 1000000000; }

void TrimWorkingSet() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void DebugOutput(const char16_t* text) {
    const DebugSink sink = installedSink.load();
    (sink != nullptr ? sink : StandardErrorSink)(text);
}

void SetDebugSink(DebugSink sink) { installedSink.store(sink); }

void* AllocateZeroedPages(std::size_t bytes) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
#if defined(MADV_HUGEPAGE)
    madvise(pages, bytes, MADV_HUGEPAGE);
#endif
    return pages;
}

void FreePages(void* pages, std::size_t bytes) {
    if (pages != nullptr) munmap(pages, bytes);
}

void PrefaultPages(void* pages, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
    // Whole pages from the one holding `pages`; a kernel before 5.14
    // refuses and the pages fault in when written, as without the hint.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(pages) / page * page;
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(pages) + bytes;
    if (bytes != 0) madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
    (void)pages;
    (void)bytes;
#endif
}

}  // namespace tarnwick::platform
