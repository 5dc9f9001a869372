#pragma once
// Running programs from tests: shell quoting, and the command-line program run
// without a terminal, in UTC, with its output captured.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/AviFixture.h"

namespace qvtest {

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

struct ShellResult {
    int status = -1;
    std::string output;
};

inline ShellResult RunShell(const std::string& command) {
    ShellResult r;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            r.output.append(buffer, n);
        }
        r.status = ::pclose(pipe);
    }
    return r;
}

// The command-line program, in the test programs that are told where it is.
#ifdef QV_CLI_PATH
struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the command-line program with args (quoted by the caller); its output goes
// through files in dir.
inline CliResult RunCli(const TempDir& dir, const std::string& args) {
    const std::string out = dir.Path("stdout"), err = dir.Path("stderr");
    const std::string command = "TZ=UTC " + Quote(QV_CLI_PATH) + " " + args + " >" + Quote(out) +
                                " 2>" + Quote(err) + " </dev/null";
    const int status = std::system(command.c_str());
    CliResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const std::vector<uint8_t> o = ReadFileBytes(out), e = ReadFileBytes(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

// Starts the command-line program with args (unquoted, one per element) as RunCli
// runs it, without waiting: its pid, or -1.
inline pid_t StartCli(const TempDir& dir, const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, dir.Path("stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, dir.Path("stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{QV_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::string tz = "TZ=UTC";
    std::vector<char*> envp{tz.data()};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("TZ=", 0) != 0) {
            envp.push_back(*e);
        }
    }
    envp.push_back(nullptr);
    // Signals as they are by default, whatever this process was started with.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigfillset(&defaults);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    if (posix_spawn(&pid, QV_CLI_PATH, &actions, &attributes, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

#endif  // QV_CLI_PATH

}  // namespace qvtest
