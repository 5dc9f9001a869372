// The clip sheet options dialog through its control IDs: its texts, the
// settings it shows and takes, and a value it refuses.

#include "clipsheet/ClipSheetOptionsDialog.h"

#include "windows/WindowTests.h"

namespace {

QLineEdit* Edit(qv::ClipSheetOptionsDialog& d, int id) {
    return d.Control<QLineEdit>(id);
}

TEST(ClipSheetOptionsDialogTest, ShowsItsTextsAndTheSettingsAndTakesGoodEditsOnlyOnOk) {
    qv::framesPerSecond = 25.0f;
    qv::ClipSheetSettings settings;
    settings.timecodeOffset = 250;
    settings.headline = "Tape 1";
    settings.showFileNames = 0;
    const qv::ClipSheetSettings before = settings;
    qv::ClipSheetOptionsDialog cancelled(settings, nullptr);
    Edit(cancelled, 1033)->setText("12");
    cancelled.show();
    cancelled.Control<QPushButton>(2)->click();
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(settings, before);

    qv::ClipSheetOptionsDialog d(settings, nullptr);
    std::vector<std::string> shown;
    qvtest::KeepMessages(d.Messages(), shown);
    d.show();
    EXPECT_EQ(std::tuple(d.windowTitle(), d.objectName(), d.Control<QPushButton>(1)->isDefault()),
              std::tuple(QString("Cliplist Options"), QString("dialog144"), true));
    EXPECT_EQ(qvtest::Texts(d, {1041, 1042, 1, 2}),
              (std::vector<QString>{"Show filenames", "Show timecode", "OK", "Cancel"}));
    EXPECT_TRUE(qvtest::HasLabels(
        d, {"Timecode of first frame: (MM:SS:FF)", "pictures per line", "min. pics per scene",
            "max. seconds per pic", "blank space below text", "relative font size", "Headline:"}));
    EXPECT_EQ(qvtest::Texts(d, {1046, 1033, 1044, 1043}),
              (std::vector<QString>{"00:10:00", "6", "10", "Tape 1"}));
    EXPECT_EQ(
        std::pair(d.Control<QCheckBox>(1041)->isChecked(), d.Control<QCheckBox>(1042)->isChecked()),
        std::pair(false, true));

    // A bad value is refused with the focus on its edit, and nothing is taken.
    Edit(d, 1033)->setText("31");
    d.Control<QCheckBox>(1041)->setChecked(true);
    d.Control<QPushButton>(1)->click();
    EXPECT_EQ(shown, std::vector<std::string>{"Please enter an integer between 1 and 30."});
    EXPECT_EQ(std::tuple(d.isVisible(), d.focusWidget(), settings),
              std::tuple(true, d.Control(1033), before));

    // A timecode that is no time, and a headline of 81 characters, are refused too.
    Edit(d, 1033)->setText("8");
    Edit(d, 1046)->setText("xx:99:77");
    d.Control<QPushButton>(1)->click();
    Edit(d, 1046)->setText("1:00:00");
    Edit(d, 1043)->setText(QString(81, QChar(0xE9)));
    d.Control<QPushButton>(1)->click();
    EXPECT_EQ(shown, (std::vector<std::string>{"Please enter an integer between 1 and 30.",
                                               "Please enter an integer.",
                                               "Please enter no more than 80 characters."}));
    EXPECT_EQ(std::tuple(d.isVisible(), settings), std::tuple(true, before));

    // 80 accented letters are 80 characters, whatever their bytes.
    Edit(d, 1043)->setText(QString(80, QChar(0xE9)));
    d.Control<QPushButton>(1)->click();
    EXPECT_EQ(shown.size(), 3u);  // no new message
    EXPECT_EQ(std::tuple(d.result(), settings.picsPerLine, settings.timecodeOffset,
                         settings.showFileNames, settings.headline),
              std::tuple(QDialog::Accepted, 8, 1500, 1, QString(80, QChar(0xE9)).toStdString()));
}

}  // namespace
