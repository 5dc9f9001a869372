// The clip sheet window driven through its commands and the mouse, over real
// DV pictures.

#include "clipsheet/ClipSheetWindow.h"

#include <QAction>
#include <QPrinter>
#include <QScrollBar>
#include <QTest>

#include <map>
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

    QColor At(size_t k, int dx, int dy) {  // dx, dy from the top left, or -1: the middle
        const SheetRect& r = window_->Layout().cells[k].rect;
        return window_->Surface().toImage().pixelColor(
            dx < 0 ? (r.left + r.right) / 2 : r.left + dx,
            dy < 0 ? (r.top + r.bottom) / 2 - 8 : r.top + dy);
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

TEST_F(ClipSheetWindowTest, ATickDrawsForAHundredMillisecondsThenDecodesAheadIntoTheCache) {
    ClipSheetWindow& w = Open(12);
    auto& cells = w.Layout().cells;
    EXPECT_EQ(std::pair(cells[1].frame, cells[0].pending), std::pair(1, 1));  // the middle frame
    // Each decoded picture takes 60 ms: a tick draws two, then stops, also on a
    // tick count that runs backwards (as after a change of the clock).
    w.Layout().clock = [this] { return static_cast<uint32_t>(Renders() * 60); };
    w.Tick();
    EXPECT_EQ(Renders(), 2);
    w.Layout().clock = [this] { return 5000u - static_cast<uint32_t>(Renders() * 60); };
    w.Tick();
    EXPECT_EQ(Renders(), 4);
    for (int i = 0; i < 10; ++i) {
        w.Tick();
    }
    EXPECT_EQ(Renders(), 12);
    EXPECT_TRUE(Near(At(0, -1, -1), kRed));
    EXPECT_TRUE(Near(At(1, -1, -1), kBlue));
    w.Redraw();  // drawn again from the cache, nothing decoded
    EXPECT_EQ(cells[2].available, 1);
    EXPECT_TRUE(Near(At(2, -1, -1), kRed));
    EXPECT_EQ(Renders(), 12);
}

TEST_F(ClipSheetWindowTest, ClicksAndDragsToggleWriteFlagsAndTheTimerRedraws) {
    ClipSheetWindow& w = Open(8);
    w.Tick();
    EXPECT_NE(At(1, 5, 5), kCross);
    Click(1, 1);
    w.Tick();
    EXPECT_EQ(std::pair(Writes(), At(1, 5, 5) == kCross), std::pair(std::string("10111111"), true));
    Click(1, 1);  // again: no cross
    w.Tick();
    EXPECT_EQ(std::pair(Writes(), At(1, 5, 5) == kCross),
              std::pair(std::string("11111111"), false));
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

TEST_F(ClipSheetWindowTest, ScrollsByWheelBarAndKeysWithinTheSheetAndDrawsOnlyWhatIsShown) {
    ClipSheetWindow& w = Open(60);
    auto& layout = w.Layout();
    QScrollBar& bar = *w.ScrollBar();
    const int client = w.Sheet()->height();
    const int end = w.SheetHeight() - client;
    ASSERT_GT(end, 0);
    EXPECT_EQ(std::tuple(w.SheetHeight(), bar.isEnabled(), bar.maximum()),
              std::tuple(layout.totalHeight, true, end));
    w.Wheel(-120);  // one notch down: one picture height
    EXPECT_EQ(std::pair(layout.scrollOffset, bar.value()),
              std::pair(layout.pictureHeight, layout.pictureHeight));
    w.Wheel(240);
    EXPECT_EQ(layout.scrollOffset, 0);  // never above the top
    QTest::keyClick(&w, Qt::Key_Down);
    const int row = layout.rowGap + layout.textLines * layout.lineHeight + layout.pictureHeight;
    EXPECT_EQ(layout.scrollOffset, row);
    QTest::keyClick(&w, Qt::Key_PageDown);
    EXPECT_EQ(layout.scrollOffset, row + client);
    QTest::keyClick(&w, Qt::Key_End);
    w.Wheel(-1200);
    EXPECT_EQ(layout.scrollOffset, end);  // never below the end
    bar.triggerAction(QAbstractSlider::SliderToMinimum);
    bar.triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(layout.scrollOffset, client);

    // A cache that is always full: no decoding ahead, so a tick decodes just
    // the pictures in the client area, once.
    cache_.SetBudget(0);
    cache_.Clear();
    w.ScrollPages(1);
    int visible = 0;
    for (const qv::ClipCell& c : layout.cells) {
        const SheetRect& r = c.rect;
        visible += layout.clientRect.Contains(r.left, r.top) ||
                   layout.clientRect.Contains(r.right - 1, r.bottom - 1);
    }
    w.Tick();
    w.Tick();
    EXPECT_EQ(Renders(), visible);

    // A sheet grown shorter than the window is laid out again from the top.
    layout.settings.picsPerLine = 12;
    w.Redraw();
    EXPECT_LE(w.SheetHeight(), w.Sheet()->height());
    EXPECT_EQ(
        std::tuple(layout.scrollOffset, layout.cells[0].rect.top, bar.maximum(), bar.isEnabled()),
        std::tuple(0, 10, 0, false));
}

TEST_F(ClipSheetWindowTest, HasItsCaptionAndCommandsAndItsOptionsApplyAtOnceAndAreStored) {
    ClipSheetWindow& w = Open(4);
    EXPECT_EQ(std::tuple(w.windowTitle(), w.objectName(), w.Timer().interval()),
              std::tuple("Quorvandel Clip Sheet", "dialog135", 100));
    EXPECT_EQ(std::tuple(w.Command(ClipSheetWindow::kPrintCommand)->text(),
                         w.Command(ClipSheetWindow::kCloseCommand)->text(),
                         w.Command(ClipSheetWindow::kOptionsCommand)->text()),
              std::tuple("&Print...", "Close Cliplist", "&Options"));
    // The cache's budget: half the available memory, at most 1 GiB, in 64 bits.
    EXPECT_EQ(ClipSheetWindow::CacheBudget(uint64_t{6} << 30), 1 << 30);
    EXPECT_EQ(ClipSheetWindow::CacheBudget(uint64_t{100} << 20), 50 << 20);
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
}

TEST_F(ClipSheetWindowTest, PrintsTheScenesToWriteInWholeRowsPerPageOrOnlyTheHeadline) {
    ClipSheetWindow& w = Open(30, 3);
    for (int i = 0; i < 30; i += 6) {
        scenes_[i].write = 0;  // 25 scenes to write, 75 pictures
    }
    const std::string pdf = dir_.Path("sheet.pdf");
    Print(pdf);
    const qvtest::PdfFacts facts = qvtest::ReadPdf(pdf);
    ASSERT_GE(facts.pages, 2) << "pdfinfo (poppler-utils) is needed";
    EXPECT_EQ(std::tuple(facts.pages, facts.title),
              std::tuple(w.PagesPrinted(), "Quorvandel Clipsheet"));
    ASSERT_EQ(facts.images.size(), 75u);
    // Whole rows of 6 on every page but the last; each picture one field of the
    // frame less the crop margin.
    std::map<int, int> perPage;
    for (const qvtest::PdfImage& image : facts.images) {
        ++perPage[image.page];
        EXPECT_EQ(std::pair(image.width, image.height), std::pair(700, 278));
    }
    EXPECT_EQ(perPage.rbegin()->first, facts.pages);
    for (int page = 1; page < facts.pages; ++page) {
        EXPECT_TRUE(perPage[page] > 0 && perPage[page] % 6 == 0) << page << ": " << perPage[page];
    }
    // Nothing to write prints no page, or only the headline.
    for (int i = 0; i < 30; ++i) {
        scenes_[i].write = 0;
    }
    Print(dir_.Path("none.pdf"));
    EXPECT_EQ(w.PagesPrinted(), 0);
    w.Layout().settings.headline = "Tape 7";
    const std::string headline = dir_.Path("headline.pdf");
    Print(headline);
    const qvtest::PdfFacts only = qvtest::ReadPdf(headline);
    EXPECT_EQ(std::tuple(w.PagesPrinted(), only.pages, only.images.size()),
              std::tuple(1, 1, size_t{0}));
    EXPECT_NE(
        qvtest::CommandOutput("pdftotext " + qvtest::ShellQuote(headline) + " -").find("Tape 7"),
        std::string::npos);
}

}  // namespace
