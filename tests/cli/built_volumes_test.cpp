// The tool on the project's built test volumes: every line must carry the
// fields of the catalogue the volume builder derived on its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/utf16.h"
#include "text.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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

// Minimal CSV reading: the tool's own quoting is checked elsewhere; here
// only whole records are needed.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(std::move(field));
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.back().push_back(std::move(field));
            field.clear();
            rows.emplace_back();
            ++i;
        } else {
            field += c;
        }
    }
    rows.pop_back();
    return rows;
}

struct Outcome {
    int exit = -1;
    std::string out;
    std::string err;
};

Outcome RunTool(const fs::path& scratch, const std::vector<std::string>& args) {
    const fs::path out = scratch.string() + ".out";
    const fs::path err = scratch.string() + ".err";
    const pid_t child = fork();
    if (child == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        std::vector<char*> argv{const_cast<char*>(TARNWICK_CLI)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(TARNWICK_CLI, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Outcome run{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFile(out), ReadFile(err)};
    fs::remove(out);
    fs::remove(err);
    return run;
}

class BuiltVolume : public ::testing::TestWithParam<std::string> {};

TEST_P(BuiltVolume, EveryLineCarriesTheExpectedFields) {
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
        want.insert({f[1], f[0], tarnwick::Utf16ToUtf8(volume_builder::UnescapeName(f[10])), (flag & 2) != 0 ? "directory" : "file",
                     f[5], f[4], IsoTime(std::stoll(f[6])), IsoTime(std::stoll(f[7])), IsoTime(std::stoll(f[8])),
                     IsoTime(std::stoll(f[9])), f[2]});
    }

    const Outcome run = RunTool(fs::temp_directory_path() / ("tarnwick-cli-" + GetParam()), {"list", image.string()});
    if (status != 0) {
        EXPECT_EQ(run.exit, 1);
        EXPECT_NE(run.err.find(": error: "), std::string::npos) << run.err;
        return;
    }
    ASSERT_EQ(run.exit, 0) << run.err;
    const auto rows = ReadCsv(run.out);
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

INSTANTIATE_TEST_SUITE_P(Volumes, BuiltVolume,
                         ::testing::Values("names", "links", "directories", "geometry-4k-sector", "geometry-64k"),
                         [](const auto& param) {
                             std::string name = param.param;
                             for (char& c : name) c = c == '-' ? '_' : c;
                             return name;
                         });

}  // namespace
