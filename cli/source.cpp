#include "source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarnwick::cli {

namespace {

std::string DriveVariable(char letter) { return std::string("TARNWICK_DRIVE_") + letter; }

std::string ErrnoText(int error) {
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::string DeniedText(bool device) {
    if (device) return "permission denied: reading a raw device needs root or membership of the disk group";
    return "permission denied";
}

}  // namespace

bool IsDriveLetter(std::string_view argument) {
    if (argument.size() == 2 && argument[1] != ':') return false;
    if (argument.size() != 1 && argument.size() != 2) return false;
    return std::isalpha(static_cast<unsigned char>(argument[0])) != 0;
}

std::optional<std::string> ResolveSource(std::string_view argument, Source& source) {
    source.label = std::string(argument);
    if (argument.empty()) return std::string("no such file or device");
    if (IsDriveLetter(argument)) {
        source.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(argument[0])));
        const std::string variable = DriveVariable(source.letter);
        const char* value = std::getenv(variable.c_str());
        if (value == nullptr || *value == '\0') {
            return variable + " is not set (set it to a device or image, or name the device or image itself)";
        }
        source.path = value;
        return std::nullopt;
    }
    source.path = std::string(argument);
    for (char letter = 'Z'; letter >= 'A'; --letter) {
        const std::string variable = DriveVariable(letter);
        const char* value = std::getenv(variable.c_str());
        if (value != nullptr && *value != '\0') continue;
        if (setenv(variable.c_str(), source.path.c_str(), 1) != 0) return ErrnoText(errno);
        source.letter = letter;
        return std::nullopt;
    }
    return std::string("no free drive letter: every TARNWICK_DRIVE_A to TARNWICK_DRIVE_Z is set");
}

std::optional<std::string> CheckReadable(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return std::string("no such file or device");
        if (error == EACCES) return DeniedText(false);
        return ErrnoText(error);
    }
    if (S_ISDIR(info.st_mode)) return std::string("is a directory, not a device or volume image");
    const bool device = S_ISBLK(info.st_mode);
    // Opening a FIFO or a terminal could block or consume input: only
    // devices and regular files are volumes.
    if (!device && !S_ISREG(info.st_mode)) return std::string("not a block device or volume image");
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) return DeniedText(device);
        return ErrnoText(error);
    }
    close(fd);
    return std::nullopt;
}

std::optional<std::string> ReadBootSector(const std::string& path, std::array<std::uint8_t, 512>& boot) {
    boot.fill(0);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ErrnoText(errno);
    std::size_t done = 0;
    while (done < boot.size()) {
        const ssize_t n = pread(fd, boot.data() + done, boot.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    return std::nullopt;
}

}  // namespace tarnwick::cli
