#pragma once
// The clip sheet's nine settings, kept in the settings store's "ClipList"
// subkey, and the parser of the options dialog's timecode text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/SettingsStore.h"

namespace qv {

// The first eight are copied between the sheet's layout and the options dialog
// as one block; the headline separately.
struct ClipSheetSettings {
    int32_t showFileNames = 1;   // 0/1: the scene's file name under its first picture
    int32_t showTimecode = 1;    // 0/1: a time under every picture
    int32_t timecodeOffset = 0;  // frames; 0 = source positions, else the running time's start
    int32_t picsPerLine = 6;
    int32_t picsPerScene = 3;    // at least this many pictures per scene
    int32_t secsPerPic = 0;      // at most this many seconds per picture; 0 = no limit
    int32_t spaceBelowText = 0;  // blank text lines under the texts
    int32_t fontSize = 10;       // text height in 64ths of the picture height
    std::string headline;        // empty = none

    friend bool operator==(const ClipSheetSettings&, const ClipSheetSettings&) = default;
};

// The ranges the options dialog accepts.
struct IntRange {
    int32_t min;
    int32_t max;
    bool Holds(int64_t v) const { return v >= min && v <= max; }
};
inline constexpr IntRange kPicsPerLineRange{1, 30};
inline constexpr IntRange kPicsPerSceneRange{0, 100};
inline constexpr IntRange kSecsPerPicRange{0, 600};
inline constexpr IntRange kSpaceBelowTextRange{0, 10};
inline constexpr IntRange kFontSizeRange{1, 127};
inline constexpr IntRange kFlagRange{0, 1};
inline constexpr size_t kMaxHeadlineChars = 80;

// The characters of an 8-bit text in the system's code page (UTF-8 here), as the
// headline's limit counts them: a letter of two or more bytes is one character.
size_t CharacterCount(std::string_view text);

// Reads (save false) or writes the nine values of subkey in the stored order:
// "ShowFnames", "ShowTimecode", "PicsPerLine", "TimecodeOffsett",
// "PicsPerScene", "SecsPerPic", "SpaceBelowText", "Headline", "FontSize".
// Integers are decimal text. A value that is missing, empty or outside the
// options dialog's range loads as its default: a stored 0 pictures per line
// would divide by zero in the layout, a negative font size makes no font.
void TransferClipSheetSettings(ClipSheetSettings& settings, SettingsValues& values, bool save,
                               std::string_view subkey = kClipListKey);

// One read of the store, or one rewrite of it.
ClipSheetSettings LoadClipSheetSettings(const SettingsStore& store);
bool SaveClipSheetSettings(const ClipSheetSettings& settings, SettingsStore& store);

// The frames a timecode text stands for, at the frame rate fps: up to four
// numbers "H:M:S:F", read from the right (F; S:F; M:S:F; H:M:S:F) by scanf's
// rules for "%d:%d:%d:%d". The count uses the nominal rate (fps rounded), then
// is scaled to the real rate (30 -> 29.97 divides by 1.001). Blank text gives 0,
// as does a rate that rounds to 0 or less or is not a number. Nothing for text
// that is not such numbers (blanks aside), for a field after the first outside its
// clock range (seconds 0..59, frames below the nominal rate), when the count does
// not fit a signed 32-bit integer, or the rate does not (an infinite one).
std::optional<int32_t> ParseTimecode(std::string_view text, float fps);

// A whole integer as an edit field holds it: blanks around it, an optional
// sign, digits. Nothing for other text or a value beyond 32 bits.
std::optional<int32_t> ParseEditInteger(std::string_view text);

}  // namespace qv
