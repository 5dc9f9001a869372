// The progress dialogs through their control IDs: the texts, the percentage and
// the time left on a clock the test moves, the cancel flag, the owner window
// disabled while they are open and minimized with them, and the preview of a
// real DV frame.

#include "progress/ProgressDialog.h"

#include <QProgressBar>
#include <QTest>

#include <memory>
#include <tuple>

#include "avi/AviReader.h"
#include "windows/WindowTests.h"

namespace {

using qv::ProgressDialog;
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

TEST_F(ProgressDialogTest, ShowsItsTextsAndTheTimeLeftAndRemembersCancelUntilAskedOnce) {
    auto owner = MakeOwner();
    auto d = Make(owner.get());
    EXPECT_EQ(std::tuple(d->windowTitle(), Percent(*d), d->Control<QPushButton>(2)->text()),
              std::tuple(QString("working..."), QString(" 0 %"), QString("Cancel")));
    EXPECT_TRUE(d->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(qvtest::HasLabels(*d, {"Quorvandel - the Scene Analyzer for DV Video"}));
    EXPECT_EQ(Make(nullptr, "Scanning...")->windowTitle(), "Scanning...");
    d->SetText("reading tape1.avi\nsecond line");
    EXPECT_EQ(d->Control<QLabel>(1005)->text(), "reading tape1.avi\nsecond line");

    // Half the range in 120 s: 120 s left; a negative position only pumps.
    d->SetRange(0, 100);
    now_ += 120000;
    EXPECT_EQ(MoveTo(*d, 50), "50% (estimated time left: 2 minutes)");
    EXPECT_EQ(std::pair(MoveTo(*d, -1), d->Control<QProgressBar>(1003)->value()),
              std::pair(QString("50% (estimated time left: 2 minutes)"), 50));

    // Whether the dialog shows, then what two questions answer (in this order):
    // Cancel is remembered until asked once; Escape and the close box only ask.
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

    now_ = 0xFFFFFFFFu - 500;  // the 32-bit tick wraps during the run
    d = Make(nullptr);
    now_ += 99000;
    EXPECT_EQ(MoveTo(*d, 99), "99% (estimated time left: 1 minute)");
}

TEST_F(ProgressDialogTest, TheOwnerIsDisabledAndMinimizedWithItAndShowsThePercentageInItsTitle) {
    auto owner = MakeOwner();
    auto* edit = new QLineEdit(owner.get());
    edit->show();
    edit->setFocus();
    auto d = Make(edit);  // any widget of the window: its top-level window is the owner
    // The owner minimized, enabled, focused on the edit, and its title.
    auto ownerIs = [&] {
        return std::tuple(owner->isMinimized(), owner->isEnabled(), owner->focusWidget() == edit,
                          owner->windowTitle());
    };
    EXPECT_EQ(std::pair(d->isEnabled(), ownerIs()),
              std::pair(true, std::tuple(false, false, false, QString("Quorvandel+"))));
    d->SetPosition(0, "", nullptr, 0);
    d->showMinimized();
    EXPECT_FALSE(d->CancelRequested());  // pumps the events
    EXPECT_EQ(std::pair(d->isVisible(), ownerIs()),
              std::pair(false, std::tuple(true, true, false, QString("Quorvandel+"))));
    now_ += 120000;
    d->SetPosition(50, "", nullptr, 0);
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+ 50% (estimated time left: 2 minutes)");

    // Restoring the main window brings the dialog back and the old title.
    owner->showNormal();
    d->SetPosition(60, "", nullptr, 0);
    EXPECT_EQ(std::pair(d->isVisible(), ownerIs()),
              std::pair(true, std::tuple(false, false, false, QString("Quorvandel+"))));

    // Closed (here while minimized), the owner gets back its title, input and focus.
    d->showMinimized();
    d->SetPosition(70, "", nullptr, 0);
    d.reset();
    EXPECT_EQ(ownerIs(), std::tuple(false, true, true, QString("Quorvandel+")));
    // An owner that was disabled already stays so.
    owner->setEnabled(false);
    d = Make(owner.get());
    d.reset();
    EXPECT_FALSE(owner->isEnabled());
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
    EXPECT_TRUE(previewNear(0.2, kRed));  // the right way up: red above, dark below
    EXPECT_TRUE(previewNear(0.8, kDark));
    // Detached at the end of the file: the reader may go, the preview is grey.
    d->SetPosition(20, path, reader->Stream(0), 0);
    d->SetPosition(-1, "", nullptr, 0);
    reader.reset();
    EXPECT_TRUE(previewNear(0.5, kGrey));
}

}  // namespace
