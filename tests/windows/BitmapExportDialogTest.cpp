// The bitmap export dialog through its control IDs, with the save dialog and the
// message boxes answered by the test, over real DV pictures in a fixture file.

#include "clipsheet/BitmapExportDialog.h"

#include <QFileDialog>

#include "progress/ProgressDialog.h"
#include "support/SceneSetup.h"
#include "windows/WindowTests.h"

namespace {

TEST(BitmapExportDialogTest, ShowsItsTextsSavesTheChosenScenesAndKeepsItsSettings) {
    const auto frame = qvtest::EncodeDvColour(true, {0x30, 0x60, 0xC0});
    ASSERT_EQ(frame.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
    qvtest::TempDir dir;
    const std::string tape = dir.Path("tape.avi");
    ASSERT_TRUE(qvtest::WriteVideoAvi(tape, qvtest::Type1Options(), {frame, frame, frame, frame}));
    qv::framesPerSecond = 25.0f;
    qv::SceneList scenes;
    for (auto [first, suffix] : {std::tuple{0, "20040714 10.20.30"}, std::tuple{2, "#0001"}}) {
        scenes.Append(qvtest::SceneOf(tape, first, 2, suffix));
    }
    qv::SettingsStore store(dir.Path("q.reg"));
    std::optional<std::string> chosen = dir.Path("pics'20000412 18.03.09.bmp");
    std::vector<std::pair<std::string, std::string>> asks;
    std::vector<std::string> messages;
    // A dialog over the scenes, rows selected, its save dialog answered with chosen.
    auto make = [&](std::vector<int> selected) {
        auto d =
            std::make_unique<qv::BitmapExportDialog>(scenes, std::move(selected), &store, nullptr);
        d->inputFiles = {tape};
        d->askFileName = [&](const std::string& folder, const std::string& name) {
            asks.push_back({folder, name});
            return chosen;
        };
        qvtest::KeepMessages(d->Messages(), messages);
        d->show();
        return d;
    };
    auto d = make({1});
    auto edit = [&d](int id) { return d->Control<QLineEdit>(id); };
    auto press = [&d](int id) { d->Control<QPushButton>(id)->click(); };
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
    EXPECT_EQ(std::tuple(d->Control<QCheckBox>(1027)->isChecked(),
                         d->Control<QCheckBox>(1028)->isChecked(), edit(1029)->text(),
                         edit(1029)->isEnabled(), edit(1032)->text(),
                         d->Control<QComboBox>(1030)->currentIndex()),
              std::tuple(true, false, QString("6"), false, QString("0"), 0));

    // Save Bitmaps saves the selected scene under the chosen name and stays open.
    edit(1032)->setText("3");
    edit(1033)->setText("3 lines");  // read as atoi reads it
    d->Control<QComboBox>(1030)->setCurrentIndex(2);
    press(1);
    ASSERT_EQ(std::pair(asks.size(), messages.size()), std::pair(size_t{1}, size_t{0}));
    EXPECT_EQ(asks[0], std::pair(std::string("."), std::string("clip.bmp")));
    const std::string saved = dir.Path("pics'#0001.bmp");
    EXPECT_EQ(d->LastResult().saved, std::vector<std::string>{saved});
    EXPECT_EQ(qvtest::ReadFileBytes(saved).size(), 54u + 712u * 3u * 570u);
    EXPECT_EQ(std::tuple(d->isVisible(), scenes[0].mark, scenes[1].mark), std::tuple(true, 0, 1));
    press(2);
    EXPECT_FALSE(d->isVisible());
    // The last name is kept; the save dialog offers bitmaps.
    EXPECT_EQ(qv::LoadBitmapExportSettings(store).lastOutput, dir.Path("pics.bmp"));
    auto save = qv::BitmapExportDialog::MakeSaveDialog(nullptr, dir.Dir().string(), "clip.bmp");
    EXPECT_EQ(std::tuple(save->windowTitle(), save->nameFilters(), save->defaultSuffix()),
              std::tuple(QString("Save Bitmaps"),
                         QStringList{"BMP Files (*.bmp)", "All Files (*.*)"}, QString("bmp")));

    // The next dialog shows what was used; with no row selected nothing matches.
    d = make({});
    EXPECT_EQ(std::tuple(edit(1032)->text(), edit(1033)->text(),
                         d->Control<QComboBox>(1030)->currentIndex()),
              std::tuple(QString("3"), QString("3"), 2));
    press(1);
    EXPECT_EQ(messages, std::vector<std::string>{"No scenes match the criterias!"});

    // Cancel pressed in the progress before the first scene saves nothing.
    d->Control<QCheckBox>(1027)->setChecked(false);
    QString progress;
    d->progressShown = [&](qv::SimpleProgressDialog& shown) {
        progress = shown.windowTitle() + " " + shown.Control<QLabel>(1004)->text();
        shown.Control<QPushButton>(2)->click();
    };
    press(1);
    EXPECT_EQ(std::tuple(progress, d->LastResult().cancelled, d->LastResult().saved.size()),
              std::tuple(QString("Saving Bitmaps  0 %"), true, size_t{0}));
    EXPECT_EQ(asks.size(), 2u);
}

}  // namespace
