#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Ffmpeg.h"
#include "support/Shell.h"

namespace {

// Three recordings of ffmpeg's clip (90 frames, three scenes of 30): frames 40-42
// lost whole, audio errors in frame 75, scene 1 clean.
std::string WriteDamagedTape(const qvtest::TempDir& dir) {
    std::string why;
    const qvtest::DvClip* clip = qvtest::RealDvClip(qvtest::kPal, &why);
    EXPECT_NE(clip, nullptr) << why;
    std::vector<uint8_t> bytes;
    for (int copy = 0; clip != nullptr && copy < 3; ++copy) {
        for (int i = 0; i < 30; ++i) {
            std::vector<uint8_t> f = clip->frames[static_cast<size_t>(i)];
            const int n = copy * 30 + i;
            for (int s = 0; s < 12 && n >= 40 && n <= 42; ++s) {
                for (int k = 0; k < 135; ++k) {  // every video block's status: in error
                    f[static_cast<size_t>(s * 12000 + (7 + 16 * (k / 15) + k % 15) * 80 + 3)] |= 0xF0;
                }
            }
            for (int d = 8; n == 75 && d < 80; d += 2) {  // sequence 0, audio block 0
                f[static_cast<size_t>(6 * 80 + d)] = 0x80;
                f[static_cast<size_t>(6 * 80 + d + 1)] = 0x00;
            }
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
    }
    const std::string path = dir.Path("damaged.dv");
    EXPECT_TRUE(qvtest::WriteFileBytes(path, bytes));
    return path;
}

// The map's layout: 1200 pixels wide, 16 of margin, the band 24 below the row's top
// and 48 high.
int X(int frame) { return 16 + frame * 1168 / 90; }
constexpr int kBandTop = 16 + 24, kBandFoot = kBandTop + 47;

TEST(TapeReport, ThePictureShowsTheScenesBandsAndTheirDamage) {
    qvtest::TempDir dir;
    const std::string tape = WriteDamagedTape(dir);
    const std::string png = dir.Path("map.png");
    const qvtest::CliResult r =
        qvtest::RunCli(dir, "report " + qvtest::Quote(tape) + " -o " + qvtest::Quote(png));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, png + ": 3 scenes, 2 damaged\n");
    // ffmpeg reads the PNG back as RGB bytes.
    const std::string raw = dir.Path("map.rgb");
    ASSERT_EQ(qvtest::RunShell("ffmpeg -v error -nostdin -i " + qvtest::Quote(png) +
                               " -f rawvideo -pix_fmt rgb24 " + qvtest::Quote(raw))
                  .status,
              0);
    const std::vector<uint8_t> rgb = qvtest::ReadFileBytes(raw);
    ASSERT_EQ(rgb.size(), size_t{1200} * (96 + 16) * 3);
    const auto at = [&](int x, int y) {
        const size_t i = (static_cast<size_t>(y) * 1200 + static_cast<size_t>(x)) * 3;
        return rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2];
    };
    const int blue = 0xcfe3f7, green = 0xd8efd0, red = 0xd62728, orange = 0xff8c00;
    EXPECT_EQ(at(X(15), kBandFoot), blue);   // scene 1, clean
    EXPECT_EQ(at(X(50), kBandFoot), green);  // scene 2 beside its damage
    EXPECT_EQ(at(X(85), kBandFoot), blue);   // scene 3
    for (int f : {40, 41, 42}) {             // lost whole: the band's full height
        EXPECT_EQ(at(X(f) + 2, kBandFoot), red) << f;
        EXPECT_EQ(at(X(f) + 2, kBandTop + 20), red) << f;
    }
    EXPECT_EQ(at(X(75) + 2, kBandTop + 2), orange);  // sound: from the top
    EXPECT_EQ(at(X(75) + 2, kBandFoot), blue);       // the picture is whole
    EXPECT_EQ(at(X(39) - 1, kBandFoot), green);
    EXPECT_EQ(at(X(43) + 1, kBandFoot), green);
}

TEST(TapeReport, ThePageHoldsTheMapTheScenesAndTheTotals) {
    qvtest::TempDir dir;
    const std::string tape = WriteDamagedTape(dir);
    const std::string html = dir.Path("report.html");
    const qvtest::CliResult r =
        qvtest::RunCli(dir, "report " + qvtest::Quote(tape) + " -o " + qvtest::Quote(html));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(html);
    const std::string page(bytes.begin(), bytes.end());
    const auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = page.find(what); at != std::string::npos; at = page.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("<svg "), 1u);
    // The bands, and the marks of the lost frames at their places.
    EXPECT_EQ(count("height=\"48\" fill=\"#cfe3f7\""), 2u);
    EXPECT_EQ(count("height=\"48\" fill=\"#d8efd0\""), 1u);
    for (int f : {40, 41, 42}) {
        EXPECT_EQ(count("<rect x=\"" + std::to_string(X(f)) + "\" y=\"40\" width=\"12\" height=\"48\" fill=\"#d62728\"/>"), 1u) << f;
    }
    EXPECT_EQ(count("fill=\"#d62728\""), 3u);
    EXPECT_EQ(count("<rect x=\"" + std::to_string(X(75)) + "\" y=\"40\" width=\"12\" height=\"12\" fill=\"#ff8c00\"/>"), 1u);
    // One row a scene, each with its first picture; the damaged ones marked.
    EXPECT_EQ(count("<img width=\"96\" height=\"72\" src=\"data:image/png;base64,"), 3u);
    EXPECT_EQ(count("<tr class=\"damaged\">"), 2u);
    EXPECT_EQ(count("<td>00:01:05</td><td>00:01:05</td><td>datestamp</td><td>3 damaged frames: "
                    "4860 concealed blocks; longest run 3 frames at 00:01:15</td>"),
              1u);
    EXPECT_EQ(count("<td>no damage</td>"), 1u);
    EXPECT_EQ(count("3 scenes, 00:03:15 (90 frames); 4 damaged frames: 4860 concealed blocks, "
                    "36 audio errors; longest run 3 frames at 00:01:15"),
              1u);
}

}  // namespace
