#pragma once
// quorvandel-cli sheet: the clip sheet of the scanned scenes as a PDF, through
// the same layout code as the clip sheet window's print command.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace qv {

extern const char kSheetUsage[];

// The sheet command's options as given; SheetCommand checks them.
struct SheetOptions {
    std::vector<std::string> files;
    std::string pdf;
    std::string output;
    std::string optical;  // --optical's value; empty when not given
    std::optional<std::string> only, headline;
    std::optional<std::string> picsPerLine, picsPerScene, secsPerPic, fontSize, timecodeOffset;
    bool noFileNames = false;
    bool noTimecode = false;
};

// Adds the sheet command's options to command, read into o.
void AddSheetOptions(CLI::App& command, SheetOptions& o);

// Returns the exit code; usage problems give 2 after printing the problem through usage.
int SheetCommand(const SheetOptions& o, const std::function<int(const std::string&)>& usage);

}  // namespace qv
