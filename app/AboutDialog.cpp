#include "app/AboutDialog.h"

#include <algorithm>

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "app/Version.h"
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

QIcon AboutDialog::ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const double u = size / 32.0;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 40, 48));
        p.drawRoundedRect(QRectF(1 * u, 6 * u, 30 * u, 20 * u), 3 * u, 3 * u);
        p.setBrush(QColor(220, 200, 120));
        p.drawRect(QRectF(5 * u, 9 * u, 22 * u, 8 * u));
        p.setBrush(QColor(40, 40, 48));
        p.drawEllipse(QPointF(11 * u, 13 * u), 3 * u, 3 * u);
        p.drawEllipse(QPointF(21 * u, 13 * u), 3 * u, 3 * u);
        p.setBrush(QColor(200, 60, 40));
        p.drawRect(QRectF(9 * u, 20 * u, 14 * u, 4 * u));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

AboutDialog::AboutDialog(QWidget* parent) : TemplateDialog(AboutTemplate(), parent) {
    setWindowIcon(ProgramIcon());
    // The icon in the picture area at the top left.
    const QRect iconArea = Units().Rect(11, 17, 21, 20);
    for (QFrame* frame : findChildren<QFrame*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (frame->geometry() == iconArea && qobject_cast<QLabel*>(frame) == nullptr) {
            auto* picture = new QLabel(frame);
            picture->setPixmap(ProgramIcon().pixmap(std::min(iconArea.width(), iconArea.height())));
            picture->resize(iconArea.size());
        }
    }
    // The title line names the version this program was built as.
    const QString title = QStringLiteral("Quorvandel V ");
    for (QLabel* label : findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (label->text().startsWith(title)) {
            label->setText(title + QString::fromLatin1(kProgramVersion));
        }
    }
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
