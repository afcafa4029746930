// What both benchmarks measure with: medians, CPU time, and child processes
// timed with their peak resident size.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b);
double Median(std::vector<double> v);
// User plus system time in `usage`: on a machine shared with other work,
// wall time shows the contention and this shows the work.
double CpuSeconds(const rusage& usage);
// Of this process so far.
double CpuSeconds();
bool Installed(const std::string& program);

// Where a child's standard output goes. Standard input is /dev/null, and so
// is standard error unless the output is captured (then a failure can say why).
enum class ChildOutput { Discard, Capture, Count };

struct ChildResult {
    double seconds = 0;
    double cpuSeconds = 0;
    long maxRssKiB = 0;
    bool succeeded = false;  // exited with 0
    std::string output;      // Capture
    std::uint64_t bytes = 0; // Count
    std::uint64_t lines = 0; // Count
};

ChildResult RunChild(const std::vector<std::string>& args, ChildOutput output);

}  // namespace bench
