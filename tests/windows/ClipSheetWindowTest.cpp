// The clip sheet window driven through its commands and the mouse, over real
// DV pictures.

#include "clipsheet/ClipSheetWindow.h"

#include <QAction>
#include <QPrinter>

#include "clipsheet/ClipSheetOptionsDialog.h"
#include "progress/PictureCache.h"
#include "support/Pdf.h"
#include "support/SceneSetup.h"
#include "windows/WindowTests.h"

namespace {

using qv::ClipSheetWindow;

constexpr qvtest::Rgb kRed{210, 40, 40};
constexpr qvtest::Rgb kBlue{40, 50, 210};

TEST(ClipSheetWindowTest, DrawsThePicturesClicksToggleTheirWriteFlagsAndItPrintsTheRest) {
    qv::framesPerSecond = 25.0f;
    const auto red = qvtest::EncodeDvColour(true, kRed);
    const auto blue = qvtest::EncodeDvColour(true, kBlue);
    ASSERT_EQ(red.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
    // Even frames red, odd ones blue; scene i is frames i - 1 ... i + 1 and its
    // one picture shows frame i, the middle one.
    qvtest::TempDir dir;
    std::vector<qvtest::FixtureFrame> frames;
    qv::SceneList scenes;
    for (int i = 0; i < 8; ++i) {
        frames.push_back({i % 2 == 0 ? red : blue, {}});
        scenes.Append(qvtest::SceneOf(dir.Path("tape.avi"), i - 1, 3));
        scenes[i].write = 1;
    }
    frames.push_back({red, {}});
    ASSERT_TRUE(qvtest::WriteFixtureAvi(dir.Path("tape.avi"), qvtest::FixtureOptions{}, frames));
    qv::SettingsStore store(dir.Path("settings.reg"));
    qv::ClipSheetSettings settings;
    settings.picsPerScene = 1;
    qv::SaveClipSheetSettings(settings, store);
    qv::PictureCache cache(0);
    ClipSheetWindow w(scenes, &store, cache, "", nullptr);
    w.Timer().stop();                      // the test ticks by hand
    w.Layout().clock = [] { return 0u; };  // and a tick never runs out of time
    w.resize(640, 420);
    w.show();
    QApplication::processEvents();
    EXPECT_EQ(std::pair(w.windowTitle(), w.objectName()),
              std::pair(QString("Quorvandel Clip Sheet"), QString("dialog135")));
    EXPECT_EQ(std::tuple(w.Command(ClipSheetWindow::kPrintCommand)->text(),
                         w.Command(ClipSheetWindow::kCloseCommand)->text(),
                         w.Command(ClipSheetWindow::kOptionsCommand)->text()),
              std::tuple("&Print...", "Close Cliplist", "&Options"));

    // The colour in the middle of picture k, or at its top left corner.
    auto at = [&w](size_t k, bool corner = false) {
        const qv::SheetRect& r = w.Layout().cells[k].rect;
        return w.Surface().toImage().pixelColor(corner ? r.left + 5 : (r.left + r.right) / 2,
                                                corner ? r.top + 5 : (r.top + r.bottom) / 2 - 8);
    };
    auto crossed = [&](size_t k) { return at(k, true) == QColor(255, 0, 0); };
    // Pressed on picture k, released on picture to.
    auto click = [&w](size_t k, size_t to) {
        const qv::SheetRect& a = w.Layout().cells[k].rect;
        const qv::SheetRect& b = w.Layout().cells[to].rect;
        w.ButtonDown(a.left + 3, a.top + 3);
        w.ButtonUp(b.left + 3, b.top + 3);
    };
    w.Tick();
    EXPECT_TRUE(qvtest::Near(at(0), kRed));
    EXPECT_TRUE(qvtest::Near(at(1), kBlue));

    // A click crosses a picture out and back; a drag sets the whole range to
    // the opposite of where it started.
    EXPECT_FALSE(crossed(1));
    click(1, 1);
    w.Tick();
    EXPECT_EQ(std::pair(scenes[1].write, crossed(1)), std::pair(0, true));
    click(1, 1);
    w.Tick();
    EXPECT_FALSE(crossed(1));
    scenes[4].write = 0;
    click(2, 6);
    EXPECT_EQ((std::vector{scenes[1].write, scenes[2].write, scenes[4].write, scenes[6].write,
                           scenes[7].write}),
              (std::vector{1, 0, 0, 0, 1}));

    // The options apply at once and are stored.
    w.runDialog = [](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "dialog144");
        static_cast<qv::ClipSheetOptionsDialog&>(dialog).Control<QLineEdit>(1037)->setText("2");
        dialog.accept();
        return dialog.result();
    };
    w.Command(ClipSheetWindow::kOptionsCommand)->trigger();
    EXPECT_EQ(w.Layout().cells.size(), 16u);
    EXPECT_EQ(qv::LoadClipSheetSettings(store).picsPerScene, 2);

    // Printed as a user choosing the PDF printer does: the pictures of the
    // three scenes to write.
    w.askPrinter = [&dir](QPrinter& printer) {
        EXPECT_EQ(printer.docName(), "Quorvandel Clipsheet");
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(dir.Path("sheet.pdf")));
        return true;
    };
    w.Command(ClipSheetWindow::kPrintCommand)->trigger();
    const qvtest::PdfFacts facts = qvtest::ReadPdf(dir.Path("sheet.pdf"));
    ASSERT_EQ(facts.pages, 1) << "pdfinfo (poppler-utils) is needed";
    EXPECT_EQ(std::tuple(w.PagesPrinted(), facts.title, facts.images.size()),
              std::tuple(1, "Quorvandel Clipsheet", size_t{6}));

    w.Command(ClipSheetWindow::kCloseCommand)->trigger();
    EXPECT_EQ(w.result(), QDialog::Accepted);
}

}  // namespace
