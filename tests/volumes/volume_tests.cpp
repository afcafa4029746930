// End-to-end tests on real NTFS volumes:
//  * every volume built from tests/volumes/*.vol is loaded through the public
//    interface and compared entry by entry with its expected catalogue;
//  * The Sleuth Kit's fls lists the same images, and on the images made by
//    Windows and others (tests/shared_images.h finds them); its listing must agree with
//    the catalogue except for the differences docs/volumes.md lists.
#include "catalogue_rows.h"
#include "fls_check.h"
#include "volume_set.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace volume_tests;

namespace {

std::string Fls(const std::string& image, int* status) {
    return RunCommand("fls -r -p " + Quote(image) + " 2>/dev/null", status);
}

// The expected catalogue, when the builder's reader could make one, and the
// loaded one, when the load succeeded, each agree with fls up to the
// documented differences. Returns the load's status.
std::int32_t ExpectAgreementWithFls(const std::string& image, const std::string& expectedPath, const std::string& indexNamesPath,
                            const std::string& flsListing) {
    const auto fls = ParseFls(flsListing);
    const auto indexNames = ReadIndexNames(indexNamesPath);
    const auto expected = ReadExpected(expectedPath);
    if (expected.status == 0) {
        const auto check = CompareWithFls(expected.rows, fls, indexNames);
        EXPECT_TRUE(check.ok) << image << ", expected catalogue vs fls:\n" << check.report;
    }
    const auto loaded = LoadThroughLibrary(image);
    if (loaded.status == 0) {
        const auto check = CompareWithFls(loaded.rows, fls, indexNames);
        EXPECT_TRUE(check.ok) << image << ", loaded catalogue vs fls:\n" << check.report;
    }
    return loaded.status;
}

class BuiltVolume : public ::testing::TestWithParam<Volume> {};

// The catalogue the library loads equals the one derived from the volume by
// the builder's own reader, field by field.
TEST_P(BuiltVolume, LoadMatchesExpectedCatalogue) {
    const auto& v = GetParam();
    const auto expected = ReadExpected(v.expected);
    const auto loaded = LoadThroughLibrary(v.image);
    ASSERT_EQ(loaded.status, expected.status) << v.name << ": load status";
    EXPECT_EQ(DiffRows(expected.rows, loaded.rows), "") << v.name << " (" << v.image << ")";
}

// fls agrees with the expected catalogue and with the loaded one, up to the
// documented differences.
TEST_P(BuiltVolume, AgreesWithFls) {
    const auto& v = GetParam();
    if (!HaveTool("fls")) GTEST_SKIP() << "fls (sleuthkit) is not installed";
    int status = 0;
    const std::string fls = Fls(v.image, &status);
    ASSERT_EQ(status, 0) << "fls failed on " << v.image;
    ExpectAgreementWithFls(v.image, v.expected, v.indexNames, fls);
}

INSTANTIATE_TEST_SUITE_P(Volumes, BuiltVolume, ::testing::ValuesIn(BuiltVolumes()),
                         [](const auto& p) { return TestName(p.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(BuiltVolume);

class SharedVolume : public ::testing::TestWithParam<SharedImage> {
protected:
    static std::string Image(const SharedImage& s) { return UnpackedImage(s); }

    // The builder's reader on the image: expected catalogue and index names,
    // kept in the build tree, since they are as the builder of this build
    // reads the image.
    static bool Derive(const std::string& image, std::string& expected, std::string& indexNames) {
        const fs::path derived = fs::path(TARNWICK_VOLUMES_DERIVED) / fs::path(image).filename();
        fs::create_directories(derived.parent_path());
        expected = derived.string() + ".expected.tsv";
        indexNames = derived.string() + ".index-names.tsv";
        if (fs::exists(expected) && fs::exists(indexNames)) return true;
        int status = 0;
        const auto out = RunCommand(std::string(TARNWICK_VOLUME_BUILDER) + " expect " + Quote(image) +
                                        " --expected " + Quote(expected + ".tmp") + " --index-names " +
                                        Quote(indexNames + ".tmp") + " 2>&1",
                                    &status);
        if (status != 0) return false;
        fs::rename(expected + ".tmp", expected);
        fs::rename(indexNames + ".tmp", indexNames);
        return true;
    }
};

TEST_P(SharedVolume, LoadMatchesExpectedCatalogue) {
    const auto image = Image(GetParam());
    if (image.empty()) GTEST_SKIP() << "shared image absent or not unpacked: " << testing::PrintToString(GetParam());
    std::string expectedPath, indexNames;
    if (!Derive(image, expectedPath, indexNames)) GTEST_SKIP() << "libntfs-3g cannot read " << image;
    const auto expected = ReadExpected(expectedPath);
    const auto loaded = LoadThroughLibrary(image);
    ASSERT_EQ(loaded.status, expected.status) << image << ": load status";
    EXPECT_EQ(DiffRows(expected.rows, loaded.rows), "") << image;
}

TEST_P(SharedVolume, AgreesWithFls) {
    const auto image = Image(GetParam());
    if (image.empty()) GTEST_SKIP() << "shared image absent or not unpacked: " << testing::PrintToString(GetParam());
    if (!HaveTool("fls")) GTEST_SKIP() << "fls (sleuthkit) is not installed";
    int status = 0;
    const auto listing = Fls(image, &status);
    // fls rejects the 2 MiB clusters of ntfs-2m.raw; its ntfsls listing lacks
    // record numbers for a name-by-name check, so that image is covered by the
    // expected-catalogue test alone.
    if (status != 0) GTEST_SKIP() << "fls cannot read " << image;
    std::string expectedPath, indexNames;
    if (!Derive(image, expectedPath, indexNames)) GTEST_SKIP() << "libntfs-3g cannot read " << image;
    EXPECT_EQ(ExpectAgreementWithFls(image, expectedPath, indexNames, listing), 0) << image << ": load status";
}

INSTANTIATE_TEST_SUITE_P(Images, SharedVolume, ::testing::ValuesIn(kSharedImages),
                         [](const auto& p) { return TestName(p.param.file); });

}  // namespace
