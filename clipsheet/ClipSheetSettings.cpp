#include "clipsheet/ClipSheetSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace qv {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// scanf's "%d" at text[pos]: blanks skipped, an optional sign, at least one
// digit. The value saturates far beyond 32 bits, which the callers refuse.
bool ScanInteger(std::string_view text, size_t& pos, int64_t& value) {
    constexpr int64_t kSaturated = int64_t{1} << 40;
    size_t p = pos;
    while (p < text.size() && IsBlank(text[p])) {
        ++p;
    }
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    if (p >= text.size() || !IsDigit(text[p])) {
        return false;
    }
    int64_t v = 0;
    for (; p < text.size() && IsDigit(text[p]); ++p) {
        v = std::min(kSaturated, v * 10 + (text[p] - '0'));
    }
    value = negative ? -v : v;
    pos = p;
    return true;
}

bool FitsInt32(int64_t v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

void TransferInt(SettingsValues& values, std::string_view subkey, bool save, const char* name,
                 int32_t& field, int32_t defaultValue, IntRange range) {
    if (save) {
        values.WriteText(subkey, name, std::to_string(field));
        return;
    }
    const int v = values.ReadDecimal(subkey, name, defaultValue);
    field = range.Holds(v) ? v : defaultValue;
}

}  // namespace

void TransferClipSheetSettings(ClipSheetSettings& s, SettingsValues& values, bool save,
                               std::string_view subkey) {
    constexpr IntRange kAny{std::numeric_limits<int32_t>::min(),
                            std::numeric_limits<int32_t>::max()};
    const ClipSheetSettings d;
    TransferInt(values, subkey, save, "ShowFnames", s.showFileNames, d.showFileNames, kFlagRange);
    TransferInt(values, subkey, save, "ShowTimecode", s.showTimecode, d.showTimecode, kFlagRange);
    TransferInt(values, subkey, save, "PicsPerLine", s.picsPerLine, d.picsPerLine,
                kPicsPerLineRange);
    TransferInt(values, subkey, save, "TimecodeOffsett", s.timecodeOffset, d.timecodeOffset, kAny);
    TransferInt(values, subkey, save, "PicsPerScene", s.picsPerScene, d.picsPerScene,
                kPicsPerSceneRange);
    TransferInt(values, subkey, save, "SecsPerPic", s.secsPerPic, d.secsPerPic, kSecsPerPicRange);
    TransferInt(values, subkey, save, "SpaceBelowText", s.spaceBelowText, d.spaceBelowText,
                kSpaceBelowTextRange);
    if (save) {
        values.WriteText(subkey, "Headline", s.headline);
    } else {
        s.headline = values.ReadText(subkey, "Headline");
        if (CharacterCount(s.headline) > kMaxHeadlineChars) {
            s.headline = d.headline;
        }
    }
    TransferInt(values, subkey, save, "FontSize", s.fontSize, d.fontSize, kFontSizeRange);
}

ClipSheetSettings LoadClipSheetSettings(const SettingsStore& store) {
    ClipSheetSettings settings;
    SettingsValues values = store.Load();
    TransferClipSheetSettings(settings, values, false);
    return settings;
}

bool SaveClipSheetSettings(const ClipSheetSettings& settings, SettingsStore& store) {
    ClipSheetSettings copy = settings;
    return store.Edit(
        [&](SettingsValues& values) { TransferClipSheetSettings(copy, values, true); });
}

size_t CharacterCount(std::string_view text) {
    // Every byte but UTF-8's continuation bytes (10xxxxxx) starts a character.
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::optional<int32_t> ParseTimecode(std::string_view text, float fps) {
    // Not a number counts as no rate; a rate beyond 32 bits of frames per second
    // (an infinite one too) has no count that fits.
    const float rounded = fps + 0.5f;
    if (!(rounded >= 1.0f)) {
        return 0;
    }
    if (!(rounded < 2147483648.0f)) {
        return std::nullopt;
    }
    const auto nominal = static_cast<int64_t>(rounded);
    // "%d:%d:%d:%d": each number may follow blanks; the colons must follow the
    // number directly.
    int64_t parts[4] = {};
    int n = 0;
    size_t pos = 0;
    size_t end = 0;  // after the last number read
    while (n < 4 && ScanInteger(text, pos, parts[n])) {
        ++n;
        end = pos;
        if (n == 4 || pos >= text.size() || text[pos] != ':') {
            break;
        }
        ++pos;
    }
    // Only blanks may follow: "xx:99:77" or "1:2x" is no time, and taking it for 0 or
    // for its first number would show a running time the user did not ask for.
    while (end < text.size() && IsBlank(text[end])) {
        ++end;
    }
    if (n == 0) {
        return end == text.size() ? std::optional<int32_t>(0) : std::nullopt;
    }
    if (end != text.size()) {
        return std::nullopt;
    }
    // Right-aligned: the last number read is always the frames.
    int64_t hms[4] = {};  // H, M, S, F
    for (int i = 0; i < n; ++i) {
        hms[4 - n + i] = parts[i];
    }
    // The first number may be any count; the ones after it are a clock's fields.
    const int64_t limits[4] = {0, 60, 60, nominal};  // H, M, S, F
    for (int i = 4 - n + 1; i < 4; ++i) {
        if (hms[i] < 0 || hms[i] >= limits[i]) {
            return std::nullopt;
        }
    }
    int64_t seconds = 0;
    int64_t total = 0;
    if (__builtin_mul_overflow(hms[0], int64_t{60}, &seconds) ||
        __builtin_add_overflow(seconds, hms[1], &seconds) ||
        __builtin_mul_overflow(seconds, int64_t{60}, &seconds) ||
        __builtin_add_overflow(seconds, hms[2], &seconds) ||
        __builtin_mul_overflow(seconds, nominal, &total) ||
        __builtin_add_overflow(total, hms[3], &total) || !FitsInt32(total)) {
        return std::nullopt;
    }
    const double rate = static_cast<double>(fps);
    const double r = static_cast<double>(nominal);
    const double divisor = 1.0 + (r - rate) / r;
    const double magnitude = std::trunc(static_cast<double>(std::llabs(total)) / divisor);
    const double result = total < 0 ? -magnitude : magnitude;
    if (!(result >= std::numeric_limits<int32_t>::min() &&
          result <= std::numeric_limits<int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<int32_t>(result);
}

std::optional<int32_t> ParseEditInteger(std::string_view text) {
    size_t pos = 0;
    int64_t value = 0;
    if (!ScanInteger(text, pos, value)) {
        return std::nullopt;
    }
    while (pos < text.size() && IsBlank(text[pos])) {
        ++pos;
    }
    if (pos != text.size() || !FitsInt32(value)) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

}  // namespace qv
