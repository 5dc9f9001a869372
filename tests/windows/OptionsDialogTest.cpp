#include "app/OptionsDialog.h"

#include <QTest>

#include <algorithm>
#include <functional>
#include <tuple>

#include "dv/PictureDecoder.h"
#include "windows/WindowTests.h"

namespace {

using qv::OptionsDialog;
using qv::Settings;

TEST(OptionsDialogTest, ShowsItsTextsAndTheInstalledCodecs) {
    Settings settings;
    OptionsDialog d(settings, nullptr);
    EXPECT_EQ(d.windowTitle(), "Options");
    EXPECT_EQ(qvtest::Texts(d, {1012, 1010, 1, 2}),
              (std::vector<QString>{"scenes without datestamp default to: write=NO",
                                    "delete each source-file when all of its scenes are written",
                                    "OK", "Cancel"}));
    EXPECT_TRUE(qvtest::HasLabels(
        d, {"Optical Scan Sensitivity:", "DV-Codec that Quorvandel should use to render pictures:"}));
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
        // A sensitivity outside the list selects nothing and is stored as -1.
        {"outside", {0, 0, "", 7}, {0, 0, -1, 0}, {-1, -1, -1, -1}, Close::Ok, {0, 0, "", -1}},
    };
    auto codec = [dv](int index) { return index == -2 ? dv : index; };
    const std::function<void(OptionsDialog&)> closes[] = {
        [](OptionsDialog& d) { d.Control<QPushButton>(1)->click(); },
        [](OptionsDialog& d) { QTest::keyClick(&d, Qt::Key_Return); },
        [](OptionsDialog& d) { d.Control<QPushButton>(2)->click(); },
        [](OptionsDialog& d) { d.close(); }};
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
        d.show();
        closes[static_cast<int>(row.close)](d);
        const bool accepted = row.close == Close::Ok || row.close == Close::Enter;
        EXPECT_EQ(d.result(), accepted ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(std::tuple(settings.deleteSourceFiles, settings.skipNoDatestamp,
                             settings.optSensitivity, settings.codec),
                  std::tuple(row.out.deleteSourceFiles, row.out.skipNoDatestamp,
                             row.out.optSensitivity, row.out.codec));
    }
}

}  // namespace
