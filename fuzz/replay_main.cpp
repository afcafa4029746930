// Runs stored inputs (seeds, regressions) through one fuzz target's entry
// point with any compiler, as an ordinary test: a finding aborts, and so
// does finding no input at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> InputsIn(const std::filesystem::path& where) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    if (std::filesystem::is_directory(where, error)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(where, error)) {
            // Notes beside the inputs are not inputs.
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && name[0] != '.' && entry.path().extension() != ".md") {
                files.push_back(entry.path());
            }
        }
    } else if (std::filesystem::is_regular_file(where, error)) {
        files.push_back(where);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::filesystem::path& file : InputsIn(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
                return 1;
            }
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::fprintf(stderr, "replay %s (%zu bytes)\n", file.c_str(), bytes.size());
            // A copy of exactly the input's size, as libFuzzer hands it over.
            const std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
            LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    // Nothing replayed means the seeds were never made or the folders are
    // wrong, not that the target is sound.
    if (replayed == 0) {
        std::fprintf(stderr, "replay: no inputs in");
        for (int i = 1; i < argc; ++i) std::fprintf(stderr, " %s", argv[i]);
        std::fprintf(stderr, "\n");
        return 1;
    }
    return 0;
}
