#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "dv/Datestamp.h"
#include "dv/DatestampScan.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "support/AviFixture.h"
#include "support/FakeQuestions.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

// A matching probe keeps the step; only a miss halves it. A search that halved
// after every probe would be a plain bisection from 512: no scene could grow beyond
// 1024 frames. The worked example and the long recordings below catch that.

namespace {

using qvtest::DvTime;

// The recorded time of every frame of a file; nullopt = a frame without one.
using FrameTimes = std::vector<std::optional<DvTime>>;

using qvtest::Plus;
using qvtest::WallClock;

// The datestamp of a recorded wall-clock time when the local zone is UTC.
int32_t UtcStamp(const DvTime& t) {
    return static_cast<int32_t>(WallClock(t).time_since_epoch().count());
}

// Whole seconds a camcorder has counted at frame i of an uninterrupted recording.
int64_t ElapsedSeconds(int i, bool pal) {
    return pal ? i / 25 : static_cast<int64_t>(i) * 1001 / 30000;
}

// Appends count frames of an uninterrupted recording started at start, whose
// clock is off by lag seconds.
void Record(FrameTimes& times, int count, const DvTime& start, bool pal = true, int lag = 0) {
    for (int i = 0; i < count; ++i) {
        times.push_back(Plus(start, ElapsedSeconds(i, pal) + lag));
    }
}

void Undated(FrameTimes& times, int count) {
    times.insert(times.end(), static_cast<size_t>(count), std::nullopt);
}

// A type-1 file of one 512-byte chunk per frame: the scan reads no further.
bool WriteScanFile(const std::string& path, const FrameTimes& times, bool pal = true) {
    qvtest::FixtureOptions options;
    options.type = qvtest::DvType::Type1;
    options.pal = pal;
    std::vector<qvtest::FixtureFrame> frames(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        std::vector<uint8_t>& video = frames[i].video;
        video.assign(512, static_cast<uint8_t>(i));
        video[0] = 0x1F;
        video[1] = 0x07;
        video[2] = 0x00;
        video[3] = pal ? 0xBF : 0x3F;
        qvtest::SetDvTime(video, times[i]);
    }
    return qvtest::WriteFixtureAvi(path, options, frames);
}

// Offset in the file of a field of the first "strh" chunk's data.
size_t StrhField(const std::string& path, size_t fieldOffset) {
    const size_t strh = qvtest::FindFourCC(qvtest::ReadFileBytes(path), "strh");
    EXPECT_NE(strh, qvtest::kNotFound);
    return strh + 8 + fieldOffset;
}

constexpr size_t kStrhScale = 20;
constexpr size_t kStrhRate = 24;
constexpr size_t kStrhLength = 32;

bool PatchLe32(const std::string& path, size_t offset, uint32_t value) {
    std::vector<uint8_t> bytes(4);
    qvtest::PutLe32(bytes, 0, value);
    return qvtest::PatchFile(path, offset, bytes);
}

class RecordingProgress : public qv::Progress {
public:
    struct Position {
        int position;
        std::string fileName;
        bool withStream;
        int frame;
    };

    void SetRange(int, int) override {}
    void SetText(const std::string& text) override { texts.push_back(text); }
    int SetPosition(int position, const std::string& fileName, qv::AviStream* stream,
                    int frame) override {
        positions.push_back({position, fileName, stream != nullptr, frame});
        return 0;
    }
    bool CancelRequested() override {
        ++cancelChecks;
        return cancelAfter >= 0 && cancelChecks > cancelAfter;
    }

    std::vector<std::string> texts;
    std::vector<Position> positions;
    int cancelChecks = 0;
    int cancelAfter = -1;  // checks answered "no" before the first "yes"; -1: never
};

const DvTime kStart{2000, 4, 12, 18, 3, 9};

class DatestampScan : public testing::Test {
protected:
    DatestampScan() {
        context.onProbe = [this](int frame) {
            // Scenes are appended when their search ends: the count is the scene's index.
            const auto scene = static_cast<size_t>(scenes.Count());
            if (probes.size() <= scene) {
                probes.resize(scene + 1);
            }
            probes[scene].push_back(frame);
        };
    }
    ~DatestampScan() override { qv::framesPerSecond = savedRate; }

    std::string MakeFile(const std::string& name, const FrameTimes& times, bool pal = true) {
        const std::string path = dir.Path(name);
        EXPECT_TRUE(WriteScanFile(path, times, pal));
        return path;
    }

    int Scan(const std::string& path) { return qv::ScanFileDatestamps(context, path, framesDone); }

    // Empties the results of earlier scans.
    void Reset() {
        scenes.Clear();
        probes.clear();
        questions.asked.clear();
        framesDone = 0;
    }

    void ExpectScene(int index, int firstFrame, int frameCount, int32_t datestamp) {
        ASSERT_LT(index, scenes.Count());
        const qv::Scene& s = scenes[index];
        EXPECT_EQ(s.firstFrame, firstFrame) << "scene " << index;
        EXPECT_EQ(s.frameCount, frameCount) << "scene " << index;
        EXPECT_EQ(s.datestamp, datestamp) << "scene " << index;
    }

    const float savedRate = qv::framesPerSecond;  // every scan sets the program-wide rate
    qvtest::ScopedTimeZone zone{"UTC"};
    qvtest::TempDir dir;
    std::unique_ptr<qv::AviReader> reader;
    qv::SceneList scenes;
    qvtest::FakeQuestions questions;
    RecordingProgress progress;
    qv::DatestampScanContext context{.sourceReader = reader,
                                     .scenes = scenes,
                                     .questions = questions,
                                     .progress = progress,
                                     .onProbe = {}};
    int64_t framesDone = 0;
    std::vector<std::vector<int>> probes;  // frames read per scene, after its first
};

// ---------------------------------------------------------------------------
// The galloping search

TEST_F(DatestampScan, ReplaysTheWorkedExampleProbeByProbe) {
    // 3000 frames, an uninterrupted recording from frame 0 and a jump at frame 1000.
    FrameTimes times;
    Record(times, 1000, kStart);
    Record(times, 2000, Plus(kStart, 3600));
    const std::string path = MakeFile("tape.avi", times);

    EXPECT_EQ(Scan(path), 0);

    // Probes at or beyond the 3000th frame are not read.
    const std::vector<std::vector<int>> expected = {
        {512, 1024, 768, 1024, 896, 1024, 960, 1024, 992, 1024, 1008, 1000, 996, 1000, 998, 1000,
         999, 1000},
        {1512, 2024, 2536, 2792, 2920, 2984, 2992, 2996, 2998, 2999},
    };
    EXPECT_EQ(probes, expected);
    ASSERT_EQ(scenes.Count(), 2);
    ExpectScene(0, 0, 1000, UtcStamp(kStart));
    ExpectScene(1, 1000, 2000, UtcStamp(kStart) + 3600);
    for (const qv::Scene& s : scenes) {
        EXPECT_EQ(s.sourceFile, path);
        EXPECT_EQ(s.outputName, "");
        EXPECT_EQ(s.nameSuffix, "");
        EXPECT_EQ(s.referencedFile, "");
        EXPECT_EQ(s.write, 1);
        EXPECT_EQ(s.wholeFile, 0);  // neither covers the whole file
        EXPECT_EQ(s.unscanned, 0);
        EXPECT_EQ(s.pendingWrite, 0);
        EXPECT_EQ(s.mark, 0);
    }
    EXPECT_EQ(framesDone, 3000);
    EXPECT_TRUE(questions.asked.empty());
}

TEST_F(DatestampScan, FourMatchesAt512FramesSwitchToStepsOf4096) {
    FrameTimes times;
    Record(times, 20000, kStart);
    EXPECT_EQ(Scan(MakeFile("long.avi", times)), 0);

    const std::vector<std::vector<int>> expected = {{512, 1024, 1536, 2048, 6144, 10240, 14336,
                                                     18432, 19456, 19968, 19984, 19992, 19996,
                                                     19998, 19999}};
    EXPECT_EQ(probes, expected);
    ASSERT_EQ(scenes.Count(), 1);
    ExpectScene(0, 0, 20000, UtcStamp(kStart));
    EXPECT_EQ(scenes[0].wholeFile, 1);
}

TEST_F(DatestampScan, AMissAmongTheFirstFourProbesKeepsTheShortSteps) {
    // 512, 1024 and 1536 match, 2048 does not: the fifth step is 256, not 4096.
    FrameTimes times;
    Record(times, 1700, kStart);
    Record(times, 1300, Plus(kStart, 9000));
    EXPECT_EQ(Scan(MakeFile("early.avi", times)), 0);

    const std::vector<std::vector<int>> expected = {
        {512, 1024, 1536, 2048, 1792, 1664, 1792, 1728, 1696, 1728, 1712, 1704, 1700, 1698, 1700,
         1699, 1700},
        {2212, 2724, 2980, 2996, 2998, 2999},
    };
    EXPECT_EQ(probes, expected);
    ASSERT_EQ(scenes.Count(), 2);
    ExpectScene(0, 0, 1700, UtcStamp(kStart));
    ExpectScene(1, 1700, 1300, UtcStamp(kStart) + 9000);
}

// ---------------------------------------------------------------------------
// Where a scene ends

TEST_F(DatestampScan, AClockOffByTwoSecondsStillBelongsThreeSecondsEndTheScene) {
    struct Case {
        int lag;
        int scenes;
    };
    for (const Case c : {Case{2, 1}, Case{-2, 1}, Case{3, 2}, Case{-3, 2}}) {
        SCOPED_TRACE(testing::Message() << "clock off by " << c.lag << " s from frame 1000");
        Reset();
        // From frame 1000 on the recorded time is off by lag seconds, to the end.
        FrameTimes times;
        Record(times, 1000, kStart);
        Record(times, 2000, Plus(kStart, 40), true, c.lag);
        EXPECT_EQ(Scan(MakeFile("lag" + std::to_string(c.lag) + ".avi", times)), 0);

        ASSERT_EQ(scenes.Count(), c.scenes);
        if (c.scenes == 1) {
            ExpectScene(0, 0, 3000, UtcStamp(kStart));
            EXPECT_EQ(scenes[0].wholeFile, 1);
        } else {
            ExpectScene(0, 0, 1000, UtcStamp(kStart));
            ExpectScene(1, 1000, 2000, UtcStamp(kStart) + 40 + c.lag);
        }
        EXPECT_EQ(framesDone, 3000);
    }
}

TEST_F(DatestampScan, AFileWithoutDatestampsIsOneSceneProbedInStepsOfAtMost32) {
    FrameTimes times;
    Undated(times, 200);
    const std::string path = MakeFile("undated.avi", times);

    EXPECT_EQ(Scan(path), 0);
    const std::vector<std::vector<int>> expected = {{32, 64, 96, 128, 160, 192, 196, 198, 199}};
    EXPECT_EQ(probes, expected);
    ASSERT_EQ(scenes.Count(), 1);
    ExpectScene(0, 0, 200, 0);
    EXPECT_EQ(scenes[0].wholeFile, 1);
    EXPECT_EQ(scenes[0].write, 1);

    // With "scenes without datestamp default to: write=NO" the scene is not marked.
    Reset();
    context.skipNoDatestamp = true;
    EXPECT_EQ(Scan(path), 0);
    ASSERT_EQ(scenes.Count(), 1);
    ExpectScene(0, 0, 200, 0);
    EXPECT_EQ(scenes[0].write, 0);
}

TEST_F(DatestampScan, DatedAndUndatedStretchesAreScenesOfTheirOwn) {
    context.skipNoDatestamp = true;

    // A recording followed by blank tape.
    FrameTimes times;
    Record(times, 3000, kStart);
    Undated(times, 1000);
    EXPECT_EQ(Scan(MakeFile("dated-then-blank.avi", times)), 0);
    ASSERT_EQ(scenes.Count(), 2);
    ExpectScene(0, 0, 3000, UtcStamp(kStart));
    ExpectScene(1, 3000, 1000, 0);
    EXPECT_EQ(scenes[0].write, 1);  // only undated scenes are left unmarked
    EXPECT_EQ(scenes[1].write, 0);
    EXPECT_EQ(scenes[0].wholeFile, 0);
    EXPECT_EQ(scenes[1].wholeFile, 0);
    // Over the undated stretch no probe lies more than 32 frames past the last match,
    // which in a stretch of only undated frames is the probe before.
    ASSERT_EQ(probes.size(), 2u);
    int last = 3000;
    for (int frame : probes[1]) {
        EXPECT_LE(frame - last, 32) << "probe " << frame;
        last = frame;
    }

    // Blank tape followed by a recording: the undated scene ends at the first dated frame.
    Reset();
    times.clear();
    Undated(times, 100);
    Record(times, 900, kStart);
    EXPECT_EQ(Scan(MakeFile("blank-then-dated.avi", times)), 0);
    ASSERT_EQ(scenes.Count(), 2);
    ExpectScene(0, 0, 100, 0);
    ExpectScene(1, 100, 900, UtcStamp(kStart));
}

TEST_F(DatestampScan, ASceneStartingOnAnUnconvertibleTimeIsScannedAsUndated) {
    // 2040 lies beyond 32-bit calendar time: every frame's datestamp is -1. Taken as a
    // time, the expected value would advance and cut the scene after three seconds.
    FrameTimes times;
    Record(times, 500, DvTime{2040, 6, 1, 12, 0, 0});
    const std::string path = MakeFile("future.avi", times);
    context.skipNoDatestamp = true;

    EXPECT_EQ(Scan(path), 0);
    ASSERT_EQ(scenes.Count(), 1);
    EXPECT_EQ(scenes[0].firstFrame, 0);
    EXPECT_EQ(scenes[0].frameCount, 500);
    EXPECT_TRUE(qv::IsUndated(scenes[0].datestamp)) << scenes[0].datestamp;
    EXPECT_EQ(scenes[0].write, 0);

    // The file does hold the conversion failure value, not "no datestamp".
    ASSERT_NE(reader, nullptr);
    qv::RefFileCache cache;
    EXPECT_EQ(qv::ReadFrameDatestamp(*reader->Stream(0), 0, cache, nullptr, nullptr), -1);
}

// ---------------------------------------------------------------------------
// Frame counts, rates and arithmetic

TEST_F(DatestampScan, TheFrameCountComesFromTheIndexNotTheStreamHeader) {
    FrameTimes times;
    Record(times, 1000, kStart);
    // A header that says too few frames would leave the tail unscanned; one that says
    // too many would make the last scene look shorter than its file.
    for (uint32_t headerLength : {400u, 5000u}) {
        SCOPED_TRACE(testing::Message() << "dwLength " << headerLength);
        Reset();
        const std::string path = MakeFile("header" + std::to_string(headerLength) + ".avi", times);
        ASSERT_TRUE(PatchLe32(path, StrhField(path, kStrhLength), headerLength));

        EXPECT_EQ(qv::ProbeInputFile(path, nullptr), 1000);
        EXPECT_EQ(Scan(path), 0);
        ASSERT_EQ(scenes.Count(), 1);
        ExpectScene(0, 0, 1000, UtcStamp(kStart));
        EXPECT_EQ(scenes[0].wholeFile, 1);
        EXPECT_EQ(framesDone, 1000);
    }
}

TEST_F(DatestampScan, LongNtscRecordingsInThe2000sDoNotSplit) {
    // Around 1.1e9 a 32-bit float holds whole seconds only in steps of 128: the expected
    // time of a frame must be computed in double precision.
    const DvTime start{2005, 1, 1, 0, 0, 0};
    ASSERT_GT(UtcStamp(start), 1'100'000'000);
    FrameTimes times;
    Record(times, 30000, start, false);
    EXPECT_EQ(Scan(MakeFile("ntsc.avi", times, false)), 0);
    EXPECT_FLOAT_EQ(qv::framesPerSecond, 30000.0f / 1001.0f);
    ASSERT_EQ(scenes.Count(), 1);
    ExpectScene(0, 0, 30000, UtcStamp(start));
    EXPECT_EQ(scenes[0].wholeFile, 1);

    // And a jump of three seconds deep into such a recording is found at its frame.
    Reset();
    times.clear();
    Record(times, 20000, start, false);
    Record(times, 10000, Plus(start, ElapsedSeconds(20000, false) + 3), false);
    EXPECT_EQ(Scan(MakeFile("ntsc-jump.avi", times, false)), 0);
    ASSERT_EQ(scenes.Count(), 2);
    ExpectScene(0, 0, 20000, UtcStamp(start));
    ExpectScene(1, 20000, 10000, UtcStamp(start) + 667 + 3);
}

TEST_F(DatestampScan, EmptyAndSingleFrameFiles) {
    framesDone = 77;
    EXPECT_EQ(Scan(MakeFile("empty.avi", {})), 0);
    EXPECT_EQ(scenes.Count(), 0);
    EXPECT_EQ(framesDone, 77);
    EXPECT_TRUE(questions.asked.empty());

    FrameTimes one;
    Record(one, 1, kStart);
    EXPECT_EQ(Scan(MakeFile("one.avi", one)), 0);
    ASSERT_EQ(scenes.Count(), 1);
    ExpectScene(0, 0, 1, UtcStamp(kStart));
    EXPECT_EQ(scenes[0].wholeFile, 1);
    EXPECT_EQ(framesDone, 78);
    EXPECT_TRUE(probes.empty());
    EXPECT_TRUE(questions.asked.empty());
}

// ---------------------------------------------------------------------------
// Files that cannot be scanned

TEST_F(DatestampScan, UnreadableFilesAskWhetherToGoOn) {
    const std::string missing = dir.Path("missing.avi");
    const std::string text = dir.Path("notes.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(text, std::vector<uint8_t>(4000, 'x')));

    for (const std::string& path : {missing, text}) {
        for (qv::Answer answer : {qv::Answer::Ok, qv::Answer::Cancel}) {
            SCOPED_TRACE(path);
            Reset();
            framesDone = 10;
            questions.answers = {answer};
            EXPECT_EQ(Scan(path), answer == qv::Answer::Ok ? 0 : -1);
            ASSERT_EQ(questions.asked.size(), 1u);
            EXPECT_EQ(questions.asked[0].text, "Can't read this file. " + path);
            EXPECT_EQ(questions.asked[0].buttons, qv::Buttons::OkCancel);
            EXPECT_EQ(scenes.Count(), 0);
            EXPECT_EQ(framesDone, 10);
        }
    }
}

TEST_F(DatestampScan, FrameRatesOutsideUpTo1000FramesPerSecondCannotBeRead) {
    FrameTimes times;
    Undated(times, 100);
    struct Case {
        uint32_t scale;
        uint32_t rate;
        bool readable;
    };
    int n = 0;
    for (const Case c : {Case{1, 0, false}, Case{0, 25, false}, Case{1, 1001, false},
                         Case{1000, 1, true}, Case{1, 1000, true}}) {
        SCOPED_TRACE(testing::Message() << c.rate << "/" << c.scale << " fps");
        Reset();
        const std::string path = MakeFile("rate" + std::to_string(n++) + ".avi", times);
        ASSERT_TRUE(PatchLe32(path, StrhField(path, kStrhScale), c.scale));
        ASSERT_TRUE(PatchLe32(path, StrhField(path, kStrhRate), c.rate));
        questions.answers = {qv::Answer::Ok};

        EXPECT_EQ(Scan(path), 0);
        if (c.readable) {
            EXPECT_TRUE(questions.asked.empty());
            ASSERT_EQ(scenes.Count(), 1);
            ExpectScene(0, 0, 100, 0);
        } else {
            ASSERT_EQ(questions.asked.size(), 1u);
            EXPECT_EQ(questions.asked[0].text, "Can't read this file. " + path);
            EXPECT_EQ(questions.asked[0].buttons, qv::Buttons::OkCancel);
            EXPECT_EQ(scenes.Count(), 0);
            EXPECT_EQ(framesDone, 0);
        }
    }
    // Cancel on such a file stops the scan.
    Reset();
    const std::string path = MakeFile("rate-cancel.avi", times);
    ASSERT_TRUE(PatchLe32(path, StrhField(path, kStrhRate), 0));
    questions.answers = {qv::Answer::Cancel};
    EXPECT_EQ(Scan(path), -1);
    EXPECT_EQ(scenes.Count(), 0);
}

// ---------------------------------------------------------------------------
// Cancel, progress and the reader

TEST_F(DatestampScan, CancelKeepsTheSceneUpToTheFrameReached) {
    FrameTimes times;
    Record(times, 3000, kStart);
    const std::string path = MakeFile("tape.avi", times);

    // Cancel seen before the third probe: the scene ends at the second, which matched.
    progress.cancelAfter = 2;
    framesDone = 100;
    EXPECT_EQ(Scan(path), -1);
    ASSERT_EQ(probes.size(), 1u);
    ASSERT_EQ(probes[0].size(), 2u);
    ASSERT_EQ(scenes.Count(), 1);
    ExpectScene(0, 0, probes[0].back() + 1, UtcStamp(kStart));
    EXPECT_EQ(scenes[0].wholeFile, 0);
    EXPECT_EQ(framesDone, 100 + probes[0].back() + 1);
    EXPECT_EQ(progress.cancelChecks, 3);
    ASSERT_FALSE(progress.positions.empty());
    EXPECT_EQ(progress.positions.back().position, -1);

    // Cancel before the first probe: a scene of its first frame alone.
    Reset();
    progress.cancelChecks = 0;
    progress.cancelAfter = 0;
    EXPECT_EQ(Scan(path), -1);
    EXPECT_TRUE(probes.empty());
    ASSERT_EQ(scenes.Count(), 1);
    ExpectScene(0, 0, 1, UtcStamp(kStart));
    EXPECT_EQ(framesDone, 1);
}

TEST_F(DatestampScan, StatusTextCountsScenesOfEarlierFilesAndFramesDoneAddsUp) {
    FrameTimes times;
    Record(times, 1000, kStart);
    Record(times, 2000, Plus(kStart, 3600));
    const std::string first = MakeFile("first.avi", times);
    FrameTimes second;
    Record(second, 500, kStart);
    const std::string secondPath = MakeFile("second.avi", second);

    // Three scenes of an earlier file are listed already.
    scenes.SetSize(3);
    framesDone = 5000;
    EXPECT_EQ(Scan(first), 0);
    EXPECT_EQ(framesDone, 8000);
    EXPECT_EQ(Scan(secondPath), 0);
    EXPECT_EQ(framesDone, 8500);

    const std::vector<std::string> expected = {
        "scene #4; " + first + " 00:00:00",
        "scene #5; " + first + " 00:40:00",  // frame 1000 at 25 fps
        "scene #6; " + secondPath + " 00:00:00",
    };
    EXPECT_EQ(progress.texts, expected);
    EXPECT_EQ(scenes.Count(), 6);
}

TEST_F(DatestampScan, PreviewShowsAMatchedFrameAndIsDetachedAtTheEnd) {
    FrameTimes times;
    Record(times, 3000, kStart);
    const std::string path = MakeFile("tape.avi", times);
    // The last preview is long ago: the first matching probe is shown.
    const uint32_t longAgo = qv::TickCount() - 10000;
    uint32_t lastPreviewTick = longAgo;
    context.lastPreviewTick = &lastPreviewTick;
    framesDone = 2560;

    EXPECT_EQ(Scan(path), 0);
    ASSERT_GE(progress.positions.size(), 2u);
    const RecordingProgress::Position& shown = progress.positions.front();
    EXPECT_EQ(shown.position, (2560 + 512) / 256);  // in units of 256 frames
    EXPECT_EQ(shown.fileName, path);
    EXPECT_TRUE(shown.withStream);
    EXPECT_EQ(shown.frame, 512);
    EXPECT_NE(lastPreviewTick, longAgo);

    const RecordingProgress::Position& detached = progress.positions.back();
    EXPECT_EQ(detached.position, -1);
    EXPECT_EQ(detached.fileName, "");
    EXPECT_FALSE(detached.withStream);
    EXPECT_EQ(detached.frame, 0);
}

TEST_F(DatestampScan, KeepsTheSourceReaderOpenAndReusesIt) {
    FrameTimes times;
    Record(times, 1000, kStart);
    Record(times, 500, Plus(kStart, 600));
    const std::string path = MakeFile("tape.avi", times);
    EXPECT_EQ(Scan(path), 0);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->FileName(), path);

    // The open reader still serves the file after its name is gone.
    std::filesystem::remove(path);
    Reset();
    EXPECT_EQ(Scan(path), 0);
    EXPECT_TRUE(questions.asked.empty());
    ASSERT_EQ(scenes.Count(), 2);
    ExpectScene(0, 0, 1000, UtcStamp(kStart));
    ExpectScene(1, 1000, 500, UtcStamp(kStart) + 600);

    // Another file replaces it.
    FrameTimes other;
    Undated(other, 10);
    const std::string otherPath = MakeFile("other.avi", other);
    EXPECT_EQ(Scan(otherPath), 0);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->FileName(), otherPath);
}

TEST_F(DatestampScan, LocalTimeAcrossMidnightAndTheYearEnd) {
    qvtest::ScopedTimeZone central(qvtest::kCentralEurope);
    // 23:59:00 to 00:01:00 on New Year's Eve (winter time, UTC+1), then a summer
    // recording (UTC+2).
    const DvTime winter{2004, 12, 31, 23, 59, 0};
    const DvTime summer{2005, 7, 1, 12, 0, 0};
    FrameTimes times;
    Record(times, 3000, winter);
    Record(times, 1000, summer);
    EXPECT_EQ(Scan(MakeFile("newyear.avi", times)), 0);

    ASSERT_EQ(scenes.Count(), 2);
    ExpectScene(0, 0, 3000, UtcStamp(winter) - 3600);
    ExpectScene(1, 3000, 1000, UtcStamp(summer) - 7200);
}

// ---------------------------------------------------------------------------
// Probing a file

TEST_F(DatestampScan, ProbeInputFileGivesTheFrameCountDescriptionAndRate) {
    FrameTimes times;
    Undated(times, 321);
    const std::string path = MakeFile("probe.avi", times, false);

    qv::framesPerSecond = 25.0f;
    std::string description = "stale";
    EXPECT_EQ(qv::ProbeInputFile(path, &description), 321);
    EXPECT_EQ(description.rfind("file probe.avi, 321 frames", 0), 0u) << description;
    EXPECT_FLOAT_EQ(qv::framesPerSecond, 30000.0f / 1001.0f);
    EXPECT_EQ(qv::ProbeInputFile(path, nullptr), 321);

    // Unreadable: 0, an empty description, no message, the rate left alone.
    description = "stale";
    EXPECT_EQ(qv::ProbeInputFile(dir.Path("missing.avi"), &description), 0);
    EXPECT_EQ(description, "");
    EXPECT_FLOAT_EQ(qv::framesPerSecond, 30000.0f / 1001.0f);
    EXPECT_TRUE(questions.asked.empty());
}

}  // namespace
