// The message boxes, captioned with the program's name and showing the icon of
// their kind, and the save dialog that refuses a name in a missing folder.

#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include "app/SaveFileDialog.h"
#include "windows/WindowTests.h"

namespace {

using qv::Buttons;
using qv::MessageKind;

// Runs action on the modal box next shown: records its caption, icon and text,
// then presses button.
void OnNextBox(std::vector<std::string>* seen, QMessageBox::StandardButton button) {
    QTimer::singleShot(0, [seen, button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            seen->push_back("no message box");
            return;
        }
        seen->push_back(box->windowTitle().toStdString() + "|" +
                        std::to_string(static_cast<int>(box->icon())) + "|" +
                        box->text().toStdString());
        box->button(button)->click();
    });
}

TEST(MessageBox, CaptionIsTheProgramsNameAndTheIconShowsTheKind) {
    using Box = QMessageBox;
    const struct {
        MessageKind kind;
        Buttons buttons;
        Box::Icon icon;
        Box::StandardButtons shown;
        Box::StandardButton byDefault;
    } rows[] = {
        {MessageKind::Information, Buttons::Ok, Box::Information, Box::Ok, Box::Ok},
        {MessageKind::Warning, Buttons::OkCancel, Box::Warning, Box::Ok | Box::Cancel, Box::Ok},
        {MessageKind::Question, Buttons::YesNo, Box::Question, Box::Yes | Box::No, Box::Yes},
        {MessageKind::Question, Buttons::YesNoDefaultNo, Box::Question, Box::Yes | Box::No,
         Box::No},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.buttons));
        auto box =
            qv::MessageDialog::MakeBox(nullptr, row.kind, "first\r\nsecond", row.buttons, "");
        EXPECT_EQ(std::tuple(box->windowTitle(), box->icon(), box->standardButtons(),
                             box->standardButton(box->defaultButton()), box->text()),
                  std::tuple(QString("Quorvandel"), row.icon, row.shown, row.byDefault,
                             QString("first\nsecond")));
    }
    // A caption given by the caller stays.
    EXPECT_EQ(qv::MessageDialog::MakeBox(nullptr, MessageKind::Warning, "x", Buttons::Ok,
                                         "Cliplist Options")
                  ->windowTitle(),
              QStringLiteral("Cliplist Options"));
}

TEST(MessageBox, AShownBoxAnswersWithTheButtonPressedAndAMinimizedOwnerComesBackFirst) {
    QWidget owner;
    owner.resize(300, 200);
    owner.show();
    owner.showMinimized();
    ASSERT_TRUE(owner.isMinimized());
    // Questions and failures show their kind; an Ok and Cancel question is a warning.
    std::vector<std::string> seen;
    OnNextBox(&seen, QMessageBox::No);
    EXPECT_EQ(qv::MessageDialog(nullptr).Ask("Delete?", Buttons::YesNo), qv::Answer::No);
    OnNextBox(&seen, QMessageBox::Cancel);
    EXPECT_EQ(qv::MessageDialog(nullptr).Ask("Can't read", Buttons::OkCancel), qv::Answer::Cancel);
    OnNextBox(&seen, QMessageBox::Ok);
    qv::MessageDialog(nullptr).Tell("An error occured!");
    bool minimizedWhenShown = true;
    QTimer::singleShot(0, [&] { minimizedWhenShown = owner.isMinimized(); });
    OnNextBox(&seen, QMessageBox::Ok);
    qv::MessageDialog(&owner).Report("completed successfully!");
    auto icon = [](QMessageBox::Icon i) { return "Quorvandel|" + std::to_string(i) + "|"; };
    EXPECT_EQ(seen, (std::vector<std::string>{icon(QMessageBox::Question) + "Delete?",
                                              icon(QMessageBox::Warning) + "Can't read",
                                              icon(QMessageBox::Warning) + "An error occured!",
                                              icon(QMessageBox::Information) +
                                                  "completed successfully!"}));
    EXPECT_FALSE(minimizedWhenShown);
    EXPECT_FALSE(owner.isMinimized());
}

// Types name into a Qt save dialog.
void TypeName(qv::SaveFileDialog& dialog, const std::string& name) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(QString::fromStdString(name));
}

TEST(SaveFileDialog, RefusesANameInAFolderThatDoesNotExistAndStaysOpen) {
    qvtest::TempDir dir;
    const std::string missing = dir.Path("gone");
    qv::SaveFileDialog dialog(nullptr, QStringLiteral("Set write name"),
                              QString::fromStdString(dir.Dir().string()));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.SetPathMustExist(true);
    std::vector<std::string> seen;
    bool stayedOpen = false;
    QTimer::singleShot(0, [&] {
        TypeName(dialog, missing + "/clips.avi");
        OnNextBox(&seen, QMessageBox::Ok);
        dialog.accept();
        stayedOpen = dialog.isVisible();
        TypeName(dialog, dir.Path("clips.avi"));
        dialog.accept();
    });
    EXPECT_EQ(dialog.Choose(), dir.Path("clips.avi"));
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "Quorvandel|" + std::to_string(QMessageBox::Warning) + "|" + missing +
                        "\nThis folder does not exist. Check the path and try again."}));
}

}  // namespace
