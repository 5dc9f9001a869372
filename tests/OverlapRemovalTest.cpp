#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <tuple>
#include <string>
#include <vector>

#include "dv/OverlapRemoval.h"
#include "platform/Platform.h"
#include "platform/Questions.h"
#include "support/AviFixture.h"
#include "support/FakeQuestions.h"
#include "support/SceneSetup.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

namespace {

using qv::Scene;
using qv::SceneList;
using qvtest::FixtureFrame;
using qvtest::ListOf;

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
    const int s = tapeFrame / kFps;
    return qvtest::TapeFrame(true, qvtest::DvTime{2004, 7, 14, 10, s / 60, s % 60},
                             camera * 1000000 + static_cast<uint32_t>(tapeFrame));
}

// File frames of a capture of tape frames [first, first + count).
void AddCapture(std::vector<FixtureFrame>& frames, int first, int count, uint32_t camera = 1) {
    for (int i = 0; i < count; ++i) {
        frames.push_back({TapeFrame(first + i, camera), {}});
    }
}

Scene MakeScene(const std::string& file, int first, int count, qv::Datestamp datestamp,
                int wholeFile = 0) {
    return {.outputName = file + ".out", .sourceFile = file, .referencedFile = {}, .nameSuffix = {},
            .write = 1, .wholeFile = wholeFile, .firstFrame = first, .frameCount = count,
            .datestamp = datestamp};
}

// Every field of each scene, to compare lists and show them.
template <class Scenes>
std::vector<std::string> Texts(const Scenes& scenes) {
    std::vector<std::string> out;
    for (const Scene& s : scenes) {
        out.push_back(testing::PrintToString(std::make_tuple(
            s.outputName, s.sourceFile, s.referencedFile, s.nameSuffix, s.pendingWrite, s.write,
            s.mark, s.wholeFile, s.unscanned, s.firstFrame, s.frameCount, s.datestamp)));
    }
    return out;
}

class OverlapRemovalTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::vector<FixtureFrame>& frames) {
        const std::string path = dir_.Path(name);
        EXPECT_TRUE(qvtest::WriteFixtureAvi(path, qvtest::FixtureOptions{}, frames));
        return path;
    }

    // A file capturing tape frames [first, first + count), as one whole-file scene.
    Scene Captured(const std::string& name, int first, int count, uint32_t camera = 1) {
        std::vector<FixtureFrame> frames;
        AddCapture(frames, first, count, camera);
        return MakeScene(Write(name, frames), 0, count, At(first / kFps), 1);
    }

    // The scenes left by the removal answering Yes; true returned when they changed.
    std::vector<std::string> Removed(const std::vector<Scene>& scenes) {
        SceneList list = ListOf(scenes);
        questions_.answers = {qv::Answer::Yes};
        const bool changed = qv::RemoveOverlaps(context_, list);
        EXPECT_EQ(changed, Texts(list) != Texts(scenes));
        return Texts(list);
    }

    qvtest::ScopedTimeZone utc_{"UTC"};
    qvtest::TempDir dir_;
    qvtest::ScopedFrameRate rate_{25.0f};
    std::unique_ptr<qv::AviReader> reader_;
    qvtest::FakeQuestions questions_;
    qv::OverlapContext context_{reader_, questions_};
};

// Captures of one tape: a scene within another is deleted whole, a pair that overlaps
// partly is cut where a second begins, and no tape frame of either is lost.
TEST_F(OverlapRemovalTest, CapturesOfOneTapeAreDeletedOrCut) {
    // A: 10:00:00 for 7500 frames (last frame in 10:04:59); B: the same tape captured
    // again from 10:04:50 to 10:08:00. A ends with the last frame of 10:04:58, B starts
    // with the first of 10:04:59.
    const Scene a = Captured("a.avi", 0, 7500);
    const Scene b = Captured("b.avi", 290 * kFps, 190 * kFps);
    const Scene cutA = MakeScene(a.sourceFile, 0, 299 * kFps, At(0));
    const Scene cutB = MakeScene(b.sourceFile, 9 * kFps, 4750 - 9 * kFps, At(299));
    // Tape frames [first, first + count) of a camcorder's recording, as a whole file.
    const auto tape = [this](int first, int count, uint32_t camera = 1) {
        return Captured(std::to_string(camera) + ":" + std::to_string(first) + "+" +
                            std::to_string(count) + ".avi",
                        first, count, camera);
    };
    const auto cut = [](const Scene& s, int first, int count, int second) {
        return MakeScene(s.sourceFile, first, count, At(second));
    };
    const Scene c = tape(0, 750);
    std::vector<FixtureFrame> frames;
    AddCapture(frames, 0, 25);
    AddCapture(frames, 26, 724);  // tape frame 25, the first of 10:00:01, dropped
    const Scene dropped = MakeScene(Write("dropped.avi", frames), 0, 749, At(0), 1);
    // "REF " chunks pointing at the frames of c: compared by the frames they point at.
    const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(c.sourceFile);
    std::vector<FixtureFrame> refs;
    for (size_t at = 0; refs.size() < 250; at += 8 + kFrameBytes) {
        at = qvtest::FindFourCC(bytes, "00dc", at);
        ASSERT_NE(at, qvtest::kNotFound);
        refs.push_back({qvtest::MakeRefChunk(static_cast<uint32_t>(at), c.sourceFile), {}});
    }
    const Scene ref = MakeScene(Write("ref.avi", refs), 0, 250, At(0), 1);
    // Whole-second spans make captures that end within a second of each other seem to
    // lie one inside the other.
    const Scene l0 = tape(0, 280), l40 = tape(40, 260), l10 = tape(10, 280), l5 = tape(5, 280);

    const struct {
        const char* what;
        std::vector<Scene> scenes, left;
    } cases[] = {
        {"worked example", {a, b}, {cutA, cutB}},
        {"worked example, B first", {b, a}, {cutB, cutA}},
        // Of equal scenes the first in list order stays.
        {"three captures", {c, Captured("again.avi", 0, 750), Captured("more.avi", 0, 750)}, {c}},
        // Equal starts, the second longer: the first lies within it; so does a copy
        // from its middle.
        {"within a longer one", {tape(0, 500), tape(0, 1000), tape(5 * kFps + 7, 250)},
         {tape(0, 1000)}},
        {"the same start, the second a few frames longer", {tape(0, 500), tape(0, 511)},
         {tape(0, 511)}},
        {"the same start, the first a few frames longer", {tape(0, 511), tape(0, 500)},
         {tape(0, 511)}},
        {"a frame dropped where a second begins", {c, dropped}, {c}},
        {"a reference file", {c, ref}, {c}},
        // Two camcorders at the same event: the same times, different frames.
        {"among other recordings",
         {c, tape(0, 750, 2), tape(500, 750, 3), Captured("copy.avi", 0, 750, 2)},
         {c, tape(0, 750, 2), tape(500, 750, 3)}},
        // B starts later and runs 20 frames past A's end, in A's last second.
        {"later start, later end", {l0, l40}, {cut(l0, 0, 275, 0), cut(l40, 235, 25, 11)}},
        // Each begins and ends inside the other's first and last seconds.
        {"interleaved ends", {l10, l5}, {cut(l10, 265, 15, 11), cut(l5, 0, 270, 0)}},
        {"interleaved ends, swapped", {l5, l10}, {cut(l5, 0, 270, 0), cut(l10, 265, 15, 11)}},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(Removed(row.scenes), Texts(row.left)) << row.what;
    }
    ASSERT_EQ(questions_.asked.size(), std::size(cases));  // once a run
    EXPECT_EQ(questions_.asked[0].text, kQuestion);
    EXPECT_EQ(questions_.asked[0].buttons, qv::Buttons::YesNo);

    // No leaves the list as it was.
    SceneList list = ListOf({a, b});
    questions_.answers = {qv::Answer::No};
    EXPECT_FALSE(qv::RemoveOverlaps(context_, list));
    EXPECT_EQ(Texts(list), Texts(std::vector{a, b}));
}

TEST_F(OverlapRemovalTest, ScenesThatAreNotTheSameRecordingOrCannotBeCutStay) {
    const Scene a = Captured("a.avi", 0, 10 * kFps),
                early = Captured("early.avi", 8 * kFps, 32 * kFps);
    const Scene tail = Captured("tail.avi", 240, 110), cam1 = Captured("cam1.avi", 0, 750, 1);
    std::vector<FixtureFrame> frames;
    AddCapture(frames, 0, 749);
    AddCapture(frames, 749, 1, 2);  // the same second, another camcorder's frame
    const Scene otherEnd = MakeScene(Write("other-end.avi", frames), 0, 750, At(0), 1);
    ASSERT_TRUE(qvtest::WriteFileBytes(dir_.Path("garbage.avi"), std::vector<uint8_t>(4096, 'A')));
    const Scene m = MakeScene(cam1.sourceFile, 0, 100, At(2), 1);
    const struct {
        const char* what;
        std::vector<Scene> scenes;
        float rate = 25.0f;
    } cases[] = {
        // Undated scenes (0, and -2..2 as the scan treats them) are never compared.
        {"apart, touching, undated",
         {a, Captured("b.avi", 20 * kFps, 10 * kFps), Captured("c.avi", 10 * kFps, 5 * kFps),
          MakeScene(a.sourceFile, 0, 250, 0), MakeScene(cam1.sourceFile, 0, 250, 1),
          MakeScene(cam1.sourceFile, 0, 125, -1)}},
        // A's last second 10:00:09 starts in A, but B holds only its last 10 frames: no
        // frame of B begins that second, neither at B's first frame nor before it.
        {"no shared second start", {a, Captured("late.avi", 9 * kFps + 15, 30 * kFps)}},
        {"no shared second start in the scene",
         {a, MakeScene(early.sourceFile, 40, 750, At(9))}},
        // B begins in the second A's time span ends with, though A's last frames lie in it.
        {"starting where the span ends",
         {Captured("l.avi", 0, 260), MakeScene(tail.sourceFile, 10, 100, At(10))}},
        // Sources that cannot be opened or hold no stream prove nothing.
        {"other recordings, unreadable sources",
         {cam1, Captured("cam2.avi", 0, 750, 2), MakeScene(dir_.Path("missing.avi"), 0, 750, At(0)),
          MakeScene(dir_.Path("garbage.avi"), 0, 750, At(0))}},
        // A scene whose very last frame is not in the other is neither deleted nor cut:
        // that frame would be lost.
        {"last frame only it holds", {cam1, otherEnd}},
        {"last frame only it holds, second", {otherEnd, cam1}},
        // Without a plausible frame rate no scene has a time span.
        {"no frame rate", {cam1, cam1}, 0.0f},
        {"a frame rate beyond 1000 fps", {cam1, cam1}, 2000.0f},
        // At 5 frames per second (another file opened last) scenes of a few 25 fps frames
        // span seconds. L's last frame belongs to second 10:00:01, which starts at frame
        // 25, at or before L's first frame: a cut there would leave L no frames or fewer.
        {"cut to -5 frames", {MakeScene(a.sourceFile, 30, 15, At(1)), m}, 5.0f},
        {"cut to 0 frames", {MakeScene(a.sourceFile, 25, 20, At(1)), m}, 5.0f},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        qv::framesPerSecond = row.rate;
        // Nothing but the marks changes, and nothing is asked.
        SceneList list = ListOf(row.scenes);
        for (Scene& s : list) {
            s.mark = 1;
        }
        EXPECT_FALSE(qv::RemoveOverlaps(context_, list));
        EXPECT_TRUE(questions_.asked.empty());
        EXPECT_EQ(Texts(list), Texts(row.scenes));
    }
}

// The searches the cuts are found with, at their edges.
TEST_F(OverlapRemovalTest, FindSecondStartAndFindFrameOfTime) {
    // Tape 10:00:00.00-10:00:01.24, then a jump to 10:00:20.00-10:00:21.04.
    std::vector<FixtureFrame> frames;
    AddCapture(frames, 0, 50);
    AddCapture(frames, 20 * kFps, 30);
    frames.push_back({std::vector<uint8_t>(kFrameBytes, 0xFF), {}});  // undated
    const std::string file = Write("jump.avi", frames);
    qv::Datestamp second = 0;
    EXPECT_EQ(qv::FindSecondStart(context_, file, 40, &second), 25);
    EXPECT_EQ(second, At(1));
    // No start before: frame 0 begins second 10:00:00, the time jumps at frame 50, an
    // undated frame, no frame.
    for (int n : {10, 55, 80, -1}) {
        EXPECT_EQ(qv::FindSecondStart(context_, file, n, &second), -1) << n;
        EXPECT_EQ(second, 0) << n;
    }
    EXPECT_EQ(qv::FindFrameOfTime(context_, dir_.Path("missing.avi"), 0, 9, At(1)), -1);
    // The first frame of the second from any frame of it in (first, last], which may
    // lie before first.
    const int rows[][4] = {{30, 49, 1, 25}, {0, 79, 21, 75}, {0, 24, 1, -1}, {25, 25, 1, -1},
                           {24, 25, 1, 25}, {0, 49, 0, -1}};
    for (const auto& [first, last, t, found] : rows) {
        EXPECT_EQ(qv::FindFrameOfTime(context_, file, first, last, At(t)), found) << first;
    }
}

}  // namespace
