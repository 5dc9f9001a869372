// The clip sheet's settings in the "ClipList" subkey, the bitmap export's in the main
// key, and the parsers of their dialogs' edits.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "clipsheet/BitmapExportSettings.h"
#include "clipsheet/ClipSheetSettings.h"
#include "platform/SettingsStore.h"
#include "support/AviFixture.h"

namespace {

using qv::BitmapExportSettings;
using qv::ClipSheetSettings;
using qv::kClipListKey;
using qv::kMainKey;

// The names of the values under key in their stored order; each must be text.
std::vector<std::string> TextValueNames(const qv::SettingsValues& values, std::string_view key) {
    std::vector<std::string> names;
    for (const qv::SettingsValue& v : values.ValuesOf(key)) {
        names.push_back(v.name);
        EXPECT_EQ(v.type, qv::SettingsValue::Type::Text) << v.name;
    }
    return names;
}

TEST(ClipSheetSettingsTest, SavedValuesReadBackAsDecimalTextInTheStoredOrder) {
    qvtest::TempDir dir;
    qv::SettingsStore store(dir.Path("q.reg"));
    EXPECT_EQ(qv::LoadClipSheetSettings(store), ClipSheetSettings{});  // no subkey yet
    const ClipSheetSettings s{0, 0, -1500, 30, 0, 600, 10, 127, "Summer 2004, tape 3"};
    ASSERT_TRUE(qv::SaveClipSheetSettings(s, store));
    EXPECT_EQ(qv::LoadClipSheetSettings(store), s);

    const qv::SettingsValues values = store.Load();
    EXPECT_EQ(TextValueNames(values, kClipListKey),
              (std::vector<std::string>{"ShowFnames", "ShowTimecode", "PicsPerLine",
                                        "TimecodeOffsett", "PicsPerScene", "SecsPerPic",
                                        "SpaceBelowText", "Headline", "FontSize"}));
    EXPECT_EQ(values.ReadText(kClipListKey, "TimecodeOffsett"), "-1500");
    EXPECT_TRUE(values.ValuesOf(kMainKey).empty());
}

TEST(BitmapExportSettingsTest, SavedValuesReadBackAsDecimalTextInTheStoredOrder) {
    qvtest::TempDir dir;
    qv::SettingsStore store(dir.Path("q.reg"));
    EXPECT_EQ(qv::LoadBitmapExportSettings(store), BitmapExportSettings{});  // an empty store
    ASSERT_TRUE(store.WriteText(kMainKey, "output", "/v/scenes.avi"));
    const BitmapExportSettings s{"/pics/tape1.bmp", 3, -2, 2, 10000, 1, 0};
    ASSERT_TRUE(qv::SaveBitmapExportSettings(s, store));
    EXPECT_EQ(qv::LoadBitmapExportSettings(store), s);

    const qv::SettingsValues values = store.Load();
    EXPECT_EQ(
        TextValueNames(values, kMainKey),
        (std::vector<std::string>{"output", "bmpSecs", "bmpSel", "bmpSecsNum", "bmpCropHPixels",
                                  "bmpCropVPixels", "bmpDeinterlace", "BmpLastOutput"}));
    EXPECT_EQ(values.ReadText(kMainKey, "bmpCropVPixels"), "-2");
}

TEST(BitmapExportSettingsTest, StoredTextReadsByAtoiRulesAndEmptyAsTheDefault) {
    const struct {
        const char* name;
        const char* text;
        int32_t BitmapExportSettings::*field;
        int32_t expected;
    } rows[] = {
        {"bmpSecsNum", "", &BitmapExportSettings::lengthSeconds, 6},
        {"bmpSecsNum", "12 s", &BitmapExportSettings::lengthSeconds, 12},
        // Outside the drop-down's three entries: kept; the dialog shows no selection.
        {"bmpDeinterlace", "7", &BitmapExportSettings::deinterlace, 7},
    };
    for (const auto& row : rows) {
        qv::SettingsValues values;
        values.WriteText(kMainKey, row.name, row.text);
        BitmapExportSettings s;
        s.*row.field = 55;
        qv::TransferBitmapExportSettings(s, values, false);
        EXPECT_EQ(s.*row.field, row.expected) << row.name << "=" << row.text;
    }
}

TEST(ParseTimecodeTest, ReadsFramesSecondsMinutesAndHoursFromTheRight) {
    const struct {
        const char* text;
        float fps;
        std::optional<int32_t> frames;
    } rows[] = {
        {"1:00:00:00", 25.0f, 90000},
        {"3:07", 25.0f, 82},
        {"-1:00:00", 25.0f, -1500},
        {"-00:01:05", 25.0f, 30},   // the sign belongs to the first number only
        {" 1: 2:3 ", 25.0f, 1553},  // blanks may precede each number and end the text
        {"", 25.0f, 0},
        {"  ", 25.0f, 0},
        {"120:59:24", 25.0f, 120 * 1500 + 59 * 25 + 24},  // the first number any count
        {"00:01:00", 29.97f, 29},                         // 30 / 1.001
        {"00:00:30", 0.4f, 0},                            // a rate rounding to 0
        {"00:00:30", 3e9f, std::nullopt},                 // a rate beyond 32 bits
        {"-2147483648", 25.0f, -2147483648},
        // Counts beyond 32 bits are refused, never wrapped.
        {"23860:55:45:22", 25.0f, 2147483647},
        {"23860:55:45:23", 25.0f, std::nullopt},
        {"99999999999999999999:00", 25.0f, std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(qv::ParseTimecode(row.text, row.fps), row.frames) << row.text << " at " << row.fps;
    }
    // Text that is not a time is refused, not read as 0 or as its first numbers: a blank
    // before a colon, a field out of its clock range (frames 0 to 24).
    for (const char* text :
         {"abc", "xx:99:77", "1 :2", "1:", "1:2:3:4:5", "00:60:00", "00:01:25", "00:01:-1"}) {
        EXPECT_EQ(qv::ParseTimecode(text, 25.0f), std::nullopt) << text;
    }
}

TEST(ParseEditIntegerTest, AcceptsOnlyAWholeIntegerWithBlanksAround) {
    const std::pair<const char*, std::optional<int>> rows[] = {
        {" -4 ", -4}, {"+7", 7}, {"", std::nullopt}, {"7x", std::nullopt}, {"-", std::nullopt},
        {"4294967297", std::nullopt}};
    for (const auto& [text, value] : rows) {
        EXPECT_EQ(qv::ParseEditInteger(text), value) << '"' << text << '"';
    }
}

}  // namespace
