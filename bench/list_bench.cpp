// tarnwick-list-bench: `tarnwick list IMAGE > /dev/null` side by side with
// the floor every reader of the master file table pays (the table's bytes
// read a megabyte at a time, plus the listing's own bytes written to
// /dev/null) and with two general NTFS listers, interleaved in one process so
// that a busy machine slows all of them alike.
//
//   tarnwick-list-bench --tool PATH [--rounds N] [--peer-rounds N] [--no-peers]
//                       LABEL=IMAGE ...
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

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
constexpr double kMiB = 1024.0 * 1024.0;

// Runs `args` with standard output on /dev/null, or counted through a pipe.
// Only the tool under test must succeed: fls reports orphan lookups with a
// non-zero code on some volumes.
ChildResult Run(const std::vector<std::string>& args, bool count) {
    ChildResult result = bench::RunChild(args, count ? ChildOutput::Count : ChildOutput::Discard);
    if (args[1] == "list" && !result.succeeded) throw std::runtime_error(args[0] + " list failed on " + args.back());
    return result;
}

// The floor: the master file table read with 1 MiB reads, then `bytes`
// written to /dev/null in 1 MiB writes.
double Floor(const std::string& image, const bench::VolumeLayout& layout, std::uint64_t bytes, double& cpu) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto t0 = Clock::now();
    bench::ReadBuffer buffer(std::size_t{1} << 20);
    const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + image);
    bench::ReadRanges(fd, layout.mft, buffer);
    close(fd);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    for (std::uint64_t done = 0; done < bytes;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes - done));
        if (write(sink, buffer.data(), n) != static_cast<ssize_t>(n)) throw std::runtime_error("write to /dev/null failed");
        done += n;
    }
    close(sink);
    const double seconds = Seconds(t0, Clock::now());
    getrusage(RUSAGE_SELF, &after);
    cpu = CpuSeconds(after) - CpuSeconds(before);
    return seconds;
}

struct Volume {
    std::string label, image;
    bench::VolumeLayout layout;
    std::uint64_t rows = 0, bytes = 0;
    long peakKiB = 0;
    std::map<std::string, std::vector<double>> wall, cpu;
};

const char* const kFloor = "floor: MFT 1 MiB reads + output";
const char* const kList = "tarnwick list > /dev/null";
const char* const kNtfsls = "ntfsls -R -a -s";
const char* const kFls = "fls -r -p";

void Report(const Volume& v) {
    const auto med = [&](const char* key) { return v.wall.count(key) ? Median(v.wall.at(key)) : 0.0; };
    std::printf("\n== %s: %s\n", v.label.c_str(), v.image.c_str());
    std::printf("rows %llu, output %.1f MiB, master file table %.1f MiB in %zu runs, %llu live records\n",
                static_cast<unsigned long long>(v.rows), static_cast<double>(v.bytes) / kMiB,
                static_cast<double>(v.layout.mftBytes) / kMiB, v.layout.mft.size(),
                static_cast<unsigned long long>(v.layout.liveRecords));
    const double floor = med(kFloor);
    const double floorCpu = v.cpu.count(kFloor) ? Median(v.cpu.at(kFloor)) : 0.0;
    std::printf("%-34s %9s %9s %9s %9s %9s %11s\n", "measurement (seconds)", "median", "min", "max", "x floor", "cpu",
                "cpu x floor");
    for (const char* key : {kFloor, kList, kNtfsls, kFls}) {
        if (!v.wall.count(key)) continue;
        const auto& xs = v.wall.at(key);
        const double c = Median(v.cpu.at(key));
        std::printf("%-34s %9.4f %9.4f %9.4f %9.2f %9.4f %11.2f\n", key, Median(xs), *std::min_element(xs.begin(), xs.end()),
                    *std::max_element(xs.begin(), xs.end()), floor > 0 ? Median(xs) / floor : 0.0, c,
                    floorCpu > 0 ? c / floorCpu : 0.0);
    }
    const double list = med(kList);
    if (v.rows > 0) std::printf("tarnwick list per row: %.0f ns\n", list / static_cast<double>(v.rows) * 1e9);
    if (list > 0 && v.wall.count(kNtfsls)) std::printf("ntfsls / tarnwick list: %.2fx\n", med(kNtfsls) / list);
    if (list > 0 && v.wall.count(kFls)) std::printf("fls / tarnwick list: %.1fx\n", med(kFls) / list);
    const double peak = static_cast<double>(v.peakKiB) * 1024.0;
    const double perRow = v.rows > 0 ? std::max(0.0, peak - 64 * kMiB) / static_cast<double>(v.rows) : 0.0;
    std::printf("peak resident memory of tarnwick list: %.1f MiB, %.0f bytes per row over 64 MiB (%.0f bytes per row in all)\n",
                peak / kMiB, perRow, v.rows > 0 ? peak / static_cast<double>(v.rows) : 0.0);
}

int Main(int argc, char** argv) {
    std::string tool;
    int rounds = 5, peerRounds = -1;
    bool peers = true;
    std::vector<Volume> volumes;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--tool" && i + 1 < argc) {
            tool = argv[++i];
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--peer-rounds" && i + 1 < argc) {
            peerRounds = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--no-peers") {
            peers = false;
        } else if (a.find('=') != std::string::npos && a[0] != '-') {
            Volume v;
            v.label = a.substr(0, a.find('='));
            v.image = a.substr(a.find('=') + 1);
            volumes.push_back(std::move(v));
        } else {
            std::fprintf(stderr, "usage: tarnwick-list-bench --tool PATH [--rounds N] [--peer-rounds N] [--no-peers] LABEL=IMAGE...\n");
            return 2;
        }
    }
    if (tool.empty() || volumes.empty()) {
        std::fprintf(stderr, "tarnwick-list-bench: give --tool and at least one LABEL=IMAGE\n");
        return 2;
    }
    if (peerRounds < 0) peerRounds = rounds;
    const bool ntfsls = peers && Installed("ntfsls");
    const bool fls = peers && Installed("fls");

    utsname u{};
    uname(&u);
    std::printf("machine: %s %s, %ld cpus; command:", u.sysname, u.release, sysconf(_SC_NPROCESSORS_ONLN));
    for (int i = 0; i < argc; ++i) std::printf(" %s", argv[i]);
    std::printf("\n");

    for (Volume& v : volumes) {
        v.layout = bench::ScanVolumeLayout(v.image);
        // The listing's own size and row count, and (in a fresh child) its peak memory.
        const ChildResult counted = Run({tool, "list", v.image}, true);
        v.bytes = counted.bytes;
        v.rows = counted.lines > 0 ? counted.lines - 1 : 0;  // the header line
        v.peakKiB = Run({tool, "list", v.image}, false).maxRssKiB;

        using Step = std::function<void(bool record)>;
        std::vector<Step> steps, peerSteps;
        steps.push_back([&v](bool record) {
            double cpu = 0;
            const double wall = Floor(v.image, v.layout, v.bytes, cpu);
            if (!record) return;
            v.wall[kFloor].push_back(wall);
            v.cpu[kFloor].push_back(cpu);
        });
        auto child = [&v](std::vector<Step>& into, const char* key, std::vector<std::string> command) {
            into.push_back([&v, key, command](bool record) {
                const ChildResult r = Run(command, false);
                if (!record) return;
                v.wall[key].push_back(r.seconds);
                v.cpu[key].push_back(r.cpuSeconds);
            });
        };
        child(steps, kList, {tool, "list", v.image});
        if (ntfsls) child(peerSteps, kNtfsls, {"ntfsls", "-R", "-a", "-s", v.image});
        if (fls) child(peerSteps, kFls, {"fls", "-r", "-p", v.image});

        // Warm the cache and every path once, then interleave: each round runs
        // every measurement once, starting at a different one.
        for (auto& s : steps) s(false);
        for (int r = 0; r < rounds; ++r) {
            std::vector<Step*> order;
            for (auto& s : steps) order.push_back(&s);
            if (r < peerRounds) {
                for (auto& s : peerSteps) order.push_back(&s);
            }
            std::rotate(order.begin(), order.begin() + (r % static_cast<int>(order.size())), order.end());
            for (Step* s : order) (*s)(true);
            std::fprintf(stderr, "%s: round %d of %d done\n", v.label.c_str(), r + 1, rounds);
        }
        Report(v);
        std::fflush(stdout);
    }

    if (volumes.size() > 1) {
        std::printf("\n== growth (tarnwick list per row, relative to the previous volume)\n");
        for (std::size_t i = 1; i < volumes.size(); ++i) {
            const Volume& a = volumes[i - 1];
            const Volume& b = volumes[i];
            const auto perRow = [](const Volume& v, const char* key) {
                return Median(v.wall.at(key)) / static_cast<double>(std::max<std::uint64_t>(1, v.rows));
            };
            std::printf("%s -> %s: tarnwick list %.2fx per row (floor %.2fx)\n", a.label.c_str(), b.label.c_str(),
                        perRow(b, kList) / perRow(a, kList), perRow(b, kFloor) / perRow(a, kFloor));
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick-list-bench: %s\n", e.what());
        return 1;
    }
}
