#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "dv/DatestampScan.h"
#include "dv/ThoroughScan.h"
#include "platform/Platform.h"
#include "support/AviFixture.h"
#include "support/FakeQuestions.h"
#include "support/RecordingProgress.h"
#include "support/SceneSetup.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

// A matching probe keeps the step; only a miss halves it. A search that halved
// after every probe would be a plain bisection from 512: no scene could grow beyond
// 1024 frames. The worked example and the long recordings below catch that.

namespace {

using qvtest::DvTime;
using qvtest::Plus;
using qvtest::Stretch;

// The datestamp of a recorded wall-clock time when the local zone is UTC.
int32_t UtcStamp(const DvTime& t) {
    return static_cast<int32_t>(qvtest::WallClock(t).time_since_epoch().count());
}

const DvTime kStart{2000, 4, 12, 18, 3, 9};
const int32_t kStamp = UtcStamp(kStart);

// A scene as the scan lists it: first frame, frame count, datestamp, whole file, write.
using Found = std::tuple<int, int, int32_t, int, int>;
using Scenes = std::vector<Found>;

// Offset in the file of a field of the first "strh" chunk's data.
constexpr size_t kStrhScale = 20;
constexpr size_t kStrhRate = 24;
constexpr size_t kStrhLength = 32;

void PatchStrh(const std::string& path, size_t field, uint32_t value) {
    const size_t strh = qvtest::FindFourCC(qvtest::ReadFileBytes(path), "strh");
    ASSERT_NE(strh, qvtest::kNotFound);
    std::vector<uint8_t> bytes(4);
    qvtest::PutLe32(bytes, 0, value);
    ASSERT_TRUE(qvtest::PatchFile(path, strh + 8 + field, bytes));
}

class DatestampScan : public testing::Test {
  protected:
    // A type-1 file of one 512-byte chunk per frame: the scan reads no further.
    std::string MakeFile(const std::string& name, const std::vector<Stretch>& stretches,
                         bool pal = true) {
        const std::string path = dir.Path(name);
        qvtest::WriteTape(path, qvtest::Type1Options(pal), stretches);
        return path;
    }

    int Scan(const std::string& path) { return qv::ScanFileDatestamps(context, path, framesDone); }

    Scenes Listed() const {
        Scenes found;
        for (const qv::Scene& s : scenes) {
            found.push_back({s.firstFrame, s.frameCount, s.datestamp, s.wholeFile, s.write});
        }
        return found;
    }

    // Empties the results of earlier scans.
    void Reset() {
        scenes.Clear();
        probes.clear();
        questions.asked.clear();
        framesDone = 0;
    }

    qvtest::ScopedFrameRate rate{qv::framesPerSecond};  // every scan sets the program-wide rate
    qvtest::ScopedTimeZone zone{"UTC"};
    qvtest::TempDir dir;
    std::unique_ptr<qv::AviReader> reader;
    qv::SceneList scenes;
    qvtest::FakeQuestions questions;
    qvtest::ProgressLog log;
    qvtest::RecordingProgress progress{log};
    qv::DatestampScanContext context{.sourceReader = reader,
                                     .scenes = scenes,
                                     .questions = questions,
                                     .progress = progress,
                                     .onProbe = [this](int frame) {
                                         // Scenes are appended when their search ends: the
                                         // count is the scene's index.
                                         const auto scene = static_cast<size_t>(scenes.Count());
                                         probes.resize(std::max(probes.size(), scene + 1));
                                         probes[scene].push_back(frame);
                                     }};
    int64_t framesDone = 0;
    std::vector<std::vector<int>> probes;  // frames read per scene, after its first
};

// ---------------------------------------------------------------------------
// The galloping search and where a scene ends

TEST_F(DatestampScan, ScenesOfTapes) {
    const DvTime y2005{2005, 1, 1, 0, 0, 0};
    struct Case {
        const char* what;
        std::vector<Stretch> tape;
        Scenes scenes;
        std::vector<std::vector<int>> probes = {};  // per scene; none at or beyond the end
        bool pal = true;
        bool skipUndated = true;  // undated scenes are not marked for writing
    };
    const Case cases[] = {
        {"worked example: a jump at frame 1000 of 3000",
         {{1000, kStart}, {2000, Plus(kStart, 3600)}},
         {{0, 1000, kStamp, 0, 1}, {1000, 2000, kStamp + 3600, 0, 1}},
         {{512, 1024, 768, 1024, 896, 1024, 960, 1024, 992, 1024, 1008, 1000, 996, 1000, 998, 1000,
           999, 1000},
          {1512, 2024, 2536, 2792, 2920, 2984, 2992, 2996, 2998, 2999}}},
        {"four matches at 512 frames switch to steps of 4096",
         {{20000, kStart}},
         {{0, 20000, kStamp, 1, 1}},
         {{512, 1024, 1536, 2048, 6144, 10240, 14336, 18432, 19456, 19968, 19984, 19992, 19996,
           19998, 19999}}},
        {"a miss among the first four probes keeps the short steps",
         {{1700, kStart}, {1300, Plus(kStart, 9000)}},
         {{0, 1700, kStamp, 0, 1}, {1700, 1300, kStamp + 9000, 0, 1}},
         {{512, 1024, 1536, 2048, 1792, 1664, 1792, 1728, 1696, 1728, 1712, 1704, 1700, 1698, 1700,
           1699, 1700},
          {2212, 2724, 2980, 2996, 2998, 2999}}},
        {"without datestamps, steps of at most 32",
         {{200, std::nullopt}},
         {{0, 200, 0, 1, 1}},
         {{32, 64, 96, 128, 160, 192, 196, 198, 199}},
         true,
         false},
        // From frame 1000 on the camcorder's clock is off by two or three seconds (either way
        // alike: the difference's size counts).
        {"off by 2 s", {{1000, kStart}, {2000, Plus(kStart, 42)}}, {{0, 3000, kStamp, 1, 1}}},
        {"off by 3 s",
         {{1000, kStart}, {2000, Plus(kStart, 43)}},
         {{0, 1000, kStamp, 0, 1}, {1000, 2000, kStamp + 43, 0, 1}}},
        {"dated, then blank",
         {{3000, kStart}, {1000, std::nullopt}},
         {{0, 3000, kStamp, 0, 1}, {3000, 1000, 0, 0, 0}}},
        {"blank, then dated",
         {{100, std::nullopt}, {900, kStart}},
         {{0, 100, 0, 0, 0}, {100, 900, kStamp, 0, 1}}},
        // 2040 lies beyond 32-bit calendar time: every frame's datestamp is -1. Taken as
        // a time, the expected value would advance and cut the scene after three seconds.
        {"unconvertible times", {{500, DvTime{2040, 6, 1, 12, 0, 0}}}, {{0, 500, 0, 1, 0}}},
        // Around 1.1e9 a 32-bit float holds whole seconds only in steps of 128: the
        // expected time of a frame must be computed in double precision.
        {"long NTSC in 2005", {{30000, y2005}}, {{0, 30000, UtcStamp(y2005), 1, 1}}, {}, false},
        {"empty", {}, {}},
        {"one frame", {{1, kStart}}, {{0, 1, kStamp, 1, 1}}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        context.skipNoDatestamp = c.skipUndated;
        const std::string path = MakeFile("tape" + std::to_string(n++) + ".avi", c.tape, c.pal);
        EXPECT_EQ(Scan(path), 0);
        EXPECT_EQ(Listed(), c.scenes);
        if (!c.probes.empty()) {
            EXPECT_EQ(probes, c.probes);
        }
        int64_t covered = 0;
        for (const qv::Scene& s : scenes) {
            EXPECT_EQ(s.sourceFile, path);
            EXPECT_EQ(s.outputName + s.nameSuffix + s.referencedFile, "");
            EXPECT_EQ(std::tie(s.unscanned, s.pendingWrite, s.mark), std::make_tuple(0, 0, 0));
            covered += s.frameCount;
        }
        EXPECT_EQ(framesDone, covered);
        EXPECT_TRUE(questions.asked.empty());
    }
}

// Across a pause of one to four seconds the test of a frame's time, in whole seconds,
// passes and fails from frame to frame: the scene still ends where the later recording
// begins, or the two stay one scene, but never a cut elsewhere.
TEST_F(DatestampScan, APauseOfSecondsEndsTheSceneWhereTheLaterRecordingBeginsOrNowhere) {
    int n = 0;
    for (int first = 225; first <= 255; first += 2) {
        for (int later = 10; later <= 13; ++later) {
            SCOPED_TRACE(std::to_string(first) + " frames, then a recording at +" +
                         std::to_string(later) + " s");
            Reset();
            const std::string path = MakeFile("pause" + std::to_string(n++) + ".avi",
                                              {{first, kStart}, {280, Plus(kStart, later)}});
            EXPECT_EQ(Scan(path), 0);
            const Scenes one = {{0, first + 280, kStamp, 1, 1}};
            const Scenes two = {{0, first, kStamp, 0, 1}, {first, 280, kStamp + later, 0, 1}};
            EXPECT_TRUE(Listed() == one || Listed() == two) << testing::PrintToString(Listed());
            // A pause of more than the 2 s the scan allows is always a cut.
            if (later - first / 25.0 > 2.1) {
                EXPECT_EQ(Listed(), two);
            }
            size_t reads = 0;
            for (const auto& p : probes) {
                reads += p.size();
            }
            EXPECT_LE(reads, 80u);  // a few dozen per scene still
        }
    }
    // The tape of the report: 240 frames at 10:00:00, 280 at 10:00:12.
    Reset();
    EXPECT_EQ(Scan(MakeFile("report.avi", {{240, kStart}, {280, Plus(kStart, 12)}})), 0);
    EXPECT_EQ(Listed(), (Scenes{{0, 240, kStamp, 0, 1}, {240, 280, kStamp + 12, 0, 1}}));
}

// ---------------------------------------------------------------------------
// Frame counts, rates and arithmetic

// Files that cannot be opened, hold no stream or a frame rate outside (0, 1000] fps.
// The frame count comes from the index, not the stream header: a header that says too
// few frames would leave the tail unscanned.
TEST_F(DatestampScan, UnreadableFilesAskWhetherToGoOn) {
    const std::string text = dir.Path("notes.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(text, std::vector<uint8_t>(4000, 'x')));
    struct Case {
        std::string path;
        uint32_t scale = 1;
        uint32_t rate = 25;
        bool readable = false;
        uint32_t length = 100;  // the header's dwLength
    };
    const Case cases[] = {{dir.Path("missing.avi")}, {text}, {"", 1, 0}, {"", 0, 25},
                          {"", 1, 1001}, {"", 1000, 1, true}, {"", 1, 1000, true},
                          {"", 1, 25, true, 40}};
    int n = 0;
    for (const Case& c : cases) {
        std::string path = c.path;
        if (path.empty()) {
            path = MakeFile("rate" + std::to_string(n++) + ".avi", {{100, std::nullopt}});
            PatchStrh(path, kStrhScale, c.scale);
            PatchStrh(path, kStrhRate, c.rate);
            PatchStrh(path, kStrhLength, c.length);
        }
        SCOPED_TRACE(testing::Message() << path << " at " << c.rate << "/" << c.scale << " fps");
        Reset();
        // OK goes on with the next file, Cancel stops the scan.
        questions.answers = {path == text ? qv::Answer::Cancel : qv::Answer::Ok};
        EXPECT_EQ(Scan(path), path == text ? -1 : 0);
        // The main window's file line: the first input's description, or none.
        std::string description = "stale";
        EXPECT_EQ(qv::ProbeInputFile(path, &description), c.path.empty() ? 100 : 0);
        EXPECT_EQ(description.rfind("file rate", 0) == 0, c.path.empty()) << description;
        // A file of no kind that is read has no description either.
        EXPECT_EQ(description.empty(), path == dir.Path("missing.avi") || path == text)
            << description;
        if (c.readable) {
            EXPECT_TRUE(questions.asked.empty());
            EXPECT_EQ(Listed(), (Scenes{{0, 100, 0, 1, 1}}));
        } else {
            ASSERT_EQ(questions.asked.size(), 1u);
            EXPECT_EQ(questions.asked[0].text,
                      qv::WithReason("Can't read this file. " + path, path,
                                     path == dir.Path("missing.avi") ? ENOENT : 0));
            EXPECT_EQ(questions.asked[0].buttons, qv::Buttons::OkCancel);
            EXPECT_EQ(framesDone + scenes.Count(), 0);
        }
    }
}

// ---------------------------------------------------------------------------
// Cancel, progress and the reader

TEST_F(DatestampScan, CancelKeepsTheSceneUpToTheFrameReached) {
    const std::string path = MakeFile("tape.avi", {{3000, kStart}});
    // Cancel seen before the third probe: the scene ends at the second, which matched.
    log.cancel = [](int check) { return check > 2; };
    EXPECT_EQ(Scan(path), -1);
    EXPECT_EQ(probes, (std::vector<std::vector<int>>{{512, 1024}}));
    EXPECT_EQ(Listed(), (Scenes{{0, 1025, kStamp, 0, 1}}));
    EXPECT_EQ(framesDone, 1025);
    // The preview is detached at the end.
    const qvtest::ProgressLog::Position& detached = log.positions.back();
    EXPECT_EQ(std::tie(detached.position, detached.fileName, detached.stream, detached.frame),
              std::make_tuple(-1, "", nullptr, 0));
}

// Both scans, the galloping and the thorough one.
TEST_F(DatestampScan, ProgressCountsScenesOfEarlierFilesAndShowsAMatchedFrame) {
    const std::string first = MakeFile("first.avi", {{1000, kStart}, {2000, Plus(kStart, 3600)}});
    const std::string second = MakeFile("second.avi", {{500, kStart}});
    for (const bool thorough : {false, true}) {
        SCOPED_TRACE(thorough ? "thorough" : "galloping");
        const auto scan = [&](const std::string& path) {
            // The fixture frames carry no timecode or source packs: datestamps alone split.
            return thorough ? qv::ScanFileThoroughly(context, {false, false, false}, path, framesDone)
                            : Scan(path);
        };
        log = {};
        // The last preview is long ago: the first frame read (thorough) or the first
        // matching probe is shown.
        const uint32_t longAgo = qv::TickCount() - 10000;
        uint32_t lastPreviewTick = longAgo;
        context.lastPreviewTick = &lastPreviewTick;
        // Three scenes of an earlier file are listed already.
        scenes.SetSize(3);
        framesDone = 5120;
        EXPECT_EQ(scan(first), 0);
        EXPECT_EQ(framesDone, 8120);
        EXPECT_EQ(scan(second), 0);
        EXPECT_EQ(framesDone, 8620);
        EXPECT_EQ(log.texts, (std::vector<std::string>{
                                 "scene #4; " + first + " 00:00:00",
                                 "scene #5; " + first + " 00:40:00",  // frame 1000 at 25 fps
                                 "scene #6; " + second + " 00:00:00",
                             }));
        // The position in units of 256 frames.
        const qvtest::ProgressLog::Position& shown = log.positions.front();
        const int frame = thorough ? 0 : 512;
        EXPECT_EQ(std::tie(shown.position, shown.fileName, shown.frame),
                  std::make_tuple((5120 + frame) / 256, first, frame));
        EXPECT_NE(shown.stream, nullptr);
        const qvtest::ProgressLog::Position& detached = log.positions.back();
        EXPECT_EQ(std::tie(detached.position, detached.fileName, detached.stream),
                  std::make_tuple(-1, "", nullptr));
    }
}

}  // namespace
