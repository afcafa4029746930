#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace tarnwick::fuzz {

MemoryVolume::MemoryVolume(char letter) : letter_(letter) {
    fd_ = memfd_create("tarnwick-fuzz-volume", MFD_CLOEXEC);
    TARNWICK_FUZZ_CHECK(fd_ >= 0);
    // The platform layer opens the image by name; /proc/self/fd/N reopens
    // the memory file as a regular file.
    const std::string variable = std::string("TARNWICK_DRIVE_") + letter;
    const std::string image = "/proc/self/fd/" + std::to_string(fd_);
    TARNWICK_FUZZ_CHECK(setenv(variable.c_str(), image.c_str(), 1) == 0);
    const char16_t prefix[] = u"\\\\.\\";
    for (int i = 0; i < 4; ++i) path_[i] = prefix[i];
    path_[4] = static_cast<char16_t>(letter);
    path_[5] = u':';
    path_[6] = 0;
}

MemoryVolume::~MemoryVolume() {
    if (fd_ >= 0) close(fd_);
    const std::string variable = std::string("TARNWICK_DRIVE_") + letter_;
    unsetenv(variable.c_str());
}

void MemoryVolume::Assign(const std::uint8_t* data, std::size_t size) {
    TARNWICK_FUZZ_CHECK(ftruncate(fd_, 0) == 0);
    TARNWICK_FUZZ_CHECK(ftruncate(fd_, static_cast<off_t>(size)) == 0);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
        TARNWICK_FUZZ_CHECK(n > 0);
        done += static_cast<std::size_t>(n);
    }
}

bool Terminated(const std::uint16_t* field) {
    for (std::size_t i = 0; i < 256; ++i) {
        if (field[i] == 0) return true;
    }
    return false;
}

}  // namespace tarnwick::fuzz
