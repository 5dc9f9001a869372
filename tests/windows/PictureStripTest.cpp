// The picture strip under the scene list: five pictures of the selected scene,
// from its first frame to its last in quarter steps, each under its offset.

#include "progress/PictureStrip.h"

#include "windows/WindowTests.h"

namespace {

using qvtest::Near;
using qvtest::Rgb;

constexpr Rgb kRed{210, 40, 40};
constexpr Rgb kGreen{40, 200, 60};
constexpr Rgb kBlue{40, 50, 210};
const QColor kGrey(160, 160, 160);

TEST(PictureStripTest, ShowsTheScenesFramesInQuarterStepsUnderTheirOffsetsAndGreyPastTheEnd) {
    qv::framesPerSecond = 25.0f;
    const auto red = qvtest::EncodeDvColour(true, kRed);
    ASSERT_EQ(red.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
    QWidget parent;
    parent.resize(600, 200);
    auto* strip = new qv::PictureStrip(&parent, "");
    strip->setGeometry(0, 0, 500, 89);                        // five cells of 100 pixels
    EXPECT_EQ(strip->Labels(), std::vector<std::string>(5));  // nothing shown, no labels
    qvtest::TempDir dir;
    strip->ShowScene(dir.Path("missing.avi"), 1000, 1100);
    EXPECT_EQ(strip->Labels(), (std::vector<std::string>{"00:00:00", "00:01:00", "00:02:00",
                                                         "00:03:00", "00:04:00"}));

    // Frames 0, 1 and 2 red, green and blue above red.
    const std::string path = dir.Path("colours.avi");
    ASSERT_TRUE(qvtest::WriteFixtureAvi(path, qvtest::FixtureOptions{},
                                        {{red, {}},
                                         {qvtest::EncodeDvColour(true, kGreen), {}},
                                         {qvtest::EncodeDvHalves(true, kBlue, kRed), {}}}));
    auto draw = [strip] {
        strip->DrawNow();
        return strip->Drawing().toImage();
    };
    auto at = [strip](const QImage& image, int index, double fy = 0.5) {
        const QRect area = strip->PictureArea(index);
        return image.pixelColor(area.center().x(),
                                area.top() + static_cast<int>(area.height() * fy));
    };
    strip->ShowScene(path, 0, 2);
    const QImage image = draw();
    EXPECT_TRUE(Near(at(image, 0), kRed));
    EXPECT_TRUE(Near(at(image, 1), kGreen));
    EXPECT_TRUE(Near(at(image, 2, 0.25), kBlue));  // the right way up
    EXPECT_TRUE(Near(at(image, 2, 0.75), kRed));
    EXPECT_EQ(std::pair(at(image, 3), at(image, 4)), std::pair(kGrey, kGrey));

    // No scene: the file is let go of, the pictures go grey without labels.
    strip->ShowNone();
    EXPECT_EQ(std::tuple(strip->Decoder().IsAttached(), at(draw(), 0), strip->Labels()),
              std::tuple(false, kGrey, std::vector<std::string>(5)));
}

}  // namespace
