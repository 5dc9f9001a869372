// The clip sheet window driven through its commands and the mouse, over real
// DV pictures.

#include "clipsheet/ClipSheetWindow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPrinter>
#include <QScrollBar>
#include <QTest>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "clipsheet/ClipSheetOptionsDialog.h"
#include "platform/SettingsStore.h"
#include "progress/PictureCache.h"
#include "support/AviFixture.h"
#include "support/DvPictures.h"
#include "support/Pdf.h"

namespace {

using qv::ClipSheetWindow;
using qv::SheetRect;
using qvtest::Rgb;

constexpr Rgb kRed{210, 40, 40};
constexpr Rgb kBlue{40, 50, 210};

bool Near(QColor c, Rgb e) {
    return std::abs(c.red() - e.r) <= 40 && std::abs(c.green() - e.g) <= 40 &&
           std::abs(c.blue() - e.b) <= 40;
}

class ClipSheetWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        red_ = new std::vector<uint8_t>(qvtest::EncodeDvColour(true, kRed));
        blue_ = new std::vector<uint8_t>(qvtest::EncodeDvColour(true, kBlue));
    }
    static void TearDownTestSuite() {
        delete red_;
        delete blue_;
    }

    void SetUp() override {
        qv::framesPerSecond = 25.0f;
        ASSERT_EQ(red_->size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        // Even frames red, odd ones blue.
        std::vector<qvtest::FixtureFrame> frames;
        for (int i = 0; i < 60; ++i) {
            frames.push_back({i % 2 == 0 ? *red_ : *blue_, {}});
        }
        source_ = dir_.Path("tape.avi");
        ASSERT_TRUE(qvtest::WriteFixtureAvi(source_, qvtest::FixtureOptions{}, frames));
        store_ = std::make_unique<qv::SettingsStore>(dir_.Path("settings.reg"));
    }

    // count scenes (at most 60) alternating red and blue: scene i is frames
    // i - 1 ... i + 1 and its one picture shows frame i, the middle one.
    void MakeScenes(int count) {
        for (int i = 0; i < count; ++i) {
            qv::Scene s;
            s.sourceFile = source_;
            s.outputName = dir_.Path("out'" + std::to_string(i) + ".avi");
            s.firstFrame = i - 1;
            s.frameCount = 3;
            s.write = 1;
            scenes_.Append(s);
        }
    }

    ClipSheetWindow& Open(int scenes = 4, int picsPerScene = 1) {
        MakeScenes(scenes);
        qv::ClipSheetSettings settings;
        settings.picsPerScene = picsPerScene;
        qv::SaveClipSheetSettings(settings, *store_);
        window_ = std::make_unique<ClipSheetWindow>(scenes_, store_.get(), cache_, "", nullptr);
        window_->Timer().stop();  // the test ticks by hand
        window_->Layout().clock = [] { return 0u; };  // and a tick never runs out of time
        window_->resize(640, 420);
        window_->show();
        QApplication::processEvents();
        return *window_;
    }

    QColor At(const SheetRect& r) {
        return window_->Surface().toImage().pixelColor((r.left + r.right) / 2,
                                                       (r.top + r.bottom) / 2 - 8);
    }
    QColor CrossAt(const SheetRect& r) {
        return window_->Surface().toImage().pixelColor(r.left + 5, r.top + 5);
    }
    void Click(int k, int toCell = -1) {
        const SheetRect a = window_->Layout().cells[static_cast<size_t>(k)].rect;
        const SheetRect b =
            window_->Layout().cells[static_cast<size_t>(toCell < 0 ? k : toCell)].rect;
        window_->ButtonDown(a.left + 3, a.top + 3);
        window_->ButtonUp(b.left + 3, b.top + 3);
    }
    std::vector<int> Writes() const {
        std::vector<int> w;
        for (const qv::Scene& s : scenes_) {
            w.push_back(s.write);
        }
        return w;
    }

    static std::vector<uint8_t>* red_;
    static std::vector<uint8_t>* blue_;
    qvtest::TempDir dir_;
    std::string source_;
    std::unique_ptr<qv::SettingsStore> store_;
    qv::SceneList scenes_;
    qv::PictureCache cache_{0};
    std::unique_ptr<ClipSheetWindow> window_;
};

std::vector<uint8_t>* ClipSheetWindowTest::red_ = nullptr;
std::vector<uint8_t>* ClipSheetWindowTest::blue_ = nullptr;

TEST_F(ClipSheetWindowTest, HasItsCaptionMenuAndCommands) {
    ClipSheetWindow& w = Open();
    EXPECT_EQ(w.windowTitle(), "Quorvandel Clip Sheet");
    EXPECT_EQ(w.objectName(), "dialog135");
    EXPECT_EQ(w.Command(ClipSheetWindow::kPrintCommand)->text(), "&Print...");
    EXPECT_EQ(w.Command(ClipSheetWindow::kCloseCommand)->text(), "Close Cliplist");
    EXPECT_EQ(w.Command(ClipSheetWindow::kOptionsCommand)->text(), "&Options");
    EXPECT_EQ(w.Timer().interval(), 100);
    // The cache's budget: half the available memory, at most 1 GiB, in 64 bits.
    EXPECT_EQ(ClipSheetWindow::CacheBudget(uint64_t{6} << 30), 1 << 30);
    EXPECT_EQ(ClipSheetWindow::CacheBudget(uint64_t{100} << 20), 50 << 20);
    EXPECT_EQ(ClipSheetWindow::CacheBudget(0), 0);
    EXPECT_GT(cache_.Budget(), 0);
}

TEST_F(ClipSheetWindowTest, TimerDrawsTheMissingPicturesAndKeepsThemCached) {
    ClipSheetWindow& w = Open(4);
    auto& cells = w.Layout().cells;
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[1].frame, 1);  // one picture: the middle frame
    EXPECT_EQ(cells[0].pending, 1);
    w.Tick();
    EXPECT_TRUE(Near(At(cells[0].rect), kRed)) << At(cells[0].rect).name().toStdString();
    EXPECT_TRUE(Near(At(cells[1].rect), kBlue));
    EXPECT_EQ(w.Layout().RenderCount(), 4);
    // Drawn again from the cache, nothing decoded.
    w.Redraw();
    EXPECT_EQ(cells[2].available, 1);
    EXPECT_TRUE(Near(At(cells[2].rect), kRed));
    EXPECT_EQ(w.Layout().RenderCount(), 4);
}

TEST_F(ClipSheetWindowTest, ATickStopsOnceItHasRunAHundredMilliseconds) {
    ClipSheetWindow& w = Open(12);
    // Each decoded picture takes 60 ms: a tick draws two, then stops.
    w.Layout().clock = [&w] { return static_cast<uint32_t>(w.Layout().RenderCount() * 60); };
    w.Tick();
    EXPECT_EQ(w.Layout().RenderCount(), 2);
    w.Tick();
    EXPECT_EQ(w.Layout().RenderCount(), 4);
    // Once everything visible is drawn, the rest is decoded ahead, as long as
    // the cache has room.
    for (int i = 0; i < 10; ++i) {
        w.Tick();
    }
    EXPECT_EQ(w.Layout().RenderCount(), 12);
    for (const qv::ClipCell& c : w.Layout().cells) {
        EXPECT_EQ(c.available, 1);
    }
}

TEST_F(ClipSheetWindowTest, AfterAScrollOnlyThePicturesInTheClientAreaAreDrawn) {
    ClipSheetWindow& w = Open(60);
    // A cache that is always full: no decoding ahead, so every picture decoded
    // is one the draw phase asked for.
    w.Tick();
    cache_.SetBudget(0);
    cache_.Clear();
    w.ScrollPages(1);
    const qv::SheetRect client = w.Layout().clientRect;
    int visible = 0;
    for (const qv::ClipCell& c : w.Layout().cells) {
        const qv::SheetRect& r = c.rect;
        visible += client.Contains(r.left, r.top) || client.Contains(r.right - 1, r.bottom - 1);
    }
    const int before = w.Layout().RenderCount();
    w.Tick();
    EXPECT_EQ(w.Layout().RenderCount() - before, visible);
    // Drawn once: the next tick has nothing left to draw.
    w.Tick();
    EXPECT_EQ(w.Layout().RenderCount() - before, visible);
}

TEST_F(ClipSheetWindowTest, ASliceIsMeasuredAsTheDistanceBetweenTicks) {
    ClipSheetWindow& w = Open(12);
    // A tick count that runs backwards (as after a change of the clock) still
    // ends the slice 100 ms away from its start.
    w.Layout().clock = [&w] { return 5000u - static_cast<uint32_t>(w.Layout().RenderCount() * 60); };
    w.Tick();
    EXPECT_EQ(w.Layout().RenderCount(), 2);
}

TEST_F(ClipSheetWindowTest, ASheetGrownShorterIsShownFromItsEnd) {
    ClipSheetWindow& w = Open(60);
    w.ScrollToBottom();
    ASSERT_GT(w.Layout().scrollOffset, 0);
    // Twelve pictures per line: the whole sheet fits the window.
    w.Layout().settings.picsPerLine = 12;
    w.Redraw();
    EXPECT_LE(w.SheetHeight(), w.Sheet()->height());
    EXPECT_EQ(w.Layout().scrollOffset, 0);
    EXPECT_EQ(w.Layout().cells[0].rect.top, 10);  // laid out again from there
    EXPECT_EQ(w.ScrollBar()->maximum(), 0);
    EXPECT_FALSE(w.ScrollBar()->isEnabled());
}

TEST_F(ClipSheetWindowTest, PrefetchStopsWhileTheCacheIsFull) {
    ClipSheetWindow& w = Open(12);
    w.Tick();
    EXPECT_EQ(w.Layout().RenderCount(), 12);  // the visible ones, then all the others
    // A full cache: nothing more is decoded ahead.
    cache_.SetBudget(0);
    for (qv::ClipCell& c : w.Layout().cells) {
        c.available = 0;
    }
    w.Tick();
    EXPECT_EQ(w.Layout().RenderCount(), 12);
}

TEST_F(ClipSheetWindowTest, ClicksAndDragsToggleWriteFlagsAndTheTimerRedraws) {
    ClipSheetWindow& w = Open(8);
    w.Tick();
    auto& cells = w.Layout().cells;
    EXPECT_NE(CrossAt(cells[1].rect), QColor(255, 0, 0));
    Click(1);
    EXPECT_EQ(Writes(), (std::vector<int>{1, 0, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(cells[1].pending, 1);
    w.Tick();
    EXPECT_EQ(CrossAt(cells[1].rect), QColor(255, 0, 0));
    Click(1);  // again: no cross
    w.Tick();
    EXPECT_EQ(scenes_[1].write, 1);
    EXPECT_NE(CrossAt(cells[1].rect), QColor(255, 0, 0));

    // A drag sets the whole range to the opposite of where it started.
    scenes_[4].write = 0;
    Click(2, 6);
    EXPECT_EQ(Writes(), (std::vector<int>{1, 1, 0, 0, 0, 0, 0, 1}));
    Click(6, 3);  // backwards, from a NO scene
    EXPECT_EQ(Writes(), (std::vector<int>{1, 1, 0, 1, 1, 1, 1, 1}));

    // Released between pictures, or pressed outside them: nothing changes.
    const SheetRect r = cells[0].rect;
    w.ButtonDown(r.left + 3, r.top + 3);
    w.ButtonUp(r.right + 2, r.top + 3);
    w.ButtonDown(r.right + 2, r.top + 3);
    w.ButtonUp(r.left + 3, r.top + 3);
    EXPECT_EQ(Writes(), (std::vector<int>{1, 1, 0, 1, 1, 1, 1, 1}));
}

TEST_F(ClipSheetWindowTest, ScrollsByWheelBarAndKeysWithinTheSheet) {
    ClipSheetWindow& w = Open(60);
    auto& layout = w.Layout();
    const int client = w.Sheet()->height();
    ASSERT_GT(w.SheetHeight(), client);
    EXPECT_EQ(w.SheetHeight(), layout.totalHeight);
    EXPECT_TRUE(w.ScrollBar()->isEnabled());
    EXPECT_EQ(w.ScrollBar()->maximum(), w.SheetHeight() - client);

    w.Wheel(-120);  // one notch down: one picture height
    EXPECT_EQ(layout.scrollOffset, layout.pictureHeight);
    EXPECT_EQ(layout.scrolled, 1);
    EXPECT_EQ(w.ScrollBar()->value(), layout.pictureHeight);
    w.Wheel(240);
    EXPECT_EQ(layout.scrollOffset, 0);  // never above the top

    QTest::keyClick(&w, Qt::Key_Down);
    const int row = layout.rowGap + layout.textLines * layout.lineHeight + layout.pictureHeight;
    EXPECT_EQ(layout.scrollOffset, row);
    QTest::keyClick(&w, Qt::Key_PageDown);
    EXPECT_EQ(layout.scrollOffset, row + client);
    QTest::keyClick(&w, Qt::Key_End);
    EXPECT_EQ(layout.scrollOffset, w.SheetHeight() - client);
    w.Wheel(-1200);
    EXPECT_EQ(layout.scrollOffset, w.SheetHeight() - client);  // never below the end
    w.ScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(layout.scrollOffset, 0);
    w.ScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(layout.scrollOffset, client);

    // Cells follow the scroll; after a tick the visible ones are drawn.
    w.Tick();
    int k = -1;
    for (size_t i = 0; i < layout.cells.size() && k < 0; ++i) {
        if (layout.cells[i].rect.top >= 0) {
            k = static_cast<int>(i);
        }
    }
    ASSERT_GT(k, 0);
    EXPECT_EQ(layout.cells[static_cast<size_t>(k)].available, 1);
    EXPECT_TRUE(Near(At(layout.cells[static_cast<size_t>(k)].rect),
                     layout.cells[static_cast<size_t>(k)].frame % 2 == 0 ? kRed : kBlue));
}

TEST_F(ClipSheetWindowTest, OptionsApplyAtOnceAndAreStored) {
    ClipSheetWindow& w = Open(4, 1);
    w.runDialog = [](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "dialog144");
        auto& options = static_cast<qv::ClipSheetOptionsDialog&>(dialog);
        options.Control<QLineEdit>(1037)->setText("2");
        options.accept();
        return dialog.result();
    };
    w.Command(ClipSheetWindow::kOptionsCommand)->trigger();
    EXPECT_EQ(w.Layout().cells.size(), 8u);
    EXPECT_EQ(qv::LoadClipSheetSettings(*store_).picsPerScene, 2);
}

TEST_F(ClipSheetWindowTest, PlacementIsSavedOnCloseAndTakenAtTheNextOpening) {
    ClipSheetWindow& w = Open(2);
    w.setGeometry(50, 60, 500, 300);
    QApplication::processEvents();
    const QRect frame = w.frameGeometry();
    w.Command(ClipSheetWindow::kCloseCommand)->trigger();
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(store_->ReadText(qv::kMainKey, "cliplist.left"), std::to_string(frame.left()));
    EXPECT_EQ(store_->ReadText(qv::kMainKey, "cliplist.bottom"),
              std::to_string(frame.top() + frame.height()));

    ClipSheetWindow again(scenes_, store_.get(), cache_, "", nullptr);
    again.show();
    QApplication::processEvents();
    EXPECT_EQ(again.frameGeometry(), frame);

    // An empty rectangle leaves the template's place.
    store_->WriteText(qv::kMainKey, "cliplist.right", "0");
    ClipSheetWindow fresh(scenes_, store_.get(), cache_, "", nullptr);
    EXPECT_EQ(fresh.size(), QSize(fresh.Units().X(450), fresh.Units().Y(281)));
}

// Prints to a PDF file as a user choosing the PDF printer does.
void PrintToPdf(ClipSheetWindow& w, const std::string& path) {
    w.askPrinter = [path](QPrinter& printer) {
        EXPECT_EQ(printer.docName(), "Quorvandel Clipsheet");
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(path));
        return true;
    };
    w.Command(ClipSheetWindow::kPrintCommand)->trigger();
}

TEST_F(ClipSheetWindowTest, PrintsTheScenesToWriteInWholeRowsPerPage) {
    ClipSheetWindow& w = Open(30, 3);
    for (int i = 0; i < 30; i += 6) {
        scenes_[i].write = 0;  // 25 scenes to write, 75 pictures
    }
    const std::string pdf = dir_.Path("sheet.pdf");
    PrintToPdf(w, pdf);
    const qvtest::PdfFacts facts = qvtest::ReadPdf(pdf);
    ASSERT_GE(facts.pages, 0) << "pdfinfo (poppler-utils) is needed";
    EXPECT_EQ(facts.pages, w.PagesPrinted());
    EXPECT_GE(facts.pages, 2);
    EXPECT_EQ(facts.title, "Quorvandel Clipsheet");
    ASSERT_EQ(facts.images.size(), 75u);
    // Whole rows of 6 on every page but the last; each picture one field of the
    // frame less the crop margin.
    std::vector<int> perPage(static_cast<size_t>(facts.pages) + 1);
    for (const qvtest::PdfImage& image : facts.images) {
        ASSERT_GE(image.page, 1);
        ASSERT_LE(image.page, facts.pages);
        ++perPage[static_cast<size_t>(image.page)];
        EXPECT_EQ(image.width, 700);
        EXPECT_EQ(image.height, 278);
    }
    for (int page = 1; page < facts.pages; ++page) {
        EXPECT_EQ(perPage[static_cast<size_t>(page)] % 6, 0) << page;
        EXPECT_GT(perPage[static_cast<size_t>(page)], 0) << page;
    }
}

TEST_F(ClipSheetWindowTest, NothingToWritePrintsNoPageOrOnlyTheHeadline) {
    ClipSheetWindow& w = Open(3);
    for (qv::Scene& s : scenes_) {
        s.write = 0;
    }
    const std::string none = dir_.Path("none.pdf");
    PrintToPdf(w, none);
    EXPECT_EQ(w.PagesPrinted(), 0);
    w.Layout().settings.headline = "Tape 7";
    const std::string headline = dir_.Path("headline.pdf");
    PrintToPdf(w, headline);
    EXPECT_EQ(w.PagesPrinted(), 1);
    const qvtest::PdfFacts facts = qvtest::ReadPdf(headline);
    EXPECT_EQ(facts.pages, 1);
    EXPECT_TRUE(facts.images.empty());
    EXPECT_NE(qvtest::CommandOutput("pdftotext " + qvtest::ShellQuote(headline) + " -").find("Tape 7"),
              std::string::npos);
}

}  // namespace
