// SOURCE on the command line: a block device, a volume image, or a drive
// letter that TARNWICK_DRIVE_<letter> maps to one of those.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::cli {

struct Source {
    std::string label;  // as the user wrote it, for messages
    std::string path;   // the device or image
    char letter = 0;    // the drive letter the library loads
};

// Fills `source` or returns the reason it cannot (a message without the
// "tarnwick: SOURCE: " prefix). For a path this claims a drive letter whose
// TARNWICK_DRIVE_ variable is unset and points it at the path.
std::optional<std::string> ResolveSource(std::string_view argument, Source& source);

// True for "D", "d", "D:" and "d:".
bool IsDriveLetter(std::string_view argument);

// Checks that the path is a device or a regular file that this process may
// read, so that a refusal gets a precise message before the library's
// general one. Opens it read-only and closes it again.
std::optional<std::string> CheckReadable(const std::string& path);

// The first 512 bytes of the volume, read-only; bytes past a short read stay
// zero (and then fail the signature test, as in the library).
std::optional<std::string> ReadBootSector(const std::string& path, std::array<std::uint8_t, 512>& boot);

}  // namespace tarnwick::cli
