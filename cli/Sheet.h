#pragma once
// quorvandel-cli sheet: the clip sheet of the scanned scenes as a PDF, through
// the same layout code as the clip sheet window's print command.

#include <string>
#include <vector>

namespace qv {

extern const char kSheetUsage[];

// args: everything after "sheet". Returns the exit code; usage problems give 2
// after printing the problem.
int SheetCommand(const std::vector<std::string>& args, int (*usage)(const std::string&));

}  // namespace qv
