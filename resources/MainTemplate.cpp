// Templates of the main window, the About dialog and the Confirm dialog.

#include "resources/Templates.h"

namespace qv {

const DialogLayout& MainWindowTemplate() {
    using K = ControlKind;
    static const DialogLayout layout{
        102,
        "Quorvandel+",
        495,
        335,
        {
            {1004, K::ListBox, "", 7, 7, 481, 60},
            {1015, K::Static, "", 7, 71, 208, 17},
            {1005, K::Button, "Add Input-Files", 218, 71, 58, 14},
            {1008, K::Button, "Remove All", 399, 71, 43, 10},
            {1006, K::Button, "Remove", 445, 71, 43, 10},
            {3, K::Button, "Scan Datestamps", 182, 88, 64, 14},
            {4, K::Button, "Scan Optical", 249, 88, 64, 14},
            {1050, K::Button, "Scan Thoroughly", 316, 88, 64, 14},
            {1013, K::ListView, "", 7, 105, 481, 75},
            {1022, K::Button, "&write selected scenes = YES", 7, 183, 101, 12},
            {1021, K::Button, "write selecte&d scenes = NO", 116, 183, 101, 12},
            {1023, K::Static, "", 222, 184, 127, 8},
            {1025, K::Button, "ClipSheet", 349, 183, 47, 12},
            {1020, K::Button, "ExportBmp", 399, 183, 43, 12},
            {1016, K::Button, "SaveList", 445, 183, 43, 12},
            {1017, K::Frame, "", -1, 208, 498, 74, true},
            {-1, K::Static,
             "Output Filename (Quorvandel adds the date&&time of recording to each filename):", 7,
             285, 250, 8},
            {1003, K::Edit, "", 7, 296, 462, 14},
            {1011, K::Button, "...", 472, 296, 16, 14},
            {1009, K::Button, "WriteScenes", 211, 315, 73, 14},
            {1014, K::Button, "Options...", 385, 314, 50, 14},
            {1024, K::Button, "About...", 438, 314, 50, 14},
            // Last, so that the tab order of the controls before it stays.
            {1051, K::Button, "Tape Map", 424, 88, 64, 14},
        }};
    return layout;
}

const DialogLayout& AboutTemplate() {
    using K = ControlKind;
    static const DialogLayout layout{100,
                                 "About Quorvandel...",
                                 235,
                                 183,
                                 {
                                     {-1, K::Picture, "", 11, 17, 21, 20},
                                     {-1, K::Static, "Quorvandel V 3.01", 40, 10, 136, 8},
                                     {1, K::DefaultButton, "OK", 178, 7, 50, 14},
                                     {1012, K::Static, "", 40, 28, 188, 148},
                                 }};
    return layout;
}

const DialogLayout& ConfirmTemplate() {
    using K = ControlKind;
    static const DialogLayout layout{130,
                                 "Confirm",
                                 186,
                                 60,
                                 {
                                     {1011, K::Static, "", 7, 7, 172, 20},
                                     {6, K::Button, "Yes", 16, 39, 39, 14},
                                     {8, K::Button, "Yes for all", 71, 39, 41, 14},
                                     {7, K::Button, "Abort", 128, 39, 41, 14},
                                 }};
    return layout;
}

}  // namespace qv
