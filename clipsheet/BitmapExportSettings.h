#pragma once
// The bitmap export's seven settings, kept in the program's main settings key.

#include <cstdint>
#include <string>

#include "platform/SettingsStore.h"

namespace qv {

struct BitmapExportSettings {
    std::string lastOutput;     // base path of the last export, without a scene's suffix
    int32_t cropH = 0;          // pixels cut at the left and at the right edge
    int32_t cropV = 0;          // lines cut at the top and at the bottom edge
    int32_t deinterlace = 0;    // 0 both fields, 1 even field only, other: odd field only
    int32_t lengthSeconds = 6;  // scene length of the length criterion
    int32_t useLength = 0;      // 0/1: choose scenes by length
    int32_t selectedOnly = 1;   // 0/1: only the scenes selected in the main window

    friend bool operator==(const BitmapExportSettings&, const BitmapExportSettings&) = default;
};

// Reads (save false) or writes the seven values in the stored order: "bmpSecs",
// "bmpSel", "bmpSecsNum", "bmpCropHPixels", "bmpCropVPixels", "bmpDeinterlace"
// (decimal text) and "BmpLastOutput" (text). A value that is missing or empty
// loads as its default; other text is read by atoi's rules, unchecked: the
// export clamps what it cannot use.
void TransferBitmapExportSettings(BitmapExportSettings& settings, SettingsValues& values,
                                  bool save);

// One read of the store, or one rewrite of it.
BitmapExportSettings LoadBitmapExportSettings(const SettingsStore& store);
bool SaveBitmapExportSettings(const BitmapExportSettings& settings, SettingsStore& store);

}  // namespace qv
