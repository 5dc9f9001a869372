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

TEST(BitmapExportSettingsTest, SavedValuesReadBackAsDecimalTextInTheStoredOrder) {
    qvtest::TempDir dir;
    qv::SettingsStore store(dir.Path("q.reg"));
    EXPECT_EQ(qv::LoadBitmapExportSettings(store), BitmapExportSettings{});  // an empty store
    ASSERT_TRUE(store.WriteText(kMainKey, "output", "/v/scenes.avi"));
    const BitmapExportSettings s{"/pics/tape1.bmp", 3, -2, 2, 10000, 1, 0};
    ASSERT_TRUE(qv::SaveBitmapExportSettings(s, store));
    EXPECT_EQ(qv::LoadBitmapExportSettings(store), s);

    const qv::SettingsValues values = store.Load();
    std::vector<std::string> names;
    for (const qv::SettingsValue& v : values.ValuesOf(kMainKey)) {
        names.push_back(v.name);
        EXPECT_EQ(v.type, qv::SettingsValue::Type::Text) << v.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"output", "bmpSecs", "bmpSel", "bmpSecsNum",
                                               "bmpCropHPixels", "bmpCropVPixels",
                                               "bmpDeinterlace", "BmpLastOutput"}));
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

}  // namespace
