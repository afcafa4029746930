// Measures how fast `tarnwick list --catalogue` formats a large catalogue: a million
// entries in memory, shaped like a real volume, written to /dev/null (or the
// file given as the first argument) as CSV and as JSON Lines.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <random>
#include <string>

#include "entries.h"
#include "catalogue_output.h"
#include "output_buffer.h"

int main(int argc, char** argv) {
    using namespace tarnwick::cli;
    const char* target = argc > 1 ? argv[1] : "/dev/null";
    constexpr std::uint32_t kEntries = 1'000'000;
    constexpr std::uint32_t kDirectories = 60'000;

    test::Entries entries;
    std::mt19937 random(7);
    const std::u16string stems[] = {u"report", u"IMG_", u"setup", u"Dokument \u00fcber", u"data,v2", u"\u65e5\u672c\u8a9e",
                                    u"node_modules", u"x"};
    entries.Directory(5, 5, u".");
    for (std::uint32_t id = 64; id < 64 + kEntries; ++id) {
        const bool directory = id < 64 + kDirectories;
        // Parents are earlier directories, so the tree is a few levels deep.
        const std::uint32_t parent = id == 64 ? 5 : 64 + static_cast<std::uint32_t>(random() % std::min(id - 64, kDirectories));
        std::u16string name = stems[random() % std::size(stems)] + std::u16string(u"_") +
                              std::u16string(1, static_cast<char16_t>(u'a' + random() % 26)) +
                              (directory ? u"" : u".dat");
        name += static_cast<char16_t>(u'0' + id % 10);
        auto& entry = entries.Add(id, parent, name, directory ? test::kDirectory : test::kFile);
        entry.actualSize = static_cast<std::int64_t>(random() % 10'000'000);
        entry.allocatedSize = (entry.actualSize + 4095) / 4096 * 4096;
        entry.creationTime = 133'000'000'000'000'000 + static_cast<std::int64_t>(random());
        entry.modificationTime = entry.creationTime + 12345;
        entry.mftModificationTime = entry.creationTime + 23456;
        entry.accessTime = entry.creationTime + 34567;
    }

    for (const Format format : {Format::Csv, Format::JsonLines}) {
        std::FILE* file = std::fopen(target, "wb");
        if (file == nullptr) {
            std::perror(target);
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        std::size_t bytes = 0;
        {
            OutputBuffer out(file);
            WriteCatalogue(out, format, entries.All());
            out.Flush();
            bytes = static_cast<std::size_t>(std::ftell(file));
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        std::fclose(file);
        // CPU time too: on a busy machine the wall time says little.
        std::printf("%-5s %u entries in %.3f s, %.3f s CPU (%.0f MB written to %s)\n", format == Format::Csv ? "csv" : "jsonl",
                    kEntries + 1, seconds, cpu, static_cast<double>(bytes) / 1e6, target);
    }
    return 0;
}
