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

TEST_F(ProgressDialogTest, IsBuiltFromItsTemplateAndShowsTextAndPositions) {
    auto d = Make(nullptr);
    const auto& u = d->Units();
    EXPECT_EQ(
        std::tuple(d->windowTitle(), d->size(), Percent(*d), d->Control<QPushButton>(2)->text()),
        std::tuple(QString("working..."), QSize(u.X(388), u.Y(150)), QString(" 0 %"),
                   QString("Cancel")));
    EXPECT_TRUE(d->windowFlags() & Qt::WindowMinimizeButtonHint);
    qvtest::ExpectRects(*d, {{1005, 7, 31, 189, 40},
                             {1004, 7, 75, 189, 8},
                             {1003, 7, 89, 189, 10},
                             {2, 76, 105, 50, 14},
                             {1016, 201, 7, 180, 136}});
    EXPECT_TRUE(d->Control<QLabel>(1004)->alignment() & Qt::AlignHCenter);
    const auto labels = d->findChildren<QLabel*>();
    const auto heading = std::find_if(labels.begin(), labels.end(), [](const QLabel* label) {
        return label->text() == "Quorvandel - the Scene Analyzer for DV Video";
    });
    ASSERT_NE(heading, labels.end());
    EXPECT_EQ((*heading)->geometry(), u.Rect(7, 7, 191, 8));
    EXPECT_TRUE((*heading)->alignment() & Qt::AlignHCenter);
    auto* bar = d->Control<QProgressBar>(1003);
    EXPECT_EQ(std::tuple(bar->minimum(), bar->maximum(), bar->value()), std::tuple(0, 100, 0));
    EXPECT_EQ(Make(nullptr, "Scanning...")->windowTitle(), "Scanning...");

    d->SetText("reading tape1.avi\nsecond line");
    EXPECT_EQ(d->Control<QLabel>(1005)->text(), "reading tape1.avi\nsecond line");
    d->SetRange(0, 200);
    EXPECT_EQ(bar->maximum(), 200);
    EXPECT_EQ(d->SetPosition(30, "", nullptr, 0), 0);
    EXPECT_EQ(d->SetPosition(80, "", nullptr, 0), 30);
    // A negative position only pumps and leaves the bar and the text.
    const QString text = Percent(*d);
    EXPECT_EQ(d->SetPosition(-1, "", nullptr, 0), 0);
    EXPECT_EQ(bar->value(), 80);
    EXPECT_EQ(Percent(*d), text);
    EXPECT_EQ(d->SetPosition(90, "", nullptr, 0), 80);
}

TEST_F(ProgressDialogTest, PercentageWithTheEstimatedTimeLeft) {
    auto d = Make(nullptr);
    EXPECT_EQ(MoveTo(*d, 10), "10%");  // no time has passed: no estimate
    // The first position gives none either, however long it took.
    now_ += 120000;
    EXPECT_EQ(MoveTo(*d, 0), "0%");
    // Halfway after 120 s: 240 s in all, 120 s left, rounded up to 2 minutes.
    EXPECT_EQ(MoveTo(*d, 50), "50% (estimated time left: 2 minutes)");
    now_ += 1000;  // 121 s left round up to 3 minutes
    EXPECT_EQ(MoveTo(*d, 50), "50% (estimated time left: 3 minutes)");
    EXPECT_EQ(MoveTo(*d, 100), "100% (estimated time left: 0 minutes)");

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
        {100, 0, 100, 0, "100%"},
        {150, 0, 100, 0, "50%"},  // beyond the range the count starts again;
        {200, 0, 100, 0, "0%"},   // only exactly 100 stays
        {15, 10, 20, 30000, "50% (estimated time left: 1 minute)"},  // not from 0
        {50, 0, 100, 59000, "50% (estimated time left: 1 minute)"},  // 59.x s left
        {50, 0, 100, 60000, "50% (estimated time left: 1 minute)"},
        {50, 0, 100, 61000, "50% (estimated time left: 2 minutes)"},
        {100, 0, 100, 121000, "100% (estimated time left: 0 minutes)"},
        {5, 0, 0, 1000, "0%"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(qv::ProgressPercentText(r.position, r.low, r.high, r.elapsedMs), r.text)
            << r.position << " in " << r.low << ".." << r.high << " after " << r.elapsedMs;
    }
}

TEST_F(ProgressDialogTest, CancelIsRememberedUntilAskedOnce) {
    auto owner = MakeOwner();
    auto d = Make(owner.get());
    // Whether the dialog shows, then what two questions answer (in this order).
    auto asked = [&d] {
        return std::tuple{d->isVisible(), d->CancelRequested(), d->CancelRequested()};
    };
    EXPECT_EQ(asked(), std::tuple(true, false, false));
    auto* cancel = d->Control<QPushButton>(2);
    ASSERT_TRUE(cancel->isEnabled());
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_EQ(asked(), std::tuple(true, true, false));
    // Esc and the close box only ask; the dialog stays open.
    QTest::keyClick(d.get(), Qt::Key_Escape);
    EXPECT_EQ(asked(), std::tuple(true, true, false));
    d->close();
    EXPECT_EQ(asked(), std::tuple(true, true, false));
}

TEST_F(ProgressDialogTest, TheOwnerIsDisabledWhileTheDialogExists) {
    auto owner = MakeOwner();
    auto* child = new QPushButton("in the main window", owner.get());
    auto d = Make(child);  // any widget of the window: its top-level window is the owner
    EXPECT_EQ(std::tuple(owner->isEnabled(), d->isEnabled(), d->Control(2)->isEnabled()),
              std::tuple(false, true, true));
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
    // The owner minimized, enabled, shown and its title.
    auto ownerIs = [&owner] {
        return std::tuple(owner->isMinimized(), owner->isEnabled(), owner->isVisible(),
                          owner->windowTitle());
    };
    d->SetPosition(0, "", nullptr, 0);
    d->showMinimized();
    EXPECT_EQ(d->MinimizedOwner(), owner.get());
    EXPECT_TRUE(owner->isMinimized());
    EXPECT_FALSE(d->CancelRequested());  // pumps the events
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(ownerIs(), std::tuple(true, true, true, "Quorvandel+"));
    now_ += 120000;
    d->SetPosition(50, "", nullptr, 0);
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+ 50% (estimated time left: 2 minutes)");

    // Restoring the main window brings the dialog back and the old title.
    owner->showNormal();
    EXPECT_EQ(d->MinimizedOwner(), nullptr);
    EXPECT_EQ(ownerIs(), std::tuple(false, false, true, "Quorvandel+"));
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(d->Control(2)->isEnabled());
    d->SetPosition(60, "", nullptr, 0);
    EXPECT_EQ(owner->windowTitle(), "Quorvandel+");

    // Closing while minimized gives the owner back its title and input, and
    // brings it back: the work is done.
    d->showMinimized();
    d->SetPosition(70, "", nullptr, 0);
    EXPECT_NE(owner->windowTitle(), "Quorvandel+");
    d.reset();
    EXPECT_EQ(ownerIs(), std::tuple(false, true, true, "Quorvandel+"));
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
    EXPECT_EQ(std::tuple(owner->isEnabled(), d->isEnabled(), question.isEnabled(),
                         question.button(QMessageBox::Yes)->isEnabled()),
              std::tuple(false, true, true, true));
    question.hide();
}

TEST_F(ProgressDialogTest, PreviewShowsTheFrameOfTheStreamTheRightWayUpAndGreyWithoutOne) {
    constexpr Rgb kRed{0xC0, 0x40, 0x20}, kLight{0xE0, 0xE0, 0xE0}, kDark{0x20, 0x20, 0x20};
    constexpr Rgb kGrey{160, 160, 160};
    const auto& red = qvtest::DvFrame(kRed);
    ASSERT_EQ(red.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
    qvtest::TempDir dir;
    const std::string path = dir.Path("tape.avi");
    ASSERT_TRUE(qvtest::WriteFixtureAvi(path, qvtest::FixtureOptions{},
                                        {{red, {}}, {qvtest::DvFrame(kLight, kDark), {}}}));
    auto reader = qv::OpenAviFile(path);
    ASSERT_TRUE(reader);
    auto d = Make(nullptr);
    // The colour shown at a point of the preview, (fx, fy) as fractions of it.
    auto previewNear = [&d](double fx, double fy, Rgb want) {
        const QRect r = d->Control(1016)->geometry();
        return qvtest::Near(
            d->grab().toImage().pixelColor(r.x() + static_cast<int>(r.width() * fx),
                                           r.y() + static_cast<int>(r.height() * fy)),
            want, 10);
    };
    EXPECT_TRUE(previewNear(0.5, 0.5, kGrey));

    EXPECT_EQ(d->SetPosition(-1, path, reader->Stream(0), 0), 0);
    EXPECT_EQ(d->PreviewFrame(), 0);
    EXPECT_TRUE(previewNear(0.5, 0.5, kRed));
    EXPECT_EQ(Percent(*d), " 0 %");                  // a negative position leaves the bar and text
    d->SetPosition(-1, path, reader->Stream(0), 7);  // beyond the last frame
    EXPECT_TRUE(previewNear(0.5, 0.5, kGrey));

    // The picture stands the right way up: light above, dark below.
    d->SetPosition(20, path, reader->Stream(0), 1);
    EXPECT_EQ(d->PreviewFrame(), 1);
    EXPECT_TRUE(previewNear(0.5, 0.2, kLight));
    EXPECT_TRUE(previewNear(0.5, 0.8, kDark));

    // Detached at the end of the file: the reader may go, the preview is grey.
    d->SetPosition(-1, "", nullptr, 0);
    reader.reset();
    EXPECT_TRUE(previewNear(0.5, 0.5, kGrey));
}

TEST(SimpleProgressDialogTest, PercentageBarCancelAndOwner) {
    auto owner = MakeOwner();
    auto d = std::make_unique<SimpleProgressDialog>(owner.get(), "");
    EXPECT_EQ(std::tuple(d->windowTitle(), d->size(), Percent(*d)),
              std::tuple(QString("Saving Bitmaps"), QSize(d->Units().X(186), d->Units().Y(63)),
                         QString(" 0 %")));
    EXPECT_FALSE(d->windowFlags() & Qt::WindowMinimizeButtonHint);
    qvtest::ExpectRects(*d, {{1004, 83, 7, 18, 8}, {1003, 15, 18, 154, 13}, {2, 67, 42, 50, 14}});
    EXPECT_EQ(std::pair(owner->isEnabled(), d->Control(2)->isEnabled()), std::pair(false, true));

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
