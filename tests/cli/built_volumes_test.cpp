// `list --catalogue` on the project's built test volumes: every line must carry the
// fields of the catalogue the volume builder derived on its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "catalogue_rows.h"
#include "ntfs/file_record.h"
#include "platform/utf16.h"
#include "text.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
using tarnwick::cli::test::ParseCsv;
using tarnwick::cli::test::RunTool;

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

    const volume_tests::Expected catalogue = volume_tests::ReadExpected(expected.string());
    std::multiset<std::vector<std::string>> want;
    for (const volume_tests::Row& r : catalogue.rows) {
        want.insert({std::to_string(r.id), std::to_string(r.parentId), tarnwick::Utf16ToUtf8(volume_builder::UnescapeName(r.name)),
                     (r.flag & tarnwick::kFlagDirectory) != 0 ? "directory" : "file", std::to_string(r.actualSize),
                     std::to_string(r.allocatedSize), IsoTime(r.creationTime), IsoTime(r.modificationTime),
                     IsoTime(r.mftModificationTime), IsoTime(r.accessTime), std::to_string(r.flag)});
    }

    const tarnwick::cli::test::ScratchDir scratch;
    const auto run = RunTool(scratch.path(), {"list", "--catalogue", image.string()});
    if (catalogue.status != 0) {
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
