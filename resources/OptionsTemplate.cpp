// Template of the options dialog.

#include "resources/Templates.h"

namespace qv {

const DialogLayout& OptionsTemplate() {
    using K = ControlKind;
    static const DialogLayout layout{
        146,
        "Options",
        213,
        230,
        {
            {1012, K::CheckBox, "scenes without datestamp default to: write=NO", 7, 7, 174, 10},
            {1010, K::CheckBox, "delete each source-file when all of its scenes are written", 7, 24,
             197, 10},
            {-1, K::Static,
             "if you e.g. split 4 files with 2GB each, with this option enabled you only need 2GB "
             "free space on that drive to split all the files.",
             23, 37, 183, 27},
            {-1, K::Static, "Optical Scan Sensitivity:", 7, 67, 83, 8},
            {1048, K::ComboList, "", 99, 65, 107, 78},
            {-1, K::Static, "DV-Codec that Quorvandel should use to render pictures:", 7, 91, 179,
             8},
            {1045, K::ComboList, "", 7, 102, 199, 218},
            {-1, K::Static,
             "If the dv-codec of your card doesn't work, try to install a software-dv-codec from "
             "another dv-capture card and select it here. Restart quorvandel after changing the "
             "codec.",
             23, 118, 183, 32},
            {-1, K::Static, "Scan Thoroughly also splits:", 7, 156, 179, 8},
            {1051, K::CheckBox, "split at recording starts", 23, 167, 183, 10},
            {1052, K::CheckBox, "split at timecode breaks", 23, 179, 183, 10},
            {1053, K::CheckBox, "split at format changes", 23, 191, 183, 10},
            {1, K::Button, "OK", 49, 209, 50, 14},
            {2, K::Button, "Cancel", 113, 209, 50, 14},
        },
    };
    return layout;
}

}  // namespace qv
