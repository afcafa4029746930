#include "catalogue_rows.h"

#include "tarnwick.h"
#include "text.h"  // the builder's escaping, so that both sides spell names alike

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include <sys/wait.h>

namespace volume_tests {

bool Row::operator<(const Row& o) const {
    return std::tie(parentId, id, name) < std::tie(o.parentId, o.id, o.name);
}

std::string Row::Line() const {
    std::ostringstream s;
    s << parentId << '\t' << id << '\t' << flag << '\t' << nameSpace << '\t' << allocatedSize << '\t' << actualSize
      << '\t' << creationTime << '\t' << modificationTime << '\t' << mftModificationTime << '\t' << accessTime << '\t'
      << name << '\t' << parentName;
    return s.str();
}

Expected ReadExpected(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    Expected e;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        std::vector<std::string> f;
        std::size_t start = 0;
        for (;;) {
            const auto tab = line.find('\t', start);
            f.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        if (line[0] == '#') {
            if (f[0] == "# status" && f.size() > 1) e.status = std::stoi(f[1]);
            if (f[0] == "# warning" && f.size() > 1) e.warnings.push_back(f[1]);
            continue;
        }
        if (f.size() != 12) throw std::runtime_error("bad row in " + path + ": " + line);
        Row r;
        r.parentId = std::stoi(f[0]);
        r.id = std::stoi(f[1]);
        r.flag = std::stoi(f[2]);
        r.nameSpace = std::stoi(f[3]);
        r.allocatedSize = std::stoll(f[4]);
        r.actualSize = std::stoll(f[5]);
        r.creationTime = std::stoll(f[6]);
        r.modificationTime = std::stoll(f[7]);
        r.mftModificationTime = std::stoll(f[8]);
        r.accessTime = std::stoll(f[9]);
        r.name = f[10];
        r.parentName = f[11];
        e.rows.push_back(std::move(r));
    }
    return e;
}

namespace {

std::string Text(const std::uint16_t* units) {
    std::u16string s;
    for (std::size_t i = 0; i < 256 && units[i]; ++i) s.push_back(static_cast<char16_t>(units[i]));
    return volume_builder::EscapeName(s);
}

}  // namespace

Loaded LoadThroughLibrary(const std::string& image) {
    // Drive T: names the image (TARNWICK_DRIVE_T); 'T' - 'A' = 19.
    ::setenv("TARNWICK_DRIVE_T", image.c_str(), 1);
    Loaded loaded;
    size_t count = 0;
    loaded.status = LoadMft(19, &count);
    if (loaded.status == 0) {
        std::vector<ResultRecord_Internal*> entries(count);
        if (GetPointer(entries.data()) != 0) throw std::runtime_error("GetPointer failed after a load");
        loaded.rows.reserve(count);
        for (const auto* e : entries) {
            Row r;
            r.parentId = e->parentId;
            r.id = e->id;
            r.flag = e->flag;
            r.nameSpace = e->nameSpace;
            r.allocatedSize = e->allocatedSize;
            r.actualSize = e->actualSize;
            r.creationTime = e->creationTime;
            r.modificationTime = e->modificationTime;
            r.mftModificationTime = e->mftModificationTime;
            r.accessTime = e->accessTime;
            r.name = Text(e->name);
            r.parentName = Text(e->parentName);
            loaded.rows.push_back(std::move(r));
        }
    }
    Clear();  // also after a failed load, which may leave entries behind
    return loaded;
}

std::string DiffRows(std::vector<Row> expected, std::vector<Row> actual, std::size_t maxLines) {
    std::sort(expected.begin(), expected.end());
    std::sort(actual.begin(), actual.end());
    std::ostringstream out;
    std::size_t lines = 0, missing = 0, extra = 0, changed = 0;
    auto note = [&](const std::string& text) {
        // Long names would bury the diff; the row's numbers identify it anyway.
        if (lines++ < maxLines) out << (text.size() > 300 ? text.substr(0, 300) + "..." : text) << '\n';
    };
    std::size_t i = 0, j = 0;
    while (i < expected.size() || j < actual.size()) {
        if (j == actual.size() || (i < expected.size() && expected[i] < actual[j])) {
            ++missing;
            note("- missing  " + expected[i++].Line());
        } else if (i == expected.size() || actual[j] < expected[i]) {
            ++extra;
            note("+ extra    " + actual[j++].Line());
        } else {
            const Row& e = expected[i++];
            const Row& a = actual[j++];
            std::string fields;
            auto cmp = [&](const char* field, auto x, auto y) {
                if (x != y) {
                    std::ostringstream f;
                    f << ' ' << field << ": expected " << x << ", got " << y << ';';
                    fields += f.str();
                }
            };
            cmp("flag", e.flag, a.flag);
            cmp("nameSpace", e.nameSpace, a.nameSpace);
            cmp("allocatedSize", e.allocatedSize, a.allocatedSize);
            cmp("actualSize", e.actualSize, a.actualSize);
            cmp("creationTime", e.creationTime, a.creationTime);
            cmp("modificationTime", e.modificationTime, a.modificationTime);
            cmp("mftModificationTime", e.mftModificationTime, a.mftModificationTime);
            cmp("accessTime", e.accessTime, a.accessTime);
            cmp("parentName", e.parentName, a.parentName);
            if (!fields.empty()) {
                ++changed;
                note("~ differs  " + std::to_string(e.parentId) + '\t' + std::to_string(e.id) + '\t' + e.name + ":" +
                     fields);
            }
        }
    }
    if (missing + extra + changed == 0) return {};
    std::ostringstream head;
    head << missing << " expected entries missing, " << extra << " unexpected entries, " << changed
         << " entries with differing fields (expected " << expected.size() << ", got " << actual.size() << ")\n"
         << "columns: parentId id flag nameSpace allocatedSize actualSize creation modification mftChange access "
            "name parentName\n";
    if (lines > maxLines) out << "... " << (lines - maxLines) << " more lines\n";
    return head.str() + out.str();
}

std::string RunCommand(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) output.append(buf, n);
    const int rc = ::pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

}  // namespace volume_tests
