#include "test_volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/volume.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/logging.h>
}
#undef min
#undef max

namespace tarnwick::cli::test {

namespace {

std::vector<ntfschar> Units(std::u16string_view name) {
    std::vector<ntfschar> units;
    for (const char16_t c : name) units.push_back(static_cast<ntfschar>(c));  // little-endian host
    return units;
}

}  // namespace

std::optional<std::string> TestVolume::Format(const std::string& path, std::uint64_t bytes) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return "cannot create " + path + ": " + std::strerror(errno);
    const bool sized = ftruncate(fd, static_cast<off_t>(bytes)) == 0;
    close(fd);
    if (!sized) return "cannot size " + path;
    const pid_t child = fork();
    if (child < 0) return std::string("fork failed");
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        for (const char* mkntfs : {"/usr/sbin/mkntfs", "/sbin/mkntfs"}) {
            execl(mkntfs, "mkntfs", "-F", "-Q", "-q", path.c_str(), static_cast<char*>(nullptr));
        }
        execlp("mkntfs", "mkntfs", "-F", "-Q", "-q", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::string("mkntfs failed or is not installed");
    return std::nullopt;
}

TestVolume::~TestVolume() { Close(); }

bool TestVolume::Open(const std::string& path) {
    if (std::getenv("TARNWICK_TEST_NTFS_LOG") == nullptr) ntfs_log_set_handler(ntfs_log_handler_null);
    volume_ = ntfs_mount(path.c_str(), NTFS_MNT_NONE);
    return volume_ != nullptr;
}

std::uint64_t TestVolume::Create(std::uint64_t parent, std::u16string_view name, bool directory, std::string_view data) {
    if (volume_ == nullptr) return 0;
    ntfs_inode* dir = ntfs_inode_open(volume_, parent);
    if (dir == nullptr) return 0;
    std::vector<ntfschar> units = Units(name);
    ntfs_inode* node = ntfs_create(dir, const_cpu_to_le32(0), units.data(), static_cast<u8>(units.size()),
                                   directory ? S_IFDIR : S_IFREG);
    std::uint64_t record = 0;
    if (node != nullptr) {
        record = node->mft_no;
        if (!data.empty()) {
            ntfs_attr* stream = ntfs_attr_open(node, AT_DATA, AT_UNNAMED, 0);
            if (stream == nullptr || ntfs_attr_pwrite(stream, 0, static_cast<s64>(data.size()), data.data()) != static_cast<s64>(data.size())) {
                record = 0;
            }
            if (stream != nullptr) ntfs_attr_close(stream);
        }
        // Closing updates the name's entry in the open parent: that must go
        // through the parent's own inode, not a second copy of it.
        if (ntfs_inode_close_in_dir(node, dir) != 0) record = 0;
    }
    ntfs_inode_close(dir);
    return record;
}

std::uint64_t TestVolume::Directory(std::uint64_t parent, std::u16string_view name) { return Create(parent, name, true, {}); }

std::uint64_t TestVolume::File(std::uint64_t parent, std::u16string_view name, std::string_view data) {
    return Create(parent, name, false, data);
}

bool TestVolume::Link(std::uint64_t file, std::uint64_t directory, std::u16string_view name) {
    if (volume_ == nullptr) return false;
    ntfs_inode* node = ntfs_inode_open(volume_, file);
    ntfs_inode* dir = ntfs_inode_open(volume_, directory);
    std::vector<ntfschar> units = Units(name);
    const bool linked = node != nullptr && dir != nullptr && ntfs_link(node, dir, units.data(), static_cast<u8>(units.size())) == 0;
    if (node != nullptr && dir != nullptr) ntfs_inode_close_in_dir(node, dir);
    else if (node != nullptr) ntfs_inode_close(node);
    if (dir != nullptr) ntfs_inode_close(dir);
    return linked;
}

bool TestVolume::Close() {
    if (volume_ == nullptr) return true;
    const bool closed = ntfs_umount(volume_, FALSE) == 0;
    volume_ = nullptr;
    return closed;
}

}  // namespace tarnwick::cli::test
