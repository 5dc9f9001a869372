// The progress dialog through its control IDs: the texts, the time left on a
// clock the test moves, the cancel flag, the owner window disabled and minimized
// with it, and the preview of a real DV frame.

#include "progress/ProgressDialog.h"

#include <QScreen>
#include <QTest>

#include "avi/AviReader.h"
#include "windows/WindowTests.h"

namespace {

TEST(ProgressDialogTest, ShowsItsTextsThePreviewAndTheTimeLeftAndTakesTheOwnerAlong) {
    constexpr qvtest::Rgb kRed{0xC0, 0x40, 0x20}, kGrey{160, 160, 160}, kDark{0x20, 0x20, 0x20};
    const auto frame = qvtest::EncodeDvHalves(true, kRed, kDark);
    ASSERT_EQ(frame.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
    qvtest::TempDir dir;
    const std::string path = dir.Path("tape.avi");
    ASSERT_TRUE(qvtest::WriteFixtureAvi(path, qvtest::FixtureOptions{}, {{frame, {}}}));
    auto reader = qv::OpenAviFile(path);
    ASSERT_TRUE(reader);
    QWidget owner;
    owner.setWindowTitle("Quorvandel+");
    owner.resize(400, 300);
    owner.show();
    uint32_t now = 5000;  // the clock the dialog reads
    auto d = std::make_unique<qv::ProgressDialog>(&owner, "", [&now] { return now; });
    auto percent = [&d] { return d->Control<QLabel>(1004)->text(); };
    EXPECT_EQ(std::tuple(d->windowTitle(), percent(), d->Control<QPushButton>(2)->text()),
              std::tuple(QString("working..."), QString(" 0 %"), QString("Cancel")));
    EXPECT_TRUE(qvtest::HasLabels(*d, {"Quorvandel - the Scene Analyzer for DV Video"}));
    d->SetText("reading tape1.avi\nsecond line");
    EXPECT_EQ(d->Control<QLabel>(1005)->text(), "reading tape1.avi\nsecond line");
    EXPECT_FALSE(owner.isEnabled());

    // The preview, as the screen holds it: grey without a stream, else its frame the
    // right way up.
    auto previewNear = [&d](double fy, qvtest::Rgb want) {
        const QRect r = d->Control(1016)->geometry();
        return qvtest::Near(
            d->screen()
                ->grabWindow(d->winId())
                .toImage()
                .pixelColor(r.center().x(), r.y() + static_cast<int>(r.height() * fy)),
            want, 10);
    };
    ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
    EXPECT_TRUE(previewNear(0.5, kGrey));
    d->SetPosition(-1, path, reader->Stream(0), 0);
    EXPECT_TRUE(previewNear(0.2, kRed));
    EXPECT_TRUE(previewNear(0.8, kDark));
    // Dropped (between two scenes), the picture leaves the screen at once: it would
    // stand beside the next scene's name.
    d->SetPosition(-1, "", nullptr, 0);
    EXPECT_TRUE(previewNear(0.5, kGrey));

    // Cancel is remembered until asked once.
    QTest::mouseClick(d->Control<QPushButton>(2), Qt::LeftButton);
    EXPECT_EQ((std::pair{d->CancelRequested(), d->CancelRequested()}), std::pair(true, false));

    // Minimized, the owner goes with it; half the range in 120 s: 120 s left, in
    // the dialog and the owner's title.
    d->SetRange(0, 100);
    d->showMinimized();
    EXPECT_FALSE(d->CancelRequested());  // pumps the events
    EXPECT_EQ(std::pair(d->isVisible(), owner.isMinimized()), std::pair(false, true));
    now += 120000;
    d->SetPosition(50, "", nullptr, 0);
    EXPECT_EQ(percent(), "50% (estimated time left: 2 minutes)");
    EXPECT_EQ(owner.windowTitle(), "Quorvandel+ 50% (estimated time left: 2 minutes)");
    // Closed, the owner gets back its title and input.
    d.reset();
    EXPECT_EQ(std::pair(owner.isEnabled(), owner.windowTitle()),
              std::pair(true, QString("Quorvandel+")));
}

}  // namespace
