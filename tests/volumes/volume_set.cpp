#include "volume_set.h"

#include "../shared_images.h"
#include "catalogue_rows.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace volume_tests {

void PrintTo(const Volume& v, std::ostream* os) { *os << v.name; }
void PrintTo(const SharedImage& s, std::ostream* os) { *os << s.folder << '/' << s.file; }

std::vector<Volume> BuiltVolumes() {
    std::vector<Volume> volumes;
    // TARNWICK_VOLUMES_MANIFEST names another list (name, image, expected,
    // index names; tab-separated), e.g. to check generated benchmark volumes.
    const char* other = std::getenv("TARNWICK_VOLUMES_MANIFEST");
    std::ifstream in(other ? other : TARNWICK_VOLUMES_MANIFEST);
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        Volume v;
        std::getline(f, v.name, '\t');
        std::getline(f, v.image, '\t');
        std::getline(f, v.expected, '\t');
        std::getline(f, v.indexNames, '\t');
        if (!v.name.empty()) volumes.push_back(v);
    }
    return volumes;
}

const std::vector<SharedImage> kSharedImages = {
    {"ntfs-samples", "ntfs-ptrn.raw", false},  {"ntfs-samples", "ntfs-ramslack.raw", false},
    {"ntfs-samples", "ntfs-2m.raw", false},    {"ntfs-samples", "ntfs.raw", true},
    {"dfir_ntfs", "ntfs_index.raw", false},    {"dfir_ntfs", "ntfs3.raw", false},
    {"dfir_ntfs", "ntfs3_attrlist.raw", false}, {"dfir_ntfs", "vss_2003.raw", true},
    {"tsk-test-data", "7-ntfs-undel.dd", false}, {"tsk-test-data", "8-jpeg-search.dd", false},
    {"donald", "test.ntfs.dd", false},          {"grr", "ntfs_img.dd", false},
    {"colinfinck-ntfs", "testfs1", false},      {"dx_dfir", "ntfs1-gen0.raw", false},
};

std::string SharedImageFile(const SharedImage& s, const std::string& suffix) {
    const fs::path file = tarnwick::testdata::SharedImagesDir() / s.folder / (std::string(s.file) + suffix);
    return fs::exists(file) ? file.string() : std::string();
}

std::string UnpackedImage(const SharedImage& s) {
    return tarnwick::testdata::SharedImage(std::string(s.folder) + "/" + s.file, s.sparseTar);
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

bool HaveTool(const std::string& tool) {
    int status = 0;
    RunCommand("command -v " + tool + " >/dev/null 2>&1", &status);
    return status == 0;
}

std::string TestName(std::string name) {
    for (auto& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

}  // namespace volume_tests
