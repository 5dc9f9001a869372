#include <gtest/gtest.h>

#include <cmath>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "app/MainView.h"
#include "app/MainWindowModel.h"
#include "app/SceneList.h"
#include "dv/OpticalScan.h"
#include "dv/PackedDib.h"
#include "platform/Platform.h"
#include "support/AviFixture.h"
#include "support/DvPictures.h"
#include "support/FakeQuestions.h"
#include "support/RecordingProgress.h"
#include "support/SceneSetup.h"

// The scan decodes real DV pictures: textured ones, since between the fields of
// a flat picture the distance sits at the floor and cuts out of flat pictures
// are a known weak spot of the measure.

namespace {

using Video = std::vector<std::vector<uint8_t>>;
using qv::FieldSignature;
using qvtest::Rgb;

// A patchwork of blocks that do not line up with the signature's cells, moved
// right by shift pixels: each block is base with every channel off by up to
// +-20. (Pictures of full-range random blocks all look alike to the measure,
// which accumulates the distances to every cell around: what tells scenes apart
// is their colouring, as in real video.)
Rgb Patchwork(int x, int y, uint32_t seed, int shift, Rgb base) {
    const int bx = (x - shift + 7200) / 45;
    const int by = y / 40;
    uint32_t h =
        seed * 2654435761u ^ static_cast<uint32_t>(bx) * 40503u ^ static_cast<uint32_t>(by) * 9973u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    const auto channel = [&](uint8_t b, int bits) {
        return static_cast<uint8_t>(
            std::clamp(b + static_cast<int>((h >> bits) % 41) - 20, 0, 255));
    };
    return Rgb{channel(base.r, 0), channel(base.g, 8), channel(base.b, 16)};
}

constexpr Rgb kWarm{180, 110, 60};
constexpr Rgb kCool{60, 110, 180};
constexpr Rgb kLight{200, 200, 200};

std::vector<uint8_t> EncodePatchwork(uint32_t seed, Rgb base, int shift = 0) {
    return qvtest::EncodeDvPicture(
        true, [=](int x, int y) { return Patchwork(x, y, seed, shift, base); });
}

// Every distinct picture is encoded once for all tests.
struct Pictures {
    std::vector<uint8_t> a = EncodePatchwork(1, kWarm);
    std::vector<uint8_t> b = EncodePatchwork(2, kCool);
    std::vector<uint8_t> flash = EncodePatchwork(3, kLight);
};

class OpticalScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(P().a.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
    }
    static const Pictures& P() { return qvtest::Once<Pictures>(); }

    // A type-2 PAL file of the given video chunks (no audio).
    std::string WriteFile(const std::string& name, const Video& video,
                          qvtest::DvType type = qvtest::DvType::Type2) {
        qvtest::FixtureOptions options;
        options.type = type;
        const std::string path = dir_.Path(name);
        EXPECT_TRUE(qvtest::WriteVideoAvi(path, options, video));
        return path;
    }

    // 101 frames of one picture and 59 of another.
    static Video HardCut() {
        Video video(101, P().a);
        video.resize(160, P().b);
        return video;
    }

    // Scans one file; the scenes as (first frame, frame count) pairs.
    int Scan(const std::string& path, int sensitivity = 2) {
        qv::OpticalScanContext context{scenes_, questions_, recorder_, sensitivity,
                                       {},      &tick_,     &decoded_};
        return qv::ScanFileOptical(context, path, framesDone_);
    }
    std::vector<std::pair<int, int>> Found() const {
        std::vector<std::pair<int, int>> spans;
        for (const qv::Scene& s : scenes_) {
            spans.emplace_back(s.firstFrame, s.frameCount);
        }
        return spans;
    }

    qvtest::TempDir dir_;
    qv::SceneList scenes_;
    qvtest::FakeQuestions questions_;
    qvtest::ProgressLog progress_;
    qvtest::RecordingProgress recorder_{progress_};
    uint32_t tick_ = qv::TickCount();
    int64_t framesDone_ = 0;
    int64_t decoded_ = 0;
};

using Spans = std::vector<std::pair<int, int>>;

// ---- the measure on hand-made signatures ----

TEST(OpticalMeasureTest, CellDistanceIsTheMeanRelativeChannelDifference) {
    // blue 50/100, green 100/200, red 50/50 of the larger value, each x 255.
    EXPECT_EQ(qv::CellDistance({100, 200, 50}, {50, 100, 0}), (127 + 127 + 255) / 3);
    EXPECT_EQ(qv::CellDistance({50, 100, 0}, {100, 200, 50}), 169);
    EXPECT_EQ(qv::CellDistance({0, 0, 0}, {0, 0, 0}), 0);  // no division by 0
    EXPECT_EQ(qv::CellDistance({255, 255, 255}, {254, 254, 254}), 1);
}

// The distance of two signatures, against the measure written out cell by cell:
// for each cell of the second, the cells of the first within three columns and rows
// of it (fewer at the edges), columns outer, summed by the scan's rule (a distance
// counts while it is below the sum so far); the root of the sum of the squares.
// Random signatures, and ones that differ in a single cell at each corner and edge.
TEST(OpticalMeasureTest, SignatureDistanceComparesEachCellWithItsNeighbourhood) {
    const auto reference = [](const FieldSignature& a, const FieldSignature& b) {
        double sum = 0;
        for (int x = 0; x < qv::kSignatureColumns; ++x) {
            for (int y = 0; y < qv::kSignatureRows; ++y) {
                int32_t best = -1;
                for (int dx = -3; dx <= 3; ++dx) {
                    for (int dy = -3; dy <= 3; ++dy) {
                        const int k = x + dx, r = y + dy;
                        if (k < 0 || k >= qv::kSignatureColumns || r < 0 ||
                            r >= qv::kSignatureRows) {
                            continue;
                        }
                        const int32_t d = qv::CellDistance(a.At(r, k), b.At(y, x));
                        if (d < best || best == -1) {
                            best += d;
                        }
                    }
                }
                sum += static_cast<double>(best) * best;
            }
        }
        return std::sqrt(sum);
    };
    uint32_t seed = 7;
    const auto next = [&] { return static_cast<int32_t>((seed = seed * 1103515245u + 12345u) >> 24); };
    std::vector<std::pair<FieldSignature, FieldSignature>> pairs;
    for (int i = 0; i < 4; ++i) {
        FieldSignature a, b;
        for (size_t c = 0; c < a.cells.size(); ++c) {
            a.cells[c] = {next(), next(), next()};
            b.cells[c] = i == 0 ? a.cells[c] : qv::SignatureCell{next(), next(), next()};
        }
        pairs.emplace_back(a, b);
    }
    for (const auto& [row, column] : {std::pair{0, 0}, std::pair{0, 19}, std::pair{14, 0},
                                      std::pair{14, 19}, std::pair{7, 10}, std::pair{0, 9}}) {
        FieldSignature a;
        a.cells.fill({100, 100, 100});
        FieldSignature b = a;
        b.At(row, column) = {10, 250, 30};
        pairs.emplace_back(a, b);
        pairs.emplace_back(b, a);
    }
    for (size_t i = 0; i < pairs.size(); ++i) {
        const double expected = reference(pairs[i].first, pairs[i].second);
        // The scan sums in single precision.
        EXPECT_NEAR(qv::SignatureDistance(pairs[i].first, pairs[i].second), expected,
                    expected * 1e-6 + 1e-3)
            << "pair " << i;
    }
}

// The five sensitivities by their texts and factors; an index outside them (a
// damaged settings file) has no text and the default's factor.
TEST(OpticalMeasureTest, SensitivitiesAndIndexesOutsideThem) {
    const std::pair<const char*, float> presets[] = {{"very high - \"studio camera\"", 1.03f},
                                                     {"high", 1.08f},
                                                     {"medium", 1.13f},
                                                     {"low", 1.18f},
                                                     {"very low - \"shaky Homevideo\"", 1.21f}};
    ASSERT_EQ(std::size(presets), static_cast<size_t>(qv::kOpticalSensitivities));
    for (int i = -2; i < qv::kOpticalSensitivities + 2; ++i) {
        const bool inside = i >= 0 && i < qv::kOpticalSensitivities;
        EXPECT_EQ(qv::SensitivityText(i), inside ? presets[i].first : "") << i;
        EXPECT_EQ(qv::SensitivityFactor(i),
                  presets[inside ? i : qv::kDefaultOpticalSensitivity].second)
            << i;
    }
}

// ---- the grid ----

TEST(OpticalGridTest, FieldsTakeAlternateStoredRowsAndIgnoreTheEdges) {
    // 732 x 576: cells of 36 x 38; the 12 columns on the right and the 6 stored
    // rows at the end are not used. (Rows of 732 pixels need no padding.)
    qv::PackedDib picture = qv::PackedDib::Make24(732, 576);
    for (int row = 0; row < 576; ++row) {
        uint8_t* p = picture.Row(row);
        for (int x = 0; x < 732; ++x) {
            p[x * 3 + 0] = static_cast<uint8_t>(row < 128 ? row + row % 2 * 100 : 0);  // blue
            p[x * 3 + 1] = static_cast<uint8_t>(x < 720 ? x / 36 * 10 : 255);  // green: column
            p[x * 3 + 2] = static_cast<uint8_t>(row >= 570 ? 255 : 0);         // red: unused rows
        }
    }
    FieldSignature even;
    FieldSignature odd;
    even.key = 77;
    ASSERT_TRUE(qv::ComputeFieldSignature(picture, 0, even));
    ASSERT_TRUE(qv::ComputeFieldSignature(picture, 1, odd));
    EXPECT_EQ(even.key, 77);
    // Blue: the row, plus 100 on odd rows. Cell row 0 spans stored rows 0..37:
    // even rows average 18, odd ones 19.
    // Cell row 1: rows 38..74 and 39..75.
    EXPECT_EQ(
        std::tuple(even.At(0, 5).blue, odd.At(0, 5).blue, even.At(1, 0).blue, odd.At(1, 0).blue),
        std::tuple(18, 119, 56, 157));
    for (int x = 0; x < qv::kSignatureColumns; ++x) {
        EXPECT_EQ(even.At(3, x).green, x * 10);
        EXPECT_EQ(odd.At(14, x).green, x * 10);
        EXPECT_EQ(even.At(14, x).red, 0);
        EXPECT_EQ(odd.At(14, x).red, 0);
    }
}

TEST(OpticalGridTest, OddPicturesDoNotFail) {
    FieldSignature s;
    s.At(0, 0) = {9, 9, 9};
    // Too small for cells: every cell 0.
    qv::PackedDib tiny = qv::PackedDib::Make24(10, 10);
    ASSERT_TRUE(qv::ComputeFieldSignature(tiny, 1, s));
    EXPECT_EQ(s.At(0, 0), (qv::SignatureCell{0, 0, 0}));
    // Not a 24-bit picture, or no picture at all.
    EXPECT_FALSE(qv::ComputeFieldSignature(qv::PackedDib{}, 0, s));
    std::vector<uint8_t> block = qv::PackedDib::Make24(40, 30).Block();
    block[14] = 32;  // biBitCount
    EXPECT_FALSE(qv::ComputeFieldSignature(qv::PackedDib(block), 0, s));
}

// ---- signatures and comparisons of real pictures ----

TEST_F(OpticalScanTest, OneDecodeServesBothFieldsAndTheCacheTheRest) {
    const std::string path = WriteFile("ab.avi", {P().a, P().a, P().b, P().b});
    qv::OpticalScanner scanner;
    ASSERT_TRUE(scanner.Open(path));
    EXPECT_EQ(scanner.FrameCount(), 4);
    FieldSignature s;
    ASSERT_TRUE(scanner.GetSignature(1, 1, s));
    EXPECT_EQ(std::make_tuple(s.key, scanner.Decodes()), std::make_tuple(3, 1));
    ASSERT_TRUE(scanner.GetSignature(1, 0, s));
    EXPECT_EQ(std::make_tuple(s.key, scanner.Decodes()), std::make_tuple(2, 1));

    EXPECT_TRUE(scanner.SameScene(0, 1, 1, 0, 1.03f));
    EXPECT_EQ(scanner.Decodes(), 2);
    EXPECT_FALSE(scanner.SameScene(1, 1, 2, 0, 1.21f));
    EXPECT_EQ(scanner.Decodes(), 3);  // frames 0 and 1 came from the cache
    EXPECT_TRUE(scanner.SameScene(2, 1, 3, 0, 0.0f));
    EXPECT_EQ(scanner.Decodes(), 4);
    // Nothing open: no signature, no split.
    EXPECT_TRUE(qv::OpticalScanner().SameScene(0, 0, 1, 0, 1.0f));
}

TEST_F(OpticalScanTest, FieldsOfOneFrameThatDifferSetTheMeasureForTheNext) {
    // Lines alternate between two colourings: fast motion between the fields. The
    // next frame, the same again, differs from the first's second field no more
    // than its own fields do.
    const auto combed = qvtest::EncodeDvPicture(true, [](int x, int y) {
        return Patchwork(x, y, 5, 0, y % 2 == 0 ? kWarm : kCool);
    });
    qv::OpticalScanner scanner;
    ASSERT_TRUE(scanner.Open(WriteFile("combed.avi", {combed, combed})));
    EXPECT_TRUE(scanner.SameScene(0, 1, 1, 0, 1.03f));
}

TEST_F(OpticalScanTest, UnreadableFramesNeverSplitAScene) {
    const std::vector<uint8_t> shortChunk(1000, 0x55);
    const std::string path = WriteFile("gaps.avi", {P().a, shortChunk, {}, P().b});
    qv::OpticalScanner scanner;
    ASSERT_TRUE(scanner.Open(path));
    FieldSignature s;
    // The short chunk, the empty one, beyond the end and before the start.
    for (const auto& [frame, field] : {std::pair{1, 0}, {2, 1}, {4, 0}, {-1, 0}}) {
        EXPECT_FALSE(scanner.GetSignature(frame, field, s)) << frame;
    }
    for (const auto& [a, fieldA, b] : {std::tuple{0, 1, 1}, {1, 1, 3}, {2, 0, 0}}) {
        EXPECT_TRUE(scanner.SameScene(a, fieldA, b, 0, 1.03f)) << a;
    }
    EXPECT_FALSE(scanner.SameScene(0, 1, 3, 0, 1.03f));  // a readable pair still cuts
}

// ---- whole scans ----

TEST_F(OpticalScanTest, StillPictureIsOneWholeSceneFromFewDecodes) {
    const std::string path = WriteFile("still.avi", Video(150, P().a));
    tick_ = qv::TickCount() - 5000;  // the first probe shows a preview
    framesDone_ = 2560;                // the frames of earlier files
    EXPECT_EQ(Scan(path, 0), 0);
    EXPECT_EQ(Found(), (Spans{{0, 150}}));
    const qv::Scene& s = scenes_[0];
    EXPECT_EQ(s.sourceFile, path);
    EXPECT_EQ(std::tie(s.wholeFile, s.write, s.datestamp, s.pendingWrite, s.unscanned),
              std::make_tuple(1, 1, 0, 0, 0));
    EXPECT_EQ(s.outputName + s.referencedFile, "");
    EXPECT_EQ(framesDone_, 2710);
    // Steps of 27 and the cache: far fewer decodes than frames.
    EXPECT_LE(decoded_, 15);
    EXPECT_FLOAT_EQ(qv::framesPerSecond, 25.0f);

    ASSERT_EQ(progress_.texts.size(), 1u);
    EXPECT_EQ(progress_.texts[0], "scene #1; " + path + " " + qv::FormatFrameTime(0));
    ASSERT_GE(progress_.positions.size(), 2u);
    const auto& shown = progress_.positions.front();
    EXPECT_EQ(std::tie(shown.position, shown.fileName, shown.frame), std::make_tuple(10, path, 0));
    EXPECT_NE(shown.stream, nullptr);
    EXPECT_EQ(std::tie(progress_.positions.back().position, progress_.positions.back().stream),
              std::make_tuple(-1, nullptr));
    EXPECT_TRUE(questions_.asked.empty());
}

TEST_F(OpticalScanTest, HardCutsSplitAtEverySensitivity) {
    const std::string path = WriteFile("cut.avi", HardCut());
    for (int sensitivity : {0, 4}) {
        scenes_.Clear();
        EXPECT_EQ(Scan(path, sensitivity), 0);
        EXPECT_EQ(Found(), (Spans{{0, 101}, {101, 59}})) << sensitivity;
        EXPECT_EQ(scenes_[0].wholeFile + scenes_[1].wholeFile, 0);
    }
    ASSERT_GE(progress_.texts.size(), 2u);
    EXPECT_EQ(progress_.texts[1], "scene #2; " + path + " " + qv::FormatFrameTime(101));
    // A cut after the first frame of a type-1 file: the first comparison alone decides it.
    Video early(60, P().a);
    early[0] = P().b;
    scenes_.Clear();
    EXPECT_EQ(Scan(WriteFile("early.avi", early, qvtest::DvType::Type1)), 0);
    EXPECT_EQ(Found(), (Spans{{0, 1}, {1, 59}}));

}

TEST_F(OpticalScanTest, OneDisturbedFrameIsBridged) {
    // Frame 54 is reached at a step of 1 from 53, fails, and is bridged.
    Video video(120, P().a);
    video[54] = P().flash;
    const std::string path = WriteFile("flash.avi", video);
    for (int sensitivity : {0, 2, 4}) {
        scenes_.Clear();
        decoded_ = 0;
        EXPECT_EQ(Scan(path, sensitivity), 0);
        EXPECT_EQ(Found(), (Spans{{0, 120}})) << sensitivity;
        // After the bridge the step grows again (1, 3, 9, 27 after five matches
        // each): stepping on frame by frame would take some 90 decodes.
        EXPECT_LE(decoded_, 40) << sensitivity;
    }

    // Two disturbed frames in a row end the scene. The next one starts at them
    // and keeps the rest: from there the rest differs from the frame before as
    // much as from the disturbed frames, and that comparison lets it through.
    video[55] = P().flash;
    scenes_.Clear();
    EXPECT_EQ(Scan(WriteFile("flash2.avi", video)), 0);
    EXPECT_EQ(Found(), (Spans{{0, 54}, {54, 66}}));
}

TEST_F(OpticalScanTest, CancelRecordsTheSceneReached) {
    const std::string path = WriteFile("cut.avi", HardCut());

    // At once: the scene holds its first frame only.
    progress_.cancel = [](int check) { return check == 1; };
    EXPECT_EQ(Scan(path), -1);
    EXPECT_EQ(Found(), (Spans{{0, 1}}));
    EXPECT_EQ(framesDone_, 1);

    // After the first probe run (27, 54, 81; 108 fails): frames 0..81.
    scenes_.Clear();
    progress_.cancelChecks = 0;
    progress_.cancel = [](int check) { return check == 2; };
    EXPECT_EQ(Scan(path), -1);
    EXPECT_EQ(Found(), (Spans{{0, 82}}));
    EXPECT_EQ(std::pair(scenes_[0].wholeFile, progress_.positions.back().position),
              std::pair(0, -1));
}

TEST_F(OpticalScanTest, FilesThatCannotBeRenderedAsk) {
    const std::string missing = dir_.Path("missing.avi");
    questions_.answers = {qv::Answer::Ok, qv::Answer::Cancel};
    EXPECT_EQ(Scan(missing), 0);
    EXPECT_EQ(Scan(missing), -1);
    ASSERT_EQ(questions_.asked.size(), 2u);
    EXPECT_EQ(questions_.asked[0].text, "Can't read/render this file. " + missing + "\n" +
                                            missing + ": No such file or directory");
    EXPECT_EQ(questions_.asked[0].buttons, qv::Buttons::OkCancel);
    EXPECT_EQ(scenes_.Count() + framesDone_, 0);
}

}  // namespace

// The window's command: the warning first; only OK scans, with the stored sensitivity.
TEST_F(OpticalScanTest, TheCommandWarnsFirstAndScansEveryInput) {
    Video video(40, P().a);
    video.resize(70, P().b);
    const std::string path = WriteFile("tape.avi", video);
    qv::HeadlessView view;
    qv::MainWindowModel model(questions_, view, nullptr);

    questions_.answers = {qv::Answer::Cancel};
    EXPECT_FALSE(model.ScanOptical(true));
    ASSERT_EQ(questions_.asked.size(), 1u);
    EXPECT_EQ(questions_.asked[0].text, qv::kOpticalScanWarning);
    EXPECT_EQ(questions_.asked[0].buttons, qv::Buttons::OkCancel);

    model.AddInput(path);
    model.settings.optSensitivity = 4;
    questions_.answers = {qv::Answer::Ok};
    EXPECT_TRUE(model.ScanOptical(true));
    ASSERT_EQ(model.scenes.Count(), 2);
    EXPECT_EQ(model.scenes[1].firstFrame, 40);
    EXPECT_EQ(model.scenes[1].nameSuffix, "#0002");
}
