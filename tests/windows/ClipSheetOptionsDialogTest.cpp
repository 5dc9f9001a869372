#include "clipsheet/ClipSheetOptionsDialog.h"

#include <algorithm>
#include <tuple>

#include "app/SceneList.h"
#include "windows/WindowTests.h"

namespace {

using qv::ClipSheetOptionsDialog;
using qv::ClipSheetSettings;

QLineEdit* Edit(ClipSheetOptionsDialog& d, int id) {
    return d.Control<QLineEdit>(id);
}

// Presses OK; the messages it showed.
std::vector<std::string> PressOk(ClipSheetOptionsDialog& d) {
    std::vector<std::string> shown;
    qvtest::KeepMessages(d.Messages(), shown);
    d.show();
    d.Control<QPushButton>(1)->click();
    return shown;
}

TEST(ClipSheetOptionsDialogTest, ShowsItsTextsAndCancelChangesNothing) {
    ClipSheetSettings settings;
    ClipSheetOptionsDialog d(settings, nullptr);
    EXPECT_EQ(std::pair(d.windowTitle(), d.objectName()),
              std::pair(QString("Cliplist Options"), QString("dialog144")));
    EXPECT_EQ(qvtest::Texts(d, {1041, 1042, 1, 2}),
              (std::vector<QString>{"Show filenames", "Show timecode", "OK", "Cancel"}));
    EXPECT_TRUE(d.Control<QPushButton>(1)->isDefault());
    EXPECT_TRUE(qvtest::HasLabels(
        d, {"Timecode of first frame: (MM:SS:FF)", "pictures per line", "min. pics per scene",
            "max. seconds per pic", "blank space below text", "relative font size", "Headline:"}));
    Edit(d, 1033)->setText("12");
    d.show();
    d.Control<QPushButton>(2)->click();
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(settings, ClipSheetSettings{});
}

TEST(ClipSheetOptionsDialogTest, ShowsTheSettingsAndTakesEditsOnOk) {
    qv::framesPerSecond = 25.0f;
    ClipSheetSettings settings;
    settings.timecodeOffset = 250;
    settings.headline = "Tape 1";
    settings.showFileNames = 0;
    ClipSheetOptionsDialog d(settings, nullptr);
    EXPECT_EQ(qvtest::Texts(d, {1046, 1033, 1044, 1043}),
              (std::vector<QString>{"00:10:00", "6", "10", "Tape 1"}));
    EXPECT_EQ(
        std::pair(d.Control<QCheckBox>(1041)->isChecked(), d.Control<QCheckBox>(1042)->isChecked()),
        std::pair(false, true));

    // The spin steps from the edit's value and writes it back there.
    Edit(d, 1033)->setText("7");
    d.Control<QSpinBox>(1034)->stepBy(1);
    EXPECT_EQ(Edit(d, 1033)->text(), "8");

    Edit(d, 1037)->setText("0");  // typed, below the spin's range: accepted
    Edit(d, 1046)->setText("1:00:00");
    d.Control<QCheckBox>(1041)->setChecked(true);
    EXPECT_TRUE(PressOk(d).empty());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(std::tuple(settings.picsPerLine, settings.picsPerScene, settings.timecodeOffset,
                         settings.showFileNames),
              std::tuple(8, 0, 1500, 1));
}

TEST(ClipSheetOptionsDialogTest, RefusesTheFirstBadValueInTheCheckingOrder) {
    qv::framesPerSecond = 25.0f;
    struct Row {
        std::vector<std::pair<int, std::string>> edits;
        std::string message;
        int focus;
    };
    const std::vector<Row> rows = {
        {{{1033, "31"}}, "Please enter an integer between 1 and 30.", 1033},
        {{{1033, "six"}}, "Please enter an integer.", 1033},
        {{{1037, "101"}}, "Please enter an integer between 0 and 100.", 1037},
        {{{1035, "601"}}, "Please enter an integer between 0 and 600.", 1035},
        {{{1039, "-1"}}, "Please enter an integer between 0 and 10.", 1039},
        {{{1044, "128"}}, "Please enter an integer between 1 and 127.", 1044},
        {{{1043, std::string(81, 'x')}}, "Please enter no more than 80 characters.", 1043},
        // A count of frames beyond 32 bits is not an integer the offset can hold.
        {{{1046, "23860:55:45:23"}}, "Please enter an integer.", 1046},
        // The font size comes before the pictures per line, the timecode first of all.
        {{{1033, "31"}, {1044, "0"}}, "Please enter an integer between 1 and 127.", 1044},
        {{{1044, "0"}, {1046, "99999999999"}}, "Please enter an integer.", 1046},
        {{{1039, "11"}, {1043, std::string(81, 'x')}},
         "Please enter an integer between 0 and 10.",
         1039},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message + " at " + std::to_string(row.focus));
        ClipSheetSettings settings;
        ClipSheetOptionsDialog d(settings, nullptr);
        for (const auto& [id, text] : row.edits) {
            Edit(d, id)->setText(QString::fromStdString(text));
        }
        EXPECT_EQ(PressOk(d), std::vector<std::string>{row.message});
        EXPECT_EQ(std::pair(d.isVisible(), d.focusWidget()), std::pair(true, d.Control(row.focus)));
        EXPECT_EQ(settings, ClipSheetSettings{});
    }
}

}  // namespace
