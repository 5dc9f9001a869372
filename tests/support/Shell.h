#pragma once
// Running programs from tests: shell quoting, and the command-line program run
// without a terminal, in UTC, with its output captured.

#include <sys/wait.h>

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

}  // namespace qvtest
