// `tarnwick list` against The Sleuth Kit on real volumes:
//  * its set of paths equals `fls -r -p -u`'s, on the built test volumes and
//    on every shared image fls can read;
//  * the sizes and both sets of times of files equal istat's;
//  * with --deleted and --streams, the records no longer in use carry the
//    names the images' names listings give them, and the streams are fls's
//    stream lines.
#include "fls_check.h"
#include "volume_set.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tool_run.h"

using namespace volume_tests;
using tarnwick::cli::test::ParseCsv;
using tarnwick::cli::test::ReadFile;
using tarnwick::cli::test::RunTool;
using tarnwick::cli::test::ScratchDir;

namespace {

// Columns of the tool's CSV.
enum Column { kRecord = 0, kPath = 4, kName = 5, kType = 7, kDataSize = 8, kTimes = 10, kDeleted = 19 };

struct Listed {
    std::vector<std::vector<std::string>> rows;  // without the header
};

// Runs the tool; fails the test when it does not succeed.
Listed List(const std::string& image, std::vector<std::string> options = {}) {
    const ScratchDir scratch;
    options.insert(options.begin(), "list");
    options.push_back(image);
    const auto run = RunTool(scratch.path(), options);
    Listed listed;
    EXPECT_EQ(run.exit, 0) << image << ": " << run.err;
    listed.rows = ParseCsv(run.out);
    if (!listed.rows.empty()) listed.rows.erase(listed.rows.begin());
    return listed;
}

// Paths as fls spells them: of names in use and of deleted records. The
// root's "/" is not a line of fls.
struct ListedPaths {
    std::set<std::string> names, deleted;
};

ListedPaths Paths(const Listed& listed) {
    ListedPaths paths;
    for (const auto& row : listed.rows) {
        if (row[kType] == "stream" || row[kPath] == "/") continue;
        const bool deleted = row.size() > kDeleted && row[kDeleted] == "1";
        (deleted ? paths.deleted : paths.names).insert(FlsSpellingOfPath(row[kPath]));
    }
    return paths;
}

void ExpectSamePaths(const std::string& image, const std::string& flsOutput) {
    const FlsPaths fls = ParseFlsPaths(flsOutput);
    const ListedPaths ours = Paths(List(image, {"--deleted"}));
    const auto check = ComparePaths("paths", ours.names, fls.names, fls.streamOwners, ours.deleted);
    EXPECT_TRUE(check.ok) << image << ":\n" << check.report;
}

class BuiltVolumeListing : public ::testing::TestWithParam<Volume> {};

TEST_P(BuiltVolumeListing, PathsEqualFls) {
    if (!HaveTool("fls")) GTEST_SKIP() << "fls (sleuthkit) is not installed";
    const Volume& v = GetParam();
    int status = 0;
    const std::string fls = RunCommand("fls -r -p -u " + Quote(v.image) + " 2>/dev/null", &status);
    ASSERT_EQ(status, 0) << "fls failed on " << v.image;
    ExpectSamePaths(v.image, fls);
}

INSTANTIATE_TEST_SUITE_P(Volumes, BuiltVolumeListing, ::testing::ValuesIn(BuiltVolumes()),
                         [](const auto& p) { return TestName(p.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(BuiltVolumeListing);

class SharedVolumeListing : public ::testing::TestWithParam<SharedImage> {
protected:
    void SetUp() override {
        image_ = UnpackedImage(GetParam());
        if (image_.empty()) GTEST_SKIP() << "shared image absent or not unpacked: " << testing::PrintToString(GetParam());
        // fls rejects the 2 MiB clusters of ntfs-2m.raw, so it has an ntfsls
        // listing instead.
        flsListing_ = SharedImageFile(GetParam(), ".fls.txt");
        if (flsListing_.empty() && std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()).find("Ntfsls") == std::string::npos) {
            GTEST_SKIP() << "no fls listing of " << image_;
        }
    }

    std::string image_;
    std::string flsListing_;
};

TEST_P(SharedVolumeListing, PathsEqualFls) { ExpectSamePaths(image_, ReadFile(flsListing_)); }

// Paths of an `ntfsls -R -a -s -i -F` listing: "/dir/:" heads each folder,
// then one "<record> <name>" line per name, "/" after a directory's.
std::set<std::string> NtfslsPaths(const std::string& path) {
    std::set<std::string> paths;
    std::ifstream in(path, std::ios::binary);
    std::string folder;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '/' && line.back() == ':') {
            folder = line.substr(0, line.size() - 1);
            continue;
        }
        const auto space = line.find(' ', line.find_first_not_of(' '));
        if (space == std::string::npos) continue;
        std::string name = line.substr(space + 1);
        if (name == "./" || name == "../") continue;
        if (!name.empty() && name.back() == '/') name.pop_back();
        paths.insert(folder + name);
    }
    return paths;
}

TEST_P(SharedVolumeListing, PathsEqualNtfslsWhereFlsCannotRead) {
    if (!flsListing_.empty()) GTEST_SKIP() << "compared with fls";
    const std::string ntfsls = SharedImageFile(GetParam(), ".ntfsls.txt");
    if (ntfsls.empty()) GTEST_SKIP() << "no listing of " << image_ << " by another reader";
    const auto check = ComparePaths("paths", Paths(List(image_)).names, NtfslsPaths(ntfsls));
    EXPECT_TRUE(check.ok) << image_ << ":\n" << check.report;
}

// What istat says of one record: the size of its unnamed $DATA (-1 when it
// has none), its $STANDARD_INFORMATION times and, by name, the times of each
// $FILE_NAME, spelled as the tool spells them.
struct IstatFacts {
    long long dataSize = -1;
    std::vector<std::string> standardTimes;
    std::map<std::string, std::vector<std::string>> fileNameTimes;
};

// "2015-09-01 14:41:20.077794800 (UTC)" -> "2015-09-01T14:41:20.0777948Z";
// istat shows a time of 0, which the tool leaves empty, as a day in 2076.
std::string IsoTime(const std::string& istat) {
    if (istat.size() < 29 || istat.rfind("2076-11-29 08:54:34.000000000", 0) == 0) return "";
    return istat.substr(0, 10) + "T" + istat.substr(11, 16) + "Z";
}

IstatFacts Istat(const std::string& image, const std::string& record) {
    int status = 0;
    const std::string out = RunCommand("istat -z UTC " + Quote(image) + " " + record + " 2>/dev/null", &status);
    IstatFacts facts;
    std::istringstream in(out);
    std::vector<std::string>* times = nullptr;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("$STANDARD_INFORMATION Attribute Values:", 0) == 0) times = &facts.standardTimes;
        if (line.rfind("Name: ", 0) == 0 && line.find("Type:") == std::string::npos) {
            times = &facts.fileNameTimes[line.substr(6)];
        }
        const auto tab = line.find(":\t");
        if (times != nullptr && tab != std::string::npos && times->size() < 4) times->push_back(IsoTime(line.substr(tab + 2)));
        // "Type: $DATA (128-3)   Name: N/A   Resident   size: 38"
        if (line.rfind("Type: $DATA ", 0) == 0 && line.find("Name: N/A") != std::string::npos) {
            const auto at = line.find("size: ");
            if (at != std::string::npos) facts.dataSize = std::stoll(line.substr(at + 6));
        }
    }
    return facts;
}

TEST_P(SharedVolumeListing, FileSizesAndTimesEqualIstat) {
    if (!HaveTool("istat")) GTEST_SKIP() << "istat (sleuthkit) is not installed";
    std::map<std::string, std::vector<std::vector<std::string>>> rowsOfRecord;  // each file once, with all its names
    for (const auto& row : List(image_).rows) {
        if (row[kType] == "file") rowsOfRecord[row[kRecord]].push_back(row);
    }
    // istat runs once per file: a spread of a dozen keeps this to a second.
    const std::size_t step = std::max<std::size_t>(1, rowsOfRecord.size() / 12);
    std::size_t i = 0, checked = 0;
    for (const auto& [record, rows] : rowsOfRecord) {
        if (i++ % step != 0) continue;
        const IstatFacts theirs = Istat(image_, record);
        const auto& row = rows.front();
        if (theirs.dataSize >= 0) {
            EXPECT_EQ(row[kDataSize], std::to_string(theirs.dataSize)) << image_ << ": record " << record;
        }
        EXPECT_EQ(std::vector<std::string>(row.begin() + kTimes, row.begin() + kTimes + 4), theirs.standardTimes)
            << image_ << ": $STANDARD_INFORMATION times of record " << record;
        for (const auto& named : rows) {
            const auto it = theirs.fileNameTimes.find(named[kName]);
            if (it == theirs.fileNameTimes.end()) continue;  // istat spells some names its own way
            EXPECT_EQ(std::vector<std::string>(named.begin() + kTimes + 4, named.begin() + kTimes + 8), it->second)
                << image_ << ": $FILE_NAME times of " << named[kPath];
        }
        ++checked;
    }
    EXPECT_GT(checked, 0u);
}

// Records no longer in use with their names, as "record<TAB>name"; a DOS
// name that stands beside a long name of the same record is no name of its own.
std::set<std::string> DeletedNamesOfNamesListing(const std::string& path) {
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> byRecord;  // record -> (namespace, name)
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        // record in_use base_record is_dir namespace parent_record name
        if (f.size() < 7 || f[1] != "0" || f[2] != "0") continue;
        byRecord[f[0]].emplace_back(f[4], f[6]);
    }
    std::set<std::string> names;
    for (const auto& [record, list] : byRecord) {
        const bool hasLong = std::any_of(list.begin(), list.end(), [](const auto& n) { return n.first != "DOS"; });
        for (const auto& [space, name] : list) {
            if (space != "DOS" || !hasLong) names.insert(record + "\t" + name);
        }
    }
    return names;
}

TEST_P(SharedVolumeListing, DeletedRecordsAndStreamsEqualTheOtherReaders) {
    const std::string namesListing = SharedImageFile(GetParam(), ".names.tsv");
    const Listed listed = List(image_, {"--deleted", "--streams"});
    std::set<std::string> deleted, streams, live;
    for (const auto& row : listed.rows) {
        ASSERT_EQ(row.size(), 20u);
        if (row[kDeleted] == "1") {
            if (row[kType] != "stream") deleted.insert(row[kRecord] + "\t" + row[kName]);
        } else if (row[kType] == "stream") {
            streams.insert(FlsSpellingOfPath(row[kPath]));
        } else if (row[kPath] != "/") {
            live.insert(FlsSpellingOfPath(row[kPath]));
        }
    }
    const FlsPaths fls = ParseFlsPaths(ReadFile(flsListing_));
    // The options add rows and change none of the others.
    EXPECT_EQ(live, Paths(List(image_)).names) << image_;

    const auto streamCheck = ComparePaths("streams", streams, fls.streams);
    EXPECT_TRUE(streamCheck.ok) << image_ << ":\n" << streamCheck.report;
    if (!namesListing.empty()) {
        const auto deletedCheck = ComparePaths("deleted records", deleted, DeletedNamesOfNamesListing(namesListing));
        EXPECT_TRUE(deletedCheck.ok) << image_ << ":\n" << deletedCheck.report;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, SharedVolumeListing, ::testing::ValuesIn(kSharedImages),
                         [](const auto& p) { return TestName(p.param.file); });

}  // namespace
