// tarnwick du on the volume with hard links in three directories: each file
// counts once, under its first name; a directory's sums hold its whole tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "tool_run.h"

namespace tarnwick::cli {
namespace {

namespace fs = std::filesystem;

class Du : public ::testing::Test {
protected:
    // path -> "allocated files depth" from the CSV form.
    std::map<std::string, std::string> Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"du", "--format", "csv"});
        args.insert(args.begin() + 3, TARNWICK_SECOND_VOLUME);
        const test::Result result = test::RunTool(dir_, args);
        EXPECT_EQ(result.exit, 0) << result.err;
        std::map<std::string, std::string> lines;
        const auto rows = test::ParseCsv(result.out);
        EXPECT_FALSE(rows.empty());
        for (std::size_t i = 1; i < rows.size(); ++i) lines[rows[i][0]] = rows[i][1] + " " + rows[i][2] + " " + rows[i][3];
        return lines;
    }

    test::ScratchDir scratch_;
    const fs::path& dir_ = scratch_.path();
};

TEST_F(Du, HardLinksCountOnceAndTreesAddUp) {
    const auto lines = Run({"--depth", "3"});
    // a: shared.bin (12,000 bytes in three clusters) and small.txt, whose other
    // names in b and c/deeper do not count again; 40 empty files each.
    EXPECT_EQ(lines.at("/a"), "12288 42 1");
    EXPECT_EQ(lines.at("/b"), "0 41 1");
    EXPECT_EQ(lines.at("/c"), "0 40 1");
    EXPECT_EQ(lines.at("/c/deeper"), "0 40 2");
    // Ten metadata files in the root, three in $Extend; $BadClus:$Bad, which
    // spans the volume, takes no space.
    const std::string root = lines.at("/");
    EXPECT_EQ(root.substr(root.find(' ')), " 136 0");
    EXPECT_LT(std::stoull(root), 8u << 20);
}

TEST_F(Du, APathDepthAndTopChooseTheLines) {
    EXPECT_EQ(Run({"c", "--depth", "0"}), (std::map<std::string, std::string>{{"/c", "0 40 0"}}));
    EXPECT_EQ(Run({"/C/", "--depth", "5"}).size(), 2u);  // names compare without case
    const auto top = Run({"--top", "2"});
    EXPECT_EQ(top.size(), 2u);
    EXPECT_TRUE(top.contains("/") && top.contains("/a"));
    const test::Result missing = test::RunTool(dir_, {"du", TARNWICK_SECOND_VOLUME, "/a/shared.bin"});
    EXPECT_EQ(missing.exit, 1);
    EXPECT_NE(missing.err.find("no directory /a/shared.bin"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::cli
