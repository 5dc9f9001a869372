#pragma once
// What the benchmarks share beyond the files they make: their command line,
// timing and medians, child processes measured through wait4, and dropping the
// page cache. Kept apart from BenchAvi.h so that a benchmark that makes no AVI
// needs nothing of it.

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace qvbench {

inline double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

inline double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The median of one figure of every run, e.g. MedianOf(runs, [](auto& t) { return t.cpu; }):
// the summary tables take a column at a time.
template <typename Run, typename Figure>
double MedianOf(const std::vector<Run>& runs, Figure figure) {
    std::vector<double> values;
    for (const Run& r : runs) {
        values.push_back(figure(r));
    }
    return Median(std::move(values));
}

// Needs root; the caller says so when it is not.
inline bool DropCaches() {
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    return static_cast<bool>(drop.flush());
}

// The paths of the files in folder.
inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(folder + "/" + name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

inline void EmptyFolder(const std::string& folder) {
    for (const std::string& path : FilesIn(folder)) {
        ::unlink(path.c_str());
    }
}

inline int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// The command line every benchmark takes: [folder] [--repeat N] [--cold].
struct Options {
    std::string folder;  // where the files go: the one given, else $TMPDIR, else /tmp
    int repeat = 0;
    bool cold = false;
};

// Nothing (after saying why) when the command line is not understood, or when
// --cold is asked for without root and refuseColdWithoutRoot: only root can drop
// the page cache, and a cold run that was not cold would mislead.
inline std::optional<Options> ParseOptions(int argc, char** argv, int defaultRepeat,
                                           bool refuseColdWithoutRoot) {
    Options options;
    options.repeat = defaultRepeat;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--cold") {
            options.cold = true;
        } else if (arg == "--repeat" && i + 1 < argc) {
            options.repeat = std::max(1, std::atoi(argv[++i]));
        } else if (!arg.empty() && arg[0] != '-') {
            options.folder = arg;
        } else {
            std::fprintf(stderr, "usage: %s [folder] [--repeat N] [--cold]\n", argv[0]);
            return std::nullopt;
        }
    }
    if (options.cold && refuseColdWithoutRoot && ::geteuid() != 0) {
        std::fprintf(stderr, "--cold needs root to drop the page cache\n");
        return std::nullopt;
    }
    if (options.folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        options.folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    return options;
}

// One timed step in a child process.
struct Timing {
    double run = 0;     // the child, start to exit (or what the child itself measured)
    double sync = 0;    // the sync after it
    double cpu = 0;     // user and system time of the child
    double sys = 0;     // of which in the kernel
    double faults = 0;  // minor page faults: first touches of memory
    double maxRssMiB = 0;
    double kernel = 0;  // the whole machine's kernel time over the step and its sync:
                        // writeback done by the kernel's own threads counts too
    bool ok = false;
};

// Seconds the machine's CPUs have spent in the kernel (system, irq and softirq
// time of /proc/stat's first line) since boot; 0 when it cannot be read.
inline double KernelSeconds() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
    if (!(stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq) ||
        cpu != "cpu") {
        return 0;
    }
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? (system + irq + softirq) / static_cast<double>(ticks) : 0;
}

// Waits for the child and takes its CPU time, page faults and peak memory from
// wait4 (the only place a parent learns a child's peak). True when it exited 0.
inline bool WaitChild(pid_t pid, Timing& t, int* statusOut = nullptr) {
    int status = 0;
    struct rusage usage {};
    const pid_t waited = ::wait4(pid, &status, 0, &usage);
    auto seconds = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
    };
    t.sys = seconds(usage.ru_stime);
    t.cpu = seconds(usage.ru_utime) + t.sys;
    t.faults = static_cast<double>(usage.ru_minflt);
    t.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024;  // ru_maxrss is in KiB
    if (statusOut != nullptr) {
        *statusOut = status;
    }
    return waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs a program with its output thrown away; false unless it exits with 0.
inline bool RunQuiet(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs argv[0] (looked up in PATH) to its end, then sync, timing both: a write
// is not done until it is on the disk. quiet throws away what it prints.
inline Timing RunTimed(const std::vector<std::string>& args, bool quiet = false) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    Timing t;
    ::sync();  // earlier writes are not this step's
    std::fflush(stdout);  // else a failed exec would print them twice
    std::fflush(stderr);
    const double k0 = KernelSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = quiet ? ::open("/dev/null", O_WRONLY) : -1;
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        ::execvp(argv[0], argv.data());
        std::perror(argv[0]);
        ::_exit(127);
    }
    if (pid < 0) {
        std::perror("fork");
        return t;
    }
    int status = 0;
    const bool exited = WaitChild(pid, t, &status);
    const auto t1 = std::chrono::steady_clock::now();
    ::sync();
    const auto t2 = std::chrono::steady_clock::now();
    t.kernel = KernelSeconds() - k0;
    t.run = Seconds(t1 - t0);
    t.sync = Seconds(t2 - t1);
    t.ok = exited;
    if (!t.ok) {
        std::fprintf(stderr, "%s failed (status %d)\n", args[0].c_str(), status);
    }
    return t;
}

// Runs every step once per round, repeat rounds and a first one that warms up
// and is not kept: the first step after generating the inputs would otherwise
// pay alone for memory that nothing has used yet. The order alternates so that
// no step always runs after the same one. step(label, i, t) runs step i into t
// and says whether its output checked out; the first that does not ends all.
// kept[i] receives step i's counted timings. False when a step failed.
template <typename Step>
bool RunRounds(int repeat, std::vector<std::vector<Timing>>& kept, Step step) {
    const int steps = static_cast<int>(kept.size());
    for (int r = 0; r <= repeat; ++r) {
        const std::string label = r == 0 ? "warm-up" : "run " + std::to_string(r);
        for (int k = 0; k < steps; ++k) {
            const int i = r % 2 == 1 ? k : steps - 1 - k;
            Timing t;
            const bool checked = step(label, i, t);
            std::fflush(stdout);
            if (!checked) {
                return false;
            }
            if (r > 0) {
                kept[static_cast<size_t>(i)].push_back(t);
            }
        }
    }
    return true;
}

}  // namespace qvbench
