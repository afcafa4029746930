#pragma once
// The folder of real NTFS images made by other implementations. Tests that
// read them skip when it is absent.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

namespace tarnwick::testdata {

// The environment's TARNWICK_SHARED_IMAGES when set, so a run can point at
// another folder without reconfiguring; else the one the build was given.
inline std::filesystem::path SharedImagesDir() {
    if (const char* configured = std::getenv("TARNWICK_SHARED_IMAGES"); configured != nullptr && *configured != '\0')
        return configured;
    return TARNWICK_SHARED_IMAGES;
}

// Where images are kept unpacked: one folder for every build tree and test
// program of a checkout, since three of them unpack to a gigabyte each and a
// copy per build tree or per process fills a small disk.
inline std::filesystem::path UnpackedImagesDir() {
    if (const char* configured = std::getenv("TARNWICK_UNPACKED_IMAGES"); configured != nullptr && *configured != '\0')
        return configured;
    return TARNWICK_UNPACKED_IMAGES;
}

// The image `relative` (a path in the shared folder, without ".xz"),
// unpacked once into the folder above and again when the packed file is
// newer; empty when the shared folder does not have it or it will not unpack
// (the reason goes to stderr, and the caller skips). `sparseTar` images are
// kept as the one member of "<relative>.tar.xz", so that their holes stay
// holes.
inline std::filesystem::path SharedImage(const std::string& relative, bool sparseTar = false) {
    namespace fs = std::filesystem;
    const fs::path packed = SharedImagesDir() / (relative + (sparseTar ? ".tar.xz" : ".xz"));
    if (!fs::exists(packed)) return {};
    const fs::path target = UnpackedImagesDir() / relative;
    std::error_code failed;
    fs::create_directories(target.parent_path(), failed);
    // One process unpacks while the others wait for it, instead of each
    // writing a gigabyte of its own; the lock goes with the descriptor.
    const int lock = open((target.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0) flock(lock, LOCK_EX);
    const auto fresh = [&] {
        std::error_code e;
        return fs::exists(target, e) && fs::last_write_time(target, e) >= fs::last_write_time(packed, e);
    };
    bool ready = fresh();
    if (!ready) {
        // Unpacked beside the target and renamed, so that nobody ever opens
        // half an image.
        const fs::path temp = target.parent_path() / (".unpack-" + std::to_string(getpid()));
        fs::remove_all(temp, failed);
        fs::create_directories(temp, failed);
        const fs::path member = temp / target.filename();
        const std::string command = sparseTar ? "tar -xJf '" + packed.string() + "' -C '" + temp.string() + "'"
                                              : "xz -dc '" + packed.string() + "' > '" + member.string() + "'";
        if (std::system(command.c_str()) == 0 && fs::exists(member)) {
            // tar gives the member its time in the archive, older than the
            // packed file's; the unpacking time is what freshness compares.
            fs::last_write_time(member, fs::file_time_type::clock::now(), failed);
            fs::rename(member, target, failed);
            ready = !failed;
        }
        fs::remove_all(temp, failed);
        if (!ready) std::cerr << "cannot unpack " << packed.string() << " into " << target.parent_path().string() << "\n";
    }
    if (lock >= 0) close(lock);
    return ready ? target : fs::path();
}

}  // namespace tarnwick::testdata
