#include "measure.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace bench {

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double CpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

bool Installed(const std::string& program) {
    const char* path = std::getenv("PATH");
    const std::string paths = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= paths.size();) {
        std::size_t end = paths.find(':', start);
        if (end == std::string::npos) end = paths.size();
        if (access((paths.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

ChildResult RunChild(const std::vector<std::string>& args, ChildOutput output) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const bool piped = output != ChildOutput::Discard;
    int pipeFds[2] = {-1, -1};
    if (piped && pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (piped) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    if (output != ChildOutput::Capture) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    ChildResult result;
    const auto t0 = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
    if (piped) {
        close(pipeFds[1]);
        std::vector<char> chunk(std::size_t{1} << 20);
        ssize_t n = 0;
        while ((n = read(pipeFds[0], chunk.data(), chunk.size())) > 0) {
            if (output == ChildOutput::Capture) {
                result.output.append(chunk.data(), static_cast<std::size_t>(n));
            } else {
                result.bytes += static_cast<std::uint64_t>(n);
                result.lines += static_cast<std::uint64_t>(std::count(chunk.data(), chunk.data() + n, '\n'));
            }
        }
        close(pipeFds[0]);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
    result.seconds = Seconds(t0, Clock::now());
    result.cpuSeconds = CpuSeconds(usage);
    result.maxRssKiB = usage.ru_maxrss;
    result.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

}  // namespace bench
