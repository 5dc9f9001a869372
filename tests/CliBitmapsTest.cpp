// quorvandel-cli bitmaps: a tape of real DV pictures made here, its scenes'
// middle frames saved as bitmaps.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/DvPictures.h"
#include "support/Shell.h"
#include "support/Tapes.h"

namespace {

using qvtest::CliResult;
using qvtest::DvTime;
using qvtest::Quote;
using qvtest::Rgb;

using qvtest::GetLe32;

class CliBitmapsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static const std::vector<uint8_t> picture = qvtest::EncodeDvColour(true, Rgb{40, 90, 200});
        ASSERT_EQ(picture.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        // Two recordings an hour apart, of 4 and 3 frames.
        qvtest::FixtureOptions type1;
        type1.type = qvtest::DvType::Type1;
        std::vector<qvtest::FixtureFrame> frames;
        for (int i = 0; i < 7; ++i) {
            std::vector<uint8_t> frame = picture;
            qvtest::SetDvTime(frame, i < 4 ? kFirst : kSecond);
            frames.push_back({frame, {}});
        }
        ASSERT_TRUE(qvtest::WriteFixtureAvi(tape_, type1, frames));
    }

    CliResult Run(const std::string& args) { return qvtest::RunCli(dir_, args); }

    static constexpr DvTime kFirst{2004, 7, 14, 10, 20, 30};
    static constexpr DvTime kSecond{2004, 7, 14, 11, 20, 30};
    qvtest::TempDir dir_;
    const std::string tape_ = dir_.Path("tape.avi");
    const std::string first_ = dir_.Path("pic'20040714 10.20.30.bmp");
    const std::string second_ = dir_.Path("pic'20040714 11.20.30.bmp");
};

// Every scene's middle frame is saved and each file printed; a file that is no bitmap
// is replaced only with --yes.
TEST_F(CliBitmapsTest, SavesEveryScenesMiddleFrameAndPrintsEachFile) {
    const std::vector<uint8_t> text{'n', 'o', 't', 'e', 's'};
    ASSERT_TRUE(qvtest::WriteFileBytes(first_, text));
    const std::string args = "bitmaps " + Quote(tape_) + " -o " + Quote(dir_.Path("pic.bmp"));
    CliResult r = Run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, second_ + "\n");
    EXPECT_NE(r.err.find(first_ + ": not saved"), std::string::npos) << r.err;
    EXPECT_EQ(qvtest::ReadFileBytes(first_), text);

    r = Run(args + " --yes");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, first_ + "\n" + second_ + "\n");
    const std::vector<uint8_t> file = qvtest::ReadFileBytes(first_);
    ASSERT_EQ(file.size(), 1244214u);
    EXPECT_EQ(GetLe32(file, 18), 720u);
    EXPECT_EQ(GetLe32(file, 22), 576u);
    EXPECT_EQ(qvtest::ReadFileBytes(second_).size(), 1244214u);
}

TEST_F(CliBitmapsTest, ChoosesByNumberAndLengthAndShapesThePicture) {
    // A base picked from an earlier picture names the same base; no extension: .bmp.
    CliResult r = Run("bitmaps " + Quote(tape_) + " -o " + Quote(dir_.Path("pic'#0003")) +
                      " --only 2 --crop 3,3 --deinterlace even");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, second_ + "\n");
    const std::vector<uint8_t> file = qvtest::ReadFileBytes(second_);
    ASSERT_EQ(file.size(), 54u + 712u * 3u * 570u);
    EXPECT_EQ(GetLe32(file, 18), 712u);

    // Both scenes are far from 6 seconds long.
    r = Run("bitmaps " + Quote(tape_) + " -o " + Quote(dir_.Path("len.bmp")) + " --length 6");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("No scenes match the criterias!"), std::string::npos) << r.err;

    r = Run("bitmaps " + Quote(tape_) + " -o " + Quote(dir_.Path("pic.bmp")) + " --only 3");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("there is no scene 3"), std::string::npos) << r.err;
}

}  // namespace
