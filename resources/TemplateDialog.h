#pragma once
// A dialog built from a template: each control becomes a widget at its rectangle,
// converted from dialog units the way Windows does it, named "id<ID>" so that
// code and tests find it.

#include <QDialog>
#include <QFont>
#include <QRect>

#include "resources/DialogTemplate.h"

namespace qv {

// Pixels of dialog units for a font: the horizontal base unit is the average
// width of the 52 letters A-Z a-z (rounded), the vertical one the font height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int X(int units) const { return units * baseX_ / 4; }
    int Y(int units) const { return units * baseY_ / 8; }
    QRect Rect(int x, int y, int width, int height) const;
    // Pixels that a template gives for its own dialog font (such as list view
    // column widths), scaled to this font as the dialog units are.
    int TemplatePixelsX(int pixels) const { return pixels * baseX_ / kTemplateBaseX; }

    // The horizontal base unit of the font the templates were made for.
    static constexpr int kTemplateBaseX = 6;

private:
    int baseX_ = 0;
    int baseY_ = 0;
};

// Windows shows "&&" as one '&'; Qt writes it the same way, so texts pass unchanged.
QString ControlText(const std::string& text);

class TemplateDialog : public QDialog {
    Q_OBJECT
public:
    TemplateDialog(const DialogLayout& layout, QWidget* parent);

    // The control of that ID, or null.
    QWidget* Control(int id) const;
    template <typename T>
    T* Control(int id) const {
        return qobject_cast<T*>(Control(id));
    }
    const DialogUnits& Units() const { return units_; }

private:
    DialogUnits units_;
};

}  // namespace qv
