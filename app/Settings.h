#pragma once
// The values the main window and the options dialog keep in the settings store:
// the option record, and the window's output path, last input and input list.

#include <string>
#include <vector>

#include "platform/SettingsStore.h"

namespace qv {

// The options. The initial values are those before loading; loading replaces all
// four, with defaults of its own (sensitivity 2).
struct Settings {
    int deleteSourceFiles = 0;  // 0/1
    int skipNoDatestamp = 0;    // 0/1
    std::string codec;          // decoder name; empty: the default decoder
    int optSensitivity = 3;     // preset index 0 "very high" ... 4 "very low"
    // Where the thorough scan begins scenes besides datestamp jumps; 0/1, 1 by default.
    int splitRecordingStarts = 1;
    int splitTimecodeBreaks = 1;
    int splitFormatChanges = 1;
};

inline constexpr int kSensitivityPresets = 5;

// The values as decimal text ("deletesourcefiles", "skipnodatestamp",
// "OptSensitivity", "splitrecordingstarts", "splittimecodebreaks",
// "splitformatchanges") and text ("Codec"). A stored sensitivity outside 0..4 loads as
// the default 2: it indexes a table.
void ReadSettings(Settings& settings, const SettingsValues& values);
void WriteSettings(const Settings& settings, SettingsValues& values);
// One read of the store, or one rewrite of it.
void LoadSettings(Settings& settings, const SettingsStore& store);
bool SaveSettingsValues(const Settings& settings, SettingsStore& store);

// "scenes.avi" in the user's home folder.
std::string DefaultOutputPath();

struct MainWindowState {
    std::string outputPath;
    std::string lastInput;
    // In stored order; a missing entry is an empty string in its place, for the
    // caller to drop.
    std::vector<std::string> inputs;
    bool firstStart = false;
};

// Reads "output" (missing or empty: defaultOutputPath), "last input", "Files" and
// "input0" ... "input<Files-1>", and makes the first-start check: "ran" missing or
// not 2 means the first start. Writes "ran" = 2 when it is not 2 already.
// Missing entries after the last stored one are left out, and at most 1024 are
// kept empty, so a damaged "Files" count cannot make millions of empty entries.
MainWindowState LoadMainWindowState(SettingsStore& store, const std::string& defaultOutputPath);

// Saves in one rewrite, in this order: the settings, "last input", "output",
// "Files", "input0" ..., then deletes "input<Files>", "input<Files+1>", ... up to
// the first that does not exist, so no entries of a longer earlier list remain.
bool SaveMainWindowState(SettingsStore& store, const Settings& settings,
                         const MainWindowState& state);

}  // namespace qv
