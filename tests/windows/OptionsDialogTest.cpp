#include "app/OptionsDialog.h"

#include <algorithm>

#include "dv/PictureDecoder.h"
#include "windows/WindowTests.h"

namespace {

TEST(OptionsDialogTest, ShowsItsTextsAndTheSettingsAndWritesThemBackOnlyOnOk) {
    const qv::CodecList codecs = qv::FillCodecList("");
    const auto dv = std::find(codecs.driverNames.begin(), codecs.driverNames.end(), "dvvideo");
    ASSERT_NE(dv, codecs.driverNames.end()) << "the DV decoder is not installed";
    // Driver names compare without regard to case; the list's own name is stored.
    qv::Settings settings{1, 0, "DVVIDEO", 4};
    qv::OptionsDialog d(settings, nullptr);
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
    // The installed codecs after the default one, the stored one selected.
    const QComboBox& codec = *d.Control<QComboBox>(1045);
    EXPECT_EQ(std::tuple(codec.count(), codec.itemText(0), codec.currentText().toStdString()),
              std::tuple(static_cast<int>(codecs.texts.size()), QString("default codec"),
                         codecs.texts[dv - codecs.driverNames.begin()]));
    // What the dialog shows: delete, skip, sensitivity.
    EXPECT_EQ(
        std::tuple(d.Control<QCheckBox>(1010)->isChecked(), d.Control<QCheckBox>(1012)->isChecked(),
                   d.Control<QComboBox>(1048)->currentIndex()),
        std::tuple(true, false, 4));

    // Cancel changes nothing; OK writes back what the dialog shows.
    for (int button : {2, 1}) {
        qv::OptionsDialog edited(settings, nullptr);
        edited.Control<QCheckBox>(1012)->setChecked(true);
        edited.Control<QComboBox>(1048)->setCurrentIndex(2);
        edited.Control<QCheckBox>(1052)->setChecked(false);
        edited.show();
        edited.Control<QPushButton>(button)->click();
        EXPECT_EQ(std::tuple(settings.deleteSourceFiles, settings.skipNoDatestamp, settings.codec,
                             settings.optSensitivity),
                  button == 2 ? std::tuple(1, 0, std::string("DVVIDEO"), 4)
                              : std::tuple(1, 1, std::string("dvvideo"), 2))
            << button;
        EXPECT_EQ(std::tuple(settings.splitRecordingStarts, settings.splitTimecodeBreaks,
                             settings.splitFormatChanges),
                  std::tuple(1, button == 2 ? 1 : 0, 1));
    }
    // The thorough scan's splits, below the existing controls, on by default.
    EXPECT_EQ(qvtest::Texts(d, {1051, 1052, 1053}),
              (std::vector<QString>{"split at recording starts", "split at timecode breaks",
                                    "split at format changes"}));
    EXPECT_TRUE(d.Control<QCheckBox>(1051)->isChecked() && d.Control<QCheckBox>(1053)->isChecked());
}

}  // namespace
