#include "progress/PictureStrip.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "support/AviFixture.h"
#include "support/DvPictures.h"

namespace {

using qv::PictureStrip;
using qvtest::FixtureFrame;
using qvtest::FixtureOptions;
using qvtest::Rgb;

constexpr Rgb kRed{210, 40, 40};
constexpr Rgb kGreen{40, 200, 60};
constexpr Rgb kBlue{40, 50, 210};
constexpr Rgb kFiller{240, 240, 40};
const QColor kGrey(160, 160, 160);

// Real DV frames, encoded once for all tests.
struct Frames {
    std::vector<uint8_t> red = qvtest::EncodeDvColour(true, kRed);
    std::vector<uint8_t> green = qvtest::EncodeDvColour(true, kGreen);
    std::vector<uint8_t> blue = qvtest::EncodeDvColour(true, kBlue);
    std::vector<uint8_t> filler = qvtest::EncodeDvColour(true, kFiller);
    std::vector<uint8_t> halves = qvtest::EncodeDvHalves(true, kRed, kBlue);
};

bool Near(QColor c, Rgb expected, int tolerance = 40) {
    return std::abs(c.red() - expected.r) <= tolerance &&
           std::abs(c.green() - expected.g) <= tolerance &&
           std::abs(c.blue() - expected.b) <= tolerance;
}

std::string Describe(QColor c) {
    return "(" + std::to_string(c.red()) + "," + std::to_string(c.green()) + "," +
           std::to_string(c.blue()) + ")";
}

class PictureStripTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { frames_ = new Frames; }
    static void TearDownTestSuite() {
        delete frames_;
        frames_ = nullptr;
    }
    void SetUp() override {
        qv::framesPerSecond = 25.0f;
        ASSERT_EQ(frames_->red.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        parent_.resize(600, 200);
        strip_ = new PictureStrip(&parent_, "");
        // Five cells of 100 pixels, pictures of 99 x 73 below a 15-pixel label row.
        strip_->setGeometry(0, 0, 500, 89);
    }

    // 13 frames: 10, 11 and 12 red, green and blue, the others yellow.
    std::string ColourFile() {
        std::vector<FixtureFrame> frames;
        for (int i = 0; i < 13; ++i) {
            const auto& v = i == 10   ? frames_->red
                            : i == 11 ? frames_->green
                            : i == 12 ? frames_->blue
                                      : frames_->filler;
            frames.push_back(FixtureFrame{v, {}});
        }
        const std::string path = dir_.Path("colours.avi");
        EXPECT_TRUE(qvtest::WriteFixtureAvi(path, FixtureOptions{}, frames));
        return path;
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

    static Frames* frames_;
    qvtest::TempDir dir_;
    QWidget parent_;
    PictureStrip* strip_ = nullptr;
};
Frames* PictureStripTest::frames_ = nullptr;

TEST_F(PictureStripTest, LongSceneShowsQuarterStepsWithTheirOffsets) {
    strip_->ShowScene(dir_.Path("missing.avi"), 1000, 1100);
    EXPECT_EQ(strip_->Frames(), (std::vector<int>{1000, 1025, 1050, 1075, 1100}));
    const std::vector<std::string> expected{qv::FormatFrameTime(0), qv::FormatFrameTime(25),
                                            qv::FormatFrameTime(50), qv::FormatFrameTime(75),
                                            qv::FormatFrameTime(100)};
    EXPECT_EQ(strip_->Labels(), expected);
    EXPECT_EQ(expected[1], "00:01:00");
    EXPECT_EQ(expected[4], "00:04:00");

    // Steps that are not whole frames are cut: 1000..1010 steps by 2.5.
    strip_->ShowScene(dir_.Path("missing.avi"), 1000, 1010);
    EXPECT_EQ(strip_->Frames(), (std::vector<int>{1000, 1002, 1005, 1007, 1010}));
}

TEST_F(PictureStripTest, ShortScenesShowGreyPastTheirEnd) {
    strip_->ShowScene(dir_.Path("missing.avi"), 10, 12);
    EXPECT_EQ(strip_->Frames(), (std::vector<int>{10, 11, 12, -1, -1}));
    EXPECT_EQ(strip_->Labels(),
              (std::vector<std::string>{qv::FormatFrameTime(0), qv::FormatFrameTime(1),
                                        qv::FormatFrameTime(2), "", ""}));
    strip_->ShowScene(dir_.Path("missing.avi"), 7, 7);
    EXPECT_EQ(strip_->Frames(), (std::vector<int>{7, -1, -1, -1, -1}));
    // Four frames: step 0.75 is raised to 1.
    strip_->ShowScene(dir_.Path("missing.avi"), 0, 3);
    EXPECT_EQ(strip_->Frames(), (std::vector<int>{0, 1, 2, 3, -1}));
}

TEST_F(PictureStripTest, ThreeFrameSceneDrawsItsFramesThenGrey) {
    const std::string path = ColourFile();
    strip_->ShowScene(path, 10, 12);
    ASSERT_TRUE(strip_->Decoder().IsAttached());
    strip_->DrawNow();
    const QImage image = strip_->Drawing().toImage();
    ASSERT_EQ(image.size(), QSize(500, 89));

    const Rgb expected[] = {kRed, kGreen, kBlue};
    for (int i = 0; i < 3; ++i) {
        const QColor c = PictureColour(image, i);
        EXPECT_TRUE(Near(c, expected[i])) << "picture " << i << " is " << Describe(c);
        // A label on grey: some dark text pixels in its row.
        EXPECT_FALSE(LabelAllGrey(image, i)) << "label " << i;
    }
    for (int i = 3; i < 5; ++i) {
        EXPECT_EQ(PictureColour(image, i), kGrey) << "picture " << i;
        EXPECT_TRUE(LabelAllGrey(image, i)) << "label " << i;
    }
    // Pictures are one pixel narrower than their cells: a gap between them.
    const QRect first = strip_->PictureArea(0);
    EXPECT_EQ(first, QRect(0, 15, 99, 73));
    EXPECT_NE(image.pixelColor(first.right() + 1, first.center().y()), kGrey);
    EXPECT_FALSE(Near(image.pixelColor(first.right() + 1, first.center().y()), kRed));
}

TEST_F(PictureStripTest, PicturesAreTheRightWayUp) {
    const std::string path = dir_.Path("halves.avi");
    ASSERT_TRUE(
        qvtest::WriteFixtureAvi(path, FixtureOptions{}, {FixtureFrame{frames_->halves, {}}}));
    strip_->ShowScene(path, 0, 0);
    strip_->DrawNow();
    const QImage image = strip_->Drawing().toImage();
    const QRect area = strip_->PictureArea(0);
    const QColor top = image.pixelColor(area.center().x(), area.top() + area.height() / 4);
    const QColor bottom = image.pixelColor(area.center().x(), area.bottom() - area.height() / 4);
    EXPECT_TRUE(Near(top, kRed)) << Describe(top);
    EXPECT_TRUE(Near(bottom, kBlue)) << Describe(bottom);
    EXPECT_EQ(PictureColour(image, 1), kGrey);
}

TEST_F(PictureStripTest, FramesThatCannotBeDecodedAreGrey) {
    // Video chunks far shorter than a DV frame.
    FixtureOptions options;
    const std::string path = dir_.Path("short.avi");
    ASSERT_TRUE(
        qvtest::WriteFixtureAvi(path, options, qvtest::MakePatternFrames(options, 5, 1000)));
    strip_->ShowScene(path, 0, 4);
    strip_->DrawNow();
    QImage image = strip_->Drawing().toImage();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(PictureColour(image, i), kGrey) << "picture " << i;
        EXPECT_FALSE(LabelAllGrey(image, i)) << "label " << i;  // frames exist: labels show
    }

    // A file that does not exist.
    strip_->ShowScene(dir_.Path("missing.avi"), 0, 4);
    EXPECT_FALSE(strip_->Decoder().IsAttached());
    strip_->DrawNow();
    image = strip_->Drawing().toImage();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(PictureColour(image, i), kGrey) << "picture " << i;
    }
}

TEST_F(PictureStripTest, ShowNoneLetsGoOfTheFileAndDrawsGreyWithoutLabels) {
    // Nothing shown yet: no labels, not even "00:00:00" for the empty range.
    EXPECT_FALSE(strip_->ShowsScene());
    EXPECT_EQ(strip_->Labels(), std::vector<std::string>(5));
    const std::string path = ColourFile();
    strip_->ShowScene(path, 10, 12);
    ASSERT_TRUE(strip_->Decoder().IsAttached());
    strip_->DrawNow();
    strip_->ShowNone();
    EXPECT_FALSE(strip_->Decoder().IsAttached());
    EXPECT_EQ(strip_->Decoder().FileName(), "");
    EXPECT_FALSE(strip_->ShowsScene());
    EXPECT_EQ(strip_->Frames(), std::vector<int>(5, -1));
    // What was drawn goes away shortly, as after any change of the shown scene.
    EXPECT_TRUE(strip_->TimerActive());
    EXPECT_EQ(strip_->TimerInterval(), 100);
    strip_->DrawNow();
    const QImage image = strip_->Drawing().toImage();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(PictureColour(image, i), kGrey) << "picture " << i;
        EXPECT_TRUE(LabelAllGrey(image, i)) << "label " << i;
    }
    // The same scene again opens the file again.
    strip_->ShowScene(path, 10, 12);
    EXPECT_TRUE(strip_->Decoder().IsAttached());
    EXPECT_TRUE(strip_->TimerActive());
}

TEST_F(PictureStripTest, ReselectedScenesComeFromTheCache) {
    const std::string path = ColourFile();
    strip_->ShowScene(path, 10, 12);
    strip_->DrawNow();
    // The two grey pictures past the end share one key.
    EXPECT_EQ(strip_->RenderCount(), 4);
    EXPECT_EQ(strip_->Cache().BytesPerPicture(), 99 * 73 * 3);
    // Frames 0..2 are new; the grey picture past the end is cached already.
    strip_->ShowScene(path, 0, 2);
    strip_->DrawNow();
    EXPECT_EQ(strip_->RenderCount(), 7);
    EXPECT_TRUE(Near(PictureColour(strip_->Drawing().toImage(), 0), kFiller));
    strip_->ShowScene(path, 10, 12);
    strip_->DrawNow();
    EXPECT_EQ(strip_->RenderCount(), 7);
    EXPECT_TRUE(Near(PictureColour(strip_->Drawing().toImage(), 2), kBlue));
    // Another size is another key.
    strip_->setGeometry(0, 0, 400, 89);
    strip_->DrawNow();
    EXPECT_EQ(strip_->RenderCount(), 11);
}

TEST_F(PictureStripTest, TimerFollowsSceneChangesAndRepaints) {
    const std::string path = ColourFile();
    EXPECT_FALSE(strip_->TimerActive());
    strip_->ShowScene(path, 10, 12);
    EXPECT_TRUE(strip_->TimerActive());
    EXPECT_EQ(strip_->TimerInterval(), 100);
    strip_->DrawNow();
    EXPECT_FALSE(strip_->TimerActive());
    // The same file and range: nothing to draw.
    strip_->ShowScene(path, 10, 12);
    EXPECT_FALSE(strip_->TimerActive());
    // Another range of the same file.
    strip_->ShowScene(path, 10, 11);
    EXPECT_TRUE(strip_->TimerActive());
    EXPECT_EQ(strip_->TimerInterval(), 100);

    parent_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent_));
    strip_->DrawNow();
    EXPECT_FALSE(strip_->TimerActive());  // its own repaint starts nothing
    strip_->repaint();
    EXPECT_TRUE(strip_->TimerActive());
    EXPECT_EQ(strip_->TimerInterval(), 50);
    parent_.hide();
}

TEST_F(PictureStripTest, PlaceOverTakesTheFrameAndTheLabelRowAboveIt) {
    QWidget frame(&parent_);
    frame.setGeometry(10, 120, 300, 60);
    strip_->PlaceOver(&frame);
    EXPECT_EQ(strip_->geometry(), QRect(10, 105, 300, 75));
    EXPECT_EQ(strip_->PictureArea(0), QRect(0, 15, 59, 59));
}

}  // namespace
