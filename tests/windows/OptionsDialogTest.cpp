#include "app/OptionsDialog.h"

#include <QTest>

#include <algorithm>
#include <tuple>

#include "dv/PictureDecoder.h"
#include "windows/WindowTests.h"

namespace {

using qv::OptionsDialog;
using qv::Settings;

TEST(OptionsDialogTest, ShowsEveryTextOfTheTemplate) {
    Settings settings;
    OptionsDialog d(settings, nullptr);
    EXPECT_EQ(d.windowTitle(), "Options");
    EXPECT_EQ(qvtest::Texts(d, {1012, 1010, 1, 2}),
              (std::vector<QString>{"scenes without datestamp default to: write=NO",
                                    "delete each source-file when all of its scenes are written",
                                    "OK", "Cancel"}));
    EXPECT_TRUE(qvtest::HasLabels(
        d, {"if you e.g. split 4 files with 2GB each, with this option enabled you only need 2GB "
            "free space on that drive to split all the files.",
            "Optical Scan Sensitivity:", "DV-Codec that Quorvandel should use to render pictures:",
            "If the dv-codec of your card doesn't work, try to install a software-dv-codec from "
            "another dv-capture card and select it here. Restart quorvandel after changing the "
            "codec."}));
    EXPECT_EQ(qvtest::Items(*d.Control<QComboBox>(1048)),
              (QStringList{"very high - \"studio camera\"", "high", "medium", "low",
                           "very low - \"shaky Homevideo\""}));
    QStringList codecs;
    for (const std::string& text : qv::FillCodecList("").texts) {
        codecs.push_back(QString::fromStdString(text));
    }
    EXPECT_EQ(qvtest::Items(*d.Control<QComboBox>(1045)), codecs);
    EXPECT_EQ(codecs.value(0), "default codec");
}

TEST(OptionsDialogTest, OneLineTextsAndCheckBoxesFitWithTheTemplatesMargin) {
    Settings settings;
    OptionsDialog dialog(settings, nullptr);
    const int margin = dialog.Units().X(7);
    int checked = 0;
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        auto* label = qobject_cast<QLabel*>(w);
        if ((label == nullptr || label->wordWrap()) && qobject_cast<QCheckBox*>(w) == nullptr) {
            continue;
        }
        ++checked;
        EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
        EXPECT_LE(w->geometry().right() + 1 + margin, dialog.width())
            << w->objectName().toStdString();
    }
    EXPECT_EQ(checked, 4);  // two check boxes, two labels
}

// Each row: the settings the dialog opens with, what it shows (delete, skip,
// sensitivity, codec), the edits made (-1: left as shown), how it is closed,
// and the settings afterwards. Codec index 0 is "default codec", -2 stands
// for the installed DV decoder.
TEST(OptionsDialogTest, ShowsTheSettingsAndWritesThemBackOnlyOnOk) {
    const std::vector<std::string> names = qv::FillCodecList("").driverNames;
    const auto found = std::find(names.begin(), names.end(), "dvvideo");
    ASSERT_NE(found, names.end()) << "the DV decoder is not installed";
    const int dv = static_cast<int>(found - names.begin());
    enum class Close { Ok, Enter, Cancel, CloseBox };
    const struct {
        const char* name;
        Settings in;
        std::array<int, 4> shown, set;
        Close close;
        Settings out;
    } rows[] = {
        // Driver names compare without regard to case; the list's own name is stored.
        {"ok", {0, 0, "", 3}, {0, 0, 3, 0}, {1, 1, 1, -2}, Close::Ok, {1, 1, "dvvideo", 1}},
        {"case", {1, 0, "DVVIDEO", 4}, {1, 0, 4, -2}, {-1, -1, -1, -1}, Close::Ok,
         {1, 0, "dvvideo", 4}},
        {"enter", {0, 1, "", 0}, {0, 1, 0, 0}, {1, -1, -1, -1}, Close::Enter, {1, 1, "", 0}},
        {"cancel", {1, 1, "dvvideo", 2}, {1, 1, 2, -2}, {0, 0, 4, 0}, Close::Cancel,
         {1, 1, "dvvideo", 2}},
        {"close box", {1, 1, "dvvideo", 2}, {1, 1, 2, -2}, {-1, -1, 0, -1}, Close::CloseBox,
         {1, 1, "dvvideo", 2}},
        // A decoder that is not installed shows and stores the default codec.
        {"missing", {0, 0, "no-such-decoder", 3}, {0, 0, 3, 0}, {-1, -1, -1, -1}, Close::Ok,
         {0, 0, "", 3}},
        {"default", {0, 0, "dvvideo", 3}, {0, 0, 3, -2}, {-1, -1, -1, 0}, Close::Ok,
         {0, 0, "", 3}},
        // A sensitivity outside the list selects nothing and is stored as -1.
        {"outside", {0, 0, "", 7}, {0, 0, -1, 0}, {-1, -1, -1, -1}, Close::Ok, {0, 0, "", -1}},
        {"picked", {0, 0, "", -3}, {0, 0, -1, 0}, {-1, -1, 2, -1}, Close::Ok, {0, 0, "", 2}},
    };
    auto codec = [dv](int index) { return index == -2 ? dv : index; };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Settings settings = row.in;
        OptionsDialog d(settings, nullptr);
        auto* del = d.Control<QCheckBox>(1010);
        auto* skip = d.Control<QCheckBox>(1012);
        auto* sensitivity = d.Control<QComboBox>(1048);
        auto* codecs = d.Control<QComboBox>(1045);
        EXPECT_EQ(std::tuple(del->isChecked(), skip->isChecked(), sensitivity->currentIndex(),
                             codecs->currentIndex()),
                  std::tuple(row.shown[0] != 0, row.shown[1] != 0, row.shown[2],
                             codec(row.shown[3])));
        del->setChecked(row.set[0] < 0 ? del->isChecked() : row.set[0] != 0);
        skip->setChecked(row.set[1] < 0 ? skip->isChecked() : row.set[1] != 0);
        sensitivity->setCurrentIndex(row.set[2] < 0 ? sensitivity->currentIndex() : row.set[2]);
        codecs->setCurrentIndex(row.set[3] == -1 ? codecs->currentIndex() : codec(row.set[3]));
        // Nothing is written while the dialog is open.
        EXPECT_EQ(std::pair(settings.deleteSourceFiles, settings.optSensitivity),
                  std::pair(row.in.deleteSourceFiles, row.in.optSensitivity));
        d.show();
        if (row.close == Close::Ok) {
            d.Control<QPushButton>(1)->click();
        } else if (row.close == Close::Enter) {
            QTest::keyClick(&d, Qt::Key_Return);
        } else if (row.close == Close::Cancel) {
            d.Control<QPushButton>(2)->click();
        } else {
            d.close();
        }
        const bool accepted = row.close == Close::Ok || row.close == Close::Enter;
        EXPECT_EQ(d.result(), accepted ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(std::tuple(settings.deleteSourceFiles, settings.skipNoDatestamp,
                             settings.optSensitivity, settings.codec),
                  std::tuple(row.out.deleteSourceFiles, row.out.skipNoDatestamp,
                             row.out.optSensitivity, row.out.codec));
    }
}

}  // namespace
