// The progress dialogs through their control IDs: layouts and texts, the
// percentage and time-left arithmetic on a clock the test moves, the cancel
// flag, the owner window disabled while they are open, minimizing, and the
// preview of a real DV frame.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "avi/AviReader.h"
#include "progress/ProgressDialog.h"
#include "support/AviFixture.h"
#include "support/DvPictures.h"

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
    uint32_t now_ = 5000;
};

TEST_F(ProgressDialogTest, IsBuiltFromItsTemplate) {
    auto owner = MakeOwner();
    auto d = Make(owner.get());
    const auto& u = d->Units();
    EXPECT_EQ(d->windowTitle(), "working...");
    EXPECT_EQ(d->size(), QSize(u.X(388), u.Y(150)));
    EXPECT_TRUE(d->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(d->Control(1005)->geometry(), u.Rect(7, 31, 189, 40));
    EXPECT_EQ(d->Control(1004)->geometry(), u.Rect(7, 75, 189, 8));
    EXPECT_EQ(d->Control(1003)->geometry(), u.Rect(7, 89, 189, 10));
    EXPECT_EQ(d->Control(2)->geometry(), u.Rect(76, 105, 50, 14));
    EXPECT_EQ(d->Control(1016)->geometry(), u.Rect(201, 7, 180, 136));
    EXPECT_EQ(Percent(*d), " 0 %");
    EXPECT_TRUE(d->Control<QLabel>(1004)->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(d->Control<QPushButton>(2)->text(), "Cancel");
    bool labelFound = false;
    for (QLabel* label : d->findChildren<QLabel*>()) {
        if (label->text() == "Quorvandel - the Scene Analyzer for DV Video") {
            labelFound = true;
            EXPECT_EQ(label->geometry(), u.Rect(7, 7, 191, 8));
            EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
        }
    }
    EXPECT_TRUE(labelFound);
    auto* bar = d->Control<QProgressBar>(1003);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);

    auto named = Make(owner.get(), "Scanning...");
    EXPECT_EQ(named->windowTitle(), "Scanning...");
}

TEST_F(ProgressDialogTest, StatusTextAndBarPositions) {
    auto d = Make(nullptr);
    d->SetText("reading tape1.avi\nsecond line");
    EXPECT_EQ(d->Control<QLabel>(1005)->text(), "reading tape1.avi\nsecond line");
    d->SetRange(0, 200);
    EXPECT_EQ(d->Control<QProgressBar>(1003)->maximum(), 200);
    EXPECT_EQ(d->SetPosition(30, "", nullptr, 0), 0);
    EXPECT_EQ(d->SetPosition(80, "", nullptr, 0), 30);
    // A negative position only pumps and leaves the bar and the text.
    const QString text = Percent(*d);
    EXPECT_EQ(d->SetPosition(-1, "", nullptr, 0), 0);
    EXPECT_EQ(d->Control<QProgressBar>(1003)->value(), 80);
    EXPECT_EQ(Percent(*d), text);
    EXPECT_EQ(d->SetPosition(90, "", nullptr, 0), 80);
}

TEST_F(ProgressDialogTest, PercentageWithTheEstimatedTimeLeft) {
    auto d = Make(nullptr);
    // No time has passed: no estimate.
    d->SetPosition(10, "", nullptr, 0);
    EXPECT_EQ(Percent(*d), "10%");
    // The first position gives none either, however long it took.
    now_ += 120000;
    d->SetPosition(0, "", nullptr, 0);
    EXPECT_EQ(Percent(*d), "0%");
    // Halfway after 120 s: 240 s in all, 120 s left, rounded up to 2 minutes.
    d->SetPosition(50, "", nullptr, 0);
    EXPECT_EQ(Percent(*d), "50% (estimated time left: 2 minutes)");
    // 121 s left round up to 3 minutes.
    now_ += 1000;
    d->SetPosition(50, "", nullptr, 0);
    EXPECT_EQ(Percent(*d), "50% (estimated time left: 3 minutes)");
    d->SetPosition(100, "", nullptr, 0);
    EXPECT_EQ(Percent(*d), "100% (estimated time left: 0 minutes)");
}

TEST_F(ProgressDialogTest, OneMinuteIsSingularAndTheTickMayWrap) {
    now_ = 0xFFFFFFFFu - 500;  // the 32-bit tick wraps during the run
    auto d = Make(nullptr);
    now_ += 99000;
    d->SetPosition(99, "", nullptr, 0);
    EXPECT_EQ(Percent(*d), "99% (estimated time left: 1 minute)");
}

TEST(ProgressPercentText, FollowsTheIntegerArithmetic) {
    EXPECT_EQ(qv::ProgressPercentText(0, 0, 100, 1000), "0%");
    EXPECT_EQ(qv::ProgressPercentText(1, 0, 3, 0), "33%");
    EXPECT_EQ(qv::ProgressPercentText(100, 0, 100, 0), "100%");
    // Beyond the range the count starts again; only exactly 100 stays.
    EXPECT_EQ(qv::ProgressPercentText(150, 0, 100, 0), "50%");
    EXPECT_EQ(qv::ProgressPercentText(200, 0, 100, 0), "0%");
    // A range that does not start at 0.
    EXPECT_EQ(qv::ProgressPercentText(15, 10, 20, 30000), "50% (estimated time left: 1 minute)");
    // Remaining 59.x s, 60 s and 61 s.
    EXPECT_EQ(qv::ProgressPercentText(50, 0, 100, 59000), "50% (estimated time left: 1 minute)");
    EXPECT_EQ(qv::ProgressPercentText(50, 0, 100, 60000), "50% (estimated time left: 1 minute)");
    EXPECT_EQ(qv::ProgressPercentText(50, 0, 100, 61000), "50% (estimated time left: 2 minutes)");
    EXPECT_EQ(qv::ProgressPercentText(5, 0, 0, 1000), "0%");
}

TEST_F(ProgressDialogTest, CancelIsRememberedUntilAskedOnce) {
    auto owner = MakeOwner();
    auto d = Make(owner.get());
    EXPECT_FALSE(d->CancelRequested());
    auto* cancel = d->Control<QPushButton>(2);
    ASSERT_TRUE(cancel->isEnabled());
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(d->CancelRequested());
    EXPECT_FALSE(d->CancelRequested());

    // Esc and the close box only ask; the dialog stays open.
    QTest::keyClick(d.get(), Qt::Key_Escape);
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(d->CancelRequested());
    d->close();
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(d->CancelRequested());
    EXPECT_FALSE(d->CancelRequested());
}

TEST_F(ProgressDialogTest, TheOwnerIsDisabledWhileTheDialogExists) {
    auto owner = MakeOwner();
    auto* child = new QPushButton("in the main window", owner.get());
    auto d = Make(child);  // any widget of the window: its top-level window is the owner
    EXPECT_FALSE(owner->isEnabled());
    EXPECT_TRUE(d->isEnabled());
    EXPECT_TRUE(d->Control(2)->isEnabled());
    d.reset();
    EXPECT_TRUE(owner->isEnabled());
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+");

    // The widget that had the focus in the main window has it again.
    auto* edit = new QLineEdit(owner.get());
    edit->show();
    edit->setFocus();
    ASSERT_EQ(owner->focusWidget(), edit);
    d = Make(owner.get());
    EXPECT_NE(owner->focusWidget(), edit);
    d.reset();
    EXPECT_EQ(owner->focusWidget(), edit);

    // An owner that was disabled already stays so.
    owner->setEnabled(false);
    d = Make(owner.get());
    d.reset();
    EXPECT_FALSE(owner->isEnabled());
}

TEST_F(ProgressDialogTest, MinimizingMinimizesTheOwnerAndShowsThePercentageInItsTitle) {
    auto owner = MakeOwner();
    auto d = Make(owner.get());
    d->SetPosition(0, "", nullptr, 0);
    d->showMinimized();
    EXPECT_EQ(d->MinimizedOwner(), owner.get());
    EXPECT_TRUE(owner->isMinimized());
    EXPECT_TRUE(owner->isEnabled());
    EXPECT_FALSE(d->CancelRequested());  // pumps the events
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+");

    now_ += 120000;
    d->SetPosition(50, "", nullptr, 0);
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+ 50% (estimated time left: 2 minutes)");

    // Restoring the main window brings the dialog back and the old title.
    owner->showNormal();
    EXPECT_EQ(d->MinimizedOwner(), nullptr);
    EXPECT_FALSE(owner->isMinimized());
    EXPECT_FALSE(owner->isEnabled());
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(d->Control(2)->isEnabled());
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+");
    d->SetPosition(60, "", nullptr, 0);
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+");

    // Closing while minimized gives the owner back its title and input.
    d->showMinimized();
    d->SetPosition(70, "", nullptr, 0);
    EXPECT_NE(owner->windowTitle(), "Quorvandel+");
    d.reset();
    EXPECT_TRUE(owner->isEnabled());
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+");
    // and brings it back: the work is done.
    EXPECT_FALSE(owner->isMinimized());
    EXPECT_TRUE(owner->isVisible());
}

TEST_F(ProgressDialogTest, AQuestionOpenWhileMinimizedStaysUsableWhenRestored) {
    auto owner = MakeOwner();
    auto d = Make(owner.get());
    // The work asks something (the Confirm dialog, a message box) over the main window.
    QMessageBox question(QMessageBox::Question, "Confirm", "Do you want to overwrite",
                         QMessageBox::Yes | QMessageBox::No, owner.get());
    question.setWindowModality(Qt::ApplicationModal);
    question.show();
    d->showMinimized();
    EXPECT_FALSE(d->CancelRequested());  // pumps the events
    owner->showNormal();
    EXPECT_EQ(d->MinimizedOwner(), nullptr);
    EXPECT_FALSE(owner->isEnabled());
    EXPECT_TRUE(d->isEnabled());
    EXPECT_TRUE(question.isEnabled());
    EXPECT_TRUE(question.button(QMessageBox::Yes)->isEnabled());
    question.hide();
}

// DV pictures shown as the preview.
class ProgressPreviewTest : public ProgressDialogTest {
  protected:
    static constexpr Rgb kRed{0xC0, 0x40, 0x20};
    static constexpr Rgb kLight{0xE0, 0xE0, 0xE0};
    static constexpr Rgb kDark{0x20, 0x20, 0x20};

    void SetUp() override {
        const auto red = qvtest::EncodeDvColour(true, kRed);
        const auto halves = qvtest::EncodeDvHalves(true, kLight, kDark);
        ASSERT_EQ(red.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        path_ = dir_.Path("tape.avi");
        ASSERT_TRUE(
            qvtest::WriteFixtureAvi(path_, qvtest::FixtureOptions{}, {{red, {}}, {halves, {}}}));
        reader_ = qv::OpenAviFile(path_);
        ASSERT_TRUE(reader_);
    }

    // The colour shown at a point of the preview, (fx, fy) as fractions of it.
    static QColor PreviewAt(ProgressDialog& d, double fx, double fy) {
        const QRect r = d.Control(1016)->geometry();
        const QImage image = d.grab().toImage();
        return image.pixelColor(r.x() + static_cast<int>(r.width() * fx),
                                r.y() + static_cast<int>(r.height() * fy));
    }
    static ::testing::AssertionResult Near(QColor got, Rgb want) {
        constexpr int kTolerance = 10;
        if (std::abs(got.red() - want.r) <= kTolerance &&
            std::abs(got.green() - want.g) <= kTolerance &&
            std::abs(got.blue() - want.b) <= kTolerance) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "got RGB(" << got.red() << "," << got.green() << "," << got.blue() << ")";
    }

    qvtest::TempDir dir_;
    std::string path_;
    std::unique_ptr<qv::AviReader> reader_;
};

TEST_F(ProgressPreviewTest, ShowsTheFrameOfTheStreamAndGreyWithoutOne) {
    auto d = Make(nullptr);
    const Rgb grey{160, 160, 160};
    EXPECT_TRUE(Near(PreviewAt(*d, 0.5, 0.5), grey));

    EXPECT_EQ(d->SetPosition(-1, path_, reader_->Stream(0), 0), 0);
    EXPECT_EQ(d->PreviewFrame(), 0);
    EXPECT_TRUE(Near(PreviewAt(*d, 0.5, 0.5), kRed));
    EXPECT_EQ(Percent(*d), " 0 %");  // a negative position leaves the bar and text

    // The picture stands the right way up: light above, dark below.
    d->SetPosition(20, path_, reader_->Stream(0), 1);
    EXPECT_EQ(d->PreviewFrame(), 1);
    EXPECT_TRUE(Near(PreviewAt(*d, 0.5, 0.2), kLight));
    EXPECT_TRUE(Near(PreviewAt(*d, 0.5, 0.8), kDark));

    // Detached at the end of the file: the reader may go, the preview is grey.
    d->SetPosition(-1, "", nullptr, 0);
    reader_.reset();
    EXPECT_TRUE(Near(PreviewAt(*d, 0.5, 0.5), grey));
}

TEST_F(ProgressPreviewTest, AFrameThatCannotBeReadGivesGrey) {
    auto d = Make(nullptr);
    d->SetPosition(-1, path_, reader_->Stream(0), 0);
    EXPECT_TRUE(Near(PreviewAt(*d, 0.5, 0.5), kRed));
    d->SetPosition(-1, path_, reader_->Stream(0), 7);  // beyond the last frame
    EXPECT_TRUE(Near(PreviewAt(*d, 0.5, 0.5), Rgb{160, 160, 160}));
}

TEST(SimpleProgressDialogTest, PercentageBarCancelAndOwner) {
    auto owner = MakeOwner();
    auto d = std::make_unique<SimpleProgressDialog>(owner.get(), "");
    const auto& u = d->Units();
    EXPECT_EQ(d->windowTitle(), "Saving Bitmaps");
    EXPECT_FALSE(d->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(d->size(), QSize(u.X(186), u.Y(63)));
    EXPECT_EQ(d->Control(1004)->geometry(), u.Rect(83, 7, 18, 8));
    EXPECT_EQ(d->Control(1003)->geometry(), u.Rect(15, 18, 154, 13));
    EXPECT_EQ(d->Control(2)->geometry(), u.Rect(67, 42, 50, 14));
    EXPECT_EQ(Percent(*d), " 0 %");
    EXPECT_FALSE(owner->isEnabled());
    EXPECT_TRUE(d->Control(2)->isEnabled());

    d->SetRange(0, 8);
    EXPECT_EQ(d->SetPosition(2), 0);
    EXPECT_EQ(Percent(*d), "25%");
    EXPECT_EQ(d->SetPosition(8), 2);
    EXPECT_EQ(Percent(*d), "100%");

    QTest::mouseClick(d->Control<QPushButton>(2), Qt::LeftButton);
    EXPECT_TRUE(d->CancelRequested());
    EXPECT_FALSE(d->CancelRequested());

    d.reset();
    EXPECT_TRUE(owner->isEnabled());

    auto named = std::make_unique<SimpleProgressDialog>(nullptr, "Exporting");
    EXPECT_EQ(named->windowTitle(), "Exporting");
}

}  // namespace
