#include "progress/PictureStrip.h"

#include <QTest>

#include "app/SceneList.h"
#include "windows/WindowTests.h"

namespace {

using qv::PictureStrip;
using qvtest::DvFrame;
using qvtest::Near;
using qvtest::Rgb;

constexpr Rgb kRed{210, 40, 40};
constexpr Rgb kGreen{40, 200, 60};
constexpr Rgb kBlue{40, 50, 210};
constexpr Rgb kFiller{240, 240, 40};
const QColor kGrey(160, 160, 160);

class PictureStripTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qv::framesPerSecond = 25.0f;
        ASSERT_EQ(DvFrame(kRed).size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        parent_.resize(600, 200);
        strip_ = new PictureStrip(&parent_, "");
        // Five cells of 100 pixels, pictures of 99 x 73 below a 15-pixel label row.
        strip_->setGeometry(0, 0, 500, 89);
    }

    // 14 frames: 10, 11 and 12 red, green and blue, 13 red above blue, the
    // others yellow.
    std::string ColourFile() {
        std::vector<qvtest::FixtureFrame> frames(14, {DvFrame(kFiller), {}});
        frames[10].video = DvFrame(kRed);
        frames[11].video = DvFrame(kGreen);
        frames[12].video = DvFrame(kBlue);
        frames[13].video = DvFrame(kRed, kBlue);
        EXPECT_TRUE(qvtest::WriteFixtureAvi(path_, qvtest::FixtureOptions{}, frames));
        return path_;
    }
    QImage Draw() {
        strip_->DrawNow();
        return strip_->Drawing().toImage();
    }
    QColor PictureColour(const QImage& image, int index) const {
        return image.pixelColor(strip_->PictureArea(index).center());
    }
    // Whether every pixel of cell index's label row is grey.
    bool LabelAllGrey(const QImage& image, int index) const {
        const QRect area = strip_->PictureArea(index);
        for (int y = area.top() - PictureStrip::kLabelHeight; y < area.top(); ++y) {
            for (int x = area.left(); x < area.right(); ++x) {
                if (image.pixelColor(x, y) != kGrey) {
                    return false;
                }
            }
        }
        return true;
    }
    // Pictures from..4 grey, and their labels grey too or all shown.
    void ExpectGreyFrom(const QImage& image, int from, bool labelsGrey) {
        for (int i = from; i < 5; ++i) {
            EXPECT_EQ(PictureColour(image, i), kGrey) << "picture " << i;
            EXPECT_EQ(LabelAllGrey(image, i), labelsGrey) << "label " << i;
        }
    }

    qvtest::TempDir dir_;
    const std::string path_ = dir_.Path("colours.avi");
    QWidget parent_;
    PictureStrip* strip_ = nullptr;
};

TEST_F(PictureStripTest, ScenesShowQuarterStepsWithTheirOffsetsAndGreyPastTheirEnd) {
    // Nothing shown yet: no labels, not even "00:00:00" for the empty range.
    EXPECT_FALSE(strip_->ShowsScene());
    EXPECT_EQ(strip_->Labels(), std::vector<std::string>(5));
    const struct {
        int first, last;
        std::vector<int> frames;
        std::vector<std::string> labels;
    } rows[] = {
        {1000,
         1100,
         {1000, 1025, 1050, 1075, 1100},
         {"00:00:00", "00:01:00", "00:02:00", "00:03:00", "00:04:00"}},
        // Steps that are not whole frames are cut: 1000..1010 steps by 2.5.
        {1000,
         1010,
         {1000, 1002, 1005, 1007, 1010},
         {"00:00:00", "00:00:02", "00:00:05", "00:00:07", "00:00:10"}},
        {10, 12, {10, 11, 12, -1, -1}, {"00:00:00", "00:00:01", "00:00:02", "", ""}},
        {7, 7, {7, -1, -1, -1, -1}, {"00:00:00", "", "", "", ""}},
        // Four frames: step 0.75 is raised to 1.
        {0, 3, {0, 1, 2, 3, -1}, {"00:00:00", "00:00:01", "00:00:02", "00:00:03", ""}},
    };
    for (const auto& r : rows) {
        strip_->ShowScene(dir_.Path("missing.avi"), r.first, r.last);
        EXPECT_EQ(strip_->Frames(), r.frames) << r.first << ".." << r.last;
        EXPECT_EQ(strip_->Labels(), r.labels) << r.first << ".." << r.last;
    }
    // A file that does not exist: grey pictures, the labels shown.
    strip_->ShowScene(dir_.Path("missing.avi"), 0, 4);
    EXPECT_FALSE(strip_->Decoder().IsAttached());
    ExpectGreyFrom(Draw(), 0, false);

    // Placed over a frame, the strip takes it and the label row above it.
    QWidget frame(&parent_);
    frame.setGeometry(10, 120, 300, 60);
    strip_->PlaceOver(&frame);
    EXPECT_EQ(strip_->geometry(), QRect(10, 105, 300, 75));
    EXPECT_EQ(strip_->PictureArea(0), QRect(0, 15, 59, 59));
}

TEST_F(PictureStripTest, AThreeFrameSceneDrawsItsFramesThenGreyAndTheRightWayUp) {
    strip_->ShowScene(ColourFile(), 10, 12);
    ASSERT_TRUE(strip_->Decoder().IsAttached());
    QImage image = Draw();
    ASSERT_EQ(image.size(), QSize(500, 89));
    const Rgb expected[] = {kRed, kGreen, kBlue};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(Near(PictureColour(image, i), expected[i])) << "picture " << i;
        // A label on grey: some dark text pixels in its row.
        EXPECT_FALSE(LabelAllGrey(image, i)) << "label " << i;
    }
    ExpectGreyFrom(image, 3, true);

    strip_->ShowScene(path_, 13, 13);  // red above blue
    image = Draw();
    const QRect area = strip_->PictureArea(0);
    EXPECT_TRUE(Near(image.pixelColor(area.center().x(), area.top() + area.height() / 4), kRed));
    EXPECT_TRUE(
        Near(image.pixelColor(area.center().x(), area.bottom() - area.height() / 4), kBlue));
    EXPECT_EQ(PictureColour(image, 1), kGrey);
}

TEST_F(PictureStripTest, ReselectedScenesComeFromTheCache) {
    strip_->ShowScene(ColourFile(), 10, 12);
    strip_->DrawNow();
    // The two grey pictures past the end share one key.
    EXPECT_EQ(strip_->RenderCount(), 4);
    strip_->ShowScene(path_, 0, 2);
    EXPECT_TRUE(Near(PictureColour(Draw(), 0), kFiller));
    strip_->ShowScene(path_, 10, 12);
    EXPECT_TRUE(Near(PictureColour(Draw(), 2), kBlue));
    EXPECT_EQ(strip_->RenderCount(), 7);  // frames 0..2 were new
    // Another size is another key.
    strip_->setGeometry(0, 0, 400, 89);
    strip_->DrawNow();
    EXPECT_EQ(strip_->RenderCount(), 11);
}

TEST_F(PictureStripTest, TimerFollowsSceneChangesAndRepaintsAndShowNoneLetsGoOfTheFile) {
    EXPECT_FALSE(strip_->TimerActive());
    strip_->ShowScene(ColourFile(), 10, 12);
    EXPECT_EQ(std::pair(strip_->TimerActive(), strip_->TimerInterval()), std::pair(true, 100));
    strip_->DrawNow();
    strip_->ShowScene(path_, 10, 12);  // the same file and range: nothing to draw
    EXPECT_FALSE(strip_->TimerActive());
    parent_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent_));
    strip_->DrawNow();
    EXPECT_FALSE(strip_->TimerActive());  // its own repaint starts nothing
    strip_->repaint();
    EXPECT_EQ(std::pair(strip_->TimerActive(), strip_->TimerInterval()), std::pair(true, 50));
    parent_.hide();

    // No scene: the file is let go of, and the pictures go grey without labels.
    strip_->DrawNow();
    strip_->ShowNone();
    EXPECT_EQ(std::tuple(strip_->Decoder().IsAttached(), strip_->ShowsScene(), strip_->Frames()),
              std::tuple(false, false, std::vector<int>(5, -1)));
    EXPECT_EQ(std::pair(strip_->TimerActive(), strip_->TimerInterval()), std::pair(true, 100));
    ExpectGreyFrom(Draw(), 0, true);
    strip_->ShowScene(path_, 10, 11);  // opens the file again
    EXPECT_TRUE(strip_->Decoder().IsAttached());
}

}  // namespace
