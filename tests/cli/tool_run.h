// Running the built tarnwick tool from a test, and reading what it wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tarnwick::cli::test {

struct Result {
    int exit = -1;  // the exit status, or 128 + signal
    std::string out;
    std::string err;
};

// A new directory under the system's temporary one, removed with all in it
// when the holder goes, unless TARNWICK_TEST_KEEP is set (to look at what a
// failing test left). Fails the running test when none can be made.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);

// Runs the tool with `args`, its output going to files in `dir`; `env` adds
// or, with an empty value, removes variables of the environment.
// `addressSpace`, when not 0, is the most memory the tool may map (bytes).
Result RunTool(const std::filesystem::path& dir, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {}, std::uint64_t addressSpace = 0);

// RFC 4180: fields split at commas, quoted fields with doubled quotes, every
// record ended by CRLF. Fails the running test on anything else.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);

}  // namespace tarnwick::cli::test
