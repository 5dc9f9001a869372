#include "app/ConfirmDialog.h"

#include <QLabel>
#include <QPushButton>

#include "resources/Templates.h"

namespace qv {

namespace {

// Line ends as the text gives them ("\r\n") show as one break.
QString Displayed(const std::string& text) {
    QString s = QString::fromStdString(text);
    s.remove(QLatin1Char('\r'));
    return s;
}

}  // namespace

ConfirmDialog::ConfirmDialog(const std::string& text, QWidget* parent)
    : TemplateDialog(ConfirmTemplate(), parent) {
    if (auto* label = Control<QLabel>(1011)) {
        label->setTextFormat(Qt::PlainText);
        label->setText(Displayed(text));
    }
    for (int id : {kYes, kYesForAll, kAbort}) {
        if (auto* button = Control<QPushButton>(id)) {
            connect(button, &QPushButton::clicked, this, [this, id] { done(id); });
        }
    }
}

}  // namespace qv
