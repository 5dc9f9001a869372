#pragma once
// Dialog templates as data: every control with its ID, kind, text and rectangle
// in dialog units. TemplateDialog builds the widgets from them.

#include <string>
#include <vector>

namespace qv {

enum class ControlKind {
    Static,         // a text label
    Frame,          // a hidden or etched frame marking an area
    Picture,        // an area the dialog draws into
    Group,          // a group box
    Button,
    DefaultButton,  // the button Enter presses
    CheckBox,
    Edit,
    ListBox,        // sorted, extended selection
    ListView,       // report view with columns
    ComboList,      // a drop-down list
    Spin,           // an up-down control
    ProgressBar,
};

struct ControlLayout {
    int id = -1;  // -1: a control nobody addresses
    ControlKind kind = ControlKind::Static;
    std::string text;  // with '&' before the mnemonic letter, "&&" for a plain '&'
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    bool hidden = false;
};

struct DialogLayout {
    int id = 0;
    std::string caption;
    int width = 0, height = 0;  // dialog units
    std::vector<ControlLayout> controls;
};

}  // namespace qv
