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
        {MessageKind::Information, Buttons::OkCancel, Box::Information, Box::Ok | Box::Cancel,
         Box::Ok},
        {MessageKind::Warning, Buttons::Ok, Box::Warning, Box::Ok, Box::Ok},
        {MessageKind::Question, Buttons::YesNo, Box::Question, Box::Yes | Box::No, Box::Yes},
        {MessageKind::Question, Buttons::YesNoDefaultNo, Box::Question, Box::Yes | Box::No,
         Box::No},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.buttons));
        auto box =
            qv::MessageDialog::MakeBox(nullptr, row.kind, "first\r\nsecond", row.buttons, "");
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Quorvandel"));
        EXPECT_EQ(box->icon(), row.icon);
        EXPECT_EQ(box->standardButtons(), row.shown);
        EXPECT_EQ(box->standardButton(box->defaultButton()), row.byDefault);
        EXPECT_EQ(box->text(), QStringLiteral("first\nsecond"));
    }
    // A caption given by the caller stays.
    EXPECT_EQ(qv::MessageDialog::MakeBox(nullptr, MessageKind::Warning, "x", Buttons::Ok,
                                         "Cliplist Options")
                  ->windowTitle(),
              QStringLiteral("Cliplist Options"));
}

TEST(MessageBox, QuestionsAndFailuresHaveTheirKindUnlessTheAskerSaysOtherwise) {
    qv::MessageDialog messages(nullptr);
    messages.answerHook = [](const std::string&, Buttons, const std::string&) {
        return qv::Answer::Ok;
    };
    messages.Tell("An error occured!");
    EXPECT_EQ(messages.LastKind(), MessageKind::Warning);
    messages.Ask("do you want to abort?", Buttons::YesNo);
    EXPECT_EQ(messages.LastKind(), MessageKind::Question);
    messages.Ask("there was an error reading the audio stream", Buttons::YesNoDefaultNo);
    EXPECT_EQ(messages.LastKind(), MessageKind::Question);
    messages.Ask("Can't read this file. a.avi", Buttons::OkCancel);
    EXPECT_EQ(messages.LastKind(), MessageKind::Warning);
    messages.Report("completed successfully!");
    EXPECT_EQ(messages.LastKind(), MessageKind::Information);
}

TEST(MessageBox, AShownBoxAnswersWithTheButtonPressedAndAMinimizedOwnerComesBackFirst) {
    QWidget owner;
    owner.resize(300, 200);
    owner.show();
    owner.showMinimized();
    ASSERT_TRUE(owner.isMinimized());
    std::vector<std::string> seen;
    OnNextBox(&seen, QMessageBox::No);
    EXPECT_EQ(qv::MessageDialog(nullptr).Ask("Delete?", Buttons::YesNo), qv::Answer::No);
    bool minimizedWhenShown = true;
    QTimer::singleShot(0, [&] { minimizedWhenShown = owner.isMinimized(); });
    OnNextBox(&seen, QMessageBox::Ok);
    qv::MessageDialog(&owner).Report("completed successfully!");
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "Quorvandel|" + std::to_string(QMessageBox::Question) + "|Delete?",
                        "Quorvandel|" + std::to_string(QMessageBox::Information) +
                            "|completed successfully!"}));
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

    // Without the rule the same name is taken.
    qv::SaveFileDialog free(nullptr, QStringLiteral("Save"),
                            QString::fromStdString(dir.Dir().string()));
    free.setOption(QFileDialog::DontUseNativeDialog);
    QTimer::singleShot(0, [&] {
        TypeName(free, missing + "/clips.avi");
        free.accept();
    });
    EXPECT_EQ(free.Choose(), missing + "/clips.avi");
}

}  // namespace
