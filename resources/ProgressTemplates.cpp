// Templates of the two progress dialogs.

#include "resources/Templates.h"

namespace qv {

const DialogLayout& ProgressTemplate() {
    using K = ControlKind;
    static const DialogLayout layout{
        103,
        "working...",
        388,
        150,
        {
            {-1, K::Static, "Quorvandel - the Scene Analyzer for DV Video", 7, 7, 191, 8},
            {1005, K::Static, "", 7, 31, 189, 40},
            {1004, K::Static, " 0 %", 7, 75, 189, 8},
            {1003, K::ProgressBar, "", 7, 89, 189, 10},
            {2, K::Button, "Cancel", 76, 105, 50, 14},
            {1016, K::Frame, "", 201, 7, 180, 136},
        },
    };
    return layout;
}

const DialogLayout& SimpleProgressTemplate() {
    using K = ControlKind;
    static const DialogLayout layout{
        105,
        "Saving Bitmaps",
        186,
        63,
        {
            {1004, K::Static, " 0 %", 83, 7, 18, 8},
            {1003, K::ProgressBar, "", 15, 18, 154, 13},
            {2, K::Button, "Cancel", 67, 42, 50, 14},
        },
    };
    return layout;
}

}  // namespace qv
