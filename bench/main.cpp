// tarnwick-bench: the load of a whole catalogue side by side with the floor
// every reader of this design pays (the master file table's and the index
// buffers' bytes read a megabyte at a time, plus writing the catalogue's own
// bytes into fresh memory) and with two general NTFS listers, interleaved in
// one process so that a busy machine slows all of them alike.
//
//   tarnwick-bench [--rounds N] [--peer-rounds N] [--no-peers] [--no-memory]
//                  LABEL=IMAGE ...
//   tarnwick-bench --cycles N IMAGE      only load+clear N times (for profilers)
//   tarnwick-bench --child WHAT IMAGE    one measurement in a fresh process
//                                        (peak memory); WHAT: idle, load,
//                                        getdata, physical
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "tarnwick.h"
#include "measure.h"
#include "volume_layout.h"

namespace {

using bench::ChildOutput;
using bench::ChildResult;
using bench::Clock;
using bench::CpuSeconds;
using bench::Installed;
using bench::Median;
using bench::Seconds;
constexpr std::uint32_t kDrive = 'T' - 'A';
constexpr double kEntryBytes = 1096.0;
constexpr double kNameBytes = 520.0;
constexpr double kMiB = 1024.0 * 1024.0;

// --- the library under test -------------------------------------------------

void UseImage(const std::string& image) { setenv("TARNWICK_DRIVE_T", image.c_str(), 1); }

struct LoadCounts {
    std::uint64_t entries = 0;
    std::uint64_t names = 0;
};

[[noreturn]] void Fail(const std::string& what, int32_t status) {
    std::fprintf(stderr, "tarnwick-bench: %s returned %d\n", what.c_str(), status);
    std::exit(2);
}

std::size_t Load() {
    std::size_t count = 0;
    const int32_t status = LoadMft(kDrive, &count);
    if (status != 0) Fail("LoadMft", status);
    return count;
}

struct Stamp {
    Clock::time_point wall;
    double cpu;
};
Stamp Now() { return {Clock::now(), CpuSeconds()}; }

// --- the physical floor ------------------------------------------------------

struct FloorTimes {
    double mft = 0, index = 0, write = 0;
};

// Fresh memory for `bytes` of entries, obtained the way a reader that keeps
// its entries at fixed addresses would: large mappings, huge pages asked for.
double WriteFresh(std::uint64_t bytes) {
    if (bytes == 0) return 0;
    const auto t0 = Clock::now();
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::runtime_error("mmap failed");
#if defined(MADV_HUGEPAGE)
    madvise(p, bytes, MADV_HUGEPAGE);
#endif
    std::memset(p, 0x5A, bytes);
    const auto t1 = Clock::now();
    munmap(p, bytes);
    return Seconds(t0, t1);
}

FloorTimes Physical(const std::string& image, const bench::VolumeLayout& layout, std::uint64_t entries) {
    FloorTimes t;
    bench::ReadBuffer buffer(std::size_t{1} << 20);
    const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + image);
    const auto t0 = Clock::now();
    bench::ReadRanges(fd, layout.mft, buffer);
    const auto t1 = Clock::now();
    bench::ReadRanges(fd, layout.indexes, buffer);
    const auto t2 = Clock::now();
    close(fd);
    t.mft = Seconds(t0, t1);
    t.index = Seconds(t1, t2);
    t.write = WriteFresh(entries * static_cast<std::uint64_t>(kEntryBytes));
    return t;
}

// --- child processes ---------------------------------------------------------

// Our own children must succeed; fls reports orphan lookups and the like
// with a non-zero code on some volumes, so a peer's code is not checked.
ChildResult Run(const std::vector<std::string>& args, bool capture) {
    ChildResult result = bench::RunChild(args, capture ? ChildOutput::Capture : ChildOutput::Discard);
    if (capture && !result.succeeded) throw std::runtime_error(args[0] + " " + args[1] + " " + args[2] + " failed");
    return result;
}

std::string SelfPath() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) throw std::runtime_error("cannot find /proc/self/exe");
    return std::string(path, static_cast<std::size_t>(n));
}

int ChildMain(const std::string& what, const std::string& image) {
    UseImage(image);
    if (what == "idle") return 0;
    if (what == "load") {
        const std::size_t count = Load();
        const std::size_t names = tarnwick::TheCatalogue().recordNames.size();
        std::vector<ResultRecord_Internal*> pointers(count);
        if (GetPointer(pointers.data()) != 0) Fail("GetPointer", -1);
        if (Clear() != 0) Fail("Clear", -1);
        std::printf("%zu %zu\n", count, names);
        return 0;
    }
    if (what == "getdata") {
        const std::size_t count = Load();
        std::vector<ResultRecord_Export> out(count);
        if (const int32_t s = GetData(out.data()); s != 0) Fail("GetData", s);
        return 0;
    }
    if (what == "physical") {
        const bench::VolumeLayout layout = bench::ScanVolumeLayout(image);
        const char* entries = std::getenv("BENCH_ENTRIES");
        Physical(image, layout, entries ? std::strtoull(entries, nullptr, 10) : 0);
        return 0;
    }
    std::fprintf(stderr, "unknown child measurement %s\n", what.c_str());
    return 2;
}

// --- the side-by-side run ----------------------------------------------------

struct Volume {
    std::string label;
    std::string image;
    bench::VolumeLayout layout;
    LoadCounts counts;
    std::map<std::string, std::vector<double>> times;
    std::map<std::string, std::vector<double>> cpu;  // same keys, user + system seconds
    std::map<std::string, long> peakKiB;
};

void PrintMachine(const std::vector<std::string>& args) {
    utsname u{};
    uname(&u);
    std::string cpu = "?";
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    }
    std::printf("machine: %s %s, %s, %ld cpus, %.1f GiB RAM\n", u.sysname, u.release, cpu.c_str(),
                sysconf(_SC_NPROCESSORS_ONLN),
                static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE)) / kMiB / 1024.0);
    std::printf("command:");
    for (const std::string& a : args) std::printf(" %s", a.c_str());
    std::printf("\n");
}

struct Options {
    int rounds = 5;
    int peerRounds = -1;
    bool peers = true;
    bool memory = true;
    std::vector<Volume> volumes;
};

void MeasureMemory(Volume& v, bool peers, bool ntfsls, bool fls) {
    const std::string self = SelfPath();
    v.peakKiB["idle"] = Run({self, "--child", "idle", v.image}, true).maxRssKiB;
    const ChildResult load = Run({self, "--child", "load", v.image}, true);
    v.peakKiB["load"] = load.maxRssKiB;
    if (std::sscanf(load.output.c_str(), "%" SCNu64 " %" SCNu64, &v.counts.entries, &v.counts.names) != 2) {
        throw std::runtime_error("no counts from the load child");
    }
    v.peakKiB["getdata"] = Run({self, "--child", "getdata", v.image}, true).maxRssKiB;
    setenv("BENCH_ENTRIES", std::to_string(v.counts.entries).c_str(), 1);
    v.peakKiB["physical"] = Run({self, "--child", "physical", v.image}, true).maxRssKiB;
    if (peers && ntfsls) v.peakKiB["ntfsls"] = Run({"ntfsls", "-R", "-a", "-s", v.image}, false).maxRssKiB;
    if (peers && fls) v.peakKiB["fls"] = Run({"fls", "-r", "-p", v.image}, false).maxRssKiB;
}

void Report(const Volume& v, bool memory) {
    const auto& t = v.times;
    auto med = [&](const char* key) { return t.count(key) ? Median(t.at(key)) : 0.0; };
    const bench::VolumeLayout& l = v.layout;
    std::printf("\n== %s: %s\n", v.label.c_str(), v.image.c_str());
    std::printf("entries %" PRIu64 ", record names %" PRIu64 ", live records %" PRIu64 ", directories with index buffers %" PRIu64
                "\nmaster file table %.1f MiB in %zu runs; %" PRIu64 " index buffers, %.1f MiB in %zu ranges\n",
                v.counts.entries, v.counts.names, l.liveRecords, l.directories, static_cast<double>(l.mftBytes) / kMiB,
                l.mft.size(), l.indexBuffers, static_cast<double>(l.indexBytes) / kMiB, l.indexes.size());
    const double floor = med("physical");
    const double load = med("LoadMft");
    const double cpuFloor = v.cpu.count("physical") ? Median(v.cpu.at("physical")) : 0.0;
    std::printf("%-34s %9s %9s %9s %11s %9s %11s\n", "measurement (seconds)", "median", "min", "max", "x physical",
                "cpu", "cpu x phys");
    for (const char* key : {"physical", "  MFT bytes, 1 MiB reads", "  index bytes, 1 MiB reads", "  write entries x 1096",
                            "LoadMft", "LoadMft+GetPointer+Clear", "  GetPointer", "  Clear", "LoadMft+GetData",
                            "  GetData", "ntfsls -R -a -s", "fls -r -p"}) {
        if (!t.count(key)) continue;
        const auto& xs = t.at(key);
        std::printf("%-34s %9.4f %9.4f %9.4f %11.2f", key, Median(xs), *std::min_element(xs.begin(), xs.end()),
                    *std::max_element(xs.begin(), xs.end()), floor > 0 ? Median(xs) / floor : 0.0);
        if (v.cpu.count(key)) {
            const double c = Median(v.cpu.at(key));
            std::printf(" %9.4f %11.2f", c, cpuFloor > 0 ? c / cpuFloor : 0.0);
        }
        std::printf("\n");
    }
    if (v.counts.entries > 0) {
        std::printf("LoadMft per entry: %.0f ns (physical %.0f ns)\n", load / static_cast<double>(v.counts.entries) * 1e9,
                    floor / static_cast<double>(v.counts.entries) * 1e9);
    }
    if (t.count("ntfsls -R -a -s") && load > 0) std::printf("ntfsls / LoadMft: %.2fx\n", med("ntfsls -R -a -s") / load);
    if (t.count("fls -r -p") && load > 0) std::printf("fls / LoadMft: %.1fx\n", med("fls -r -p") / load);

    if (!memory) return;
    const double own = static_cast<double>(v.counts.entries) * kEntryBytes + static_cast<double>(v.counts.names) * kNameBytes;
    const double bound = 1.15 * own + 64 * kMiB;
    std::printf("peak resident memory (MiB, one fresh process each); catalogue's own size %.1f MiB, bound 1.15x + 64 MiB = %.1f MiB\n",
                own / kMiB, bound / kMiB);
    for (const auto& [key, kib] : v.peakKiB) {
        const double bytes = static_cast<double>(kib) * 1024.0;
        std::printf("  %-10s %9.1f  (%.3fx own size%s)\n", key.c_str(), bytes / kMiB, own > 0 ? bytes / own : 0.0,
                    key == "load" ? (bytes <= bound ? ", within bound" : ", OVER BOUND") : "");
    }
}

int BenchMain(const Options& o, const std::vector<std::string>& args) {
    PrintMachine(args);
    const bool ntfsls = o.peers && Installed("ntfsls");
    const bool fls = o.peers && Installed("fls");
    std::vector<Volume> volumes = o.volumes;
    for (Volume& v : volumes) v.layout = bench::ScanVolumeLayout(v.image);

    // Peak memory first, while this process is still small: a spawned child's
    // peak counts its parent's pages until the exec.
    if (o.memory) {
        for (Volume& v : volumes) MeasureMemory(v, o.peers, ntfsls, fls);
    }

    const int peerRounds = o.peerRounds < 0 ? o.rounds : o.peerRounds;
    for (Volume& v : volumes) {
        UseImage(v.image);
        {
            const std::size_t count = Load();
            v.counts.entries = count;
            v.counts.names = tarnwick::TheCatalogue().recordNames.size();
            Clear();
        }
        std::vector<ResultRecord_Export> exported(v.counts.entries);  // the caller's buffer, touched once here
        std::vector<ResultRecord_Internal*> pointers(v.counts.entries);

        using Step = std::function<void(bool record)>;
        auto keep = [&](const char* key, const Stamp& a, const Stamp& b) {
            v.times[key].push_back(Seconds(a.wall, b.wall));
            v.cpu[key].push_back(b.cpu - a.cpu);
        };
        std::vector<Step> steps;
        steps.push_back([&](bool record) {
            const Stamp t0 = Now();
            const std::size_t count = Load();
            const Stamp t1 = Now();
            if (count != v.counts.entries) Fail("a second LoadMft gave another count", -1);
            if (GetPointer(pointers.data()) != 0) Fail("GetPointer", -1);
            const Stamp t2 = Now();
            if (Clear() != 0) Fail("Clear", -1);
            const Stamp t3 = Now();
            if (!record) return;
            keep("LoadMft", t0, t1);
            keep("  GetPointer", t1, t2);
            keep("  Clear", t2, t3);
            keep("LoadMft+GetPointer+Clear", t0, t3);
        });
        steps.push_back([&](bool record) {
            const Stamp t0 = Now();
            Load();
            const Stamp t1 = Now();
            if (const int32_t s = GetData(exported.data()); s != 0) Fail("GetData", s);
            const Stamp t2 = Now();
            if (!record) return;
            keep("LoadMft", t0, t1);
            keep("  GetData", t1, t2);
            keep("LoadMft+GetData", t0, t2);
        });
        steps.push_back([&](bool record) {
            const Stamp t0 = Now();
            const FloorTimes f = Physical(v.image, v.layout, v.counts.entries);
            const Stamp t1 = Now();
            if (!record) return;
            v.times["  MFT bytes, 1 MiB reads"].push_back(f.mft);
            v.times["  index bytes, 1 MiB reads"].push_back(f.index);
            v.times["  write entries x 1096"].push_back(f.write);
            v.times["physical"].push_back(f.mft + f.index + f.write);
            v.cpu["physical"].push_back(t1.cpu - t0.cpu);
        });
        std::vector<Step> peerSteps;
        auto peer = [&](const char* key, std::vector<std::string> command) {
            peerSteps.push_back([&v, key, command](bool record) {
                const ChildResult r = Run(command, false);
                if (!record) return;
                v.times[key].push_back(r.seconds);
                v.cpu[key].push_back(r.cpuSeconds);
            });
        };
        if (ntfsls) peer("ntfsls -R -a -s", {"ntfsls", "-R", "-a", "-s", v.image});
        if (fls) peer("fls -r -p", {"fls", "-r", "-p", v.image});

        // Warm the cache and every code path once, then interleave: each round
        // runs every measurement once, starting at a different one.
        for (auto& s : steps) s(false);
        for (auto& s : peerSteps) s(false);
        for (int r = 0; r < o.rounds; ++r) {
            std::vector<Step*> order;
            for (auto& s : steps) order.push_back(&s);
            if (r < peerRounds) {
                for (auto& s : peerSteps) order.push_back(&s);
            }
            std::rotate(order.begin(), order.begin() + (r % static_cast<int>(order.size())), order.end());
            for (Step* s : order) (*s)(true);
            std::fprintf(stderr, "%s: round %d of %d done\n", v.label.c_str(), r + 1, o.rounds);
        }
        Report(v, o.memory);
        std::fflush(stdout);
    }

    if (volumes.size() > 1) {
        std::printf("\n== growth (LoadMft per entry, relative to the previous volume)\n");
        for (std::size_t i = 1; i < volumes.size(); ++i) {
            const Volume& a = volumes[i - 1];
            const Volume& b = volumes[i];
            const double pa = Median(a.times.at("LoadMft")) / static_cast<double>(a.counts.entries);
            const double pb = Median(b.times.at("LoadMft")) / static_cast<double>(b.counts.entries);
            const double fa = Median(a.times.at("physical")) / static_cast<double>(a.counts.entries);
            const double fb = Median(b.times.at("physical")) / static_cast<double>(b.counts.entries);
            std::printf("%s -> %s: LoadMft %.2fx per entry (physical %.2fx)\n", a.label.c_str(), b.label.c_str(), pb / pa,
                        fb / fa);
        }
    }
    return 0;
}

int CyclesMain(int cycles, const std::string& image) {
    UseImage(image);
    for (int i = 0; i < cycles; ++i) {
        const Stamp t0 = Now();
        const std::size_t count = Load();
        const Stamp t1 = Now();
        Clear();
        std::printf("LoadMft %zu entries %.4f s cpu %.4f s\n", count, Seconds(t0.wall, t1.wall), t1.cpu - t0.cpu);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    try {
        if (argc == 4 && args[1] == "--child") return ChildMain(args[2], args[3]);
        if (argc == 4 && args[1] == "--cycles") return CyclesMain(std::atoi(argv[2]), args[3]);
        Options o;
        for (int i = 1; i < argc; ++i) {
            const std::string& a = args[static_cast<std::size_t>(i)];
            if (a == "--rounds" && i + 1 < argc) {
                o.rounds = std::max(1, std::atoi(argv[++i]));
            } else if (a == "--peer-rounds" && i + 1 < argc) {
                o.peerRounds = std::max(0, std::atoi(argv[++i]));
            } else if (a == "--no-peers") {
                o.peers = false;
            } else if (a == "--no-memory") {
                o.memory = false;
            } else if (a.find('=') != std::string::npos && a[0] != '-') {
                Volume v;
                v.label = a.substr(0, a.find('='));
                v.image = a.substr(a.find('=') + 1);
                o.volumes.push_back(std::move(v));
            } else {
                std::fprintf(stderr,
                             "usage: tarnwick-bench [--rounds N] [--peer-rounds N] [--no-peers] [--no-memory] LABEL=IMAGE...\n"
                             "       tarnwick-bench --cycles N IMAGE\n");
                return 2;
            }
        }
        if (o.volumes.empty()) {
            std::fprintf(stderr, "tarnwick-bench: no volume given (LABEL=IMAGE)\n");
            return 2;
        }
        return BenchMain(o, args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick-bench: %s\n", e.what());
        return 1;
    }
}
