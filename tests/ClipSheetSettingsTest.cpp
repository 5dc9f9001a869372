// The clip sheet's settings in the "ClipList" subkey and the timecode parser
// of its options dialog.

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "clipsheet/ClipSheetSettings.h"
#include "platform/SettingsStore.h"
#include "support/AviFixture.h"

namespace {

using qv::ClipSheetSettings;
using qv::kClipListKey;
using qv::ParseTimecode;
using qv::SettingsStore;
using qv::SettingsValues;

TEST(ClipSheetSettingsTest, AStoreWithoutTheSubkeyGivesTheDefaults) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("q.reg"));
    const ClipSheetSettings s = qv::LoadClipSheetSettings(store);
    EXPECT_EQ(std::tie(s.picsPerLine, s.picsPerScene, s.secsPerPic, s.spaceBelowText, s.fontSize),
              std::make_tuple(6, 3, 0, 0, 10));
    EXPECT_EQ(std::tie(s.showFileNames, s.showTimecode, s.timecodeOffset, s.headline),
              std::make_tuple(1, 1, 0, ""));
}

TEST(ClipSheetSettingsTest, SavedValuesReadBackAsDecimalTextInTheStoredOrder) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("q.reg"));
    ClipSheetSettings s;
    s.showFileNames = 0;
    s.showTimecode = 0;
    s.timecodeOffset = -1500;
    s.picsPerLine = 30;
    s.picsPerScene = 0;
    s.secsPerPic = 600;
    s.spaceBelowText = 10;
    s.fontSize = 127;
    s.headline = "Summer 2004, tape 3";
    ASSERT_TRUE(qv::SaveClipSheetSettings(s, store));
    EXPECT_EQ(qv::LoadClipSheetSettings(store), s);

    const SettingsValues values = store.Load();
    std::vector<std::string> names;
    for (const qv::SettingsValue& v : values.ValuesOf(kClipListKey)) {
        names.push_back(v.name);
        EXPECT_EQ(v.type, qv::SettingsValue::Type::Text) << v.name;
    }
    const std::vector<std::string> expected{"ShowFnames",   "ShowTimecode",   "PicsPerLine",
                                            "TimecodeOffsett", "PicsPerScene", "SecsPerPic",
                                            "SpaceBelowText", "Headline",      "FontSize"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(values.ReadText(kClipListKey, "TimecodeOffsett"), "-1500");
    // The main key is not touched.
    EXPECT_TRUE(values.ValuesOf(qv::kMainKey).empty());
}

TEST(ClipSheetSettingsTest, StoredValuesOutsideTheDialogsRangesLoadAsDefaults) {
    struct Row {
        const char* name;
        const char* text;
        int32_t ClipSheetSettings::*field;
        int32_t expected;
    };
    const Row rows[] = {
        {"PicsPerLine", "0", &ClipSheetSettings::picsPerLine, 6},
        {"PicsPerLine", "31", &ClipSheetSettings::picsPerLine, 6},
        {"PicsPerLine", "30", &ClipSheetSettings::picsPerLine, 30},
        {"PicsPerLine", "", &ClipSheetSettings::picsPerLine, 6},
        {"PicsPerLine", "7 pictures", &ClipSheetSettings::picsPerLine, 7},
        {"PicsPerScene", "0", &ClipSheetSettings::picsPerScene, 0},
        {"PicsPerScene", "101", &ClipSheetSettings::picsPerScene, 3},
        {"SecsPerPic", "-1", &ClipSheetSettings::secsPerPic, 0},
        {"SecsPerPic", "601", &ClipSheetSettings::secsPerPic, 0},
        {"SpaceBelowText", "11", &ClipSheetSettings::spaceBelowText, 0},
        {"FontSize", "-4", &ClipSheetSettings::fontSize, 10},
        {"FontSize", "0", &ClipSheetSettings::fontSize, 10},
        {"FontSize", "128", &ClipSheetSettings::fontSize, 10},
        {"FontSize", "abc", &ClipSheetSettings::fontSize, 10},  // no digits: 0
        {"ShowFnames", "2", &ClipSheetSettings::showFileNames, 1},
        {"ShowTimecode", "0", &ClipSheetSettings::showTimecode, 0},
        {"TimecodeOffsett", "-99999", &ClipSheetSettings::timecodeOffset, -99999},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + "=" + row.text);
        SettingsValues values;
        values.WriteText(kClipListKey, row.name, row.text);
        ClipSheetSettings s;
        s.*row.field = 55;
        qv::TransferClipSheetSettings(s, values, false);
        EXPECT_EQ(s.*row.field, row.expected);
    }

    SettingsValues values;
    values.WriteText(kClipListKey, "Headline", std::string(81, 'h'));
    ClipSheetSettings s;
    qv::TransferClipSheetSettings(s, values, false);
    EXPECT_EQ(s.headline, "");
    values.WriteText(kClipListKey, "Headline", std::string(80, 'h'));
    qv::TransferClipSheetSettings(s, values, false);
    EXPECT_EQ(s.headline, std::string(80, 'h'));
}

TEST(ParseTimecodeTest, ReadsFramesSecondsMinutesAndHoursFromTheRight) {
    struct Row {
        const char* text;
        float fps;
        std::optional<int32_t> frames;
    };
    const Row rows[] = {
        {"00:10:00", 25.0f, 250},
        {"1:00:00:00", 25.0f, 90000},
        {"12", 25.0f, 12},
        {"3:07", 25.0f, 82},
        {"-1:00:00", 25.0f, -1500},
        {"-00:01:05", 25.0f, 30},  // the sign belongs to the first number only
        {"", 25.0f, 0},
        {"   ", 25.0f, 0},
        {"abc", 25.0f, 0},
        {" 1: 2:3", 25.0f, 1553},  // blanks may precede each number
        {"1 :2", 25.0f, 1},        // but not a colon
        {"1:2:3:4:5", 25.0f, 90000 * 1 + 1500 * 2 + 25 * 3 + 4},
        {"00:01:00", 29.97f, 29},  // 30 / 1.001
        {"00:00:30", 0.4f, 0},     // a rate rounding to 0
        {"00:00:30", -4e34f, 0},
        {"00:00:30", std::numeric_limits<float>::quiet_NaN(), 0},
        {"00:00:30", 3e9f, std::nullopt},  // a rate beyond 32 bits
        {"00:00:30", std::numeric_limits<float>::infinity(), std::nullopt},
        {"2147483647", 25.0f, 2147483647},
        {"-2147483648", 25.0f, -2147483648},
        // Counts beyond 32 bits are refused, never wrapped.
        {"2147483648", 25.0f, std::nullopt},
        {"23860:55:45:22", 25.0f, 2147483647},
        {"23860:55:45:23", 25.0f, std::nullopt},
        {"99999999999999999999:00", 25.0f, std::nullopt},
        {"-2147483649", 25.0f, std::nullopt},
        {"-85899346:00", 25.0f, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("\"") + row.text + "\" at " + std::to_string(row.fps));
        EXPECT_EQ(ParseTimecode(row.text, row.fps), row.frames);
    }
}

TEST(ParseEditIntegerTest, AcceptsOnlyAWholeIntegerWithBlanksAround) {
    const std::pair<const char*, std::optional<int>> rows[] = {
        {"31", 31},          {" -4 ", -4},         {"+7", 7},           {"", std::nullopt},
        {"7x", std::nullopt}, {"x", std::nullopt}, {"-", std::nullopt}, {"4294967297", std::nullopt}};
    for (const auto& [text, value] : rows) {
        EXPECT_EQ(qv::ParseEditInteger(text), value) << '"' << text << '"';
    }
}

}  // namespace
