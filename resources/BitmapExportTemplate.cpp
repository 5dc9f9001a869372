// Template of the bitmap export dialog.

#include "resources/Templates.h"

namespace qv {

const DialogLayout& BitmapExportTemplate() {
    using K = ControlKind;
    static const DialogLayout layout{
        141,
        "save one frame of each scene as a bitmap",
        186,
        151,
        {
            {-1, K::Group, "scenes", 7, 7, 174, 52},
            {1027, K::CheckBox, "selected scenes only", 14, 20, 150, 10},
            {1028, K::CheckBox, "scenes with length in seconds:", 14, 37, 126, 10},
            {1029, K::Edit, "", 142, 36, 24, 12},
            {1035, K::Spin, "", 166, 36, 10, 12},
            {-1, K::Group, "image", 7, 64, 174, 61},
            {-1, K::Static, "deinterlacing:", 14, 79, 50, 8},
            {1030, K::ComboList, "", 66, 77, 110, 12},
            {-1, K::Static, "crop pixels on left/right:", 14, 95, 110, 8},
            {1032, K::Edit, "", 142, 93, 24, 12},
            {1031, K::Spin, "", 166, 93, 10, 12},
            {-1, K::Static, "crop pixels on top/bottom:", 14, 110, 110, 8},
            {1033, K::Edit, "", 142, 108, 24, 12},
            {1034, K::Spin, "", 166, 108, 10, 12},
            {1, K::DefaultButton, "Save Bitmaps", 29, 131, 60, 14},
            {2, K::Button, "Cancel", 97, 131, 60, 14},
        },
    };
    return layout;
}

}  // namespace qv
