// quorvandel-cli sheet: scanned scenes printed into a PDF, read back with
// poppler's pdfinfo and pdfimages.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "support/AviFixture.h"
#include "support/CliFixture.h"
#include "support/DvPictures.h"
#include "support/Pdf.h"
#include "support/SceneSetup.h"
#include "support/Shell.h"
#include "support/TimeZone.h"

namespace {

using qvtest::Quote;

class CliSheetTest : public qvtest::CliTest {
  protected:
    void SetUp() override {
        // Three recordings of 10 frames, an hour apart, each of its own colour.
        const qvtest::Rgb colours[] = {{210, 40, 40}, {40, 200, 60}, {40, 50, 210}};
        std::vector<std::vector<uint8_t>> video;
        for (int scene = 0; scene < 3; ++scene) {
            std::vector<uint8_t> picture = qvtest::EncodeDvColour(true, colours[scene]);
            ASSERT_EQ(picture.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
            for (int f = 0; f < 10; ++f) {
                qvtest::SetDvTime(picture, qvtest::DvTime{2004, 7, 14, 10 + scene, 0, f / 25});
                video.push_back(picture);
            }
        }
        ASSERT_TRUE(qvtest::WriteVideoAvi(tape_, qvtest::Type1Options(), std::move(video)));
    }

    qvtest::ScopedEnv settings_{"QUORVANDEL_SETTINGS", dir_.Path("settings.reg").c_str()};
    const std::string tape_ = dir_.Path("tape.avi");
};

TEST_F(CliSheetTest, PrintsOnePictureImagePerPictureOfTheChosenScenes) {
    const std::string pdf = dir_.Path("sheet.pdf");
    qvtest::CliResult r = Run("sheet " + Quote(tape_) + " -o " + Quote(pdf) +
                              " --pics-per-scene 2 --headline 'Summer 2004' --only 1,3"
                              " --font-size 6");  // small enough for the whole names
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, pdf + ": 1 page\n");
    const qvtest::PdfFacts facts = qvtest::ReadPdf(pdf);
    ASSERT_GE(facts.pages, 0) << "pdfinfo (poppler-utils) is needed";
    EXPECT_EQ(std::tie(facts.pages, facts.title), std::make_tuple(1, "Quorvandel Clipsheet"));
    EXPECT_EQ(facts.images.size(), 4u);
    // The texts: the headline, each scene's time and length, its file name.
    const std::string text = qvtest::RunShell("pdftotext " + Quote(pdf) + " -").output;
    EXPECT_NE(text.find("Summer 2004"), std::string::npos) << text;
    EXPECT_NE(text.find("00:00:20 [00:00:10]"), std::string::npos) << text;
    EXPECT_NE(text.find("scenes'20040714 12.00.00"), std::string::npos) << text;
    EXPECT_EQ(text.find("scenes'20040714 11.00.00"), std::string::npos) << text;

    // All scenes, one picture each, without texts.
    r = Run("sheet " + Quote(tape_) + " -o " + Quote(pdf) + " --pics-per-scene 1 --no-file-names --no-timecode");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(qvtest::ReadPdf(pdf).images.size(), 3u);
    EXPECT_EQ(qvtest::RunShell("pdftotext " + Quote(pdf) + " -").output.find("scenes'"),
              std::string::npos);
}

// The headline's limit counts characters, not bytes; the texts at the default size;
// the help says what the picture count and the offset do.
TEST_F(CliSheetTest, HeadlineLimitInCharactersTextsAtTheDefaultSizeAndTheHelp) {
    const std::string sheet = "sheet " + Quote(tape_) + " -o " + Quote(dir_.Path("s.pdf"));
    const std::string ten = "\u00e9\u00e8\u00ea\u00eb\u00e0\u00e2\u00e4\u00f4\u00f6\u00fc",
                      accented = ten + ten + ten + ten + ten + ten;
    qvtest::CliResult r = Run(sheet + " --headline " + Quote(accented));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The page shows what of so long a headline fits its width. At the default size a
    // time and its length fit their picture; a name too long for it ends in an ellipsis.
    const std::string text =
        qvtest::RunShell("pdftotext " + Quote(dir_.Path("s.pdf")) + " -").output;
    EXPECT_NE(text.find(accented.substr(0, 20)), std::string::npos) << text;
    EXPECT_NE(text.find("00:00:00 [00:00:10]"), std::string::npos) << text;
    EXPECT_NE(text.find("scenes'20040714 \u2026"), std::string::npos) << text;
    r = Run(sheet + " --headline " + Quote(accented + accented));
    EXPECT_EQ(std::pair(r.exitCode, r.err.rfind("quorvandel-cli: --headline takes at most 80", 0)),
              std::pair(2, size_t{0}));
    const std::string help = Run("sheet --help").out;
    EXPECT_NE(help.find("the least number of pictures of a scene"), std::string::npos) << help;
    EXPECT_NE(help.find("a non-zero time starts a running time"), std::string::npos) << help;
}

}  // namespace
