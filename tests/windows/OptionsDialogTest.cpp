#include "app/OptionsDialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <vector>

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

// Each row: the settings the dialog opens with, what it shows, the edits made,
// how it is closed, and the settings afterwards. Codec indexes: 0 is "default
// codec", -2 stands for the installed DV decoder.
TEST(OptionsDialogTest, ShowsTheSettingsAndWritesThemBackOnlyOnOk) {
    const int dv = DvVideoIndex();
    ASSERT_GT(dv, 0) << "the DV decoder is not installed";
    enum class Close { Ok, Enter, Cancel, CloseBox };
    struct Row {
        const char* name;
        Settings in;
        bool shownDelete, shownSkip;
        int shownSensitivity, shownCodec;
        int setDelete, setSkip, setSensitivity, setCodec;  // -1: left as shown
        Close close;
        Settings out;
    };
    const std::vector<Row> rows = {
        // Driver names compare without regard to case; the list's own name is stored.
        {"ok", {0, 0, "", 3}, false, false, 3, 0, 1, 1, 1, -2, Close::Ok, {1, 1, "dvvideo", 1}},
        {"case", {1, 0, "DVVIDEO", 4}, true, false, 4, -2, -1, -1, -1, -1, Close::Ok,
         {1, 0, "dvvideo", 4}},
        {"enter", {0, 1, "", 0}, false, true, 0, 0, 1, -1, -1, -1, Close::Enter, {1, 1, "", 0}},
        {"cancel", {1, 1, "dvvideo", 2}, true, true, 2, -2, 0, 0, 4, 0, Close::Cancel,
         {1, 1, "dvvideo", 2}},
        {"close box", {1, 1, "dvvideo", 2}, true, true, 2, -2, -1, -1, 0, -1, Close::CloseBox,
         {1, 1, "dvvideo", 2}},
        // A decoder that is not installed shows and stores the default codec.
        {"missing", {0, 0, "no-such-decoder", 3}, false, false, 3, 0, -1, -1, -1, -1, Close::Ok,
         {0, 0, "", 3}},
        {"default", {0, 0, "dvvideo", 3}, false, false, 3, -2, -1, -1, -1, 0, Close::Ok,
         {0, 0, "", 3}},
        // A sensitivity outside the list selects nothing and is stored as -1.
        {"outside", {0, 0, "", 7}, false, false, -1, 0, -1, -1, -1, -1, Close::Ok, {0, 0, "", -1}},
        {"picked", {0, 0, "", -3}, false, false, -1, 0, -1, -1, 2, -1, Close::Ok, {0, 0, "", 2}},
    };
    auto codec = [dv](int index) { return index == -2 ? dv : index; };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Settings settings = row.in;
        OptionsDialog dialog(settings, nullptr);
        EXPECT_EQ(Check(dialog, 1010)->isChecked(), row.shownDelete);
        EXPECT_EQ(Check(dialog, 1012)->isChecked(), row.shownSkip);
        EXPECT_EQ(Combo(dialog, 1048)->currentIndex(), row.shownSensitivity);
        EXPECT_EQ(Combo(dialog, 1045)->currentIndex(), codec(row.shownCodec));
        if (row.setDelete >= 0) {
            Check(dialog, 1010)->setChecked(row.setDelete != 0);
        }
        if (row.setSkip >= 0) {
            Check(dialog, 1012)->setChecked(row.setSkip != 0);
        }
        if (row.setSensitivity >= 0) {
            Combo(dialog, 1048)->setCurrentIndex(row.setSensitivity);
        }
        if (row.setCodec != -1) {
            Combo(dialog, 1045)->setCurrentIndex(codec(row.setCodec));
        }
        // Nothing is written while the dialog is open.
        EXPECT_EQ(settings.deleteSourceFiles, row.in.deleteSourceFiles);
        EXPECT_EQ(settings.optSensitivity, row.in.optSensitivity);
        switch (row.close) {
            case Close::Ok:
                Button(dialog, 1)->click();
                break;
            case Close::Enter:
                EXPECT_TRUE(Button(dialog, 1)->isDefault());
                EXPECT_FALSE(Button(dialog, 2)->isDefault());
                dialog.show();
                QTest::keyClick(&dialog, Qt::Key_Return);
                break;
            case Close::Cancel:
                Button(dialog, 2)->click();
                break;
            case Close::CloseBox:
                dialog.show();
                dialog.close();
                break;
        }
        const bool accepted = row.close == Close::Ok || row.close == Close::Enter;
        EXPECT_EQ(dialog.result(), accepted ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(settings.deleteSourceFiles, row.out.deleteSourceFiles);
        EXPECT_EQ(settings.skipNoDatestamp, row.out.skipNoDatestamp);
        EXPECT_EQ(settings.optSensitivity, row.out.optSensitivity);
        EXPECT_EQ(settings.codec, row.out.codec);
    }
}

}  // namespace
