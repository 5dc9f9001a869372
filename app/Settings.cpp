#include "app/Settings.h"

#include <algorithm>
#include <utility>

namespace qv {

namespace {

// Empty entries stand for missing ones only up to this many; the caller drops
// them anyway.
constexpr size_t kMaxEmptyEntries = 1024;

std::string InputName(size_t index) {
    return "input" + std::to_string(index);
}

// The index of a value named "input%d" (any letter case), or -1.
int64_t InputIndex(std::string_view name) {
    constexpr std::string_view kPrefix = "input";
    if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 9) {
        return -1;
    }
    for (size_t i = 0; i < kPrefix.size(); ++i) {
        if ((name[i] | 0x20) != kPrefix[i]) {
            return -1;
        }
    }
    std::string_view digits = name.substr(kPrefix.size());
    if (digits.size() > 1 && digits[0] == '0') {
        return -1;  // "%d" never writes "input01"
    }
    int64_t index = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return -1;
        }
        index = index * 10 + (c - '0');
    }
    return index;
}

MainWindowState ReadMainWindowState(const SettingsValues& values,
                                    const std::string& defaultOutputPath) {
    MainWindowState state;
    state.outputPath = values.ReadText(kMainKey, "output", defaultOutputPath);
    state.lastInput = values.ReadText(kMainKey, "last input");
    state.firstStart = values.ReadInt(kMainKey, "ran", 0) != 2;

    // One pass over the values instead of a look-up per index: the count is
    // untrusted and the file may hold many values.
    const int64_t files = values.ReadInt(kMainKey, "Files", 0);
    std::vector<std::pair<int64_t, const SettingsValue*>> stored;
    for (const SettingsValue& v : values.ValuesOf(kMainKey)) {
        const int64_t index = InputIndex(v.name);
        if (index >= 0 && index < files) {
            stored.emplace_back(index, &v);
        }
    }
    std::sort(stored.begin(), stored.end());
    int64_t next = 0;
    size_t gaps = 0;
    for (const auto& [index, value] : stored) {
        for (; next < index && gaps < kMaxEmptyEntries; ++next, ++gaps) {
            state.inputs.emplace_back();
        }
        state.inputs.push_back(SettingsValues::TextOf(value));
        next = index + 1;
    }
    return state;
}

}  // namespace

void ReadSettings(Settings& settings, const SettingsValues& values) {
    settings.deleteSourceFiles = values.ReadDecimal(kMainKey, "deletesourcefiles", 0);
    settings.skipNoDatestamp = values.ReadDecimal(kMainKey, "skipnodatestamp", 0);
    settings.codec = values.ReadText(kMainKey, "Codec");
    const int sensitivity = values.ReadDecimal(kMainKey, "OptSensitivity", 2);
    settings.optSensitivity = sensitivity >= 0 && sensitivity < kSensitivityPresets ? sensitivity : 2;
    // The thorough scan's splits: on unless stored as 0.
    settings.splitRecordingStarts = values.ReadDecimal(kMainKey, "splitrecordingstarts", 1) != 0;
    settings.splitTimecodeBreaks = values.ReadDecimal(kMainKey, "splittimecodebreaks", 1) != 0;
    settings.splitFormatChanges = values.ReadDecimal(kMainKey, "splitformatchanges", 1) != 0;
}

void WriteSettings(const Settings& settings, SettingsValues& values) {
    values.WriteText(kMainKey, "deletesourcefiles", std::to_string(settings.deleteSourceFiles));
    values.WriteText(kMainKey, "skipnodatestamp", std::to_string(settings.skipNoDatestamp));
    values.WriteText(kMainKey, "Codec", settings.codec);
    values.WriteText(kMainKey, "OptSensitivity", std::to_string(settings.optSensitivity));
    values.WriteText(kMainKey, "splitrecordingstarts", std::to_string(settings.splitRecordingStarts));
    values.WriteText(kMainKey, "splittimecodebreaks", std::to_string(settings.splitTimecodeBreaks));
    values.WriteText(kMainKey, "splitformatchanges", std::to_string(settings.splitFormatChanges));
}

void LoadSettings(Settings& settings, const SettingsStore& store) {
    ReadSettings(settings, store.Load());
}

bool SaveSettingsValues(const Settings& settings, SettingsStore& store) {
    return store.Edit([&](SettingsValues& values) { WriteSettings(settings, values); });
}

std::string DefaultOutputPath() {
    std::string home = HomeFolder();
    if (home.empty()) {
        return "scenes.avi";
    }
    if (home.back() != '/') {
        home += '/';
    }
    return home + "scenes.avi";
}

MainWindowState LoadMainWindowState(SettingsStore& store, const std::string& defaultOutputPath) {
    MainWindowState state;
    store.Edit([&](SettingsValues& values) {
        state = ReadMainWindowState(values, defaultOutputPath);
        values.WriteDword(kMainKey, "ran", 2);
    });
    return state;
}

bool SaveMainWindowState(SettingsStore& store, const Settings& settings,
                         const MainWindowState& state) {
    return store.Edit([&](SettingsValues& values) {
        // A text the store refuses (far too long) must not leave an older value
        // of that name in its place.
        auto put = [&](const std::string& name, const std::string& text) {
            if (!values.WriteText(kMainKey, name, text)) {
                values.DeleteValue(kMainKey, name);
            }
        };
        WriteSettings(settings, values);
        put("last input", state.lastInput);
        put("output", state.outputPath);
        values.WriteDword(kMainKey, "Files", static_cast<uint32_t>(state.inputs.size()));
        for (size_t i = 0; i < state.inputs.size(); ++i) {
            put(InputName(i), state.inputs[i]);
        }
        for (size_t i = state.inputs.size(); values.DeleteValue(kMainKey, InputName(i)); ++i) {
        }
    });
}

}  // namespace qv
