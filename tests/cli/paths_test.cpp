#include <gtest/gtest.h>

#include <string>

#include "entries.h"
#include "output_buffer.h"
#include "paths.h"

namespace tarnwick::cli {
namespace {

using test::Entries;

std::string PathOf(const Entries& entries, const ResultRecord_Internal& entry) {
    return PathResolver(entries.All()).Path(entry);
}

TEST(Paths, NestedEntriesResolveThroughTheirParentsInAnyOrder) {
    Entries entries;
    auto& root = entries.Directory(5, 5, u".");
    auto& file = entries.Add(40, 32, u"deep.txt");
    entries.Directory(32, 31, u"c");
    entries.Directory(31, 30, u"b");
    entries.Directory(30, 5, u"a");
    auto& top = entries.Add(41, 5, u"top.txt");
    EXPECT_EQ(PathOf(entries, root), "/");
    EXPECT_EQ(PathOf(entries, top), "/top.txt");
    EXPECT_EQ(PathOf(entries, file), "/a/b/c/deep.txt");
    entries.Reverse();
    EXPECT_EQ(PathOf(entries, file), "/a/b/c/deep.txt");
}

TEST(Paths, AMissingParentIsNamedInThePath) {
    Entries entries;
    auto& orphan = entries.Add(40, 1234, u"lost.txt");
    entries.Directory(50, 99, u"d");  // its own parent 99 is not in the catalogue
    auto& inside = entries.Add(51, 50, u"x");
    // A file is never a parent, even when an entry claims it as one.
    entries.Add(60, 5, u"plain");
    auto& underFile = entries.Add(61, 60, u"y");
    EXPECT_EQ(PathOf(entries, orphan), "<unknown 1234>/lost.txt");
    EXPECT_EQ(PathOf(entries, inside), "<unknown 99>/d/x");
    EXPECT_EQ(PathOf(entries, underFile), "<unknown 60>/y");
}

TEST(Paths, CyclesOfParentsEndInsteadOfLooping) {
    Entries entries;
    entries.Directory(10, 11, u"p");
    entries.Directory(11, 12, u"q");
    entries.Directory(12, 10, u"r");
    auto& file = entries.Add(20, 10, u"f");
    auto& self = entries.Directory(13, 13, u"self");
    auto& inSelf = entries.Add(21, 13, u"g");
    const PathResolver paths(entries.All());
    const std::string looped = paths.Path(file);
    EXPECT_EQ(looped.rfind("<cycle ", 0), 0u) << looped;
    EXPECT_EQ(looped.substr(looped.size() - 4), "/p/f") << looped;
    EXPECT_NE(looped.find("/q/"), std::string::npos) << looped;
    EXPECT_NE(looped.find("/r/"), std::string::npos) << looped;
    EXPECT_EQ(paths.Path(self), "<cycle 13>/self/self");
    EXPECT_EQ(paths.Path(inSelf), "<cycle 13>/self/g");
}

TEST(Paths, ADirectoryUnderTwoParentsGetsTheSamePathWhateverTheOrder) {
    Entries entries;
    entries.Directory(30, 5, u"one");
    entries.Directory(31, 5, u"two");
    entries.Directory(40, 31, u"linked-b");
    entries.Directory(40, 30, u"linked-a");
    entries.Directory(40, 30, u"linked-0");
    auto& file = entries.Add(50, 40, u"f");
    EXPECT_EQ(PathOf(entries, file), "/one/linked-0/f");
    entries.Reverse();
    EXPECT_EQ(PathOf(entries, file), "/one/linked-0/f");
}

TEST(Paths, RecordNumbersAbove31BitsReadAsUnsigned) {
    Entries entries;
    entries.Directory(0x80000001u, 5, u"high");
    auto& file = entries.Add(0x80000002u, 0x80000001u, u"f");
    auto& orphan = entries.Add(7, 0xFFFFFFFFu, u"o");
    EXPECT_EQ(PathOf(entries, file), "/high/f");
    EXPECT_EQ(PathOf(entries, orphan), "<unknown 4294967295>/o");
}

// Past the depth up to which paths are kept, they are walked each time; both
// ways must give the same text.
TEST(Paths, DeepPathsAreWhole) {
    Entries entries;
    const std::uint32_t depth = PathResolver::kCacheDepth + 40;
    std::string expected;
    for (std::uint32_t i = 0; i < depth; ++i) {
        entries.Directory(100 + i, i == 0 ? 5 : 99 + i, i % 2 == 0 ? u"d" : u"e,");
        expected += i % 2 == 0 ? "/d" : "/e,";
    }
    auto& deepest = entries.Add(10, 99 + depth, u"f");
    auto& shallow = entries.Add(11, 100 + 3, u"g");
    auto& orphanChain = entries.Directory(7, 6, u"o");
    auto& underOrphan = entries.Add(12, 7, u"h");
    const PathResolver paths(entries.All());
    EXPECT_EQ(paths.Path(deepest), expected + "/f");
    EXPECT_EQ(paths.Path(shallow), "/d/e,/d/e,/g");
    EXPECT_EQ(paths.Path(deepest), expected + "/f");
    EXPECT_EQ(paths.Path(orphanChain), "<unknown 6>/o");
    EXPECT_EQ(paths.Path(underOrphan), "<unknown 6>/o/h");

    OutputBuffer out(nullptr, 64);
    paths.WritePath(out, deepest, "f", Escape::Csv);
    EXPECT_EQ(out.Pending(), "\"" + expected + "/f\"");
}

TEST(Paths, AVeryDeepChainIsCutOff) {
    Entries entries;
    const std::uint32_t depth = PathResolver::kMaxDepth + 100;
    for (std::uint32_t i = 0; i < depth; ++i) entries.Directory(100 + i, i == 0 ? 5 : 99 + i, u"d");
    auto& file = entries.Add(10, 99 + depth, u"f");
    const std::string path = PathOf(entries, file);
    EXPECT_EQ(path.rfind("<too deep>/d/", 0), 0u);
    EXPECT_EQ(path.size(), std::string("<too deep>").size() + 2 * PathResolver::kMaxDepth + 2);
}

TEST(Paths, CsvQuotingCoversTheWholePathWhenAnyPartNeedsIt) {
    Entries entries;
    entries.Directory(30, 5, u"a,b");
    auto& file = entries.Add(31, 30, u"say \"hi\"");
    auto& plain = entries.Add(32, 5, u"plain");
    const PathResolver paths(entries.All());
    OutputBuffer out(nullptr, 64);
    paths.WritePath(out, file, "say \"hi\"", Escape::Csv);
    out.Append('|');
    paths.WritePath(out, plain, "plain", Escape::Csv);
    out.Append('|');
    paths.WritePath(out, file, "say \"hi\"", Escape::Json);
    EXPECT_EQ(out.Pending(), "\"/a,b/say \"\"hi\"\"\"|/plain|\"/a,b/say \\\"hi\\\"\"");
}

}  // namespace
}  // namespace tarnwick::cli
