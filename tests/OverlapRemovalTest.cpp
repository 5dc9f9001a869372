#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dv/OverlapRemoval.h"
#include "platform/Platform.h"
#include "platform/Questions.h"
#include "support/AviFixture.h"
#include "support/FakeQuestions.h"
#include "support/TimeZone.h"

namespace {

using qv::Scene;
using qv::SceneList;
using qvtest::FixtureFrame;

constexpr int kFps = 25;
constexpr int kFrameBytes = 512;  // the date and time packs lie in the first 512 bytes

const char* const kQuestion =
    "There are overlapping scenes, do you want quorvandel to remove overlapping parts?\n"
    "Please note: scenes have to overlap by more than one seconds to be frame-accurately "
    "merged.";

// The datestamp of 2004-07-14 10:00:00 plus seconds (the tests run in UTC).
qv::Datestamp At(int seconds) {
    return qv::LocalTimeToCalendar(2004, 7, 14, 10, 0, seconds);
}

// Frame tapeFrame of a recording that camera made from 10:00:00.00 on, cut to 512
// bytes. Its bytes depend on the camera and the moment only, so two captures of one
// tape hold identical frames and two cameras never do.
std::vector<uint8_t> TapeFrame(int tapeFrame, uint32_t camera) {
    std::vector<uint8_t> frame(kFrameBytes);
    uint32_t v = camera * 2654435761u ^ static_cast<uint32_t>(tapeFrame) * 40503u;
    for (uint8_t& byte : frame) {
        v = v * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(v >> 16);
    }
    const int s = tapeFrame / kFps;
    qvtest::SetDvTime(frame, qvtest::DvTime{2004, 7, 14, 10, s / 60, s % 60});
    return frame;
}

std::vector<uint8_t> UndatedFrame(int i) {
    std::vector<uint8_t> frame(kFrameBytes, static_cast<uint8_t>(i));
    qvtest::SetDvTime(frame, std::nullopt);
    return frame;
}

// File frames of a capture of tape frames [first, first + count).
void AddCapture(std::vector<FixtureFrame>& frames, int first, int count, uint32_t camera = 1) {
    for (int i = 0; i < count; ++i) {
        frames.push_back({TapeFrame(first + i, camera), {}});
    }
}

Scene MakeScene(const std::string& file, int first, int count, qv::Datestamp datestamp,
                int wholeFile = 0) {
    Scene s;
    s.outputName = file + ".out";
    s.sourceFile = file;
    s.write = 1;
    s.wholeFile = wholeFile;
    s.firstFrame = first;
    s.frameCount = count;
    s.datestamp = datestamp;
    return s;
}

std::string Text(const Scene& s) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  " pending=%d write=%d mark=%d whole=%d unscanned=%d first=%d count=%d date=%d",
                  s.pendingWrite, s.write, s.mark, s.wholeFile, s.unscanned, s.firstFrame,
                  s.frameCount, s.datestamp);
    return qv::FileNameOf(s.sourceFile) + " [" + s.outputName + "|" + s.referencedFile + "|" +
           s.nameSuffix + "]" + numbers;
}

std::vector<std::string> Texts(const SceneList& scenes) {
    std::vector<std::string> out;
    for (const Scene& s : scenes) {
        out.push_back(Text(s));
    }
    return out;
}

SceneList ListOf(const std::vector<Scene>& scenes) {
    SceneList list;
    for (const Scene& s : scenes) {
        list.Append(s);
    }
    return list;
}

class OverlapRemovalTest : public ::testing::Test {
protected:
    OverlapRemovalTest() { qv::framesPerSecond = 25.0f; }
    ~OverlapRemovalTest() override { qv::framesPerSecond = savedRate_; }

    std::string Write(const std::string& name, const std::vector<FixtureFrame>& frames) {
        const std::string path = dir_.Path(name);
        EXPECT_TRUE(qvtest::WriteFixtureAvi(path, qvtest::FixtureOptions{}, frames));
        return path;
    }
    std::string WriteCapture(const std::string& name, int first, int count, uint32_t camera = 1) {
        std::vector<FixtureFrame> frames;
        AddCapture(frames, first, count, camera);
        return Write(name, frames);
    }

    // A file capturing tape frames [first, first + count), as one whole-file scene.
    Scene Captured(const std::string& name, int first, int count, uint32_t camera = 1) {
        return MakeScene(WriteCapture(name, first, count, camera), 0, count, At(first / kFps), 1);
    }

    // Runs the removal on scenes and checks that nothing but the marks changed and
    // that no question was asked.
    void ExpectUntouched(std::vector<Scene> scenes) {
        SceneList list = ListOf(scenes);
        for (Scene& s : list) {
            s.mark = 1;
        }
        EXPECT_FALSE(qv::RemoveOverlaps(context_, list));
        EXPECT_TRUE(questions_.asked.empty());
        EXPECT_EQ(Texts(list), Texts(ListOf(scenes)));
    }

    qvtest::ScopedTimeZone utc_{"UTC"};
    qvtest::TempDir dir_;
    float savedRate_ = qv::framesPerSecond;
    std::unique_ptr<qv::AviReader> reader_;
    qvtest::FakeQuestions questions_;
    qv::OverlapContext context_{reader_, questions_};
};

TEST_F(OverlapRemovalTest, WorkedExampleCutsBothScenesAtTheSharedSecond) {
    // A: 10:00:00 for 7500 frames (span to 10:05:00, last frame in 10:04:59).
    // B: 10:04:50 to 10:08:00, the same tape captured again from 10:04:50 on.
    const Scene sceneA = Captured("a.avi", 0, 7500);
    const Scene sceneB = Captured("b.avi", 290 * kFps, 190 * kFps);

    // A ends with the last frame of 10:04:58; B starts with the first of 10:04:59.
    Scene cutA = sceneA;
    cutA.frameCount = 299 * kFps;
    cutA.wholeFile = 0;
    Scene cutB = sceneB;
    cutB.firstFrame = 9 * kFps;
    cutB.frameCount = 4750 - 9 * kFps;
    cutB.datestamp = At(299);
    cutB.wholeFile = 0;

    for (bool aFirst : {true, false}) {
        SCOPED_TRACE(aFirst ? "A first" : "B first");
        questions_.asked.clear();
        questions_.answers = {qv::Answer::Yes};
        SceneList list = aFirst ? ListOf({sceneA, sceneB}) : ListOf({sceneB, sceneA});
        EXPECT_TRUE(qv::RemoveOverlaps(context_, list));
        ASSERT_EQ(questions_.asked.size(), 1u);
        EXPECT_EQ(questions_.asked[0].text, kQuestion);
        EXPECT_EQ(questions_.asked[0].buttons, qv::Buttons::YesNo);
        EXPECT_EQ(Texts(list), Texts(aFirst ? ListOf({cutA, cutB}) : ListOf({cutB, cutA})));
    }
}

TEST_F(OverlapRemovalTest, ScenesThatDoNotOverlapOrAreUndatedAreLeftAlone) {
    const std::string a = WriteCapture("a.avi", 0, 10 * kFps);
    const std::string b = WriteCapture("b.avi", 20 * kFps, 10 * kFps);
    // Touching spans (10:00:00-10:00:10 and 10:00:10-...) do not overlap either.
    const std::string c = WriteCapture("c.avi", 10 * kFps, 5 * kFps);
    // Undated scenes (0, and -2..2 as the scan treats them) are never compared, however
    // their times would fall.
    ExpectUntouched({MakeScene(a, 0, 250, At(0), 1), MakeScene(b, 0, 250, At(20), 1),
                     MakeScene(c, 0, 125, At(10)), MakeScene(a, 0, 250, 0), MakeScene(b, 0, 250, 1),
                     MakeScene(c, 0, 125, -1)});
}

TEST_F(OverlapRemovalTest, AnsweringNoLeavesTheListAsItWas) {
    const SceneList before = ListOf({Captured("a.avi", 0, 750), Captured("b.avi", 0, 750)});
    SceneList list = before;
    questions_.answers = {qv::Answer::No};
    EXPECT_FALSE(qv::RemoveOverlaps(context_, list));
    ASSERT_EQ(questions_.asked.size(), 1u);
    EXPECT_EQ(questions_.asked[0].text, kQuestion);
    EXPECT_EQ(Texts(list), Texts(before));
}

TEST_F(OverlapRemovalTest, SceneCapturedAgainIsDeletedAndTheFirstInListOrderStays) {
    // 10:00:00-10:00:30 captured three times.
    const Scene sa = Captured("a.avi", 0, 750);
    const Scene sb = Captured("b.avi", 0, 750);
    const Scene sc = Captured("c.avi", 0, 750);
    for (const auto& [order, kept] : std::vector<std::pair<std::vector<Scene>, Scene>>{
             {{sa, sb, sc}, sa}, {{sc, sa, sb}, sc}}) {
        questions_.answers = {qv::Answer::Yes};
        SceneList list = ListOf(order);
        EXPECT_TRUE(qv::RemoveOverlaps(context_, list));
        EXPECT_EQ(Texts(list), Texts(ListOf({kept})));
    }
    EXPECT_EQ(questions_.asked.size(), 2u);
}

TEST_F(OverlapRemovalTest, ShorterSceneWithTheSameStartIsDeleted) {
    // Equal starts, the second longer: the first lies within it.
    // A copy of a scene from the middle of a longer capture goes too.
    const Scene longer = Captured("b.avi", 0, 1000);
    questions_.answers = {qv::Answer::Yes};
    SceneList list =
        ListOf({Captured("a.avi", 0, 500), longer, Captured("c.avi", 5 * kFps + 7, 10 * kFps)});
    EXPECT_TRUE(qv::RemoveOverlaps(context_, list));
    EXPECT_EQ(Texts(list), Texts(ListOf({longer})));
}

// Twice-captured scenes that end within a second of each other: whole-second spans
// make one seem to lie inside the other. Every tape frame of either capture stays in
// some scene, whatever the order of the list.
TEST_F(OverlapRemovalTest, NoFrameIsLostWhenCapturesEndWithinTheSameSecond) {
    struct Capture {
        int first;  // tape frame of the file's frame 0
        int count;
    };
    struct Case {
        const char* name;
        Capture a, b;
        int removedScenes;  // scenes deleted whole
    };
    const Case cases[] = {
        // B starts later and runs 20 frames past A's end, in A's last second.
        {"later start, later end", {0, 280}, {40, 260}, 0},
        // The same start second, the second capture the longer one: it holds the other.
        {"same start, second longer", {0, 500}, {0, 511}, 1},
        {"same start, first longer", {0, 511}, {0, 500}, 1},
        // Each begins and ends inside the other's first and last seconds.
        {"interleaved ends", {10, 280}, {5, 280}, 0},
        {"interleaved ends, swapped", {5, 280}, {10, 280}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string a = WriteCapture("a.avi", c.a.first, c.a.count);
        const std::string b = WriteCapture("b.avi", c.b.first, c.b.count);
        const std::map<std::string, int> tapeStart = {{a, c.a.first}, {b, c.b.first}};
        SceneList list = ListOf({MakeScene(a, 0, c.a.count, At(c.a.first / kFps), 1),
                                 MakeScene(b, 0, c.b.count, At(c.b.first / kFps), 1)});
        questions_.answers = {qv::Answer::Yes};
        qv::RemoveOverlaps(context_, list);
        EXPECT_EQ(list.Count(), 2 - c.removedScenes) << ::testing::PrintToString(Texts(list));
        std::set<int> covered;
        for (const Scene& s : list) {
            for (int f = s.firstFrame; f < s.firstFrame + s.frameCount; ++f) {
                covered.insert(tapeStart.at(s.sourceFile) + f);
            }
            if (s.frameCount != (s.sourceFile == a ? c.a.count : c.b.count)) {
                EXPECT_EQ(s.wholeFile, 0) << "a trimmed scene is no longer its whole file";
            }
        }
        const int first = std::min(c.a.first, c.b.first);
        const int end = std::max(c.a.first + c.a.count, c.b.first + c.b.count);
        EXPECT_EQ(covered.size(), static_cast<size_t>(end - first));
        EXPECT_EQ(*covered.begin(), first);
        EXPECT_EQ(*covered.rbegin(), end - 1);
    }
}

TEST_F(OverlapRemovalTest, OverlapWithoutASharedSecondBoundaryKeepsBoth) {
    // A's last second 10:00:09 starts in A, but B holds only its last 10 frames, so no
    // frame of B begins that second: neither when B starts its file nor when the
    // start of the second lies in B's file before B.
    const std::string a = WriteCapture("a.avi", 0, 10 * kFps);
    const std::string b = WriteCapture("b.avi", 9 * kFps + 15, 30 * kFps);
    const std::string c = WriteCapture("c.avi", 8 * kFps, 32 * kFps);
    questions_.answers = {qv::Answer::Yes};
    ExpectUntouched({MakeScene(a, 0, 250, At(0), 1), MakeScene(b, 0, 750, At(9), 1)});
    ExpectUntouched({MakeScene(a, 0, 250, At(0), 1), MakeScene(c, 40, 750, At(9))});
}

TEST_F(OverlapRemovalTest, CutThatWouldLeaveTheEarlierSceneEmptyIsNotMade) {
    // With 5 frames per second as the program-wide rate (another file opened last),
    // scenes of a few 25 fps frames span seconds. L's last frame belongs to second
    // 10:00:01, which starts at frame 25, at or before L's first frame: cutting there
    // would give L no frames or fewer than none. M, dated later than its first frame,
    // holds that second's start and the same recording.
    qv::framesPerSecond = 5.0f;
    const std::string a = WriteCapture("a.avi", 0, 100);
    const std::string b = WriteCapture("b.avi", 0, 100);
    const Scene m = MakeScene(b, 0, 100, At(2), 1);
    ExpectUntouched({MakeScene(a, 30, 15, At(1)), m});  // would become -5 frames
    ExpectUntouched({MakeScene(a, 25, 20, At(1)), m});  // would become 0 frames
}

TEST_F(OverlapRemovalTest, DifferentRecordingsOfTheSameTimesAreKept) {
    // Two camcorders at the same event: the same times, different frames.
    const Scene s1 = Captured("cam1.avi", 0, 750, 1);
    const Scene s2 = Captured("cam2.avi", 0, 750, 2);
    const Scene s3 = Captured("cam3.avi", 20 * kFps, 750, 3);
    // A source that cannot be read proves nothing either.
    const Scene gone = MakeScene(dir_.Path("missing.avi"), 0, 750, At(0), 1);
    ExpectUntouched({s1, s2, s3, gone});

    // A real copy among them is still found, and only that one goes.
    questions_.answers = {qv::Answer::Yes};
    SceneList list = ListOf({s1, s2, s3, Captured("copy.avi", 0, 750, 2)});
    EXPECT_TRUE(qv::RemoveOverlaps(context_, list));
    EXPECT_EQ(questions_.asked.size(), 1u);
    EXPECT_EQ(Texts(list), Texts(ListOf({s1, s2, s3})));
}

TEST_F(OverlapRemovalTest, ReferenceFileAndCopyOfTheSameTapeAreTheSameRecording) {
    // ref.avi holds "REF " chunks pointing at the frames of data.avi; copy.avi holds the
    // same frames itself. They compare by the frames, not by the chunks.
    std::vector<FixtureFrame> frames;
    AddCapture(frames, 0, 10 * kFps);
    const std::string data = Write("data.avi", frames);
    const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(data);
    std::vector<FixtureFrame> refs;
    size_t at = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        at = qvtest::FindFourCC(bytes, "00dc", at);
        ASSERT_NE(at, qvtest::kNotFound);
        refs.push_back({qvtest::MakeRefChunk(static_cast<uint32_t>(at), data), {}});
        at += 8 + kFrameBytes;
    }
    const std::string ref = Write("ref.avi", refs);
    const Scene copyScene = Captured("copy.avi", 0, 250);
    questions_.answers = {qv::Answer::Yes};
    SceneList list = ListOf({copyScene, MakeScene(ref, 0, 250, At(0), 1)});
    EXPECT_TRUE(qv::RemoveOverlaps(context_, list));
    EXPECT_EQ(Texts(list), Texts(ListOf({copyScene})));
}

TEST_F(OverlapRemovalTest, FindSecondStartWalksBackToTheFirstFrameOfTheSecond) {
    // Tape 10:00:00.00-10:00:01.24, then a jump to 10:00:20; an undated frame at the end.
    std::vector<FixtureFrame> frames;
    AddCapture(frames, 0, 50);
    AddCapture(frames, 20 * kFps, 30);
    frames.push_back({UndatedFrame(7), {}});
    const std::string file = Write("a.avi", frames);

    qv::Datestamp second = 123;
    EXPECT_EQ(qv::FindSecondStart(context_, file, 40, &second), 25);
    EXPECT_EQ(second, At(1));
    const qv::AviReader* opened = reader_.get();
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(qv::FindSecondStart(context_, file, 25, nullptr), 25);
    EXPECT_EQ(reader_.get(), opened);  // the open reader is reused

    // Second 10:00:00 begins at frame 0: no boundary before it.
    EXPECT_EQ(qv::FindSecondStart(context_, file, 10, &second), -1);
    EXPECT_EQ(second, 0);
    // The time jumps from 10:00:01 to 10:00:20 between frames 49 and 50.
    EXPECT_EQ(qv::FindSecondStart(context_, file, 55, &second), -1);
    EXPECT_EQ(second, 0);
    // Undated and missing frames.
    EXPECT_EQ(qv::FindSecondStart(context_, file, 80, &second), -1);
    EXPECT_EQ(qv::FindSecondStart(context_, file, -1, &second), -1);
    EXPECT_EQ(second, 0);
}

TEST_F(OverlapRemovalTest, FindFrameOfTimeFindsTheStartOfTheSecondInTheRange) {
    // 150 undated frames, then tape frames 150..199 (10:00:06 and 10:00:07).
    std::vector<FixtureFrame> frames;
    for (int i = 0; i < 150; ++i) {
        frames.push_back({UndatedFrame(i), {}});
    }
    AddCapture(frames, 150, 50);
    const std::string undatedFirst = Write("undated.avi", frames);
    // Undated frames count as earlier: the search passes over them.
    EXPECT_EQ(qv::FindFrameOfTime(context_, undatedFirst, 0, 199, At(7)), 175);
    EXPECT_EQ(qv::FindFrameOfTime(context_, undatedFirst, 0, 199, At(6)), -1);  // starts at 150

    const std::string file = WriteCapture("a.avi", 0, 100);  // 10:00:00-10:00:03
    EXPECT_EQ(qv::FindFrameOfTime(context_, file, 0, 99, At(2)), 50);
    EXPECT_EQ(qv::FindFrameOfTime(context_, file, 30, 99, At(1)), 25);  // may lie before first
    // Not within the range, not in the file, before the file's first boundary.
    EXPECT_EQ(qv::FindFrameOfTime(context_, file, 0, 49, At(2)), -1);
    EXPECT_EQ(qv::FindFrameOfTime(context_, file, 0, 99, At(4)), -1);
    EXPECT_EQ(qv::FindFrameOfTime(context_, file, 0, 99, At(0)), -1);
    // The first frame is never probed.
    EXPECT_EQ(qv::FindFrameOfTime(context_, file, 50, 50, At(2)), -1);
    EXPECT_EQ(qv::FindFrameOfTime(context_, file, 50, 51, At(2)), 50);
}

TEST_F(OverlapRemovalTest, UnreadableFileGivesMinusOne) {
    const std::string file = WriteCapture("a.avi", 0, 100);
    const std::string missing = dir_.Path("missing.avi");
    // Opens (any readable file does) but holds no stream.
    const std::string garbage = dir_.Path("garbage.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(garbage, std::vector<uint8_t>(4096, 0x41)));

    for (const std::string& bad : {missing, garbage}) {
        SCOPED_TRACE(bad);
        ASSERT_EQ(qv::FindSecondStart(context_, file, 60, nullptr), 50);
        ASSERT_NE(reader_, nullptr);
        qv::Datestamp second = 5;
        EXPECT_EQ(qv::FindSecondStart(context_, bad, 60, &second), -1);
        EXPECT_EQ(second, 0);
        if (bad == missing) {
            EXPECT_EQ(reader_, nullptr);  // the failed open leaves no reader
        }
        ASSERT_EQ(qv::FindSecondStart(context_, file, 60, nullptr), 50);
        EXPECT_EQ(qv::FindFrameOfTime(context_, bad, 0, 99, At(2)), -1);
    }
    EXPECT_TRUE(questions_.asked.empty());
}

// The comparison at a second's start allows for a frame one capture dropped there:
// each frame is also compared with the other's next one, within the scene.
TEST_F(OverlapRemovalTest, ACaptureThatDroppedAFrameIsStillTheSameRecording) {
    const std::string a = WriteCapture("a.avi", 0, 750);
    std::vector<FixtureFrame> frames;
    AddCapture(frames, 0, 25);
    AddCapture(frames, 26, 724);  // tape frame 25, the first of 10:00:01, dropped
    const std::string b = Write("b.avi", frames);
    SceneList list = ListOf({MakeScene(a, 0, 750, At(0), 1), MakeScene(b, 0, 749, At(0), 1)});
    questions_.answers = {qv::Answer::Yes};
    EXPECT_TRUE(qv::RemoveOverlaps(context_, list));
    EXPECT_EQ(Texts(list), Texts(ListOf({MakeScene(a, 0, 750, At(0), 1)})));
}

// A scene whose very last frame is not in the other scene is neither deleted nor cut:
// that frame would be lost.
TEST_F(OverlapRemovalTest, ASceneWhoseLastFrameOnlyItHoldsIsKept) {
    const std::string a = WriteCapture("a.avi", 0, 750);
    std::vector<FixtureFrame> frames;
    AddCapture(frames, 0, 749);
    AddCapture(frames, 749, 1, 2);  // the same second, another camcorder's frame
    const std::string b = Write("b.avi", frames);
    ExpectUntouched({MakeScene(a, 0, 750, At(0), 1), MakeScene(b, 0, 750, At(0), 1)});
    ExpectUntouched({MakeScene(b, 0, 750, At(0), 1), MakeScene(a, 0, 750, At(0), 1)});
}

// Without a plausible frame rate no scene has a time span: nothing is compared or
// changed, and the caller is not told to name the outputs again.
TEST_F(OverlapRemovalTest, WithoutAFrameRateNothingIsCompared) {
    const std::string a = WriteCapture("a.avi", 0, 750);
    for (const float rate : {0.0f, 2000.0f}) {
        qv::framesPerSecond = rate;
        ExpectUntouched({MakeScene(a, 0, 750, At(0), 1), MakeScene(a, 0, 750, At(0), 1)});
    }
}

}  // namespace
