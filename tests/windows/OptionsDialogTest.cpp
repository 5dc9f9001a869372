#include "app/OptionsDialog.h"

#include <QTest>

#include <algorithm>
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

TEST(OptionsDialogTest, ShowsTheSettingsAndWritesThemBackOnlyOnOkOrEnter) {
    const std::vector<std::string> names = qv::FillCodecList("").driverNames;
    const auto found = std::find(names.begin(), names.end(), "dvvideo");
    ASSERT_NE(found, names.end()) << "the DV decoder is not installed";
    const int dv = static_cast<int>(found - names.begin());
    // What the dialog shows (delete, skip, sensitivity, codec), and the settings.
    auto shown = [](OptionsDialog& d) {
        return std::tuple(d.Control<QCheckBox>(1010)->isChecked(),
                          d.Control<QCheckBox>(1012)->isChecked(),
                          d.Control<QComboBox>(1048)->currentIndex(),
                          d.Control<QComboBox>(1045)->currentIndex());
    };
    Settings settings{1, 0, "DVVIDEO", 4};
    auto stored = [&settings] {
        return std::tuple(settings.deleteSourceFiles, settings.skipNoDatestamp, settings.codec,
                          settings.optSensitivity);
    };
    // Driver names compare without regard to case; the list's own name is stored.
    OptionsDialog ok(settings, nullptr);
    EXPECT_EQ(shown(ok), std::tuple(true, false, 4, dv));
    ok.Control<QCheckBox>(1012)->setChecked(true);
    ok.Control<QComboBox>(1048)->setCurrentIndex(2);
    ok.show();
    ok.Control<QPushButton>(1)->click();
    EXPECT_EQ(stored(), std::tuple(1, 1, "dvvideo", 2));

    // Cancel and the close box change nothing.
    for (bool closeBox : {false, true}) {
        OptionsDialog d(settings, nullptr);
        d.Control<QCheckBox>(1010)->setChecked(false);
        d.Control<QComboBox>(1045)->setCurrentIndex(0);
        d.show();
        if (closeBox) {
            d.close();
        } else {
            d.Control<QPushButton>(2)->click();
        }
        EXPECT_EQ(std::pair(d.result(), stored()),
                  std::pair(int{QDialog::Rejected}, std::tuple(1, 1, std::string("dvvideo"), 2)))
            << closeBox;
    }

    // A decoder that is not installed shows and stores the default codec, a
    // sensitivity outside the list selects none and is stored as -1; Enter is OK.
    settings = {0, 0, "no-such-decoder", 7};
    OptionsDialog enter(settings, nullptr);
    EXPECT_EQ(shown(enter), std::tuple(false, false, -1, 0));
    enter.show();
    QTest::keyClick(&enter, Qt::Key_Return);
    EXPECT_EQ(std::pair(enter.result(), stored()),
              std::pair(int{QDialog::Accepted}, std::tuple(0, 0, std::string(), -1)));
}

}  // namespace
