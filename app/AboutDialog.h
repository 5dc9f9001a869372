#pragma once
// The About dialog: the program's name and version, what it does, how to reach
// its developers and the terms of use.

#include <QIcon>
#include <string>

#include "resources/TemplateDialog.h"

namespace qv {

class AboutDialog : public TemplateDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);
    // Lines separated by "\r\n".
    static std::string Text();
    // The program's icon: a tape cassette, drawn so that no image file is needed.
    static QIcon ProgramIcon();
};

}  // namespace qv
