// The bitmap export's settings in the main settings key.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clipsheet/BitmapExportSettings.h"
#include "platform/SettingsStore.h"
#include "support/AviFixture.h"

namespace {

using qv::BitmapExportSettings;
using qv::kMainKey;
using qv::SettingsStore;
using qv::SettingsValues;

TEST(BitmapExportSettingsTest, AnEmptyStoreGivesTheDefaults) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("q.reg"));
    const BitmapExportSettings s = qv::LoadBitmapExportSettings(store);
    EXPECT_EQ(s.lastOutput, "");
    EXPECT_EQ(s.cropH, 0);
    EXPECT_EQ(s.cropV, 0);
    EXPECT_EQ(s.deinterlace, 0);
    EXPECT_EQ(s.lengthSeconds, 6);
    EXPECT_EQ(s.useLength, 0);
    EXPECT_EQ(s.selectedOnly, 1);
}

TEST(BitmapExportSettingsTest, SavedValuesReadBackAsDecimalTextInTheStoredOrder) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("q.reg"));
    ASSERT_TRUE(store.WriteText(kMainKey, "output", "/v/scenes.avi"));
    BitmapExportSettings s;
    s.lastOutput = "/pics/tape1.bmp";
    s.cropH = 3;
    s.cropV = -2;
    s.deinterlace = 2;
    s.lengthSeconds = 10000;
    s.useLength = 1;
    s.selectedOnly = 0;
    ASSERT_TRUE(qv::SaveBitmapExportSettings(s, store));
    EXPECT_EQ(qv::LoadBitmapExportSettings(store), s);

    const SettingsValues values = store.Load();
    std::vector<std::string> names;
    for (const qv::SettingsValue& v : values.ValuesOf(kMainKey)) {
        names.push_back(v.name);
        EXPECT_EQ(v.type, qv::SettingsValue::Type::Text) << v.name;
    }
    const std::vector<std::string> expected{"output",         "bmpSecs",        "bmpSel",
                                            "bmpSecsNum",     "bmpCropHPixels", "bmpCropVPixels",
                                            "bmpDeinterlace", "BmpLastOutput"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(values.ReadText(kMainKey, "bmpCropVPixels"), "-2");
    EXPECT_EQ(values.ReadText(kMainKey, "output"), "/v/scenes.avi");
}

TEST(BitmapExportSettingsTest, StoredTextReadsByAtoiRulesAndEmptyAsTheDefault) {
    struct Row {
        const char* name;
        const char* text;
        int32_t BitmapExportSettings::*field;
        int32_t expected;
    };
    const Row rows[] = {
        {"bmpSecsNum", "", &BitmapExportSettings::lengthSeconds, 6},
        {"bmpSecsNum", "12 s", &BitmapExportSettings::lengthSeconds, 12},
        {"bmpSecsNum", "abc", &BitmapExportSettings::lengthSeconds, 0},
        {"bmpSel", "", &BitmapExportSettings::selectedOnly, 1},
        {"bmpSel", "0", &BitmapExportSettings::selectedOnly, 0},
        {"bmpSecs", "1", &BitmapExportSettings::useLength, 1},
        // Outside the drop-down's three entries: kept; the dialog shows no selection.
        {"bmpDeinterlace", "7", &BitmapExportSettings::deinterlace, 7},
        {"bmpCropHPixels", " -40", &BitmapExportSettings::cropH, -40},
        {"bmpCropVPixels", "99999999999", &BitmapExportSettings::cropV, 2147483647},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + "=" + row.text);
        SettingsValues values;
        values.WriteText(kMainKey, row.name, row.text);
        BitmapExportSettings s;
        s.*row.field = 55;
        qv::TransferBitmapExportSettings(s, values, false);
        EXPECT_EQ(s.*row.field, row.expected);
    }
}

}  // namespace
