#include "app/OptionsDialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "dv/PictureDecoder.h"

namespace {

using qv::OptionsDialog;
using qv::Settings;

QCheckBox* Check(OptionsDialog& d, int id) {
    return d.Control<QCheckBox>(id);
}
QComboBox* Combo(OptionsDialog& d, int id) {
    return d.Control<QComboBox>(id);
}
QPushButton* Button(OptionsDialog& d, int id) {
    return d.Control<QPushButton>(id);
}

bool HasLabel(OptionsDialog& d, const QString& text) {
    for (const QLabel* label : d.findChildren<QLabel*>()) {
        if (label->text() == text) {
            return true;
        }
    }
    return false;
}

// The index of the installed decoder dvvideo in the codec list, or -1.
int DvVideoIndex() {
    const qv::CodecList list = qv::FillCodecList("");
    for (size_t i = 0; i < list.driverNames.size(); ++i) {
        if (list.driverNames[i] == "dvvideo") {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TEST(OptionsDialogTest, ShowsEveryTextOfTheTemplate) {
    Settings settings;
    OptionsDialog dialog(settings, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Options");
    ASSERT_NE(Check(dialog, 1012), nullptr);
    ASSERT_NE(Check(dialog, 1010), nullptr);
    EXPECT_EQ(Check(dialog, 1012)->text(), "scenes without datestamp default to: write=NO");
    EXPECT_EQ(Check(dialog, 1010)->text(),
              "delete each source-file when all of its scenes are written");
    EXPECT_TRUE(HasLabel(dialog,
                         "if you e.g. split 4 files with 2GB each, with this option enabled you "
                         "only need 2GB free space on that drive to split all the files."));
    EXPECT_TRUE(HasLabel(dialog, "Optical Scan Sensitivity:"));
    EXPECT_TRUE(HasLabel(dialog, "DV-Codec that Quorvandel should use to render pictures:"));
    EXPECT_TRUE(HasLabel(dialog,
                         "If the dv-codec of your card doesn't work, try to install a "
                         "software-dv-codec from another dv-capture card and select it here. "
                         "Restart quorvandel after changing the codec."));
    ASSERT_NE(Button(dialog, 1), nullptr);
    ASSERT_NE(Button(dialog, 2), nullptr);
    EXPECT_EQ(Button(dialog, 1)->text(), "OK");
    EXPECT_EQ(Button(dialog, 2)->text(), "Cancel");

    QComboBox* sensitivity = Combo(dialog, 1048);
    ASSERT_NE(sensitivity, nullptr);
    const QStringList expected{"very high - \"studio camera\"", "high", "medium", "low",
                               "very low - \"shaky Homevideo\""};
    ASSERT_EQ(sensitivity->count(), expected.size());
    for (int i = 0; i < sensitivity->count(); ++i) {
        EXPECT_EQ(sensitivity->itemText(i), expected[i]);
    }

    QComboBox* codec = Combo(dialog, 1045);
    ASSERT_NE(codec, nullptr);
    const qv::CodecList list = qv::FillCodecList("");
    ASSERT_EQ(codec->count(), static_cast<int>(list.texts.size()));
    EXPECT_EQ(codec->itemText(0), "default codec");
    for (int i = 0; i < codec->count(); ++i) {
        EXPECT_EQ(codec->itemText(i).toStdString(), list.texts[static_cast<size_t>(i)]);
    }
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

TEST(OptionsDialogTest, OpensWithTheSettingsValues) {
    Settings settings{1, 0, "DVVIDEO", 4};
    OptionsDialog dialog(settings, nullptr);
    EXPECT_TRUE(Check(dialog, 1010)->isChecked());
    EXPECT_FALSE(Check(dialog, 1012)->isChecked());
    EXPECT_EQ(Combo(dialog, 1048)->currentIndex(), 4);
    const int dv = DvVideoIndex();
    ASSERT_GT(dv, 0) << "the DV decoder is not installed";
    // Driver names compare without regard to case.
    EXPECT_EQ(Combo(dialog, 1045)->currentIndex(), dv);

    Settings other{0, 1, "", 0};
    OptionsDialog second(other, nullptr);
    EXPECT_FALSE(Check(second, 1010)->isChecked());
    EXPECT_TRUE(Check(second, 1012)->isChecked());
    EXPECT_EQ(Combo(second, 1048)->currentIndex(), 0);
    EXPECT_EQ(Combo(second, 1045)->currentIndex(), 0);
}

TEST(OptionsDialogTest, OkWritesTheEditedValuesBack) {
    Settings settings{0, 0, "", 3};
    OptionsDialog dialog(settings, nullptr);
    Check(dialog, 1010)->setChecked(true);
    Check(dialog, 1012)->setChecked(true);
    Combo(dialog, 1048)->setCurrentIndex(1);
    const int dv = DvVideoIndex();
    ASSERT_GT(dv, 0);
    Combo(dialog, 1045)->setCurrentIndex(dv);
    // Nothing is written while the dialog is open.
    EXPECT_EQ(settings.deleteSourceFiles, 0);
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.deleteSourceFiles, 1);
    EXPECT_EQ(settings.skipNoDatestamp, 1);
    EXPECT_EQ(settings.optSensitivity, 1);
    EXPECT_EQ(settings.codec, "dvvideo");
}

TEST(OptionsDialogTest, EnterPressesOk) {
    Settings settings{0, 0, "", 3};
    OptionsDialog dialog(settings, nullptr);
    EXPECT_TRUE(Button(dialog, 1)->isDefault());
    EXPECT_FALSE(Button(dialog, 2)->isDefault());
    dialog.show();
    Check(dialog, 1010)->setChecked(true);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.deleteSourceFiles, 1);
}

TEST(OptionsDialogTest, CancelAndTheCloseBoxLeaveTheSettingsUnchanged) {
    const Settings original{1, 1, "dvvideo", 2};
    Settings settings = original;
    {
        OptionsDialog dialog(settings, nullptr);
        Check(dialog, 1010)->setChecked(false);
        Check(dialog, 1012)->setChecked(false);
        Combo(dialog, 1048)->setCurrentIndex(4);
        Combo(dialog, 1045)->setCurrentIndex(0);
        Button(dialog, 2)->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(settings.deleteSourceFiles, original.deleteSourceFiles);
    EXPECT_EQ(settings.skipNoDatestamp, original.skipNoDatestamp);
    EXPECT_EQ(settings.codec, original.codec);
    EXPECT_EQ(settings.optSensitivity, original.optSensitivity);
    {
        OptionsDialog dialog(settings, nullptr);
        Combo(dialog, 1048)->setCurrentIndex(0);
        dialog.show();
        dialog.close();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(settings.optSensitivity, original.optSensitivity);
}

TEST(OptionsDialogTest, DefaultCodecAndAMissingCodecStoreAnEmptyName) {
    Settings settings{0, 0, "no-such-decoder", 3};
    OptionsDialog dialog(settings, nullptr);
    EXPECT_EQ(Combo(dialog, 1045)->currentIndex(), 0);
    EXPECT_EQ(Combo(dialog, 1045)->currentText(), "default codec");
    Button(dialog, 1)->click();
    EXPECT_EQ(settings.codec, "");

    Settings named{0, 0, "dvvideo", 3};
    OptionsDialog second(named, nullptr);
    Combo(second, 1045)->setCurrentIndex(0);
    Button(second, 1)->click();
    EXPECT_EQ(named.codec, "");
}

TEST(OptionsDialogTest, SensitivityOutsideTheListSelectsNothingAndStoresMinusOne) {
    Settings settings{0, 0, "", 7};
    OptionsDialog dialog(settings, nullptr);
    EXPECT_EQ(Combo(dialog, 1048)->currentIndex(), -1);
    Button(dialog, 1)->click();
    EXPECT_EQ(settings.optSensitivity, -1);

    Settings picked{0, 0, "", -3};
    OptionsDialog second(picked, nullptr);
    EXPECT_EQ(Combo(second, 1048)->currentIndex(), -1);
    Combo(second, 1048)->setCurrentIndex(2);
    Button(second, 1)->click();
    EXPECT_EQ(picked.optSensitivity, 2);
}

}  // namespace
