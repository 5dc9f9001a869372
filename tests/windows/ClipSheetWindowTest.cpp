// The clip sheet window driven through its commands and the mouse, over real
// DV pictures.

#include "clipsheet/ClipSheetWindow.h"

#include <QAction>
#include <QPrinter>
#include <QScrollBar>
#include <QTest>

#include <memory>
#include <tuple>

#include "app/SceneList.h"
#include "clipsheet/ClipSheetOptionsDialog.h"
#include "platform/SettingsStore.h"
#include "progress/PictureCache.h"
#include "support/Pdf.h"
#include "windows/WindowTests.h"

namespace {

using qv::ClipSheetWindow;
using qv::SheetRect;
using qvtest::Near;
using qvtest::Rgb;

constexpr Rgb kRed{210, 40, 40};
constexpr Rgb kBlue{40, 50, 210};
const QColor kCross(255, 0, 0);

class ClipSheetWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qv::framesPerSecond = 25.0f;
        const auto& red = qvtest::DvFrame(kRed);
        ASSERT_EQ(red.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        // Even frames red, odd ones blue.
        std::vector<qvtest::FixtureFrame> frames;
        for (int i = 0; i < 60; ++i) {
            frames.push_back({i % 2 == 0 ? red : qvtest::DvFrame(kBlue), {}});
        }
        ASSERT_TRUE(qvtest::WriteFixtureAvi(source_, qvtest::FixtureOptions{}, frames));
    }

    // count scenes (at most 60) alternating red and blue: scene i is frames
    // i - 1 ... i + 1 and its one picture shows frame i, the middle one.
    ClipSheetWindow& Open(int count, int picsPerScene = 1) {
        for (int i = 0; i < count; ++i) {
            qv::Scene s;
            s.sourceFile = source_;
            s.outputName = dir_.Path("out'" + std::to_string(i) + ".avi");
            s.firstFrame = i - 1;
            s.frameCount = 3;
            s.write = 1;
            scenes_.Append(s);
        }
        qv::ClipSheetSettings settings;
        settings.picsPerScene = picsPerScene;
        qv::SaveClipSheetSettings(settings, store_);
        window_ = std::make_unique<ClipSheetWindow>(scenes_, &store_, cache_, "", nullptr);
        window_->Timer().stop();                      // the test ticks by hand
        window_->Layout().clock = [] { return 0u; };  // and a tick never runs out of time
        window_->resize(640, 420);
        window_->show();
        QApplication::processEvents();
        return *window_;
    }

    QColor At(int x, int y) { return window_->Surface().toImage().pixelColor(x, y); }
    QColor MiddleOf(size_t k) {
        const SheetRect& r = window_->Layout().cells[k].rect;
        return At((r.left + r.right) / 2, (r.top + r.bottom) / 2 - 8);
    }
    QColor CrossOf(size_t k) {
        const SheetRect& r = window_->Layout().cells[k].rect;
        return At(r.left + 5, r.top + 5);
    }
    void Click(size_t k, size_t to) {
        const SheetRect& a = window_->Layout().cells[k].rect;
        const SheetRect& b = window_->Layout().cells[to].rect;
        window_->ButtonDown(a.left + 3, a.top + 3);
        window_->ButtonUp(b.left + 3, b.top + 3);
    }
    std::string Writes() const {
        std::string w;
        for (const qv::Scene& s : scenes_) {
            w += static_cast<char>('0' + s.write);
        }
        return w;
    }
    int Renders() { return window_->Layout().RenderCount(); }
    void Print(const std::string& path) {  // as a user choosing the PDF printer does
        window_->askPrinter = [path](QPrinter& printer) {
            EXPECT_EQ(printer.docName(), "Quorvandel Clipsheet");
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(path));
            return true;
        };
        window_->Command(ClipSheetWindow::kPrintCommand)->trigger();
    }

    qvtest::TempDir dir_;
    const std::string source_ = dir_.Path("tape.avi");
    qv::SettingsStore store_{dir_.Path("settings.reg")};
    qv::SceneList scenes_;
    qv::PictureCache cache_{0};
    std::unique_ptr<ClipSheetWindow> window_;
};

TEST_F(ClipSheetWindowTest, TheTimerDrawsTheMissingPicturesDecodesAheadAndKeepsThemCached) {
    ClipSheetWindow& w = Open(12);
    auto& cells = w.Layout().cells;
    ASSERT_EQ(cells.size(), 12u);
    EXPECT_EQ(std::pair(cells[1].frame, cells[0].pending), std::pair(1, 1));  // the middle frame
    w.Tick();
    EXPECT_TRUE(Near(MiddleOf(0), kRed));
    EXPECT_TRUE(Near(MiddleOf(1), kBlue));
    EXPECT_EQ(Renders(), 12);  // the visible ones, then all the others
    // Drawn again from the cache, nothing decoded.
    w.Redraw();
    EXPECT_EQ(cells[2].available, 1);
    EXPECT_TRUE(Near(MiddleOf(2), kRed));
    EXPECT_EQ(Renders(), 12);
    // A full cache: nothing more is decoded ahead.
    cache_.SetBudget(0);
    for (qv::ClipCell& c : cells) {
        c.available = 0;
    }
    w.Tick();
    EXPECT_EQ(Renders(), 12);
}

TEST_F(ClipSheetWindowTest, ATickStopsOnceItHasRunAHundredMilliseconds) {
    ClipSheetWindow& w = Open(12);
    // Each decoded picture takes 60 ms: a tick draws two, then stops.
    w.Layout().clock = [this] { return static_cast<uint32_t>(Renders() * 60); };
    w.Tick();
    EXPECT_EQ(Renders(), 2);
    w.Tick();
    EXPECT_EQ(Renders(), 4);
    // A tick count that runs backwards (as after a change of the clock) still
    // ends the slice 100 ms away from its start.
    w.Layout().clock = [this] { return 5000u - static_cast<uint32_t>(Renders() * 60); };
    w.Tick();
    EXPECT_EQ(Renders(), 6);
    // Once everything visible is drawn, the rest is decoded ahead, as long as
    // the cache has room.
    for (int i = 0; i < 10; ++i) {
        w.Tick();
    }
    EXPECT_EQ(Renders(), 12);
    for (const qv::ClipCell& c : w.Layout().cells) {
        EXPECT_EQ(c.available, 1);
    }
}

TEST_F(ClipSheetWindowTest, ClicksAndDragsToggleWriteFlagsAndTheTimerRedraws) {
    ClipSheetWindow& w = Open(8);
    w.Tick();
    EXPECT_NE(CrossOf(1), kCross);
    Click(1, 1);
    EXPECT_EQ(Writes(), "10111111");
    EXPECT_EQ(w.Layout().cells[1].pending, 1);
    w.Tick();
    EXPECT_EQ(CrossOf(1), kCross);
    Click(1, 1);  // again: no cross
    w.Tick();
    EXPECT_EQ(Writes(), "11111111");
    EXPECT_NE(CrossOf(1), kCross);

    // A drag sets the whole range to the opposite of where it started.
    scenes_[4].write = 0;
    Click(2, 6);
    EXPECT_EQ(Writes(), "11000001");
    Click(6, 3);  // backwards, from a NO scene
    EXPECT_EQ(Writes(), "11011111");

    // Released between pictures, or pressed outside them: nothing changes.
    const SheetRect r = w.Layout().cells[0].rect;
    w.ButtonDown(r.left + 3, r.top + 3);
    w.ButtonUp(r.right + 2, r.top + 3);
    w.ButtonDown(r.right + 2, r.top + 3);
    w.ButtonUp(r.left + 3, r.top + 3);
    EXPECT_EQ(Writes(), "11011111");
}

TEST_F(ClipSheetWindowTest, ScrollsByWheelBarAndKeysWithinTheSheet) {
    ClipSheetWindow& w = Open(60);
    auto& layout = w.Layout();
    QScrollBar& bar = *w.ScrollBar();
    const int client = w.Sheet()->height();
    const int end = w.SheetHeight() - client;
    ASSERT_GT(end, 0);
    EXPECT_EQ(std::tuple(w.SheetHeight(), bar.isEnabled(), bar.maximum()),
              std::tuple(layout.totalHeight, true, end));

    w.Wheel(-120);  // one notch down: one picture height
    EXPECT_EQ(std::tuple(layout.scrollOffset, layout.scrolled, bar.value()),
              std::tuple(layout.pictureHeight, 1, layout.pictureHeight));
    w.Wheel(240);
    EXPECT_EQ(layout.scrollOffset, 0);  // never above the top
    QTest::keyClick(&w, Qt::Key_Down);
    const int row = layout.rowGap + layout.textLines * layout.lineHeight + layout.pictureHeight;
    EXPECT_EQ(layout.scrollOffset, row);
    QTest::keyClick(&w, Qt::Key_PageDown);
    EXPECT_EQ(layout.scrollOffset, row + client);
    QTest::keyClick(&w, Qt::Key_End);
    EXPECT_EQ(layout.scrollOffset, end);
    w.Wheel(-1200);
    EXPECT_EQ(layout.scrollOffset, end);  // never below the end
    bar.triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(layout.scrollOffset, 0);
    bar.triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(layout.scrollOffset, client);

    // Cells follow the scroll; after a tick the visible ones are drawn.
    w.Tick();
    size_t k = 0;
    while (k < layout.cells.size() && layout.cells[k].rect.top < 0) {
        ++k;
    }
    ASSERT_GT(k, 0u);
    ASSERT_LT(k, layout.cells.size());
    EXPECT_EQ(layout.cells[k].available, 1);
    EXPECT_TRUE(Near(MiddleOf(k), layout.cells[k].frame % 2 == 0 ? kRed : kBlue));

    // After a scroll only the pictures in the client area are drawn. A cache
    // that is always full: no decoding ahead, so every picture decoded is one
    // the draw phase asked for.
    cache_.SetBudget(0);
    cache_.Clear();
    w.ScrollPages(1);
    const SheetRect area = layout.clientRect;
    int visible = 0;
    for (const qv::ClipCell& c : layout.cells) {
        const SheetRect& r = c.rect;
        visible += area.Contains(r.left, r.top) || area.Contains(r.right - 1, r.bottom - 1);
    }
    const int before = Renders();
    w.Tick();
    EXPECT_EQ(Renders() - before, visible);
    w.Tick();  // drawn once: the next tick has nothing left to draw
    EXPECT_EQ(Renders() - before, visible);

    // A sheet grown shorter is shown from its end: at twelve pictures per line
    // the whole sheet fits the window.
    w.ScrollToBottom();
    ASSERT_GT(layout.scrollOffset, 0);
    layout.settings.picsPerLine = 12;
    w.Redraw();
    EXPECT_LE(w.SheetHeight(), w.Sheet()->height());
    // Laid out again from the top, with nothing to scroll.
    EXPECT_EQ(
        std::tuple(layout.scrollOffset, layout.cells[0].rect.top, bar.maximum(), bar.isEnabled()),
        std::tuple(0, 10, 0, false));
}

TEST_F(ClipSheetWindowTest, HasItsCaptionAndCommandsAndItsOptionsApplyAtOnceAndAreStored) {
    ClipSheetWindow& w = Open(4);
    EXPECT_EQ(std::tuple(w.windowTitle(), w.objectName(), w.Timer().interval()),
              std::tuple("Quorvandel Clip Sheet", "dialog135", 100));
    EXPECT_EQ((std::vector{w.Command(ClipSheetWindow::kPrintCommand)->text(),
                           w.Command(ClipSheetWindow::kCloseCommand)->text(),
                           w.Command(ClipSheetWindow::kOptionsCommand)->text()}),
              (std::vector<QString>{"&Print...", "Close Cliplist", "&Options"}));
    // The cache's budget: half the available memory, at most 1 GiB, in 64 bits.
    EXPECT_EQ(ClipSheetWindow::CacheBudget(uint64_t{6} << 30), 1 << 30);
    EXPECT_EQ(ClipSheetWindow::CacheBudget(uint64_t{100} << 20), 50 << 20);
    EXPECT_EQ(ClipSheetWindow::CacheBudget(0), 0);
    EXPECT_GT(cache_.Budget(), 0);
    w.runDialog = [](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "dialog144");
        static_cast<qv::ClipSheetOptionsDialog&>(dialog).Control<QLineEdit>(1037)->setText("2");
        dialog.accept();
        return dialog.result();
    };
    w.Command(ClipSheetWindow::kOptionsCommand)->trigger();
    EXPECT_EQ(w.Layout().cells.size(), 8u);
    EXPECT_EQ(qv::LoadClipSheetSettings(store_).picsPerScene, 2);
}

TEST_F(ClipSheetWindowTest, PlacementIsSavedOnCloseAndTakenAtTheNextOpening) {
    ClipSheetWindow& w = Open(2);
    w.setGeometry(50, 60, 500, 300);
    QApplication::processEvents();
    const QRect frame = w.frameGeometry();
    w.Command(ClipSheetWindow::kCloseCommand)->trigger();
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(
        std::pair(store_.ReadText(qv::kMainKey, "cliplist.left"),
                  store_.ReadText(qv::kMainKey, "cliplist.bottom")),
        std::pair(std::to_string(frame.left()), std::to_string(frame.top() + frame.height())));

    ClipSheetWindow again(scenes_, &store_, cache_, "", nullptr);
    again.show();
    QApplication::processEvents();
    EXPECT_EQ(again.frameGeometry(), frame);

    // An empty rectangle leaves the template's place.
    store_.WriteText(qv::kMainKey, "cliplist.right", "0");
    ClipSheetWindow fresh(scenes_, &store_, cache_, "", nullptr);
    EXPECT_EQ(fresh.size(), QSize(fresh.Units().X(450), fresh.Units().Y(281)));
}

TEST_F(ClipSheetWindowTest, PrintsTheScenesToWriteInWholeRowsPerPageOrOnlyTheHeadline) {
    ClipSheetWindow& w = Open(30, 3);
    for (int i = 0; i < 30; i += 6) {
        scenes_[i].write = 0;  // 25 scenes to write, 75 pictures
    }
    const std::string pdf = dir_.Path("sheet.pdf");
    Print(pdf);
    const qvtest::PdfFacts facts = qvtest::ReadPdf(pdf);
    ASSERT_GE(facts.pages, 0) << "pdfinfo (poppler-utils) is needed";
    EXPECT_EQ(std::tuple(facts.pages, facts.title),
              std::tuple(w.PagesPrinted(), "Quorvandel Clipsheet"));
    EXPECT_GE(facts.pages, 2);
    ASSERT_EQ(facts.images.size(), 75u);
    // Whole rows of 6 on every page but the last; each picture one field of the
    // frame less the crop margin.
    std::vector<int> perPage(static_cast<size_t>(facts.pages) + 1);
    for (const qvtest::PdfImage& image : facts.images) {
        ASSERT_GE(image.page, 1);
        ASSERT_LE(image.page, facts.pages);
        ++perPage[static_cast<size_t>(image.page)];
        EXPECT_EQ(std::pair(image.width, image.height), std::pair(700, 278));
    }
    for (size_t page = 1; page < perPage.size() - 1; ++page) {
        EXPECT_EQ(perPage[page] % 6, 0) << page;
        EXPECT_GT(perPage[page], 0) << page;
    }

    // Nothing to write prints no page, or only the headline.
    for (qv::Scene& s : scenes_) {
        s.write = 0;
    }
    Print(dir_.Path("none.pdf"));
    EXPECT_EQ(w.PagesPrinted(), 0);
    w.Layout().settings.headline = "Tape 7";
    const std::string headline = dir_.Path("headline.pdf");
    Print(headline);
    EXPECT_EQ(w.PagesPrinted(), 1);
    const qvtest::PdfFacts only = qvtest::ReadPdf(headline);
    EXPECT_EQ(std::pair(only.pages, only.images.size()), std::pair(1, size_t{0}));
    EXPECT_NE(
        qvtest::CommandOutput("pdftotext " + qvtest::ShellQuote(headline) + " -").find("Tape 7"),
        std::string::npos);
}

}  // namespace
