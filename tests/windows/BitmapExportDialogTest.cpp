// The bitmap export dialog through its control IDs, with the save dialog and the
// message boxes answered by the test, over real DV pictures in a fixture file;
// and the main window's "ExportBmp" button that opens it.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/MainWindow.h"
#include "app/SceneList.h"
#include "clipsheet/BitmapExportDialog.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"
#include "progress/ProgressDialog.h"
#include "support/AviFixture.h"
#include "support/DvPictures.h"

namespace {

using qv::BitmapExportDialog;
using qv::SceneList;

class BitmapExportDialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        frame_ = new std::vector<uint8_t>(qvtest::EncodeDvColour(true, {0x30, 0x60, 0xC0}));
    }
    static void TearDownTestSuite() { delete frame_; }

    void SetUp() override {
        ASSERT_EQ(frame_->size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        qvtest::FixtureOptions type1;
        type1.type = qvtest::DvType::Type1;
        ASSERT_TRUE(qvtest::WriteFixtureAvi(tape_, type1,
                                            std::vector<qvtest::FixtureFrame>(4, {*frame_, {}})));
        qv::framesPerSecond = 25.0f;
        for (auto [first, count, suffix] :
             {std::tuple{0, 2, "20040714 10.20.30"}, std::tuple{2, 2, "#0001"}}) {
            qv::Scene s;
            s.sourceFile = tape_;
            s.firstFrame = first;
            s.frameCount = count;
            s.nameSuffix = suffix;
            scenes_.Append(s);
        }
    }

    std::unique_ptr<BitmapExportDialog> Make(std::vector<int> selected = {}) {
        auto d =
            std::make_unique<BitmapExportDialog>(scenes_, std::move(selected), &store_, nullptr);
        d->inputFiles = {tape_};
        d->askFileName = [this](const std::string& folder, const std::string& name) {
            asks_.push_back({folder, name});
            return chosen_;
        };
        d->Messages().answerHook = [this](const std::string& text, qv::Buttons,
                                          const std::string&) {
            messages_.push_back(text);
            return qv::Answer::Ok;
        };
        d->show();
        return d;
    }
    QLineEdit* Edit(BitmapExportDialog& d, int id) { return d.Control<QLineEdit>(id); }

    static std::vector<uint8_t>* frame_;
    qvtest::TempDir dir_;
    const std::string tape_ = dir_.Path("tape.avi");
    qv::SettingsStore store_{dir_.Path("q.reg")};
    SceneList scenes_;
    std::optional<std::string> chosen_;
    std::vector<std::pair<std::string, std::string>> asks_;
    std::vector<std::string> messages_;
};
std::vector<uint8_t>* BitmapExportDialogTest::frame_ = nullptr;

TEST_F(BitmapExportDialogTest, HasEveryControlWithItsIdTextsAndSpinRanges) {
    auto d = Make();
    EXPECT_EQ(d->windowTitle(), "save one frame of each scene as a bitmap");
    EXPECT_EQ(d->objectName(), "dialog141");
    EXPECT_EQ(d->size(), QSize(d->Units().X(186), d->Units().Y(151)));
    EXPECT_EQ(d->Control<QCheckBox>(1027)->text(), "selected scenes only");
    EXPECT_EQ(d->Control<QCheckBox>(1028)->text(), "scenes with length in seconds:");
    for (int id : {1029, 1032, 1033}) {
        EXPECT_NE(Edit(*d, id), nullptr) << id;
    }
    auto* combo = d->Control<QComboBox>(1030);
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), "none - use both fields");
    EXPECT_EQ(combo->itemText(1), "use even field only");
    EXPECT_EQ(combo->itemText(2), "use odd field only");
    struct Spin {
        int id, min, max;
    };
    for (const Spin& s : {Spin{1031, 0, 30}, Spin{1034, 0, 30}, Spin{1035, 0, 10000}}) {
        auto* spin = d->Control<QSpinBox>(s.id);
        ASSERT_NE(spin, nullptr) << s.id;
        EXPECT_EQ(spin->minimum(), s.min) << s.id;
        EXPECT_EQ(spin->maximum(), s.max) << s.id;
    }
    std::vector<QString> groups;
    for (const QGroupBox* group : d->findChildren<QGroupBox*>()) {
        groups.push_back(group->title());
    }
    EXPECT_EQ(groups, (std::vector<QString>{"scenes", "image"}));
    std::vector<QString> labels;
    for (const QLabel* label : d->findChildren<QLabel*>()) {
        labels.push_back(label->text());
    }
    EXPECT_EQ(labels, (std::vector<QString>{"deinterlacing:", "crop pixels on left/right:",
                                            "crop pixels on top/bottom:"}));
    EXPECT_TRUE(d->Control<QPushButton>(1)->isDefault());
    EXPECT_EQ(d->Control<QPushButton>(1)->text(), "Save Bitmaps");
    EXPECT_EQ(d->Control<QPushButton>(2)->text(), "Cancel");

    // The defaults: selected scenes only, 6 seconds (its edit off), no crop, both fields.
    EXPECT_TRUE(d->Control<QCheckBox>(1027)->isChecked());
    EXPECT_FALSE(d->Control<QCheckBox>(1028)->isChecked());
    EXPECT_EQ(Edit(*d, 1029)->text(), "6");
    EXPECT_FALSE(Edit(*d, 1029)->isEnabled());
    EXPECT_EQ(Edit(*d, 1032)->text(), "0");
    EXPECT_EQ(combo->currentIndex(), 0);
}

TEST_F(BitmapExportDialogTest, ShowsTheStoredSettingsAndTheLengthEditFollowsItsCheckBox) {
    ASSERT_TRUE(store_.WriteText(qv::kMainKey, "bmpSecs", "1"));
    ASSERT_TRUE(store_.WriteText(qv::kMainKey, "bmpSecsNum", "12"));
    ASSERT_TRUE(store_.WriteText(qv::kMainKey, "bmpCropVPixels", "4"));
    ASSERT_TRUE(store_.WriteText(qv::kMainKey, "bmpDeinterlace", "7"));
    auto d = Make();
    EXPECT_TRUE(d->Control<QCheckBox>(1028)->isChecked());
    EXPECT_TRUE(Edit(*d, 1029)->isEnabled());
    EXPECT_EQ(Edit(*d, 1029)->text(), "12");
    EXPECT_EQ(Edit(*d, 1033)->text(), "4");
    // Outside the three entries: no selection.
    EXPECT_EQ(d->Control<QComboBox>(1030)->currentIndex(), -1);

    d->Control<QCheckBox>(1028)->click();
    EXPECT_FALSE(Edit(*d, 1029)->isEnabled());
    d->Control<QCheckBox>(1028)->click();
    EXPECT_TRUE(Edit(*d, 1029)->isEnabled());

    // The spin steps from the edit's value and writes it back there.
    Edit(*d, 1032)->setText("7");
    d->Control<QSpinBox>(1031)->stepBy(1);
    EXPECT_EQ(Edit(*d, 1032)->text(), "8");
}

TEST_F(BitmapExportDialogTest, SaveBitmapsSavesTheChosenScenesAndStaysOpen) {
    chosen_ = dir_.Path("pics'20000412 18.03.09.bmp");
    auto d = Make({1});
    d->Control<QCheckBox>(1027)->setChecked(true);
    Edit(*d, 1032)->setText("3");  // typed, read as atoi reads it
    Edit(*d, 1033)->setText("3 lines");
    d->Control<QComboBox>(1030)->setCurrentIndex(2);
    d->Control<QPushButton>(1)->click();

    ASSERT_EQ(asks_.size(), 1u);
    EXPECT_EQ(asks_[0], (std::pair<std::string, std::string>{".", "clip.bmp"}));
    EXPECT_TRUE(messages_.empty());
    const std::string saved = dir_.Path("pics'#0001.bmp");
    EXPECT_EQ(d->LastResult().saved, std::vector<std::string>{saved});
    EXPECT_EQ(qvtest::ReadFileBytes(saved).size(), 54u + 712u * 3u * 570u);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(scenes_[0].mark, 0);
    EXPECT_EQ(scenes_[1].mark, 1);

    const qv::BitmapExportSettings stored = qv::LoadBitmapExportSettings(store_);
    EXPECT_EQ(stored.lastOutput, dir_.Path("pics.bmp"));
    EXPECT_EQ(stored.cropH, 3);
    EXPECT_EQ(stored.cropV, 3);
    EXPECT_EQ(stored.deinterlace, 2);
    EXPECT_EQ(stored.selectedOnly, 1);

    d->Control<QPushButton>(2)->click();
    EXPECT_FALSE(d->isVisible());
}

TEST_F(BitmapExportDialogTest, NoMatchingSceneOrCancelSavesNothing) {
    chosen_ = dir_.Path("pics.bmp");
    auto d = Make();  // no row selected, and "selected scenes only" on
    d->Control<QPushButton>(1)->click();
    EXPECT_EQ(messages_, std::vector<std::string>{"No scenes match the criterias!"});
    EXPECT_TRUE(asks_.empty());

    // Cancel pressed in the progress before the first scene.
    d->Control<QCheckBox>(1027)->setChecked(false);
    std::string progressTitle;
    d->progressShown = [&](qv::SimpleProgressDialog& progress) {
        progressTitle = progress.windowTitle().toStdString();
        progress.Control<QPushButton>(2)->click();
    };
    d->Control<QPushButton>(1)->click();
    EXPECT_EQ(progressTitle, "Saving Bitmaps");
    EXPECT_TRUE(d->LastResult().cancelled);
    EXPECT_TRUE(d->LastResult().saved.empty());
    EXPECT_FALSE(qv::FileExists(dir_.Path("pics'#0001.bmp")));
    EXPECT_TRUE(d->isEnabled());  // the progress gave the dialog back
}

TEST(BitmapExportSaveDialogTest, OffersBitmapsInTheFolderOfTheLastExport) {
    qvtest::TempDir dir;
    auto dialog = BitmapExportDialog::MakeSaveDialog(nullptr, dir.Dir().string(), "clip.bmp");
    EXPECT_EQ(dialog->windowTitle(), "Save Bitmaps");
    EXPECT_EQ(dialog->nameFilters(), (QStringList{"BMP Files (*.bmp)", "All Files (*.*)"}));
    EXPECT_EQ(dialog->defaultSuffix(), "bmp");
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->directory().absolutePath().toStdString(), dir.Dir().string());
}

TEST(BitmapExportMainWindowTest, ExportBmpOpensTheExportDialogWithTheSelection) {
    qvtest::TempDir dir;
    qv::SettingsStore store(dir.Path("settings.reg"));
    qv::MainWindow window(&store);
    std::vector<std::string> run;
    std::vector<qv::MainWindow::FileRequest> requests;
    window.runDialog = [&](QDialog& dialog) {
        run.push_back(dialog.objectName().toStdString());
        // Inside: Save Bitmaps asks through the window's save dialog.
        dialog.findChild<QCheckBox*>("id1027")->setChecked(false);
        dialog.findChild<QPushButton*>("id1")->click();
        return static_cast<int>(QDialog::Rejected);
    };
    window.askSaveFile = [&](const qv::MainWindow::FileRequest& r) {
        requests.push_back(r);
        return std::optional<std::string>();
    };
    std::vector<std::string> told;
    window.Messages().answerHook = [&](const std::string& text, qv::Buttons, const std::string&) {
        told.push_back(text);
        return qv::Answer::Ok;
    };
    qv::Scene s;
    s.sourceFile = dir.Path("tape.avi");
    s.frameCount = 10;
    window.Model().scenes.Append(s);
    window.Control<QPushButton>(1020)->click();
    EXPECT_EQ(run, std::vector<std::string>{"dialog141"});
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].title, "Save Bitmaps");
    EXPECT_EQ(requests[0].fileName, "clip.bmp");
    EXPECT_EQ(requests[0].defaultSuffix, "bmp");
    EXPECT_EQ(requests[0].filters, (QStringList{"BMP Files (*.bmp)", "All Files (*.*)"}));
    EXPECT_TRUE(told.empty());
}

}  // namespace
