#include "app/MessageDialog.h"

#include <QMessageBox>

#include "app/ConfirmDialog.h"

namespace qv {

namespace {

QMessageBox::Icon IconOf(MessageKind kind) {
    switch (kind) {
        case MessageKind::Information:
            return QMessageBox::Information;
        case MessageKind::Question:
            return QMessageBox::Question;
        case MessageKind::Warning:
            break;
    }
    return QMessageBox::Warning;
}

}  // namespace

Answer MessageDialog::Ask(const std::string& text, Buttons buttons, const std::string& caption) {
    return AskAs(DefaultKind(buttons), text, buttons, caption);
}

Answer MessageDialog::AskAs(MessageKind kind, const std::string& text, Buttons buttons,
                            const std::string& caption) {
    lastKind_ = kind;
    if (answerHook) {
        return answerHook(text, buttons, caption);
    }
    return Show(owner_, kind, text, buttons, caption);
}

std::unique_ptr<QMessageBox> MessageDialog::MakeBox(QWidget* owner, MessageKind kind,
                                                    const std::string& text, Buttons buttons,
                                                    const std::string& caption) {
    QString body = QString::fromStdString(text);
    body.remove(QLatin1Char('\r'));
    auto box = std::make_unique<QMessageBox>(owner);
    box->setWindowTitle(QString::fromStdString(caption.empty() ? kDefaultCaption : caption));
    box->setIcon(IconOf(kind));
    box->setTextFormat(Qt::PlainText);
    box->setText(body);
    switch (buttons) {
        case Buttons::Ok:
            box->setStandardButtons(QMessageBox::Ok);
            box->setDefaultButton(QMessageBox::Ok);
            break;
        case Buttons::OkCancel:
            box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box->setDefaultButton(QMessageBox::Ok);
            break;
        case Buttons::YesNo:
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box->setDefaultButton(QMessageBox::Yes);
            break;
        case Buttons::YesNoDefaultNo:
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box->setDefaultButton(QMessageBox::No);
            break;
        case Buttons::YesYesForAllAbort:
            break;
    }
    return box;
}

Answer MessageDialog::Show(QWidget* owner, MessageKind kind, const std::string& text,
                           Buttons buttons, const std::string& caption) {
    // A message never stands alone: a minimized owner (as a minimized progress
    // dialog leaves the main window) comes back first.
    if (owner != nullptr && owner->window()->isMinimized()) {
        QWidget* window = owner->window();
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
    }
    if (buttons == Buttons::YesYesForAllAbort) {
        ConfirmDialog confirm(text, owner);
        switch (confirm.exec()) {
            case ConfirmDialog::kYes:
                return Answer::Yes;
            case ConfirmDialog::kYesForAll:
                return Answer::YesForAll;
            default:
                return Answer::Abort;
        }
    }
    std::unique_ptr<QMessageBox> box = MakeBox(owner, kind, text, buttons, caption);
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    const QMessageBox::StandardButton which =
        clicked != nullptr ? box->standardButton(clicked) : QMessageBox::NoButton;
    switch (which) {
        case QMessageBox::Ok:
            return Answer::Ok;
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        default:
            // Escape or the close box: Cancel where there is one, otherwise No or OK.
            if (buttons == Buttons::YesNo || buttons == Buttons::YesNoDefaultNo) {
                return Answer::No;
            }
            return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
}

}  // namespace qv
