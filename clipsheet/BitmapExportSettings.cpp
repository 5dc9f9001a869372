#include "clipsheet/BitmapExportSettings.h"

namespace qv {

namespace {

void TransferInt(SettingsValues& values, bool save, const char* name, int32_t& field,
                 int32_t defaultValue) {
    if (save) {
        values.WriteText(kMainKey, name, std::to_string(field));
    } else {
        field = values.ReadDecimal(kMainKey, name, defaultValue);
    }
}

}  // namespace

void TransferBitmapExportSettings(BitmapExportSettings& s, SettingsValues& values, bool save) {
    const BitmapExportSettings d;
    TransferInt(values, save, "bmpSecs", s.useLength, d.useLength);
    TransferInt(values, save, "bmpSel", s.selectedOnly, d.selectedOnly);
    TransferInt(values, save, "bmpSecsNum", s.lengthSeconds, d.lengthSeconds);
    TransferInt(values, save, "bmpCropHPixels", s.cropH, d.cropH);
    TransferInt(values, save, "bmpCropVPixels", s.cropV, d.cropV);
    TransferInt(values, save, "bmpDeinterlace", s.deinterlace, d.deinterlace);
    if (save) {
        // A path the store refuses (far too long) must not leave an older one in its place.
        if (!values.WriteText(kMainKey, "BmpLastOutput", s.lastOutput)) {
            values.DeleteValue(kMainKey, "BmpLastOutput");
        }
    } else {
        s.lastOutput = values.ReadText(kMainKey, "BmpLastOutput");
    }
}

BitmapExportSettings LoadBitmapExportSettings(const SettingsStore& store) {
    BitmapExportSettings settings;
    SettingsValues values = store.Load();
    TransferBitmapExportSettings(settings, values, false);
    return settings;
}

bool SaveBitmapExportSettings(const BitmapExportSettings& settings, SettingsStore& store) {
    BitmapExportSettings copy = settings;
    return store.Edit(
        [&](SettingsValues& values) { TransferBitmapExportSettings(copy, values, true); });
}

}  // namespace qv
