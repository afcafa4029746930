// tarnwick-list-phases: where `tarnwick list` spends its time, phase by
// phase, in one process: reading and decoding the table (with joining and
// resolving paths), putting the rows in tree order, and formatting the lines
// to /dev/null on the tool's two threads. Each round reads the volume again
// as the tool does; the medians say which phase a change moved, where the
// wall time of whole runs moves with the machine more than with the change.
//
//   tarnwick-list-phases [--rounds N] [--format csv|jsonl] IMAGE
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "listing/listing.h"
#include "listing/tree_order.h"
#include "listing_output.h"
#include "output_buffer.h"
#include "output_format.h"
#include "source.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// User CPU time of the calling thread: during the read, the decoding's
// own work, without the faults of fresh memory that the system time holds.
double ThreadUserMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec) * 1e3 + static_cast<double>(usage.ru_utime.tv_usec) / 1e3;
}

double Median(std::vector<double> xs) {
    std::sort(xs.begin(), xs.end());
    return xs.empty() ? 0.0 : xs[xs.size() / 2];
}

int Usage() {
    std::fprintf(stderr, "usage: tarnwick-list-phases [--rounds N] [--format csv|jsonl] IMAGE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarnwick;
    int rounds = 9;
    cli::Format format = cli::Format::Csv;
    std::string image;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (arg == "--format" && i + 1 < argc) {
            const auto parsed = cli::ParseFormat(argv[++i]);
            if (!parsed || *parsed == cli::Format::BodyFile) return Usage();
            format = *parsed;
        } else if (image.empty() && !arg.starts_with("-")) {
            image = arg;
        } else {
            return Usage();
        }
    }
    if (image.empty() || rounds < 1) return Usage();

    cli::Source source;
    cli::OpenedSource opened;
    if (auto problem = cli::ResolveSource(image, source)) {
        std::fprintf(stderr, "tarnwick-list-phases: %s: %s\n", image.c_str(), problem->c_str());
        return 1;
    }
    if (auto problem = cli::OpenSource(source, {}, opened)) {
        std::fprintf(stderr, "tarnwick-list-phases: %s: %s\n", image.c_str(), problem->c_str());
        return 1;
    }
    std::FILE* sink = std::fopen("/dev/null", "wb");
    if (sink == nullptr) return 1;

    std::vector<double> read, decodeCpu, order, lines;
    std::size_t rows = 0;
    for (int round = 0; round < rounds; ++round) {
        const cli::SourceHandle volume = cli::OpenHandle(opened);
        listing::Listing listing;
        const double cpuBefore = ThreadUserMilliseconds();
        const auto t0 = Clock::now();
        const listing::ListingStatus status = listing::ReadListing(volume.get(), {}, listing);
        const auto t1 = Clock::now();
        decodeCpu.push_back(ThreadUserMilliseconds() - cpuBefore);
        if (status != listing::ListingStatus::Complete) {
            std::fprintf(stderr, "tarnwick-list-phases: %s: %s\n", image.c_str(), listing::Describe(status));
            return 1;
        }
        // The writer orders the rows itself; ordered once more apart, the
        // order's share is known and taken from the lines'.
        const auto t2 = Clock::now();
        const auto ordered = listing::TreeOrder(listing);
        const auto t3 = Clock::now();
        {
            cli::OutputBuffer out(sink);
            cli::ListingWriter(out, format, cli::ListingColumns{}).WriteAll(listing);
            out.Flush();
        }
        const auto t4 = Clock::now();
        read.push_back(Milliseconds(t0, t1));
        order.push_back(Milliseconds(t2, t3));
        lines.push_back(Milliseconds(t3, t4) - Milliseconds(t2, t3));
        rows = ordered.size();
    }
    std::fclose(sink);

    std::printf("%s: %zu rows, %d rounds, medians in ms\n", image.c_str(), rows, rounds);
    std::printf("read and resolve %8.1f  (decoding thread's user CPU %.1f)\n", Median(read), Median(decodeCpu));
    std::printf("tree order       %8.1f\n", Median(order));
    std::printf("lines            %8.1f\n", Median(lines));
    std::printf("total            %8.1f\n", Median(read) + Median(order) + Median(lines));
    return 0;
}
