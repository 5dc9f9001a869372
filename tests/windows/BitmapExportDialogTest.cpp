// The bitmap export dialog through its control IDs, with the save dialog and the
// message boxes answered by the test, over real DV pictures in a fixture file.

#include "clipsheet/BitmapExportDialog.h"

#include <QFileDialog>

#include <memory>
#include <optional>
#include <tuple>

#include "app/SceneList.h"
#include "platform/SettingsStore.h"
#include "progress/ProgressDialog.h"
#include "windows/WindowTests.h"

namespace {

using qv::BitmapExportDialog;

class BitmapExportDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto& frame = qvtest::EncodeDvColour(true, {0x30, 0x60, 0xC0});
        ASSERT_EQ(frame.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        qvtest::FixtureOptions type1;
        type1.type = qvtest::DvType::Type1;
        ASSERT_TRUE(qvtest::WriteFixtureAvi(tape_, type1,
                                            std::vector<qvtest::FixtureFrame>(4, {frame, {}})));
        qv::framesPerSecond = 25.0f;
        for (auto [first, suffix] : {std::tuple{0, "20040714 10.20.30"}, std::tuple{2, "#0001"}}) {
            qv::Scene s;
            s.sourceFile = tape_;
            s.firstFrame = first;
            s.frameCount = 2;
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
        qvtest::KeepMessages(d->Messages(), messages_);
        d->show();
        return d;
    }
    static QLineEdit* Edit(BitmapExportDialog& d, int id) { return d.Control<QLineEdit>(id); }
    static QCheckBox* Check(BitmapExportDialog& d, int id) { return d.Control<QCheckBox>(id); }
    static void Press(BitmapExportDialog& d, int id) { d.Control<QPushButton>(id)->click(); }

    qvtest::TempDir dir_;
    const std::string tape_ = dir_.Path("tape.avi");
    qv::SettingsStore store_{dir_.Path("q.reg")};
    qv::SceneList scenes_;
    std::optional<std::string> chosen_;
    std::vector<std::pair<std::string, std::string>> asks_;
    std::vector<std::string> messages_;
};

TEST_F(BitmapExportDialogTest, ShowsItsTextsSavesTheChosenScenesAndKeepsItsSettings) {
    auto d = Make({1});
    EXPECT_EQ(std::pair(d->windowTitle(), d->objectName()),
              std::pair(QString("save one frame of each scene as a bitmap"), QString("dialog141")));
    EXPECT_EQ(qvtest::Texts(*d, {1027, 1028, 1, 2}),
              (std::vector<QString>{"selected scenes only",
                                    "scenes with length in seconds:", "Save Bitmaps", "Cancel"}));
    EXPECT_EQ(qvtest::Items(*d->Control<QComboBox>(1030)),
              (QStringList{"none - use both fields", "use even field only", "use odd field only"}));
    EXPECT_TRUE(qvtest::HasLabels(
        *d, {"deinterlacing:", "crop pixels on left/right:", "crop pixels on top/bottom:"}));
    // Selected scenes only, 6 seconds (its edit off), no crop, both fields.
    EXPECT_EQ(std::tuple(Check(*d, 1027)->isChecked(), Check(*d, 1028)->isChecked(),
                         Edit(*d, 1029)->text(), Edit(*d, 1029)->isEnabled(),
                         Edit(*d, 1032)->text(), d->Control<QComboBox>(1030)->currentIndex()),
              std::tuple(true, false, QString("6"), false, QString("0"), 0));

    // Save Bitmaps saves the selected scene under the chosen name and stays open.
    chosen_ = dir_.Path("pics'20000412 18.03.09.bmp");
    Edit(*d, 1032)->setText("3");
    Edit(*d, 1033)->setText("3 lines");  // read as atoi reads it
    d->Control<QComboBox>(1030)->setCurrentIndex(2);
    Press(*d, 1);
    ASSERT_EQ(std::pair(asks_.size(), messages_.size()), std::pair(size_t{1}, size_t{0}));
    EXPECT_EQ(asks_[0], std::pair(std::string("."), std::string("clip.bmp")));
    const std::string saved = dir_.Path("pics'#0001.bmp");
    EXPECT_EQ(d->LastResult().saved, std::vector<std::string>{saved});
    EXPECT_EQ(qvtest::ReadFileBytes(saved).size(), 54u + 712u * 3u * 570u);
    EXPECT_EQ(std::tuple(d->isVisible(), scenes_[0].mark, scenes_[1].mark), std::tuple(true, 0, 1));
    EXPECT_EQ(qv::LoadBitmapExportSettings(store_).lastOutput, dir_.Path("pics.bmp"));
    Press(*d, 2);
    EXPECT_FALSE(d->isVisible());

    // The next dialog shows what was used; with no row selected nothing matches.
    d = Make();
    EXPECT_EQ(std::tuple(Edit(*d, 1032)->text(), Edit(*d, 1033)->text(),
                         d->Control<QComboBox>(1030)->currentIndex()),
              std::tuple(QString("3"), QString("3"), 2));
    Press(*d, 1);
    EXPECT_EQ(messages_, std::vector<std::string>{"No scenes match the criterias!"});

    // Cancel pressed in the progress before the first scene saves nothing.
    Check(*d, 1027)->setChecked(false);
    QString progress;
    d->progressShown = [&](qv::SimpleProgressDialog& shown) {
        progress = shown.windowTitle() + " " + shown.Control<QLabel>(1004)->text();
        shown.Control<QPushButton>(2)->click();
    };
    Press(*d, 1);
    EXPECT_EQ(std::tuple(progress, d->LastResult().cancelled, d->LastResult().saved.size()),
              std::tuple(QString("Saving Bitmaps  0 %"), true, size_t{0}));
    EXPECT_EQ(asks_.size(), 2u);
}

TEST(BitmapExportSaveDialogTest, OffersBitmapsInTheFolderOfTheLastExport) {
    qvtest::TempDir dir;
    auto dialog = BitmapExportDialog::MakeSaveDialog(nullptr, dir.Dir().string(), "clip.bmp");
    EXPECT_EQ(
        std::tuple(dialog->windowTitle(), dialog->nameFilters(), dialog->defaultSuffix(),
                   dialog->acceptMode()),
        std::tuple(QString("Save Bitmaps"), QStringList{"BMP Files (*.bmp)", "All Files (*.*)"},
                   QString("bmp"), QFileDialog::AcceptSave));
    EXPECT_EQ(dialog->directory().absolutePath().toStdString(), dir.Dir().string());
}

}  // namespace
