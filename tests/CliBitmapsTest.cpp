// quorvandel-cli bitmaps: a tape of real DV pictures made here, its scenes'
// middle frames saved as bitmaps, and one picture compared with ffmpeg's decode
// of the same frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/CliFixture.h"
#include "support/DvPictures.h"
#include "support/SceneSetup.h"
#include "support/Shell.h"
#include "support/Tapes.h"

namespace {

using qvtest::DvTime;
using qvtest::Quote;
using qvtest::Rgb;

using qvtest::GetLe32;

// A smooth picture: ffmpeg and the program decode the same frame; only the colour
// conversion can round differently.
Rgb Gradient(int x, int y) {
    return Rgb{static_cast<uint8_t>(16 + x * 220 / 720), static_cast<uint8_t>(16 + y * 220 / 576),
               static_cast<uint8_t>(128 + (x - y) / 8)};
}

class CliBitmapsTest : public qvtest::CliTest {
  protected:
    void SetUp() override {
        static const std::vector<uint8_t> picture = qvtest::EncodeDvPicture(true, Gradient);
        ASSERT_EQ(picture.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        // Two recordings an hour apart, of 4 and 3 frames.
        std::vector<std::vector<uint8_t>> video(7, picture);
        for (size_t i = 0; i < video.size(); ++i) {
            qvtest::SetDvTime(video[i], i < 4 ? kFirst : kSecond);
        }
        ASSERT_TRUE(qvtest::WriteVideoAvi(tape_, qvtest::Type1Options(), std::move(video)));
    }

    static constexpr DvTime kFirst{2004, 7, 14, 10, 20, 30};
    static constexpr DvTime kSecond{2004, 7, 14, 11, 20, 30};
    const std::string tape_ = dir_.Path("tape.avi");
    const std::string first_ = dir_.Path("pic'20040714 10.20.30.bmp");
    const std::string second_ = dir_.Path("pic'20040714 11.20.30.bmp");
};

// Every scene's middle frame is saved and each file printed; a file that is no bitmap
// is replaced only with --yes. ffmpeg decodes the tape's frame 2 (the middle of the first
// scene's 4 frames) through the same bilinear colour conversion; the two pictures agree
// up to rounding, the right way up.
TEST_F(CliBitmapsTest, SavesEveryScenesMiddleFrameAsFfmpegDecodesIt) {
    const std::vector<uint8_t> text{'n', 'o', 't', 'e', 's'};
    ASSERT_TRUE(qvtest::WriteFileBytes(first_, text));
    const std::string args = "bitmaps " + Quote(tape_) + " -o " + Quote(dir_.Path("pic.bmp"));
    qvtest::CliResult r = Run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, second_ + "\n");
    EXPECT_NE(r.err.find(first_ + ": not saved"), std::string::npos) << r.err;
    EXPECT_EQ(qvtest::ReadFileBytes(first_), text);

    r = Run(args + " --yes");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, first_ + "\n" + second_ + "\n");
    EXPECT_EQ(qvtest::ReadFileBytes(second_).size(), 1244214u);

    const std::string raw = dir_.Path("frame.bgr");
    const std::string decode = "ffmpeg -v error -nostdin -y -i " + Quote(tape_) +
                               " -map 0:v:0 -vf 'select=eq(n\\,2)' -frames:v 1 -sws_flags bilinear"
                               " -pix_fmt bgr24 -f rawvideo " + Quote(raw) + " 2>&1";
    ASSERT_EQ(std::system(decode.c_str()), 0) << decode;
    const std::vector<uint8_t> theirs = qvtest::ReadFileBytes(raw),
                               ours = qvtest::ReadFileBytes(first_);
    ASSERT_EQ(theirs.size(), 720u * 576u * 3u);
    ASSERT_EQ(ours.size(), 1244214u);
    EXPECT_EQ(std::make_pair(GetLe32(ours, 18), GetLe32(ours, 22)), std::make_pair(720u, 576u));
    int maxDiff = 0;
    int64_t sum = 0;
    for (int y = 0; y < 576; ++y) {
        // The bitmap is bottom-up, ffmpeg's rows top-down.
        const uint8_t* a = ours.data() + 54 + static_cast<size_t>(575 - y) * 2160;
        const uint8_t* b = theirs.data() + static_cast<size_t>(y) * 2160;
        for (int i = 0; i < 2160; ++i) {
            maxDiff = std::max(maxDiff, std::abs(a[i] - b[i]));
            sum += std::abs(a[i] - b[i]);
        }
    }
    EXPECT_LE(maxDiff, 3);
    EXPECT_LT(static_cast<double>(sum) / (720.0 * 576.0 * 3.0), 0.5);
}

}  // namespace
