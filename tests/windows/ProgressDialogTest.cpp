// The progress dialogs through their control IDs: layouts and texts, the
// percentage and time-left arithmetic on a clock the test moves, the cancel
// flag, the owner window disabled while they are open, minimizing, and the
// preview of a real DV frame.

#include "progress/ProgressDialog.h"

#include <QMessageBox>
#include <QProgressBar>
#include <QTest>

#include <algorithm>
#include <memory>
#include <tuple>

#include "avi/AviReader.h"
#include "windows/WindowTests.h"

namespace {

using qv::ProgressDialog;
using qv::SimpleProgressDialog;
using qvtest::Rgb;

QString Percent(const qv::TemplateDialog& d) {
    return d.Control<QLabel>(1004)->text();
}

// A main window stand-in with a title, shown like the real one.
std::unique_ptr<QWidget> MakeOwner() {
    auto owner = std::make_unique<QWidget>();
    owner->setWindowTitle("Quorvandel+");
    owner->resize(400, 300);
    owner->show();
    return owner;
}

class ProgressDialogTest : public ::testing::Test {
  protected:
    std::unique_ptr<ProgressDialog> Make(QWidget* owner, const std::string& title = {}) {
        return std::make_unique<ProgressDialog>(owner, title, [this] { return now_; });
    }
    // Moves the bar and returns the percentage text.
    QString MoveTo(ProgressDialog& d, int position) {
        d.SetPosition(position, "", nullptr, 0);
        return Percent(d);
    }
    uint32_t now_ = 5000;
};

TEST_F(ProgressDialogTest, ShowsItsTextsAndPositionsAndTheTimeLeftOnItsClock) {
    auto d = Make(nullptr);
    EXPECT_EQ(std::tuple(d->windowTitle(), Percent(*d), d->Control<QPushButton>(2)->text()),
              std::tuple(QString("working..."), QString(" 0 %"), QString("Cancel")));
    EXPECT_TRUE(d->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(qvtest::HasLabels(*d, {"Quorvandel - the Scene Analyzer for DV Video"}));
    EXPECT_EQ(Make(nullptr, "Scanning...")->windowTitle(), "Scanning...");
    d->SetText("reading tape1.avi\nsecond line");
    EXPECT_EQ(d->Control<QLabel>(1005)->text(), "reading tape1.avi\nsecond line");

    // SetPosition answers the position before; a negative one only pumps.
    auto* bar = d->Control<QProgressBar>(1003);
    d->SetRange(0, 200);
    EXPECT_EQ(std::pair(d->SetPosition(30, "", nullptr, 0), bar->maximum()), std::pair(0, 200));
    EXPECT_EQ(d->SetPosition(80, "", nullptr, 0), 30);
    const QString text = Percent(*d);
    EXPECT_EQ(d->SetPosition(-1, "", nullptr, 0), 0);
    EXPECT_EQ(std::pair(bar->value(), Percent(*d)), std::pair(80, text));

    // Half the range in 120 s: 120 s left.
    d->SetRange(0, 100);
    now_ += 120000;
    EXPECT_EQ(MoveTo(*d, 50), "50% (estimated time left: 2 minutes)");
    now_ = 0xFFFFFFFFu - 500;  // the 32-bit tick wraps during the run
    d = Make(nullptr);
    now_ += 99000;
    EXPECT_EQ(MoveTo(*d, 99), "99% (estimated time left: 1 minute)");
}

TEST(ProgressPercentText, FollowsTheIntegerArithmetic) {
    const struct {
        int position, low, high;
        uint32_t elapsedMs;
        std::string text;
    } rows[] = {
        {0, 0, 100, 1000, "0%"},
        {1, 0, 3, 0, "33%"},
        {150, 0, 100, 0, "50%"},  // beyond the range the count starts again;
        {200, 0, 100, 0, "0%"},   // only exactly 100 stays
        {15, 10, 20, 30000, "50% (estimated time left: 1 minute)"},  // not from 0
        {50, 0, 100, 59000, "50% (estimated time left: 1 minute)"},  // 59.x s left
        {50, 0, 100, 61000, "50% (estimated time left: 2 minutes)"},
        {100, 0, 100, 121000, "100% (estimated time left: 0 minutes)"},
        {5, 0, 0, 1000, "0%"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(qv::ProgressPercentText(r.position, r.low, r.high, r.elapsedMs), r.text)
            << r.position << " in " << r.low << ".." << r.high << " after " << r.elapsedMs;
    }
}

TEST_F(ProgressDialogTest, CancelIsRememberedUntilAskedOnceAndEscOrTheCloseBoxOnlyAsk) {
    auto owner = MakeOwner();
    auto d = Make(owner.get());
    // Whether the dialog shows, then what two questions answer (in this order).
    auto asked = [&d] {
        return std::tuple{d->isVisible(), d->CancelRequested(), d->CancelRequested()};
    };
    EXPECT_EQ(asked(), std::tuple(true, false, false));
    QTest::mouseClick(d->Control<QPushButton>(2), Qt::LeftButton);
    QTest::mouseClick(d->Control<QPushButton>(2), Qt::LeftButton);
    EXPECT_EQ(asked(), std::tuple(true, true, false));
    QTest::keyClick(d.get(), Qt::Key_Escape);
    EXPECT_EQ(asked(), std::tuple(true, true, false));
    d->close();
    EXPECT_EQ(asked(), std::tuple(true, true, false));
}

TEST_F(ProgressDialogTest, TheOwnerIsDisabledWhileTheDialogExistsAndGetsItsFocusBack) {
    auto owner = MakeOwner();
    auto* edit = new QLineEdit(owner.get());
    edit->show();
    edit->setFocus();
    auto d = Make(edit);  // any widget of the window: its top-level window is the owner
    EXPECT_EQ(std::tuple(owner->isEnabled(), d->isEnabled(), d->Control(2)->isEnabled()),
              std::tuple(false, true, true));
    EXPECT_NE(owner->focusWidget(), edit);
    d.reset();
    EXPECT_EQ(std::tuple(owner->isEnabled(), owner->focusWidget(), owner->windowTitle()),
              std::tuple(true, edit, QString("Quorvandel+")));
    // An owner that was disabled already stays so.
    owner->setEnabled(false);
    d = Make(owner.get());
    d.reset();
    EXPECT_FALSE(owner->isEnabled());
}

TEST_F(ProgressDialogTest, MinimizingMinimizesTheOwnerAndShowsThePercentageInItsTitle) {
    auto owner = MakeOwner();
    auto d = Make(owner.get());
    // The owner minimized, enabled, shown and its title.
    auto ownerIs = [&owner] {
        return std::tuple(owner->isMinimized(), owner->isEnabled(), owner->isVisible(),
                          owner->windowTitle());
    };
    d->SetPosition(0, "", nullptr, 0);
    d->showMinimized();
    EXPECT_EQ(d->MinimizedOwner(), owner.get());
    EXPECT_FALSE(d->CancelRequested());  // pumps the events
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(ownerIs(), std::tuple(true, true, true, "Quorvandel+"));
    now_ += 120000;
    d->SetPosition(50, "", nullptr, 0);
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+ 50% (estimated time left: 2 minutes)");

    // Restoring the main window brings the dialog back and the old title.
    owner->showNormal();
    EXPECT_EQ(d->MinimizedOwner(), nullptr);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(ownerIs(), std::tuple(false, false, true, "Quorvandel+"));
    d->SetPosition(60, "", nullptr, 0);
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+");

    // Closing while minimized gives the owner back its title and input, and
    // brings it back: the work is done.
    d->showMinimized();
    d->SetPosition(70, "", nullptr, 0);
    d.reset();
    EXPECT_EQ(ownerIs(), std::tuple(false, true, true, "Quorvandel+"));
}

TEST_F(ProgressDialogTest, AQuestionOpenWhileMinimizedStaysUsableWhenRestored) {
    auto owner = MakeOwner();
    auto d = Make(owner.get());
    // The work asks something over the main window.
    QMessageBox question(QMessageBox::Question, "Confirm", "Do you want to overwrite",
                         QMessageBox::Yes | QMessageBox::No, owner.get());
    question.setWindowModality(Qt::ApplicationModal);
    question.show();
    d->showMinimized();
    EXPECT_FALSE(d->CancelRequested());  // pumps the events
    owner->showNormal();
    EXPECT_EQ(std::tuple(owner->isEnabled(), d->isEnabled(), question.isEnabled(),
                         question.button(QMessageBox::Yes)->isEnabled()),
              std::tuple(false, true, true, true));
    question.hide();
}

TEST_F(ProgressDialogTest, PreviewShowsTheFrameOfTheStreamTheRightWayUpAndGreyWithoutOne) {
    constexpr Rgb kRed{0xC0, 0x40, 0x20}, kGrey{160, 160, 160}, kDark{0x20, 0x20, 0x20};
    const auto& red = qvtest::DvFrame(kRed);
    ASSERT_EQ(red.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
    qvtest::TempDir dir;
    const std::string path = dir.Path("tape.avi");
    ASSERT_TRUE(qvtest::WriteFixtureAvi(path, qvtest::FixtureOptions{},
                                        {{red, {}}, {qvtest::DvFrame(kRed, kDark), {}}}));
    auto reader = qv::OpenAviFile(path);
    ASSERT_TRUE(reader);
    auto d = Make(nullptr);
    // The colour shown at a point of the preview, fy a fraction of its height.
    auto previewNear = [&d](double fy, Rgb want) {
        const QRect r = d->Control(1016)->geometry();
        return qvtest::Near(d->grab().toImage().pixelColor(
                                r.center().x(), r.y() + static_cast<int>(r.height() * fy)),
                            want, 10);
    };
    EXPECT_TRUE(previewNear(0.5, kGrey));
    d->SetPosition(-1, path, reader->Stream(0), 1);
    EXPECT_EQ(d->PreviewFrame(), 1);
    EXPECT_TRUE(previewNear(0.2, kRed));  // the right way up: red above, dark below
    EXPECT_TRUE(previewNear(0.8, kDark));
    d->SetPosition(-1, path, reader->Stream(0), 7);  // beyond the last frame
    EXPECT_TRUE(previewNear(0.5, kGrey));
    // Detached at the end of the file: the reader may go, the preview is grey.
    d->SetPosition(20, path, reader->Stream(0), 0);
    d->SetPosition(-1, "", nullptr, 0);
    reader.reset();
    EXPECT_TRUE(previewNear(0.5, kGrey));
}

TEST(SimpleProgressDialogTest, PercentageBarCancelAndOwner) {
    auto owner = MakeOwner();
    auto d = std::make_unique<SimpleProgressDialog>(owner.get(), "");
    EXPECT_EQ(std::tuple(d->windowTitle(), Percent(*d), owner->isEnabled()),
              std::tuple(QString("Saving Bitmaps"), QString(" 0 %"), false));
    EXPECT_FALSE(d->windowFlags() & Qt::WindowMinimizeButtonHint);
    d->SetRange(0, 8);
    EXPECT_EQ((std::pair{d->SetPosition(2), Percent(*d)}), std::pair(0, QString("25%")));
    EXPECT_EQ((std::pair{d->SetPosition(8), Percent(*d)}), std::pair(2, QString("100%")));
    QTest::mouseClick(d->Control<QPushButton>(2), Qt::LeftButton);
    EXPECT_TRUE(d->CancelRequested());
    EXPECT_FALSE(d->CancelRequested());
    d.reset();
    EXPECT_TRUE(owner->isEnabled());
    EXPECT_EQ(SimpleProgressDialog(nullptr, "Exporting").windowTitle(), "Exporting");
}

}  // namespace
