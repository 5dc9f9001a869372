// The message boxes, captioned with the program's name and showing the icon of
// their kind, and the save dialog that refuses a name in a missing folder.

#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include "app/SaveFileDialog.h"
#include "windows/WindowTests.h"

namespace {

using qv::Answer;
using qv::Buttons;
using Box = QMessageBox;

// A box's caption, icon, buttons, default button and text between bars.
std::string Seen(const std::string& caption, Box::Icon icon, Box::StandardButtons buttons,
                 Box::StandardButton byDefault, const std::string& text) {
    return caption + "|" + std::to_string(icon) + "|" + std::to_string(buttons.toInt()) + "|" +
           std::to_string(byDefault) + "|" + text;
}

// Presses button on the modal box next shown, after recording what it showed.
void OnNextBox(std::vector<std::string>* seen, Box::StandardButton button) {
    QTimer::singleShot(0, [seen, button] {
        auto* box = qobject_cast<Box*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            seen->push_back("no message box");
            return;
        }
        seen->push_back(Seen(box->windowTitle().toStdString(), box->icon(), box->standardButtons(),
                             box->standardButton(box->defaultButton()), box->text().toStdString()));
        box->button(button)->click();
    });
}

TEST(MessageBox, ShowsItsKindsIconAndButtonsAnswersAsPressedAndTellsWhatTheSaveDialogRefuses) {
    std::vector<std::string> seen;
    qv::MessageDialog messages(nullptr);
    OnNextBox(&seen, Box::No);
    EXPECT_EQ(messages.Ask("Delete?\r\nall of it", Buttons::YesNo), Answer::No);
    OnNextBox(&seen, Box::Cancel);  // an Ok and Cancel question is a warning
    EXPECT_EQ(messages.Ask("Can't read", Buttons::OkCancel, "Cliplist Options"), Answer::Cancel);
    OnNextBox(&seen, Box::Ok);
    messages.Report("completed successfully!");

    // The save dialog refuses a name in a folder that does not exist and stays
    // open for another.
    qvtest::TempDir dir;
    qv::SaveFileDialog dialog(nullptr, QStringLiteral("Set write name"),
                              QString::fromStdString(dir.Dir().string()));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.SetPathMustExist(true);
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    QTimer::singleShot(0, [&] {
        edit->setText(QString::fromStdString(dir.Path("gone/clips.avi")));
        OnNextBox(&seen, Box::Ok);
        dialog.accept();
        edit->setText(QString::fromStdString(dir.Path("clips.avi")));
        dialog.accept();
    });
    EXPECT_EQ(dialog.Choose(), dir.Path("clips.avi"));
    EXPECT_EQ(
        seen,
        (std::vector<std::string>{
            Seen("Quorvandel", Box::Question, Box::Yes | Box::No, Box::Yes, "Delete?\nall of it"),
            Seen("Cliplist Options", Box::Warning, Box::Ok | Box::Cancel, Box::Ok, "Can't read"),
            Seen("Quorvandel", Box::Information, Box::Ok, Box::Ok, "completed successfully!"),
            Seen("Quorvandel", Box::Warning, Box::Ok, Box::Ok,
                 dir.Path("gone") +
                     "\nThis folder does not exist. Check the path and try again.")}));
}

}  // namespace
