// The message boxes, captioned with the program's name and showing the icon of
// their kind.

#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include "app/SaveFileDialog.h"
#include "clipsheet/BitmapExportDialog.h"
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
        ASSERT_NE(box, nullptr) << "no message box";
        seen->push_back(Seen(box->windowTitle().toStdString(), box->icon(), box->standardButtons(),
                             box->standardButton(box->defaultButton()), box->text().toStdString()));
        box->button(button)->click();
    });
}

TEST(MessageBox, ShowsTheKindsIconAndButtonsAndAnswersWithTheButtonPressed) {
    std::vector<std::string> seen;
    qv::MessageDialog messages(nullptr);
    OnNextBox(&seen, Box::No);
    EXPECT_EQ(messages.Ask("Delete?\r\nall of it", Buttons::YesNo), Answer::No);
    OnNextBox(&seen, Box::Cancel);  // an Ok and Cancel question is a warning
    EXPECT_EQ(messages.Ask("Can't read", Buttons::OkCancel, "Cliplist Options"), Answer::Cancel);
    OnNextBox(&seen, Box::Ok);
    messages.Report("completed successfully!");

    EXPECT_EQ(
        seen,
        (std::vector<std::string>{
            Seen("Quorvandel", Box::Question, Box::Yes | Box::No, Box::Yes, "Delete?\nall of it"),
            Seen("Cliplist Options", Box::Warning, Box::Ok | Box::Cancel, Box::Ok, "Can't read"),
            Seen("Quorvandel", Box::Information, Box::Ok, Box::Ok, "completed successfully!")}));
}

// Types name into a Qt save dialog.
void TypeName(qv::SaveFileDialog& dialog, const std::string& name) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(QString::fromStdString(name));
}

// Here the bitmaps' save dialog, which asks for an existing folder as the others do.
TEST(SaveFileDialog, RefusesANameInAFolderThatDoesNotExistAndStaysOpen) {
    qvtest::TempDir dir;
    const std::string missing = dir.Path("gone");
    const auto saveBitmaps =
        qv::BitmapExportDialog::MakeSaveDialog(nullptr, dir.Dir().string(), "");
    qv::SaveFileDialog& dialog = *saveBitmaps;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    std::vector<std::string> seen;
    bool stayedOpen = false;
    QTimer::singleShot(0, [&] {
        TypeName(dialog, missing + "/clips.bmp");
        OnNextBox(&seen, Box::Ok);
        dialog.accept();
        stayedOpen = dialog.isVisible();
        TypeName(dialog, dir.Path("clips.bmp"));
        dialog.accept();
    });
    EXPECT_EQ(dialog.Choose(), dir.Path("clips.bmp"));
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(seen, std::vector<std::string>{Seen(
                        "Quorvandel", Box::Warning, Box::Ok, Box::Ok,
                        missing + "\nThis folder does not exist. Check the path and try again.")});
}

}  // namespace
