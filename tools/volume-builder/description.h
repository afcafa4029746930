// The volume description: a small line-based text format.
//
//   # a comment; '#' starts a comment at the start of a line or after a blank
//   volume size=64M cluster=4096 sector=512 label=NAME     (first line)
//   mkdir PATH                         directory (and any missing parents)
//   file PATH [size=N]                 file with N bytes of data
//   dos PATH SHORT                     give PATH the DOS short name SHORT
//   link PATH NEWPATH                  another name (hard link) of file PATH
//   delete PATH                        delete a file or an empty directory
//   rmtree PATH                        delete a directory and all it holds
//   many DIR count=N [prefix=P] [suffix=S] [digits=W] [size=N] [kind=dir]
//                                      N files (or dirs) DIR/P0000S ...
//   thin DIR [every=K] [keep=0]        delete every K-th entry of DIR (by name)
//   generate files=N seed=S [dirs=N] [links=N] [dos=N] [deletes=N]
//                                      a seeded random tree (see generator.cpp)
//   check WHAT ...                     a fact the built volume must show; see
//                                      checks in expected.cpp
//
// Paths are relative to the root, '/'-separated; names use the escapes of
// text.h (\s for a space, \u{1F600}, {255*x}). Sizes accept K, M, G suffixes.
// Positional arguments come first, key=value options after them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace volume_builder {

using Path = std::vector<std::u16string>;

struct VolumeFormat {
    std::uint64_t size = 64ull << 20;
    std::uint32_t cluster = 4096;
    std::uint32_t sector = 512;
    std::string label = "tarnwick";
};

struct Step {
    std::string command;                 // mkdir, file, dos, link, ...
    int line = 0;                        // in the description, for messages
    std::vector<std::string> args;       // positional arguments, still escaped
    std::map<std::string, std::string> options;

    std::string Option(const std::string& key, const std::string& fallback) const;
    std::uint64_t Number(const std::string& key, std::uint64_t fallback) const;
};

struct Description {
    VolumeFormat volume;
    std::vector<Step> steps;
};

Description ParseDescription(const std::string& text);
Description ReadDescriptionFile(const std::string& path);

// "12", "4K", "64M", "2G" -> bytes.
std::uint64_t ParseSize(const std::string& text);
// Splits an escaped path on '/' and unescapes each component.
Path ParsePath(const std::string& text);
std::u16string JoinPath(const Path& path);

}  // namespace volume_builder
