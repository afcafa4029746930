#include "fls_check.h"

#include "text.h"

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <algorithm>

namespace volume_tests {

namespace {

// fls cuts long names and paths (a 255-unit name of 3-byte characters, for
// one) at a fixed number of bytes, sometimes inside a character.
bool CutShort(const std::string& full, const std::string& cut) {
    if (cut.size() < 200 || cut.size() >= full.size()) return false;
    std::size_t n = cut.size();
    while (n > 0 && (static_cast<unsigned char>(cut[n - 1]) & 0x80)) --n;  // drop a possibly broken tail
    return full.compare(0, n, cut, 0, n) == 0;
}

constexpr std::string_view kReplacement = "\xef\xbf\xbd";  // U+FFFD

std::size_t Utf8Length(unsigned char lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// True when `fls` may be how fls spells `ours`: where the tool wrote U+FFFD
// for an unpaired surrogate fls wrote '^', and after a high surrogate it
// took the next unit with it.
bool SurrogateSpelling(std::string_view ours, std::string_view fls) {
    const std::size_t at = ours.find(kReplacement);
    if (at == std::string_view::npos) return ours == fls;
    if (ours.substr(0, at) != fls.substr(0, at) || fls.size() <= at || fls[at] != '^') return false;
    const std::string_view rest = ours.substr(at + kReplacement.size());
    const std::string_view flsRest = fls.substr(at + 1);
    if (SurrogateSpelling(rest, flsRest)) return true;
    if (rest.empty()) return false;
    return SurrogateSpelling(rest.substr(std::min(rest.size(), Utf8Length(static_cast<unsigned char>(rest[0])))), flsRest);
}

}  // namespace

std::vector<FlsName> ParseFls(const std::string& output) {
    struct Line {
        std::string type, path, text;
        std::int32_t record;
        bool deleted;
    };
    std::vector<Line> lines;
    std::istringstream in(output);
    for (std::string text; std::getline(in, text);) {
        // "<type> [* ]<record>[-<attr>-<id>][(realloc)]:\t<path>"
        const auto tab = text.find(":\t");
        if (tab == std::string::npos) continue;
        std::istringstream head(text.substr(0, tab));
        Line l;
        std::string word;
        head >> l.type >> word;
        l.deleted = word == "*";
        if (l.deleted) head >> word;
        l.record = static_cast<std::int32_t>(std::stol(word));
        l.path = text.substr(tab + 2);
        l.text = text;
        lines.push_back(std::move(l));
    }
    std::map<std::string, std::int32_t> dirs = {{"", 5}};
    for (const auto& l : lines)
        if (!l.deleted && l.type[0] == 'd') dirs[l.path] = l.record;
    std::vector<FlsName> names;
    for (const auto& l : lines) {
        if (l.type == "V/V" || l.path.rfind("$OrphanFiles", 0) == 0) continue;
        const auto slash = l.path.rfind('/');
        const std::string parentPath = slash == std::string::npos ? "" : l.path.substr(0, slash);
        const std::string name = slash == std::string::npos ? l.path : l.path.substr(slash + 1);
        FlsName n;
        const auto dir = dirs.find(parentPath);
        n.parent = dir == dirs.end() ? -1 : dir->second;
        n.record = l.record;
        n.name = name;
        n.deleted = l.deleted;
        n.line = l.text;
        names.push_back(std::move(n));
    }
    return names;
}

std::vector<IndexName> ReadIndexNames(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<IndexName> names;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream f(line);
        IndexName n;
        std::string dir, id, ns;
        std::getline(f, dir, '\t');
        std::getline(f, n.where, '\t');
        std::getline(f, id, '\t');
        std::getline(f, ns, '\t');
        std::getline(f, n.name);
        n.directory = std::stoi(dir);
        n.id = std::stoi(id);
        n.nameSpace = std::stoi(ns);
        names.push_back(std::move(n));
    }
    return names;
}

std::string FlsSpelling(const std::string& escapedName) {
    const auto units = volume_builder::UnescapeName(escapedName);
    std::u16string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
                out.push_back(c);
                out.push_back(units[++i]);
            } else {
                out.push_back(u'^');
                ++i;  // fls takes the unit after a broken high surrogate with it
            }
        } else if ((c >= 0xDC00 && c <= 0xDFFF) || c < 0x20) {
            out.push_back(u'^');
        } else {
            out.push_back(c);
        }
    }
    return volume_builder::ToUtf8(out);
}

CrossCheck CompareWithFls(const std::vector<Row>& catalogue, const std::vector<FlsName>& fls,
                          const std::vector<IndexName>& indexNames) {
    using Key = std::tuple<std::int32_t, std::int32_t, std::string>;
    std::map<Key, std::set<std::string>> where;            // (dir, id, fls name) -> root/alloc/stale
    std::map<std::pair<std::int32_t, std::int32_t>, int> allocNames;  // (dir, id) -> names in buffers
    for (const auto& n : indexNames) {
        where[{n.directory, n.id, FlsSpelling(n.name)}].insert(n.where);
        if (n.where != "root" && n.nameSpace != 2) ++allocNames[{n.directory, n.id}];
    }
    std::set<std::pair<std::int32_t, std::string>> indexed;  // (dir, fls name) anywhere in its index
    for (const auto& n : indexNames) indexed.insert({n.directory, FlsSpelling(n.name)});
    std::set<Key> ours;
    for (const auto& r : catalogue) ours.insert({r.parentId, r.id, FlsSpelling(r.name)});
    std::set<Key> theirs;
    std::set<std::pair<std::int32_t, std::string>> theirsByName;  // deleted lines may carry record 0
    for (const auto& f : fls) {
        theirs.insert({f.parent, f.record, f.name});
        if (f.deleted) theirsByName.insert({f.parent, f.name});
    }

    // fls lists a named stream as "<name>:<stream>" (a directory's as ".:<stream>").
    std::set<Key> known = ours;
    for (const auto& [key, places] : where) known.insert(key);
    for (const auto& f : fls) known.insert({f.parent, f.record, f.name});
    auto streamOf = [&](const FlsName& f) -> const std::string* {
        static thread_local std::string prefix;
        const auto colon = f.name.rfind(':');
        if (colon == std::string::npos || colon == 0) return nullptr;
        prefix = f.name.substr(0, colon);
        if (prefix == "." && f.record == f.parent) return &prefix;
        return known.count({f.parent, f.record, prefix}) ? &prefix : nullptr;
    };
    std::set<Key> streamOwners;  // files that fls lists through their streams
    for (const auto& f : fls)
        if (const auto* owner = streamOf(f)) streamOwners.insert({f.parent, f.record, *owner});
    // fls cuts long paths (a 255-unit name of 3-byte characters, for one) at a
    // fixed number of bytes, sometimes inside a character.
    auto cutShort = CutShort;

    std::map<std::string, int> allowed;
    std::ostringstream faults;
    int faultCount = 0;
    auto fault = [&](const std::string& text) {
        if (faultCount++ < 20) faults << "  " << (text.size() > 300 ? text.substr(0, 300) + "..." : text) << '\n';
    };
    for (const auto& f : fls) {
        const Key key{f.parent, f.record, f.name};
        if (ours.count(key)) continue;
        if (f.deleted) {
            ++allowed["fls recovers a deleted name (index slack, records not in use, deleted directories)"];
            continue;
        }
        if (streamOf(f)) {
            ++allowed["fls lists a named stream as <name>:<stream>"];
            continue;
        }
        if (!indexed.count({f.parent, f.name})) {
            ++allowed["fls adds a record in use that no index entry names"];
            continue;
        }
        bool cut = false;
        for (const auto& r : catalogue)
            cut |= r.parentId == f.parent && r.id == f.record && cutShort(FlsSpelling(r.name), f.name);
        if (cut) {
            ++allowed["fls cuts a long name short"];
            continue;
        }
        const auto w = where.find(key);
        if (w != where.end() && w->second == std::set<std::string>{"root"}) {
            ++allowed["named only in its directory's index root"];
            continue;
        }
        if (allocNames[{f.parent, f.record}] >= 2) {
            ++allowed["two names of one file in one directory, both dropped"];
            continue;
        }
        fault("fls lists a name the catalogue lacks: " + f.line);
    }
    for (const auto& r : catalogue) {
        const Key key{r.parentId, r.id, FlsSpelling(r.name)};
        if (theirs.count(key) || theirsByName.count({r.parentId, FlsSpelling(r.name)})) continue;
        if (r.parentId == 5 && r.id == 5 && r.name == ".") {
            ++allowed["the root's entry for itself"];
            continue;
        }
        if (streamOwners.count(key)) {
            ++allowed["fls lists the file only through its named streams"];
            continue;
        }
        bool cut = false;
        for (const auto& f : fls) cut |= r.parentId == f.parent && r.id == f.record && cutShort(std::get<2>(key), f.name);
        if (cut) continue;  // counted on the fls side
        const auto w = where.find(key);
        if (w != where.end() && w->second.count("stale")) {
            ++allowed["a name in an unused INDX buffer"];
            continue;
        }
        fault("the catalogue has an entry fls does not list: " + r.Line());
    }
    CrossCheck result;
    result.ok = faultCount == 0;
    std::ostringstream report;
    report << "fls lines: " << fls.size() << ", catalogue entries: " << catalogue.size() << "\n";
    for (const auto& [what, count] : allowed) report << "  allowed: " << count << " x " << what << '\n';
    if (faultCount) report << faultCount << " differences outside the design:\n" << faults.str();
    if (faultCount > 20) report << "  ... " << (faultCount - 20) << " more\n";
    result.report = report.str();
    return result;
}

}  // namespace volume_tests

namespace volume_tests {

FlsPaths ParseFlsPaths(const std::string& output) {
    struct Line {
        std::string path, address;
        bool deleted;
    };
    std::vector<Line> lines;
    std::map<std::string, std::string> recordOfName;  // path without ':' -> record
    std::istringstream in(output);
    for (std::string text; std::getline(in, text);) {
        // "<type> [* ]<record>[-<attr>-<id>][(realloc)]:\t<path>"
        const auto tab = text.find(":\t");
        if (tab == std::string::npos || text.rfind("V/V ", 0) == 0) continue;
        std::istringstream head(text.substr(0, tab));
        std::string type;
        Line l;
        head >> type >> l.address;
        // "r/-": a name left in an index whose record now holds another file
        // (a directory that shrank keeps old entries in a node fls still reads).
        if (type.size() == 3 && type[2] == '-') continue;
        l.deleted = l.address == "*";
        if (l.deleted) head >> l.address;
        // Appended rather than `"/" + text.substr(...)`: GCC 12's -Wrestrict
        // misreads that insert-at-front in Release builds.
        l.path = "/";
        l.path.append(text, tab + 2);
        if (l.path.find(':', l.path.rfind('/')) == std::string::npos && !l.deleted)
            recordOfName[l.path] = l.address.substr(0, l.address.find('-'));
        lines.push_back(std::move(l));
    }
    FlsPaths paths;
    for (const Line& l : lines) {
        const auto colon = l.path.find(':', l.path.rfind('/'));
        // A POSIX name may hold a colon: the line is a stream only when the
        // part before the colon is not another record's name.
        const std::string record = l.address.substr(0, l.address.find('-'));
        const auto owner = colon == std::string::npos ? recordOfName.end() : recordOfName.find(l.path.substr(0, colon));
        if (colon == std::string::npos || (owner != recordOfName.end() && owner->second != record)) {
            (l.deleted ? paths.deleted : paths.names).insert(l.path);
            continue;
        }
        if (l.deleted) continue;
        // A directory's streams come twice, as "dir:s" and as "dir/.:s".
        std::string path = l.path;
        if (colon >= 2 && path.compare(colon - 2, 2, "/.") == 0) path.erase(colon - 2, 2);
        const std::string ownerPath = path.substr(0, path.find(':', path.rfind('/')));
        paths.streamOwners.insert(ownerPath);
        const auto dash = l.address.find('-');
        // Only named $DATA (type 128) is a stream of the file's content; the
        // others are the streams of its indexes ($I30, $SDH, $O, ...).
        if (dash != std::string::npos && l.address.compare(dash + 1, 4, "128-") == 0) paths.streams.insert(path);
    }
    return paths;
}

std::string FlsSpellingOfPath(const std::string& utf8Path) {
    std::string out = utf8Path;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20) c = '^';
    return out;
}

CrossCheck ComparePaths(const std::string& what, const std::set<std::string>& ours, const std::set<std::string>& theirs,
                        const std::set<std::string>& streamOwners, const std::set<std::string>& ourDeleted) {
    std::vector<std::string> onlyOurs, onlyTheirs;
    std::set_difference(ours.begin(), ours.end(), theirs.begin(), theirs.end(), std::back_inserter(onlyOurs));
    std::set_difference(theirs.begin(), theirs.end(), ours.begin(), ours.end(), std::back_inserter(onlyTheirs));
    std::map<std::string, int> allowed;
    // Pairs the differences that are one path spelled two ways.
    auto pairOff = [&](const char* reason, auto same) {
        for (auto o = onlyOurs.begin(); o != onlyOurs.end();) {
            const auto t = std::find_if(onlyTheirs.begin(), onlyTheirs.end(), [&](const std::string& x) { return same(*o, x); });
            if (t == onlyTheirs.end()) {
                ++o;
                continue;
            }
            ++allowed[reason];
            onlyTheirs.erase(t);
            o = onlyOurs.erase(o);
        }
    };
    pairOff("fls cuts a long path short", CutShort);
    pairOff("fls spells an unpaired surrogate '^'", [](const std::string& o, const std::string& t) {
        return o.find(kReplacement) != std::string::npos && SurrogateSpelling(o, t);
    });
    std::erase_if(onlyOurs, [&](const std::string& o) {
        const bool owner = streamOwners.count(o) != 0;
        if (owner) ++allowed["fls lists the file only through its streams"];
        return owner;
    });
    std::erase_if(onlyTheirs, [&](const std::string& t) {
        if (ourDeleted.count(t) != 0) {
            ++allowed["fls lists an index entry whose record is no longer in use"];
            return true;
        }
        const bool twice = std::any_of(ours.begin(), ours.end(), [&](const std::string& o) { return CutShort(o, t); });
        if (twice) ++allowed["fls lists a long name a second time, cut short"];
        return twice;
    });

    CrossCheck result;
    result.ok = onlyOurs.empty() && onlyTheirs.empty();
    std::ostringstream report;
    report << what << ": " << ours.size() << " listed by tarnwick, " << theirs.size() << " by fls\n";
    for (const auto& [reason, count] : allowed) report << "  allowed: " << count << " x " << reason << '\n';
    auto show = [&](const char* label, const std::vector<std::string>& paths) {
        for (std::size_t i = 0; i < paths.size() && i < 20; ++i) report << "  " << label << ' ' << paths[i] << '\n';
        if (paths.size() > 20) report << "  ... " << paths.size() - 20 << " more\n";
    };
    show("only tarnwick:", onlyOurs);
    show("only fls:     ", onlyTheirs);
    result.report = report.str();
    return result;
}

}  // namespace volume_tests
