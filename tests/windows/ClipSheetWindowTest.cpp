// The clip sheet window driven through its commands and the mouse, over real
// DV pictures.

#include "clipsheet/ClipSheetWindow.h"

#include <QAction>
#include <QPrinter>

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
using qvtest::Near;
using qvtest::Rgb;

constexpr Rgb kRed{210, 40, 40};
constexpr Rgb kBlue{40, 50, 210};

class ClipSheetWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qv::framesPerSecond = 25.0f;
        const auto red = qvtest::EncodeDvColour(true, kRed);
        const auto blue = qvtest::EncodeDvColour(true, kBlue);
        ASSERT_EQ(red.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        // Even frames red, odd ones blue.
        std::vector<qvtest::FixtureFrame> frames;
        for (int i = 0; i < 60; ++i) {
            frames.push_back({i % 2 == 0 ? red : blue, {}});
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

    // The colour in the middle of picture k, or at its top left corner.
    QColor At(size_t k, bool corner = false) {
        const qv::SheetRect& r = window_->Layout().cells[k].rect;
        return window_->Surface().toImage().pixelColor(
            corner ? r.left + 5 : (r.left + r.right) / 2,
            corner ? r.top + 5 : (r.top + r.bottom) / 2 - 8);
    }
    bool Crossed(size_t k) { return At(k, true) == QColor(255, 0, 0); }
    // Pressed on picture k, released on picture to.
    void Click(size_t k, size_t to) {
        const qv::SheetRect& a = window_->Layout().cells[k].rect;
        const qv::SheetRect& b = window_->Layout().cells[to].rect;
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

    qvtest::TempDir dir_;
    const std::string source_ = dir_.Path("tape.avi");
    qv::SettingsStore store_{dir_.Path("settings.reg")};
    qv::SceneList scenes_;
    qv::PictureCache cache_{0};
    std::unique_ptr<ClipSheetWindow> window_;
};

TEST_F(ClipSheetWindowTest, DrawsThePicturesClicksToggleTheWriteFlagsOptionsApplyAndPlaceIsKept) {
    ClipSheetWindow& w = Open(8);
    EXPECT_EQ(std::pair(w.windowTitle(), w.objectName()),
              std::pair(QString("Quorvandel Clip Sheet"), QString("dialog135")));
    EXPECT_EQ(std::tuple(w.Command(ClipSheetWindow::kPrintCommand)->text(),
                         w.Command(ClipSheetWindow::kCloseCommand)->text(),
                         w.Command(ClipSheetWindow::kOptionsCommand)->text()),
              std::tuple("&Print...", "Close Cliplist", "&Options"));
    w.Tick();
    EXPECT_TRUE(Near(At(0), kRed));
    EXPECT_TRUE(Near(At(1), kBlue));

    // A click crosses a picture out and back; a drag sets the whole range to
    // the opposite of where it started.
    EXPECT_FALSE(Crossed(1));
    Click(1, 1);
    w.Tick();
    EXPECT_EQ(std::pair(Writes(), Crossed(1)), std::pair(std::string("10111111"), true));
    Click(1, 1);
    w.Tick();
    EXPECT_FALSE(Crossed(1));
    scenes_[4].write = 0;
    Click(2, 6);
    EXPECT_EQ(Writes(), "11000001");

    // The options apply at once and are stored.
    w.runDialog = [](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "dialog144");
        static_cast<qv::ClipSheetOptionsDialog&>(dialog).Control<QLineEdit>(1037)->setText("2");
        dialog.accept();
        return dialog.result();
    };
    w.Command(ClipSheetWindow::kOptionsCommand)->trigger();
    EXPECT_EQ(w.Layout().cells.size(), 16u);
    EXPECT_EQ(qv::LoadClipSheetSettings(store_).picsPerScene, 2);

    // Closed, the window's place is kept and taken at the next opening.
    w.setGeometry(50, 60, 500, 300);
    QApplication::processEvents();
    const QRect frame = w.frameGeometry();
    w.Command(ClipSheetWindow::kCloseCommand)->trigger();
    EXPECT_EQ(w.result(), QDialog::Accepted);
    ClipSheetWindow again(scenes_, &store_, cache_, "", nullptr);
    again.show();
    QApplication::processEvents();
    EXPECT_EQ(again.frameGeometry(), frame);
}

TEST_F(ClipSheetWindowTest, PrintsThePicturesOfTheScenesToWrite) {
    ClipSheetWindow& w = Open(30, 3);
    for (int i = 0; i < 30; i += 6) {
        scenes_[i].write = 0;  // 25 scenes to write, 75 pictures
    }
    w.askPrinter = [this](QPrinter& printer) {
        EXPECT_EQ(printer.docName(), "Quorvandel Clipsheet");
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(dir_.Path("sheet.pdf")));
        return true;
    };
    w.Command(ClipSheetWindow::kPrintCommand)->trigger();
    const qvtest::PdfFacts facts = qvtest::ReadPdf(dir_.Path("sheet.pdf"));
    ASSERT_GE(facts.pages, 2) << "pdfinfo (poppler-utils) is needed";
    EXPECT_EQ(std::tuple(facts.pages, facts.title, facts.images.size()),
              std::tuple(w.PagesPrinted(), "Quorvandel Clipsheet", size_t{75}));
}

}  // namespace
