#pragma once
// quorvandel-cli report: the thorough scan's damage of the input files as a map
// of the tape (PNG or SVG), as a web page with the map, the scenes and the totals,
// or as JSON.

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace qv {

extern const char kReportUsage[];

struct ReportOptions {
    std::vector<std::string> files;
    std::string out;
};

void AddReportOptions(CLI::App& command, ReportOptions& o);

// Returns the exit code; usage problems give 2 after printing the problem through usage.
int ReportCommand(const ReportOptions& o, int (*usage)(const std::string&, const std::string&));

}  // namespace qv
