#include <string>
#include <string_view>

#include "clipsheet/ClipSheetSettings.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "platform/SettingsStore.h"

namespace qvfuzz {

namespace {

// Every value of a key read by each rule, then changed and deleted again.
void UseValues(qv::SettingsValues& values, std::string_view subkey) {
    const std::vector<qv::SettingsValue> stored = values.ValuesOf(subkey);
    for (const qv::SettingsValue& v : stored) {
        (void)values.ReadText(subkey, v.name, "default");
        (void)values.ReadInt(subkey, v.name, 7);
        (void)values.ReadDecimal(subkey, v.name, 7);
        Check(values.Find(subkey, v.name) != nullptr, "a stored value is not found");
    }
    for (const qv::SettingsValue& v : stored) {
        if (v.type == qv::SettingsValue::Type::Text) {
            values.WriteText(subkey, v.name, v.text + "x");
        } else {
            values.WriteDword(subkey, v.name, v.dword + 1);
        }
        Check(values.DeleteValue(subkey, v.name), "a stored value cannot be deleted");
        values.WriteText(subkey, v.name, v.text);
    }
}

}  // namespace

int FuzzSettings(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Parsed, written and parsed again: the second writing is the first.
    qv::SettingsValues values;
    std::string damage;
    (void)qv::SettingsValues::Parse(bytes, &values, &damage);
    const std::string written = values.Serialize();
    qv::SettingsValues reread;
    Check(qv::SettingsValues::Parse(written, &reread, &damage), "written settings do not parse");
    Check(reread.Serialize() == written, "written settings read back differently");

    qv::ClipSheetSettings sheet;
    qv::TransferClipSheetSettings(sheet, values, false);
    UseValues(values, qv::kMainKey);
    UseValues(values, qv::kClipListKey);
    qv::TransferClipSheetSettings(sheet, values, true);
    Check(qv::SettingsValues::Parse(values.Serialize(), &reread, &damage),
          "changed settings do not parse");

    // The same bytes as the store's file: loaded, then saved again with a change.
    const std::string path = WriteScratchFile("settings.reg", data, size);
    qv::SettingsStore store(path);
    (void)store.Load();
    (void)qv::LoadClipSheetSettings(store);
    if (store.WriteDword(qv::kMainKey, "ran", 2)) {
        Check(store.ReadInt(qv::kMainKey, "ran", 0) == 2, "a stored value is lost");
    }
    (void)qv::SaveClipSheetSettings(sheet, store);
    ClearScratch();
    return 0;
}

}  // namespace qvfuzz
