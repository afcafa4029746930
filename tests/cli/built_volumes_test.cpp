// `list --catalogue` on the project's built test volumes: every line must carry the
// fields of the catalogue the volume builder derived on its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ntfs/file_record.h"
#include "platform/utf16.h"
#include "text.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
using tarnwick::cli::test::ParseCsv;
using tarnwick::cli::test::ReadFile;
using tarnwick::cli::test::RunTool;

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos) return fields;
        start = end + 1;
    }
}

// Through the C library's calendar, not the tool's.
std::string IsoTime(long long ticks) {
    if (ticks == 0) return "";
    const std::time_t seconds = static_cast<std::time_t>(ticks / 10000000 - 11644473600LL);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%07lldZ", ticks % 10000000);
    return std::string(text) + fraction;
}

class CliOnBuiltVolume : public ::testing::TestWithParam<std::string> {};

TEST_P(CliOnBuiltVolume, EveryLineCarriesTheExpectedFields) {
    const fs::path dir = TARNWICK_BUILT_VOLUMES;
    const fs::path image = dir / (GetParam() + ".img");
    const fs::path expected = dir / (GetParam() + ".expected.tsv");
    if (!fs::exists(image) || !fs::exists(expected)) GTEST_SKIP() << "not built: " << image;

    std::multiset<std::vector<std::string>> want;
    int status = 0;
    std::istringstream lines(ReadFile(expected));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# status\t", 0) == 0) status = std::stoi(line.substr(9));
        if (line.empty() || line[0] == '#') continue;
        const auto f = Split(line, '\t');
        ASSERT_GE(f.size(), 11u) << line;
        const long long flag = std::stoll(f[2]);
        want.insert({f[1], f[0], tarnwick::Utf16ToUtf8(volume_builder::UnescapeName(f[10])), (flag & tarnwick::kFlagDirectory) != 0 ? "directory" : "file",
                     f[5], f[4], IsoTime(std::stoll(f[6])), IsoTime(std::stoll(f[7])), IsoTime(std::stoll(f[8])),
                     IsoTime(std::stoll(f[9])), f[2]});
    }

    const tarnwick::cli::test::ScratchDir scratch;
    const auto run = RunTool(scratch.path(), {"list", "--catalogue", image.string()});
    if (status != 0) {
        EXPECT_EQ(run.exit, 1);
        EXPECT_NE(run.err.find(": error: "), std::string::npos) << run.err;
        return;
    }
    ASSERT_EQ(run.exit, 0) << run.err;
    const auto rows = ParseCsv(run.out);
    ASSERT_FALSE(rows.empty());
    std::multiset<std::vector<std::string>> got;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        std::vector<std::string> row = rows[i];
        ASSERT_EQ(row.size(), 12u);
        const std::string path = row[2];
        const std::string& name = row[3];
        if (row[0] == "5") {
            EXPECT_EQ(path, "/");
        } else {
            EXPECT_EQ(path.substr(path.size() - name.size() - 1), "/" + name) << path;
        }
        row.erase(row.begin() + 2);
        got.insert(row);
    }
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << "the listing differs from " << expected;
}

INSTANTIATE_TEST_SUITE_P(Volumes, CliOnBuiltVolume,
                         ::testing::Values("names", "links", "directories", "geometry-4k-sector", "geometry-64k"),
                         [](const auto& param) {
                             std::string name = param.param;
                             for (char& c : name) c = c == '-' ? '_' : c;
                             return name;
                         });

}  // namespace
