#include "app/AboutDialog.h"

#include <QLabel>
#include <QPushButton>

#include "resources/Templates.h"

namespace qv {

std::string AboutDialog::Text() {
    return "Finds scenes in DV video based on the datestamp of the recordings.\r\n"
           "\r\n"
           "Quorvandel developers\r\n"
           "Bug reports and ideas: see the project's issue tracker\r\n"
           "\r\n"
           "Quorvandel is videocard-independent.\r\n"
           "\r\n"
           "Legal stuff: this program is provided as is, without any warranty. Use it at "
           "your own risk; the developers are not liable for any damage or loss of data "
           "caused by its use. Keep a copy of your recordings.";
}

AboutDialog::AboutDialog(QWidget* parent) : TemplateDialog(AboutTemplate(), parent) {
    if (auto* label = Control<QLabel>(1012)) {
        QString text = QString::fromStdString(Text());
        text.remove(QLatin1Char('\r'));
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
    }
    if (auto* ok = Control<QPushButton>(1)) {
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    }
}

}  // namespace qv
