#include "builder.h"

#include "ntfs3g.h"
#include "text.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <unordered_set>

namespace volume_builder {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    const int err = errno;
    throw std::runtime_error(what + (err ? std::string(": ") + std::strerror(err) : std::string()));
}

const ntfschar* Units(const std::u16string& name) { return reinterpret_cast<const ntfschar*>(name.data()); }

void RunMkntfs(const VolumeFormat& format, const std::string& image) {
    const int fd = ::open(image.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0) Fail("create " + image);
    if (::ftruncate(fd, static_cast<off_t>(format.size)) != 0) { ::close(fd); Fail("size " + image); }
    ::close(fd);
    const std::string cluster = std::to_string(format.cluster);
    const std::string sector = std::to_string(format.sector);
    std::vector<std::string> args = {"mkntfs", "-Q", "-F", "-q", "-c", cluster, "-s", sector,
                                     "-p", "0", "-H", "0", "-S", "0", "-L", format.label, image};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Its warnings about the geometry of a plain file are noise; show them only on failure.
    FILE* errors = std::tmpfile();
    const int errFd = errors ? ::fileno(errors) : -1;
    const pid_t pid = ::fork();
    if (pid < 0) Fail("fork");
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) ::dup2(devnull, 1);
        if (errFd >= 0) ::dup2(errFd, 2);
        for (const char* dir : {"/usr/sbin/mkntfs", "/sbin/mkntfs"}) ::execv(dir, argv.data());
        ::execvp("mkntfs", argv.data());
        std::perror("mkntfs");
        ::_exit(127);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) < 0) Fail("waitpid");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (errors) {
            std::rewind(errors);
            char line[512];
            while (std::fgets(line, sizeof line, errors)) std::fputs(line, stderr);
            std::fclose(errors);
        }
        errno = 0;
        Fail("mkntfs failed for " + image);
    }
    if (errors) std::fclose(errors);
}

// A splitmix64 stream: the same seed gives the same volume everywhere.
struct Random {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t Below(std::uint64_t n) { return n ? Next() % n : 0; }
    bool Chance(unsigned percent) { return Below(100) < percent; }
};

class Writer {
public:
    Writer(ntfs_volume* vol, bool verbose) : vol_(vol), verbose_(verbose) {}

    ntfs_inode* Open(MFT_REF ref) {
        ntfs_inode* ni = ntfs_inode_open(vol_, ref);
        if (!ni) Fail("open inode " + std::to_string(MREF(ref)));
        return ni;
    }

    // Looks a path up component by component; (u64)-1 when missing.
    MFT_REF Lookup(const Path& path) {
        MFT_REF ref = FILE_root;
        for (const auto& name : path) {
            ntfs_inode* dir = Open(ref);
            ref = ntfs_inode_lookup_by_name(dir, Units(name), static_cast<int>(name.size()));
            ntfs_inode_close(dir);
            if (ref == static_cast<MFT_REF>(-1)) return ref;
        }
        return ref;
    }

    MFT_REF MustLookup(const Path& path) {
        const MFT_REF ref = Lookup(path);
        if (ref == static_cast<MFT_REF>(-1)) {
            errno = 0;
            Fail("no such path " + ToUtf8(JoinPath(path)));
        }
        return ref;
    }

    MFT_REF EnsureDir(const Path& path) {
        MFT_REF ref = FILE_root;
        for (const auto& name : path) {
            ntfs_inode* dir = Open(ref);
            MFT_REF child = ntfs_inode_lookup_by_name(dir, Units(name), static_cast<int>(name.size()));
            if (child == static_cast<MFT_REF>(-1)) {
                ntfs_inode* ni = Create(dir, name, S_IFDIR);
                child = ni->mft_no;
                ntfs_inode_close_in_dir(ni, dir);
            }
            ntfs_inode_close(dir);
            ref = child;
        }
        return ref;
    }

    // Creates `name` in the open directory `dir`; the caller closes the result.
    ntfs_inode* Create(ntfs_inode* dir, const std::u16string& name, mode_t type) {
        ntfs_inode* ni = ntfs_create(dir, const_cpu_to_le32(0), Units(name),
                                     static_cast<u8>(name.size()), type);
        if (!ni) Fail("create " + ToUtf8(name));
        ++created_;
        return ni;
    }

    void WriteData(ntfs_inode* ni, std::uint64_t size) {
        if (size == 0) return;
        ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
        if (!na) Fail("open data of inode " + std::to_string(ni->mft_no));
        if (pattern_.empty()) {
            pattern_.resize(1 << 20);
            for (std::size_t i = 0; i < pattern_.size(); ++i) pattern_[i] = static_cast<char>('a' + i % 26);
        }
        for (std::uint64_t done = 0; done < size;) {
            const auto n = static_cast<s64>(std::min<std::uint64_t>(size - done, pattern_.size()));
            if (ntfs_attr_pwrite(na, static_cast<s64>(done), n, pattern_.data()) != n) {
                ntfs_attr_close(na);
                Fail("write data of inode " + std::to_string(ni->mft_no));
            }
            done += static_cast<std::uint64_t>(n);
        }
        ntfs_attr_close(na);
    }

    void MakeFile(const Path& path, std::uint64_t size) {
        Path parent(path.begin(), path.end() - 1);
        ntfs_inode* dir = Open(EnsureDir(parent));
        ntfs_inode* ni = Create(dir, path.back(), S_IFREG);
        WriteData(ni, size);
        ntfs_inode_close_in_dir(ni, dir);
        ntfs_inode_close(dir);
    }

    void SetDosName(const Path& path, const std::string& shortName) {
        // Resolve before opening: libntfs-3g must never hold two copies of one inode.
        Path parent(path.begin(), path.end() - 1);
        const MFT_REF dirRef = MustLookup(parent), ref = MustLookup(path);
        ntfs_inode* dir = Open(dirRef);
        ntfs_inode* ni = Open(ref);
        // The call closes both inodes, whatever its outcome.
        if (ntfs_set_ntfs_dos_name(ni, dir, shortName.c_str(), shortName.size(), 0) != 0)
            Fail("set DOS name " + shortName + " on " + ToUtf8(JoinPath(path)));
    }

    void Link(const Path& target, const Path& path) {
        Path parent(path.begin(), path.end() - 1);
        const MFT_REF dirRef = EnsureDir(parent), ref = MustLookup(target);
        ntfs_inode* dir = Open(dirRef);
        ntfs_inode* ni = Open(ref);
        const auto& name = path.back();
        if (ntfs_link(ni, dir, Units(name), static_cast<u8>(name.size())) != 0) {
            ntfs_inode_close(ni);
            ntfs_inode_close(dir);
            Fail("link " + ToUtf8(JoinPath(path)));
        }
        ntfs_inode_close_in_dir(ni, dir);
        ntfs_inode_close(dir);
    }

    // Deletes `name` (an entry of the open directory `dir`).
    void DeleteIn(ntfs_inode* dir, const std::u16string& name, MFT_REF ref) {
        ntfs_inode* ni = Open(ref);
        const std::string utf8 = ToUtf8(name);
        // ntfs_delete closes the inode it deletes, whatever its outcome.
        if (ntfs_delete(vol_, utf8.c_str(), ni, dir, Units(name), static_cast<u8>(name.size())) != 0)
            Fail("delete " + utf8);
    }

    void Delete(const Path& path) {
        Path parent(path.begin(), path.end() - 1);
        const MFT_REF dirRef = MustLookup(parent), ref = MustLookup(path);
        ntfs_inode* dir = Open(dirRef);
        DeleteIn(dir, path.back(), ref);
        ntfs_inode_close(dir);
    }

    struct Child {
        std::u16string name;
        MFT_REF ref;
        unsigned type;
    };

    std::vector<Child> List(MFT_REF dirRef) {
        ntfs_inode* dir = Open(dirRef);
        std::vector<Child> children;
        s64 pos = 0;
        auto fill = [](void* ctx, const ntfschar* name, const int len, const int nameType, const s64,
                       const MFT_REF ref, const unsigned type) -> int {
            if (nameType == FILE_NAME_DOS) return 0;  // the long name stands for the file
            std::u16string n(reinterpret_cast<const char16_t*>(name), static_cast<std::size_t>(len));
            if (n == u"." || n == u"..") return 0;
            static_cast<std::vector<Child>*>(ctx)->push_back({std::move(n), ref, type});
            return 0;
        };
        if (ntfs_readdir(dir, &pos, &children, fill) != 0) {
            ntfs_inode_close(dir);
            Fail("read directory " + std::to_string(MREF(dirRef)));
        }
        ntfs_inode_close(dir);
        std::sort(children.begin(), children.end(), [](const Child& a, const Child& b) { return a.name < b.name; });
        return children;
    }

    void RemoveTree(MFT_REF dirRef) {
        for (const auto& child : List(dirRef)) {
            if (child.type == NTFS_DT_DIR) RemoveTree(child.ref);
            ntfs_inode* dir = Open(dirRef);
            DeleteIn(dir, child.name, child.ref);
            ntfs_inode_close(dir);
        }
    }

    void Many(const Step& step) {
        const Path dirPath = ParsePath(step.args[0]);
        const auto count = step.Number("count", 1);
        const auto prefix = UnescapeName(step.Option("prefix", "f"));
        const auto suffix = UnescapeName(step.Option("suffix", ""));
        const auto digits = static_cast<int>(step.Number("digits", 5));
        const auto size = step.Number("size", 0);
        const bool dirs = step.Option("kind", "file") == "dir";
        ntfs_inode* dir = Open(EnsureDir(dirPath));
        for (std::uint64_t i = 0; i < count; ++i) {
            char num[32];
            std::snprintf(num, sizeof num, "%0*llu", digits, static_cast<unsigned long long>(i));
            std::u16string name = prefix;
            for (const char* p = num; *p; ++p) name.push_back(static_cast<char16_t>(*p));
            name += suffix;
            ntfs_inode* ni = Create(dir, name, dirs ? S_IFDIR : S_IFREG);
            if (!dirs) WriteData(ni, size);
            ntfs_inode_close_in_dir(ni, dir);
        }
        ntfs_inode_close(dir);
    }

    void Thin(const Step& step) {
        const MFT_REF dirRef = MustLookup(ParsePath(step.args[0]));
        const auto every = std::max<std::uint64_t>(1, step.Number("every", 2));
        const auto keep = step.Number("keep", 0) % every;
        const auto children = List(dirRef);
        ntfs_inode* dir = Open(dirRef);
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (i % every == keep) continue;
            if (children[i].type == NTFS_DT_DIR) RemoveTree(children[i].ref);
            DeleteIn(dir, children[i].name, children[i].ref);
        }
        ntfs_inode_close(dir);
    }

    void Generate(const GenerateOptions& options);

    std::uint64_t Created() const { return created_; }

private:
    ntfs_volume* vol_;
    bool verbose_;
    std::uint64_t created_ = 0;
    std::vector<char> pattern_;
};

// Names of the kinds a real volume holds, plus the hard cases: non-ASCII,
// surrogate pairs, names up to 255 units. `tag` makes the name unique.
std::u16string RandomName(Random& rng, const std::string& tag, bool isDir) {
    static const char* const kWords[] = {"report", "data", "image", "backup", "notes", "photo", "build",
                                         "cache", "log", "draft", "invoice", "readme", "config", "old",
                                         "final", "copy", "music", "video", "test", "archive"};
    static const char* const kExts[] = {".txt", ".jpg", ".dat", ".log", ".pdf", ".docx", ".png", ".bin",
                                        ".cpp", ".h", ".json", ".xml", ".tmp", ".mp3", ".zip", ""};
    static const char16_t kAccents[] = u"éèüöäßçñøåÉÜЖЯфыйцукенгшщзхъ";
    static const char16_t kCjk[] = u"文件夹数据报告照片音乐资料";
    std::u16string name;
    const auto kind = rng.Below(100);
    auto appendAscii = [&](const char* s) { for (; *s; ++s) name.push_back(static_cast<char16_t>(*s)); };
    appendAscii(kWords[rng.Below(std::size(kWords))]);
    if (kind < 12) {
        for (auto n = 1 + rng.Below(8); n > 0; --n) name.push_back(kAccents[rng.Below(std::size(kAccents) - 1)]);
    } else if (kind < 17) {
        for (auto n = 1 + rng.Below(6); n > 0; --n) name.push_back(kCjk[rng.Below(std::size(kCjk) - 1)]);
    } else if (kind < 20) {
        const char32_t emoji = U'\U0001F600' + static_cast<char32_t>(rng.Below(64));
        name.push_back(static_cast<char16_t>(0xD800 + ((emoji - 0x10000) >> 10)));
        name.push_back(static_cast<char16_t>(0xDC00 + ((emoji - 0x10000) & 0x3FF)));
    } else if (kind < 24) {
        for (auto n = 80 + rng.Below(160); n > 0; --n) name.push_back(static_cast<char16_t>('a' + rng.Below(26)));
    } else if (kind < 60) {
        name.push_back(u' ');
        appendAscii(kWords[rng.Below(std::size(kWords))]);
    }
    std::u16string unique = u"_";
    for (char c : tag) unique.push_back(static_cast<char16_t>(c));
    std::u16string ext;
    if (!isDir) for (const char* e = kExts[rng.Below(std::size(kExts))]; *e; ++e) ext.push_back(static_cast<char16_t>(*e));
    const std::size_t room = 255 - unique.size() - ext.size();
    if (name.size() > room) {
        name.resize(room);
        // Never leave half a surrogate pair at the cut.
        if (!name.empty() && name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
    }
    return name + unique + ext;
}

std::string Base36(std::uint64_t n) {
    std::string s;
    do { s.insert(s.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36]); n /= 36; } while (n);
    return s;
}

void Writer::Generate(const GenerateOptions& o) {
    const auto started = std::chrono::steady_clock::now();
    Random rng{o.seed};
    const std::uint64_t dirCount = o.dirs ? o.dirs : std::max<std::uint64_t>(1, o.files / 60);
    struct Dir { std::uint64_t parent; MFT_REF ref; };
    std::vector<Dir> dirs;
    dirs.reserve(dirCount + 1);
    dirs.push_back({0, FILE_root});  // index 0 is the root itself
    for (std::uint64_t d = 1; d <= dirCount; ++d) {
        // Parents drawn from the earlier directories, biased to recent ones, give
        // a tree of realistic depth with both wide and deep parts.
        const std::uint64_t parent = rng.Chance(30) ? rng.Below(d) : d - 1 - rng.Below(std::min<std::uint64_t>(d, 8));
        ntfs_inode* dir = Open(dirs[parent].ref);
        // Appended rather than `"d" + Base36(d)`: GCC 12's -Wrestrict misreads
        // that insert-at-front in Release builds as an overlapping copy.
        std::string tag = "d";
        tag += Base36(d);
        ntfs_inode* ni = Create(dir, RandomName(rng, tag, true), S_IFDIR);
        dirs.push_back({parent, ni->mft_no});
        ntfs_inode_close_in_dir(ni, dir);
        ntfs_inode_close(dir);
    }
    // Skewed file counts per directory: most hold a few (index root only), some
    // hold thousands (many index buffers).
    std::vector<std::uint64_t> perDir(dirs.size(), 0);
    for (std::uint64_t f = 0; f < o.files; ++f) {
        const auto r = rng.Below(100);
        std::uint64_t d;
        if (r < 50) d = rng.Below(dirs.size());
        else if (r < 80) d = rng.Below(std::max<std::uint64_t>(1, dirs.size() / 10));
        else d = rng.Below(std::max<std::uint64_t>(1, dirs.size() / 100));
        ++perDir[d];
    }
    struct File { std::uint64_t dir; MFT_REF ref; std::u16string name; bool linked; };
    std::vector<File> files;
    files.reserve(o.files);
    std::uint64_t serial = 0;
    for (std::size_t d = 0; d < dirs.size(); ++d) {
        if (!perDir[d]) continue;
        ntfs_inode* dir = Open(dirs[d].ref);
        for (std::uint64_t k = 0; k < perDir[d]; ++k) {
            auto name = RandomName(rng, Base36(serial++), false);
            const auto r = rng.Below(1000);
            const std::uint64_t size = r < 300 ? 0 : r < 850 ? rng.Below(700) : r < 995 ? 1024 + rng.Below(8192)
                                                                                       : 16384 + rng.Below(65536);
            ntfs_inode* ni = Create(dir, name, S_IFREG);
            WriteData(ni, size);
            files.push_back({d, ni->mft_no, std::move(name), false});
            ntfs_inode_close_in_dir(ni, dir);
        }
        ntfs_inode_close(dir);
        if (verbose_ && d % 1000 == 0)
            std::fprintf(stderr, "generate: %zu/%zu directories, %llu files\n", d, dirs.size(),
                         static_cast<unsigned long long>(files.size()));
    }
    if (!files.empty()) {
        for (std::uint64_t l = 0; l < o.links && dirs.size() > 1; ++l) {
            File& f = files[rng.Below(files.size())];
            if (f.linked) continue;
            std::uint64_t to = rng.Below(dirs.size());
            if (to == f.dir) to = (to + 1) % dirs.size();
            f.linked = true;
            ntfs_inode* dir = Open(dirs[to].ref);
            ntfs_inode* ni = Open(f.ref);
            const auto name = u"link_" + f.name.substr(0, 200);
            if (ntfs_link(ni, dir, Units(name), static_cast<u8>(name.size())) != 0) Fail("link");
            ntfs_inode_close_in_dir(ni, dir);
            ntfs_inode_close(dir);
        }
        for (std::uint64_t s = 0; s < o.dosNames; ++s) {
            File& f = files[rng.Below(files.size())];
            if (f.linked) continue;  // ntfs-3g refuses DOS names on hard-linked files
            f.linked = true;         // one DOS name per file
            char shortName[32];
            std::snprintf(shortName, sizeof shortName, "G%07llX.DAT", static_cast<unsigned long long>(s));
            ntfs_inode* dir = Open(dirs[f.dir].ref);
            ntfs_inode* ni = Open(f.ref);
            if (ntfs_set_ntfs_dos_name(ni, dir, shortName, std::strlen(shortName), 0) != 0) Fail("DOS name");
        }
        for (std::uint64_t k = 0; k < o.deletes; ++k) {
            File& f = files[rng.Below(files.size())];
            if (f.linked || f.ref == 0) continue;
            ntfs_inode* dir = Open(dirs[f.dir].ref);
            DeleteIn(dir, f.name, f.ref);
            ntfs_inode_close(dir);
            f.ref = 0;
            f.linked = true;
        }
    }
    if (verbose_)
        std::fprintf(stderr, "generate: %zu directories, %zu files in %.1f s\n", dirs.size() - 1, files.size(),
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

}  // namespace

GenerateOptions GenerateOptionsFrom(const Step& step) {
    GenerateOptions o;
    o.files = step.Number("files", o.files);
    o.seed = step.Number("seed", o.seed);
    o.dirs = step.Number("dirs", 0);
    o.links = step.Number("links", o.files / 200);
    o.dosNames = step.Number("dos", o.files / 200);
    o.deletes = step.Number("deletes", o.files / 100);
    return o;
}

std::uint64_t GeneratedVolumeSize(const GenerateOptions& o) {
    // MFT records, about 1.3 KiB of data per file on average, a directory index
    // share, and slack for the MFT zone and metadata.
    const std::uint64_t bytes = o.files * (1024 + 2048) + (o.files / 60 + o.dirs) * 8192 + (256ull << 20);
    return (bytes + (1ull << 20) - 1) & ~((1ull << 20) - 1);
}

void BuildVolume(const Description& description, const std::string& imagePath, bool verbose) {
    RunMkntfs(description.volume, imagePath);
    ntfs_volume* vol = ntfs_mount(imagePath.c_str(), NTFS_MNT_NONE);
    if (!vol) Fail("mount " + imagePath + " through libntfs-3g");
    Writer writer(vol, verbose);
    try {
        for (const auto& step : description.steps) {
            errno = 0;
            try {
                const auto& c = step.command;
                if (c == "mkdir") writer.EnsureDir(ParsePath(step.args[0]));
                else if (c == "file") writer.MakeFile(ParsePath(step.args[0]), step.Number("size", 0));
                else if (c == "dos") writer.SetDosName(ParsePath(step.args[0]), step.args[1]);
                else if (c == "link") writer.Link(ParsePath(step.args[0]), ParsePath(step.args[1]));
                else if (c == "delete") writer.Delete(ParsePath(step.args[0]));
                else if (c == "rmtree") {
                    const Path path = ParsePath(step.args[0]);
                    writer.RemoveTree(writer.MustLookup(path));
                    writer.Delete(path);
                } else if (c == "many") writer.Many(step);
                else if (c == "thin") writer.Thin(step);
                else if (c == "generate") writer.Generate(GenerateOptionsFrom(step));
                // "check" steps are verified on the finished image.
            } catch (const std::exception& e) {
                throw std::runtime_error("line " + std::to_string(step.line) + " (" + step.command + "): " + e.what());
            }
        }
    } catch (...) {
        ntfs_umount(vol, TRUE);
        throw;
    }
    // Flushes every cached inode, the bitmaps and the MFT, and marks the volume clean.
    if (ntfs_umount(vol, FALSE) != 0) Fail("unmount " + imagePath);
}

}  // namespace volume_builder
