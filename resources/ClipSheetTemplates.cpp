// Templates of the clip sheet window and its options dialog.

#include "resources/Templates.h"

namespace qv {

const DialogLayout& ClipSheetTemplate() {
    // Its area is the sheet itself, drawn by the window; the menu is the window's.
    static const DialogLayout layout{135, "Quorvandel Clip Sheet", 450, 281, {}};
    return layout;
}

const DialogLayout& ClipSheetOptionsTemplate() {
    using K = ControlKind;
    static const DialogLayout layout{
        144,
        "Cliplist Options",
        196,
        207,
        {
            {1041, K::CheckBox, "Show filenames", 7, 7, 90, 10},
            {1042, K::CheckBox, "Show timecode", 7, 20, 90, 10},
            {-1, K::Static, "Timecode of first frame: (MM:SS:FF)", 7, 37, 120, 8},
            {1046, K::Edit, "", 130, 35, 59, 12},
            {1033, K::Edit, "", 7, 54, 30, 12},
            {1034, K::Spin, "", 37, 54, 11, 12},
            {-1, K::Static, "pictures per line", 52, 56, 137, 8},
            {1037, K::Edit, "", 7, 72, 30, 12},
            {1038, K::Spin, "", 37, 72, 11, 12},
            {-1, K::Static, "min. pics per scene", 52, 74, 137, 8},
            {1035, K::Edit, "", 7, 90, 30, 12},
            {1036, K::Spin, "", 37, 90, 11, 12},
            {-1, K::Static, "max. seconds per pic", 52, 92, 137, 8},
            {1039, K::Edit, "", 7, 108, 30, 12},
            {1040, K::Spin, "", 37, 108, 11, 12},
            {-1, K::Static, "blank space below text", 52, 110, 137, 8},
            {1044, K::Edit, "", 7, 126, 30, 12},
            {1045, K::Spin, "", 37, 126, 11, 12},
            {-1, K::Static, "relative font size", 52, 128, 137, 8},
            {-1, K::Static, "Headline:", 7, 146, 60, 8},
            {1043, K::Edit, "", 7, 157, 182, 12},
            {1, K::DefaultButton, "OK", 39, 184, 50, 14},
            {2, K::Button, "Cancel", 107, 184, 50, 14},
        },
    };
    return layout;
}

}  // namespace qv
