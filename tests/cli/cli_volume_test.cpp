// The tarnwick tool run as a user runs it, on NTFS volumes written by
// libntfs-3g and on real volumes from elsewhere when they are present.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../shared_images.h"

#include "test_volume.h"
#include "tool_run.h"

namespace tarnwick::cli {
namespace {

namespace fs = std::filesystem;
using test::ParseCsv;
using test::ReadFile;
using test::Result;
using test::RunTool;
using test::TestVolume;

// The decoded value of the string member `key` of one JSON line.
std::string JsonMember(const std::string& line, const std::string& key) {
    const std::string start = "\"" + key + "\":\"";
    std::size_t i = line.find(start);
    if (i == std::string::npos) return "<absent>";
    i += start.size();
    std::string value;
    while (i < line.size() && line[i] != '"') {
        const char c = line[i++];
        EXPECT_GE(static_cast<unsigned char>(c), 0x20) << "raw control character in a JSON string";
        if (c != '\\') {
            value += c;
            continue;
        }
        const char e = line[i++];
        switch (e) {
            case 'n': value += '\n'; break;
            case 't': value += '\t'; break;
            case 'r': value += '\r'; break;
            case 'b': value += '\b'; break;
            case 'f': value += '\f'; break;
            case 'u': {
                // Names go out as UTF-8: only control characters are escaped.
                const unsigned long unit = std::stoul(line.substr(i, 4), nullptr, 16);
                EXPECT_LT(unit, 0x20u) << line;
                value += static_cast<char>(unit);
                i += 4;
                break;
            }
            default: value += e;
        }
    }
    return value;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// UTF-8 of the names the volume holds, for comparing with the output.
const std::string kQuoted = "a,b \"q\"";
const std::string kQuotedFile = "file, with \"quotes\".txt";
const std::string kUnicode = "\xc3\x9cn\xc3\xaf" "c\xc3\xb6" "d\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80.txt";
const std::string kControl = "tab\there\x01" "ctrl back\\slash.txt";
const std::string kLoneSurrogate = "bad\xef\xbf\xbdname";

class CliOnVolume : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_.emplace();
        dir_ = scratch_->path();
        if (dir_.empty()) return;
        image_ = dir_ / "names.img";
        if (auto problem = TestVolume::Format(image_, 16 << 20)) {
            missing_ = *problem;
            return;
        }
        TestVolume volume;
        if (!volume.Open(image_)) {
            problem_ = "libntfs-3g cannot open the new volume";
            return;
        }
        // The catalogue is read from index buffers only: a directory whose
        // whole index fits in its file record contributes no entries, so
        // every directory here gets enough long names to need buffers.
        auto fill = [&](std::uint64_t directory) {
            for (char16_t n = u'a'; n < u'g'; ++n) volume.File(directory, std::u16string(120, n), "");
            return directory;
        };
        records_["dir1"] = fill(volume.Directory(TestVolume::kRoot, u"dir1"));
        records_["dir2"] = fill(volume.Directory(records_["dir1"], u"dir2"));
        records_["dir3"] = fill(volume.Directory(records_["dir2"], u"dir3"));
        records_["deep"] = volume.File(records_["dir3"], u"deep.txt", "hello");
        records_["quoted"] = fill(volume.Directory(TestVolume::kRoot, u"a,b \"q\""));
        records_["quotedFile"] = volume.File(records_["quoted"], u"file, with \"quotes\".txt", "x");
        records_["unicode"] = volume.File(TestVolume::kRoot, u"\u00dcn\u00efc\u00f6d\u00e9 \u65e5\u672c \U0001F600.txt", "");
        records_["control"] = volume.File(TestVolume::kRoot, u"tab\there\u0001ctrl back\\slash.txt", "");
        records_["lone"] = volume.File(TestVolume::kRoot, std::u16string(u"bad") + char16_t{0xD800} + u"name", "");
        records_["shared"] = fill(volume.Directory(TestVolume::kRoot, u"shared"));
        records_["original"] = volume.File(records_["dir1"], u"original.txt", "linked");
        // A large directory inside a small one: its own entry sits in the
        // small one's file record, so its parent cannot be resolved.
        records_["small"] = volume.Directory(TestVolume::kRoot, u"small");
        records_["big"] = fill(volume.Directory(records_["small"], u"big"));
        records_["inBig"] = volume.File(records_["big"], u"in-big.txt", "");
        const bool linked = volume.Link(records_["original"], records_["shared"], u"link.txt");
        if (!volume.Close() || !linked) {
            problem_ = "libntfs-3g could not write the volume";
            return;
        }
        for (const auto& [name, record] : records_) {
            if (record == 0) problem_ += "libntfs-3g could not create " + name + "; ";
        }
    }

    static void TearDownTestSuite() { scratch_.reset(); }

    void SetUp() override {
        if (dir_.empty()) GTEST_SKIP() << "no temporary directory";
        if (!missing_.empty()) GTEST_SKIP() << missing_;
        ASSERT_EQ(problem_, "") << "the test volume could not be written";
    }

    static std::string Record(const std::string& name) { return std::to_string(records_[name]); }

    static inline std::optional<test::ScratchDir> scratch_;
    static inline fs::path dir_;
    static inline fs::path image_;
    static inline std::string missing_;  // why no volume can be made here
    static inline std::string problem_;  // what went wrong writing it
    static inline std::map<std::string, std::uint64_t> records_;
};

// Columns of the listing's CSV.
enum Column { kRecord, kSequence, kParent, kParentSequence, kPath, kName, kNamespace, kType, kDataSize, kAllocated,
              kFirstTime, kAttributes = kFirstTime + 8, kColumns };

TEST_F(CliOnVolume, CsvListsNestedAndOddlyNamedEntriesWithFullPaths) {
    const Result result = RunTool(dir_, {"list", image_});
    ASSERT_EQ(result.exit, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const auto rows = ParseCsv(result.out);
    ASSERT_GT(rows.size(), 10u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"record", "sequence", "parentRecord", "parentSequence", "path", "name",
                                                 "namespace", "type", "dataSize", "allocatedSize", "creationTime",
                                                 "modificationTime", "mftModificationTime", "accessTime", "fnCreationTime",
                                                 "fnModificationTime", "fnMftModificationTime", "fnAccessTime", "attributes"}));
    std::map<std::string, std::vector<std::string>> byPath;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), std::size_t{kColumns}) << "row " << i;
        EXPECT_TRUE(byPath.emplace(rows[i][kPath], rows[i]).second) << "two rows of " << rows[i][kPath];
    }
    auto expect = [&](const std::string& path, const std::string& record, const std::string& parent, const std::string& name,
                      const std::string& type) {
        const auto it = byPath.find(path);
        ASSERT_NE(it, byPath.end()) << path;
        EXPECT_EQ(it->second[kRecord], record) << path;
        EXPECT_EQ(it->second[kParent], parent) << path;
        EXPECT_EQ(it->second[kName], name) << path;
        EXPECT_EQ(it->second[kType], type) << path;
    };
    expect("/dir1", Record("dir1"), "5", "dir1", "directory");
    expect("/dir1/dir2/dir3", Record("dir3"), Record("dir2"), "dir3", "directory");
    expect("/dir1/dir2/dir3/deep.txt", Record("deep"), Record("dir3"), "deep.txt", "file");
    expect("/" + kQuoted, Record("quoted"), "5", kQuoted, "directory");
    expect("/" + kQuoted + "/" + kQuotedFile, Record("quotedFile"), Record("quoted"), kQuotedFile, "file");
    expect("/" + kUnicode, Record("unicode"), "5", kUnicode, "file");
    expect("/" + kControl, Record("control"), "5", kControl, "file");
    expect("/" + kLoneSurrogate, Record("lone"), "5", kLoneSurrogate, "file");
    // Both names of a file with two links are listed, each under its own directory.
    expect("/dir1/original.txt", Record("original"), Record("dir1"), "original.txt", "file");
    expect("/shared/link.txt", Record("original"), Record("shared"), "link.txt", "file");
    // Named only in its small parent's file record, which the catalogue never sees.
    expect("/small/big/in-big.txt", Record("inBig"), Record("big"), "in-big.txt", "file");

    const auto& deep = byPath["/dir1/dir2/dir3/deep.txt"];
    for (int column = kFirstTime; column < kFirstTime + 8; ++column) {
        const std::string& time = deep[static_cast<std::size_t>(column)];
        ASSERT_EQ(time.size(), 28u) << time;
        EXPECT_EQ(time[4], '-');
        EXPECT_EQ(time[10], 'T');
        EXPECT_EQ(time[19], '.');
        EXPECT_EQ(time.back(), 'Z');
    }
    EXPECT_EQ(deep[kDataSize], "5");
    EXPECT_EQ(deep[kNamespace], "posix");
    EXPECT_EQ(deep[kAttributes], "archive");
    EXPECT_EQ(byPath["/dir1"][kDataSize], "0");
    EXPECT_EQ(byPath["/$MFT"][kAttributes], "hidden system");
    EXPECT_EQ(byPath["/dir1"][kSequence], byPath["/dir1/dir2"][kParentSequence]);
}

// The exports' catalogue as it always was: its own columns, and the parent
// it cannot resolve.
TEST_F(CliOnVolume, CatalogueKeepsItsColumnsAndItsGaps) {
    const Result result = RunTool(dir_, {"list", "--catalogue", image_});
    ASSERT_EQ(result.exit, 0) << result.err;
    const auto rows = ParseCsv(result.out);
    ASSERT_GT(rows.size(), 10u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"id", "parentId", "path", "name", "type", "actualSize", "allocatedSize",
                                                 "creationTime", "modificationTime", "mftModificationTime", "accessTime", "flag"}));
    std::map<std::string, std::vector<std::string>> byPath;
    for (std::size_t i = 1; i < rows.size(); ++i) byPath[rows[i][2]] = rows[i];
    ASSERT_EQ(byPath.count("/dir1/dir2/dir3/deep.txt"), 1u);
    EXPECT_EQ(byPath["/dir1/dir2/dir3/deep.txt"][11], "1");
    EXPECT_EQ(byPath["/dir1"][11], "3");
    EXPECT_EQ(byPath.count("<unknown " + Record("big") + ">/in-big.txt"), 1u);
}

TEST_F(CliOnVolume, JsonLinesCarryTheSameEntriesWithEscapedStrings) {
    const Result csv = RunTool(dir_, {"list", image_});
    const Result json = RunTool(dir_, {"list", "--format", "jsonl", image_});
    ASSERT_EQ(csv.exit, 0) << csv.err;
    ASSERT_EQ(json.exit, 0) << json.err;
    const auto lines = Lines(json.out);
    EXPECT_EQ(lines.size() + 1, ParseCsv(csv.out).size());
    std::map<std::string, std::string> byPath;
    for (const std::string& line : lines) {
        ASSERT_EQ(line.front(), '{');
        ASSERT_EQ(line.back(), '}');
        byPath[JsonMember(line, "path")] = line;
    }
    for (const std::string& path : {"/" + kQuoted + "/" + kQuotedFile, "/" + kUnicode, "/" + kControl, "/" + kLoneSurrogate}) {
        ASSERT_EQ(byPath.count(path), 1u) << path;
        const std::string name = path.substr(path.rfind('/') + 1);
        EXPECT_EQ(JsonMember(byPath[path], "name"), name);
    }
    const std::string& control = byPath["/" + kControl];
    EXPECT_NE(control.find("\"name\":\"tab\\there\\u0001ctrl back\\\\slash.txt\""), std::string::npos) << control;
    EXPECT_NE(byPath["/" + kQuoted].find("\"type\":\"directory\""), std::string::npos);
    const std::string& deep = byPath["/dir1/dir2/dir3/deep.txt"];
    EXPECT_NE(deep.find("{\"record\":" + Record("deep") + ",\"sequence\":"), std::string::npos) << deep;
    EXPECT_NE(deep.find(",\"parentRecord\":" + Record("dir3") + ","), std::string::npos) << deep;
    EXPECT_NE(deep.find(",\"dataSize\":5,"), std::string::npos) << deep;
    EXPECT_NE(deep.find(",\"attributes\":[\"archive\"]}"), std::string::npos) << deep;
    EXPECT_NE(byPath["/$MFT"].find(",\"attributes\":[\"hidden\",\"system\"]}"), std::string::npos);
}

TEST_F(CliOnVolume, ADriveLetterNamesTheSameVolume) {
    const Result byPath = RunTool(dir_, {"list", image_});
    const Result byLetter = RunTool(dir_, {"list", "Q:"}, {{"TARNWICK_DRIVE_Q", image_}});
    const Result bare = RunTool(dir_, {"list", "q"}, {{"TARNWICK_DRIVE_Q", image_}});
    ASSERT_EQ(byLetter.exit, 0) << byLetter.err;
    EXPECT_EQ(byLetter.out, byPath.out);
    EXPECT_EQ(bare.out, byPath.out);

    const Result unset = RunTool(dir_, {"list", "R:"}, {{"TARNWICK_DRIVE_R", ""}});
    EXPECT_EQ(unset.exit, 1);
    EXPECT_EQ(unset.err.rfind("tarnwick: R:: TARNWICK_DRIVE_R is not set", 0), 0u) << unset.err;
    EXPECT_EQ(unset.out, "");
}

TEST_F(CliOnVolume, InfoGivesGeometryAndCounts) {
    const Result info = RunTool(dir_, {"info", image_});
    ASSERT_EQ(info.exit, 0) << info.err;
    for (const std::string line : {"bytes per sector:     512\n", "cluster size:         4096\n", "total sectors:        32767\n",
                                   "file record size:     1024\n", "index buffer size:    4096\n"}) {
        EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
    }
    const auto names = ParseCsv(RunTool(dir_, {"list", image_}).out);
    std::size_t directories = 0;
    for (std::size_t i = 1; i < names.size(); ++i) directories += names[i][kType] == "directory" ? 1 : 0;
    const auto entries = ParseCsv(RunTool(dir_, {"list", "--catalogue", image_}).out);
    for (const std::string& line : std::vector<std::string>{"names:                " + std::to_string(names.size() - 1) + "\n",
                                   "  of directories:     " + std::to_string(directories) + "\n",
                                   "catalogue entries:    " + std::to_string(entries.size() - 1) + "\n",
                                   "listing time:         ", "load time:            "}) {
        EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
    }
}

TEST_F(CliOnVolume, NeverChangesTheVolume) {
    const std::string before = ReadFile(image_);
    EXPECT_EQ(RunTool(dir_, {"list", "--deleted", "--streams", image_}).exit, 0);
    EXPECT_EQ(RunTool(dir_, {"list", "--catalogue", image_}).exit, 0);
    EXPECT_EQ(RunTool(dir_, {"info", image_}).exit, 0);
    EXPECT_EQ(ReadFile(image_), before);
}

TEST_F(CliOnVolume, FailuresSayWhatWentWrongOnOneLine) {
    const std::string missing = (dir_ / "missing.img").string();
    Result result = RunTool(dir_, {"list", missing});
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.err, "tarnwick: " + missing + ": no such file or device\n");

    const fs::path text = dir_ / "notes.txt";
    std::ofstream(text) << std::string(4096, 'x');
    for (const char* command : {"list", "info"}) {
        result = RunTool(dir_, {command, text});
        EXPECT_EQ(result.exit, 1) << command;
        EXPECT_EQ(result.err, "tarnwick: " + text.string() + ": not an NTFS volume\n") << command;
        EXPECT_EQ(result.out, "") << command;
    }
    result = RunTool(dir_, {"list", "--catalogue", text});
    EXPECT_EQ(result.err, "tarnwick: " + text.string() + ": not an NTFS volume (error: parse boot)\n");

    const fs::path empty = dir_ / "empty.img";
    std::ofstream{empty};
    result = RunTool(dir_, {"info", empty});
    EXPECT_EQ(result.err, "tarnwick: " + empty.string() + ": not an NTFS volume\n");

    result = RunTool(dir_, {"list", dir_});
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.err, "tarnwick: " + dir_.string() + ": is a directory, not a device or volume image\n");

    result = RunTool(dir_, {"list", "/dev/null"});
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.err, "tarnwick: /dev/null: not a block device or volume image\n");

    // A volume cut short after its boot sector: nothing of the table to read.
    const fs::path cut = dir_ / "cut.img";
    const std::string volume = ReadFile(image_);
    std::ofstream(cut, std::ios::binary) << volume.substr(0, 8192);
    result = RunTool(dir_, {"list", cut});
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.err, "tarnwick: " + cut.string() + ": the master file table cannot be read\n");
    EXPECT_EQ(result.out, "");
    result = RunTool(dir_, {"list", "--catalogue", cut});
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.err.rfind("tarnwick: " + cut.string() + ": error: ", 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
}

TEST_F(CliOnVolume, RunningOutOfMemoryEndsInOneLine) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer maps memory of its own beyond any small limit";
#endif
    // From a limit the listing fits in down to one under which the tool
    // cannot even be loaded: each run in between succeeds or ends in the
    // one line, never in an abort.
    int outOfMemory = 0;
    for (std::uint64_t megabytes = 64; megabytes >= 4; megabytes -= 2) {
        SCOPED_TRACE(std::to_string(megabytes) + " MiB");
        const Result result = RunTool(dir_, {"list", image_}, {}, megabytes << 20);
        if (result.exit == 127) break;  // the loader could not map the tool's libraries
        if (result.exit == 0) continue;
        EXPECT_EQ(result.exit, 1);
        EXPECT_EQ(result.err, "tarnwick: " + image_.string() + ": not enough memory to read this volume\n");
        ++outOfMemory;
    }
    if (outOfMemory == 0) GTEST_SKIP() << "no limit ran the tool out of memory here";
}

// The table starts at cluster 4 of a volume mkntfs makes this small.
constexpr std::size_t kTableStart = 4 * 4096;
constexpr std::size_t kRecordSize = 1024;

TEST_F(CliOnVolume, AVolumeCutShortListsWhatWasReadAndFails) {
    const fs::path cut = dir_ / "cut-in-table.img";
    std::ofstream(cut, std::ios::binary) << ReadFile(image_).substr(0, kTableStart + 30 * kRecordSize + 100);
    const Result result = RunTool(dir_, {"list", cut});
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.err, "tarnwick: " + cut.string() +
                              ": the volume ends inside its master file table: listed the 30 file records read before it\n");
    const auto rows = ParseCsv(result.out);
    std::set<std::string> paths;
    for (std::size_t i = 1; i < rows.size(); ++i) paths.insert(rows[i][kPath]);
    EXPECT_EQ(paths.count("/$MFT"), 1u);
    EXPECT_EQ(paths.count("/dir1"), 0u);  // its record lies past the end
}

// Cut after the table and before the directories' index buffers: the listing
// is whole, the catalogue cannot be built.
TEST_F(CliOnVolume, InfoShowsWhatWasReadWhenOnlyTheCatalogueFails) {
    const fs::path cut = dir_ / "cut-after-table.img";
    std::ofstream(cut, std::ios::binary) << ReadFile(image_).substr(0, 256 << 10);
    const Result result = RunTool(dir_, {"info", cut});
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.err, "tarnwick: " + cut.string() + ": error: read and parse indx\n");
    EXPECT_NE(result.out.find("file records read:    "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("catalogue entries:    none (error: read and parse indx)\n"), std::string::npos) << result.out;
}

TEST_F(CliOnVolume, ADamagedRecordIsSkippedAndCountedOnOneLine) {
    std::string bytes = ReadFile(image_);
    // The last two bytes of the record's first stride no longer match its
    // update sequence number: the record is torn.
    bytes[kTableStart + records_["deep"] * kRecordSize + 510] ^= 0x5A;
    const fs::path damaged = dir_ / "damaged.img";
    std::ofstream(damaged, std::ios::binary) << bytes;
    const Result result = RunTool(dir_, {"list", damaged});
    EXPECT_EQ(result.exit, 0);
    EXPECT_EQ(result.err, "tarnwick: " + damaged.string() + ": 1 damaged file record skipped\n");
    const Result whole = RunTool(dir_, {"list", image_});
    EXPECT_EQ(ParseCsv(result.out).size() + 1, ParseCsv(whole.out).size());
    EXPECT_EQ(result.out.find("deep.txt"), std::string::npos);
}

TEST_F(CliOnVolume, AnUnreadableImageIsRefusedWithPermissionDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    const fs::path locked = dir_ / "locked.img";
    fs::copy_file(image_, locked, fs::copy_options::overwrite_existing);
    fs::permissions(locked, fs::perms::none);
    const Result result = RunTool(dir_, {"list", locked});
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.err, "tarnwick: " + locked.string() + ": permission denied\n");
}

TEST_F(CliOnVolume, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> wrong = {
        {}, {"list"}, {"info"}, {"erase", image_}, {"list", "--format", "xml", image_}, {"list", "--format"},
        {"list", "--frobnicate", image_}, {"list", image_, image_}, {"info", "--deleted", image_},
        {"list", "--catalogue", "--streams", image_}};
    for (const auto& args : wrong) {
        const Result result = RunTool(dir_, args);
        EXPECT_EQ(result.exit, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.err.rfind("tarnwick: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find("usage: tarnwick list"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_NE(RunTool(dir_, {"list"}).err.find("missing SOURCE"), std::string::npos);

    Result result = RunTool(dir_, {"--version"});
    EXPECT_EQ(result.exit, 0);
    EXPECT_EQ(result.out, "tarnwick 1.0.0\n");
    result = RunTool(dir_, {"--help"});
    EXPECT_EQ(result.exit, 0);
    EXPECT_NE(result.out.find("TARNWICK_DRIVE_D"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::cli

namespace tarnwick::cli {
namespace {

// Volumes written by Windows and other NTFS implementations, with a listing
// by another reader (one "<type> <address>:\t<path>" line per name).
class CliOnRealVolumes : public ::testing::Test {
protected:
    void SetUp() override {
        images_ = tarnwick::testdata::SharedImagesDir();
        if (!fs::is_directory(images_)) GTEST_SKIP() << "no " << images_;
    }

    // The decompressed image, or an empty path when it is not there.
    fs::path Image(const std::string& name) { return tarnwick::testdata::SharedImage(name); }

    fs::path images_;
    test::ScratchDir scratch_;
    const fs::path& dir_ = scratch_.path();
};

// The paths themselves are checked against fls in the volume suite; here
// the two formats must carry the same ones, whatever the names hold.
TEST_F(CliOnRealVolumes, BothFormatsCarryTheSamePaths) {
    int tested = 0;
    for (const std::string name : {"grr/ntfs_img.dd", "colinfinck-ntfs/testfs1", "tsk-test-data/8-jpeg-search.dd", "dfir_ntfs/ntfs_index.raw"}) {
        const fs::path image = Image(name);
        if (image.empty()) continue;
        ++tested;
        // Deleted and stream lines too: their paths and marks must survive both formats.
        const Result csv = RunTool(dir_, {"list", "--streams", "--deleted", image});
        ASSERT_EQ(csv.exit, 0) << name << ": " << csv.err;
        const auto rows = ParseCsv(csv.out);
        std::multiset<std::string> csvPaths;
        for (std::size_t i = 1; i < rows.size(); ++i) {
            ASSERT_EQ(rows[i].size(), std::size_t{kColumns} + 1) << name;
            csvPaths.insert(rows[i][kPath] + (rows[i][kColumns] == "1" ? " (deleted)" : ""));
        }
        const Result json = RunTool(dir_, {"list", "--streams", "--deleted", "--format=jsonl", image});
        ASSERT_EQ(json.exit, 0) << name << ": " << json.err;
        std::multiset<std::string> jsonPaths;
        for (const std::string& line : Lines(json.out)) {
            const bool deleted = line.find(",\"deleted\":true}") != std::string::npos;
            EXPECT_TRUE(deleted || line.find(",\"deleted\":false}") != std::string::npos) << line;
            jsonPaths.insert(JsonMember(line, "path") + (deleted ? " (deleted)" : ""));
        }
        EXPECT_EQ(jsonPaths, csvPaths) << name;

        if (name == "colinfinck-ntfs/testfs1") {
            const auto many = std::count_if(csvPaths.begin(), csvPaths.end(), [](const std::string& p) {
                return p.rfind("/many_subdirs/", 0) == 0 && p.find(" (deleted)") == std::string::npos;
            });
            EXPECT_EQ(many, 512);
            EXPECT_EQ(csvPaths.count("/many_subdirs/512"), 1u);
        }
    }
    if (tested == 0) GTEST_SKIP() << "none of the images is present";
}

}  // namespace
}  // namespace tarnwick::cli
