// Renders the main window with a scanned tape, a progress dialog, the clip sheet
// and the options dialog into PNG files, on the offscreen platform (no window frames). With
// QV_OFFSCREEN_SHOT_DIR set they are kept there; otherwise they go to a temporary
// folder. (docs/screenshots comes from the X server test, with window frames, but for
// the clip sheet, which is kept from here.)

#include <QTest>
#include <QTreeWidget>

#include <cstdlib>

#include "app/MainWindow.h"
#include "app/OptionsDialog.h"
#include "avi/AviReader.h"
#include "clipsheet/ClipSheetWindow.h"
#include "platform/SettingsStore.h"
#include "progress/PictureCache.h"
#include "progress/ProgressDialog.h"
#include "support/TimeZone.h"
#include "windows/WindowTests.h"

namespace {

// A tape of three recordings; each frame a picture with a colour of its recording.
std::string MakeTape(const qvtest::TempDir& dir) {
    qvtest::FixtureOptions options;
    const qvtest::Rgb colours[] = {{200, 60, 40}, {40, 150, 70}, {50, 80, 200}};
    const qvtest::DvTime starts[] = {
        {2004, 7, 14, 10, 20, 30}, {2004, 7, 14, 15, 2, 0}, {2004, 7, 15, 9, 45, 12}};
    std::vector<qvtest::FixtureFrame> frames;
    for (int r = 0; r < 3; ++r) {
        auto recording = qvtest::MakeFrames(options, 40 + 20 * r, starts[r]);
        const qvtest::Rgb c = colours[r];
        const qvtest::Rgb half{static_cast<uint8_t>(c.r / 2), static_cast<uint8_t>(c.g / 2),
                               static_cast<uint8_t>(c.b / 2)};
        for (size_t f = 0; f < recording.size(); ++f) {
            const int shift = static_cast<int>(f) * 8;
            recording[f].video = qvtest::EncodeDvPicture(true, [&](int x, int y) {
                return ((x + shift) / 90 + y / 96) % 2 == 0 ? c : half;
            });
            qvtest::DvTime t = starts[r];
            t.second += static_cast<int>(f) / 25;
            qvtest::SetDvTime(recording[f].video, t);
            frames.push_back(recording[f]);
        }
    }
    const std::string path = dir.Path("tape1.avi");
    EXPECT_TRUE(qvtest::WriteFixtureAvi(path, options, frames));
    return path;
}

void Save(const QPixmap& picture, const std::string& folder, const char* name) {
    ASSERT_FALSE(picture.isNull());
    const QString path = QString::fromStdString(folder + "/" + name);
    EXPECT_TRUE(picture.save(path, "PNG")) << name;
}

TEST(Screenshots, MainWindowProgressAndOptions) {
    qvtest::ScopedTimeZone utc("UTC");
    qvtest::TempDir dir;
    const char* keep = std::getenv("QV_OFFSCREEN_SHOT_DIR");
    const std::string folder = keep != nullptr ? keep : dir.Dir().string();
    ::setenv("QUORVANDEL_SETTINGS", dir.Path("settings.reg").c_str(), 1);
    const std::string tape = MakeTape(dir);

    qv::SettingsStore store(qv::SettingsStore::DefaultPath());
    qv::MainWindow window(&store);
    window.Messages().answerHook = [](const std::string&, qv::Buttons buttons, const std::string&) {
        return buttons == qv::Buttons::Ok ? qv::Answer::Ok : qv::Answer::No;
    };
    window.runDialog = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
    window.askOpenFiles = [&](const qv::MainWindow::FileRequest&) {
        return std::vector<std::string>{tape};
    };
    window.Initialize();
    window.show();
    window.Control<QPushButton>(1005)->click();  // Add Input-Files
    auto* output = window.Control<QLineEdit>(1003);
    ASSERT_NE(output, nullptr);
    output->setText("/home/user/Videos/holiday.avi");
    window.Model().SetOutputPath("/home/user/Videos/holiday.avi");
    window.Control<QPushButton>(3)->click();  // Scan Datestamps
    auto* list = window.Control<QTreeWidget>(1013);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->topLevelItemCount(), 3);
    list->setCurrentItem(list->topLevelItem(1));
    for (int i = 0; i < 30; ++i) {  // the strip's timer and its pictures
        QTest::qWait(20);
    }
    Save(window.grab(), folder, "main-window.png");

    {
        qv::ProgressDialog progress(&window, "Scanning...");
        auto reader = qv::OpenAviFile(tape);
        ASSERT_TRUE(reader);
        progress.show();
        progress.SetRange(0, 100);
        progress.SetText("scene #2; " + tape + " 00:01:15");
        progress.SetPosition(40, tape, reader->Stream(0), 50);
        QApplication::processEvents();
        Save(progress.grab(), folder, "progress-dialog.png");
        progress.SetPosition(-1, "", nullptr, 0);
    }

    {
        qv::ClipSheetSettings sheetSettings;
        sheetSettings.picsPerScene = 4;
        sheetSettings.headline = "Holiday 2004, tape 1";
        qv::SaveClipSheetSettings(sheetSettings, store);
        window.Model().scenes[1].write = 0;
        qv::PictureCache cache;
        qv::ClipSheetWindow sheet(window.Model().scenes, &store, cache, "", &window);
        sheet.Timer().stop();
        sheet.resize(720, 460);
        sheet.show();
        QApplication::processEvents();
        for (int i = 0; i < 20; ++i) {
            sheet.Tick();
        }
        QApplication::processEvents();
        Save(sheet.grab(), folder, "clip-sheet.png");
        window.Model().scenes[1].write = 1;
    }

    qv::Settings settings;
    qv::OptionsDialog options(settings, &window);
    options.show();
    QApplication::processEvents();
    Save(options.grab(), folder, "options-dialog.png");
    ::unsetenv("QUORVANDEL_SETTINGS");
}

}  // namespace
