#include "resources/TemplateDialog.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <vector>

namespace qv {

namespace {

// The templates' margin between a control and the dialog's edge, in dialog units.
constexpr int kTextMargin = 7;

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = static_cast<int>(std::lround(metrics.horizontalAdvance(letters) / 52.0));
    baseY_ = metrics.height();
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QString ControlText(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

TemplateDialog::TemplateDialog(const DialogLayout& layout, QWidget* parent)
    : QDialog(parent), units_(font()) {
    setWindowTitle(ControlText(layout.caption));
    setObjectName(QStringLiteral("dialog%1").arg(layout.id));
    setFixedSize(units_.X(layout.width), units_.Y(layout.height));
    // Enter presses OK (ID 1) in a dialog whose template names no default button.
    const bool namesDefault = std::any_of(layout.controls.begin(), layout.controls.end(),
                                          [](const ControlLayout& c) {
                                              return c.kind == ControlKind::DefaultButton;
                                          });
    std::vector<QWidget*> oneLine;
    for (const ControlLayout& c : layout.controls) {
        const QString text = ControlText(c.text);
        QWidget* w = nullptr;
        switch (c.kind) {
            case ControlKind::Static: {
                // A static text shows "&&" as one '&' and underlines the letter after
                // a single one; a plain label shows the text as written.
                QString shown;
                for (int i = 0; i < text.size(); ++i) {
                    if (text[i] == '&' && i + 1 < text.size()) {
                        ++i;
                    }
                    shown += text[i];
                }
                auto* label = new QLabel(shown, this);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                // Texts of one line keep to it; fonts here are wider than the
                // dialog font the rectangles were made for.
                label->setWordWrap(c.height > 10);
                w = label;
                break;
            }
            case ControlKind::Frame:
            case ControlKind::Picture: {
                auto* frame = new QFrame(this);
                frame->setFrameShape(c.kind == ControlKind::Frame ? QFrame::Box : QFrame::NoFrame);
                w = frame;
                break;
            }
            case ControlKind::Group:
                w = new QGroupBox(text, this);
                break;
            case ControlKind::Button:
            case ControlKind::DefaultButton: {
                auto* button = new QPushButton(text, this);
                button->setAutoDefault(false);
                button->setDefault(c.kind == ControlKind::DefaultButton ||
                                   (!namesDefault && c.id == 1));
                w = button;
                break;
            }
            case ControlKind::CheckBox:
                w = new QCheckBox(text, this);
                break;
            case ControlKind::Edit:
                w = new QLineEdit(text, this);
                break;
            case ControlKind::ListBox: {
                auto* list = new QListWidget(this);
                list->setSelectionMode(QAbstractItemView::ExtendedSelection);
                list->setSortingEnabled(false);  // the model keeps the order
                w = list;
                break;
            }
            case ControlKind::ListView: {
                auto* view = new QTreeWidget(this);
                view->setRootIsDecorated(false);
                view->setUniformRowHeights(true);
                view->setSelectionMode(QAbstractItemView::ExtendedSelection);
                view->setAllColumnsShowFocus(true);
                view->header()->setSectionsClickable(false);
                w = view;
                break;
            }
            case ControlKind::ComboList:
                w = new QComboBox(this);
                break;
            case ControlKind::Spin:
                w = new QSpinBox(this);
                break;
            case ControlKind::ProgressBar: {
                auto* bar = new QProgressBar(this);
                bar->setTextVisible(false);
                w = bar;
                break;
            }
        }
        if (c.id >= 0) {
            w->setObjectName(QStringLiteral("id%1").arg(c.id));
        }
        w->setGeometry(units_.Rect(c.x, c.y, c.width, c.height));
        w->setVisible(!c.hidden);
        auto* label = qobject_cast<QLabel*>(w);
        if ((label != nullptr && !label->wordWrap()) || qobject_cast<QCheckBox*>(w) != nullptr) {
            oneLine.push_back(w);
        }
    }
    // Texts of one line take the width they need in this font, which is wider than
    // the dialog font the rectangles were made for; the dialog grows so that each
    // keeps the template's margin to its right edge.
    const int margin = units_.X(kTextMargin);
    int needed = width();
    for (QWidget* w : oneLine) {
        needed = std::max(needed, w->x() + w->sizeHint().width() + margin);
    }
    if (needed > width()) {
        setFixedSize(needed, height());
    }
    for (QWidget* w : oneLine) {
        const int room = std::max(w->width(), width() - margin - w->x());
        w->resize(std::min(room, std::max(w->width(), w->sizeHint().width())), w->height());
    }
}

QWidget* TemplateDialog::Control(int id) const {
    return findChild<QWidget*>(QStringLiteral("id%1").arg(id), Qt::FindDirectChildrenOnly);
}

}  // namespace qv
