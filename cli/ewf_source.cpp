#include "ewf_source.h"

#include <algorithm>
#include <cstring>

#if defined(TARNWICK_HAVE_LIBEWF)
#include <libewf.h>

#include <mutex>
#endif

namespace tarnwick::cli {

namespace {
// "EVF", then 0x09 0x0D 0x0A 0xFF 0x00, at the start of every segment file.
constexpr std::uint8_t kEwfSignature[] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
}  // namespace

bool IsEwfSignature(std::span<const std::uint8_t> firstBytes) {
    return firstBytes.size() >= sizeof kEwfSignature &&
           std::memcmp(firstBytes.data(), kEwfSignature, sizeof kEwfSignature) == 0;
}

#if defined(TARNWICK_HAVE_LIBEWF)

namespace {

// libewf reports a chain of calls, one per line, innermost first: the first
// line says what went wrong.
std::string TakeError(libewf_error_t*& error, const char* fallback) {
    std::string text = fallback;
    if (error != nullptr) {
        char buffer[1024] = {};
        if (libewf_error_backtrace_sprint(error, buffer, sizeof buffer) > 0) {
            std::string reason(buffer, strnlen(buffer, sizeof buffer));
            reason = reason.substr(0, reason.find_first_of("\r\n"));
            if (const auto colon = reason.find(": "); colon != std::string::npos) reason = reason.substr(colon + 2);
            if (!reason.empty()) text += ": " + reason;
        }
        libewf_error_free(&error);
    }
    return text;
}

class EwfReader final : public platform::VolumeReader, public MediaErrors {
public:
    explicit EwfReader(libewf_handle_t* handle) : handle_(handle) {}
    ~EwfReader() override {
        libewf_handle_close(handle_, nullptr);
        libewf_handle_free(&handle_, nullptr);
    }
    EwfReader(const EwfReader&) = delete;
    EwfReader& operator=(const EwfReader&) = delete;

    // Reads past the media's end are the volume's business (a damaged volume
    // may point there), not a fault of the evidence file: they stop short.
    void SetSize(std::uint64_t size) { size_ = size; }

    std::size_t ReadAt(std::int64_t offset, void* out, std::size_t length) override {
        if (offset < 0 || static_cast<std::uint64_t>(offset) >= size_) return 0;
        length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - static_cast<std::uint64_t>(offset)));
        // One libewf handle keeps chunk caches and file positions of its own.
        const std::lock_guard lock(mutex_);
        auto* bytes = static_cast<std::uint8_t*>(out);
        std::size_t done = 0;
        while (done < length) {
            const auto at = static_cast<off64_t>(offset) + static_cast<off64_t>(done);
            libewf_error_t* error = nullptr;
            const ssize_t n = libewf_handle_read_random(handle_, bytes + done, length - done, at, &error);
            if (n < 0 && !firstError_) {
                firstError_ = TakeError(error, ("damaged E01 evidence file: media byte " + std::to_string(at) +
                                                " cannot be read").c_str());
            }
            if (error != nullptr) libewf_error_free(&error);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

    std::optional<std::string> FirstReadError() const override {
        const std::lock_guard lock(mutex_);
        return firstError_;
    }

private:
    libewf_handle_t* handle_;
    std::uint64_t size_ = 0;
    mutable std::mutex mutex_;
    std::optional<std::string> firstError_;
};

}  // namespace

bool EwfSupported() { return true; }

std::optional<std::string> OpenEwf(const std::string& path, std::shared_ptr<platform::VolumeReader>& media,
                                   std::shared_ptr<const MediaErrors>& errors, std::uint64_t& mediaSize) {
    libewf_error_t* error = nullptr;
    char** segments = nullptr;
    int segmentCount = 0;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &segments, &segmentCount, &error) != 1) {
        return TakeError(error, "damaged E01 evidence file: its segment files cannot be found");
    }
    libewf_handle_t* handle = nullptr;
    if (libewf_handle_initialize(&handle, &error) != 1) {
        libewf_glob_free(segments, segmentCount, nullptr);
        return TakeError(error, "cannot read E01 evidence files");
    }
    const int opened = libewf_handle_open(handle, segments, segmentCount, LIBEWF_OPEN_READ, &error);
    libewf_glob_free(segments, segmentCount, nullptr);
    if (opened != 1) {
        libewf_handle_free(&handle, nullptr);
        return TakeError(error, "damaged E01 evidence file");
    }
    auto reader = std::make_shared<EwfReader>(handle);
    size64_t size = 0;
    if (libewf_handle_get_media_size(handle, &size, &error) != 1) {
        return TakeError(error, "damaged E01 evidence file: no media size");
    }
    // A segment cut off after its file header opens as media of no bytes;
    // read on, it would pass for a volume that is not NTFS.
    if (size == 0) return std::string("damaged E01 evidence file: it holds no media");
    mediaSize = size;
    reader->SetSize(size);
    errors = reader;
    media = std::move(reader);
    return std::nullopt;
}

#else

bool EwfSupported() { return false; }

std::optional<std::string> OpenEwf(const std::string&, std::shared_ptr<platform::VolumeReader>&,
                                   std::shared_ptr<const MediaErrors>&, std::uint64_t&) {
    return std::string("an E01 evidence file, and this tarnwick was built without libewf");
}

#endif

}  // namespace tarnwick::cli
