#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "dv/DvPacks.h"
#include "dv/ThoroughScan.h"
#include "support/AviFixture.h"
#include "support/FakeQuestions.h"
#include "support/FfmpegTapes.h"
#include "support/RecordingProgress.h"
#include "support/SceneSetup.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

namespace {

using qvtest::DvTime;

// A recording as the camcorder wrote it: frames from a wall-clock time (or
// none), a timecode running from a start, one aspect and one audio rate.
struct Take {
    int frames = 0;
    std::optional<DvTime> start;
    bool recordingStart = false;  // REC ST in the first frame's source-control packs
    int tcSecond = 0;             // timecode of the first frame: seconds, then frames
    int tcFrame = 0;
    int tcMinute = 0;
    bool wide = false;
    int sampleRate = 48000;
};

uint8_t Bcd(int v) {
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

// The packs the thorough scan reads, written at their places in DIF sequence 0.
void SetPacks(std::vector<uint8_t>& f, bool pal, bool recStart, int tcMinute, int tcSecond,
              int tcFrame, bool wide, int rate) {
    const bool dropFrame = !pal;
    const uint8_t tc[5] = {0x13, static_cast<uint8_t>(Bcd(tcFrame) | (dropFrame ? 0x40 : 0)),
                           Bcd(tcSecond), Bcd(tcMinute), 0x00};
    std::copy_n(tc, 5, f.begin() + 86);  // subcode block 1, first sync block
    const uint8_t rs = recStart ? 0x00 : 0x80;
    const uint8_t vsc[5] = {0x61, 0x3F, static_cast<uint8_t>(rs | 0x48 | (wide ? 0x02 : 0x00)),
                            0xFC, 0xFF};
    std::copy_n(vsc, 5, f.begin() + 453);  // VAUX block 5, pack 10
    const uint8_t smp = rate == 48000 ? 0 : rate == 44100 ? 1 : 2;
    const uint8_t as[5] = {0x50, 0xD0, 0x30, static_cast<uint8_t>(pal ? 0xE0 : 0xC0),
                           static_cast<uint8_t>(0xC0 | smp << 3)};
    std::copy_n(as, 5, f.begin() + 6 * 80 + 3 * 16 * 80 + 3);  // audio block 3
    const uint8_t asc[5] = {0x51, 0x03, static_cast<uint8_t>(rs | 0x40 | 0x3F), 0x20, 0xFF};
    std::copy_n(asc, 5, f.begin() + 6 * 80 + 4 * 16 * 80 + 3);  // audio block 4
}

std::vector<std::vector<uint8_t>> TakeFrames(bool pal, const std::vector<Take>& takes) {
    std::vector<std::vector<uint8_t>> frames;
    const int fps = pal ? 25 : 30;
    for (const Take& t : takes) {
        int m = t.tcMinute, s = t.tcSecond, fr = t.tcFrame;
        for (int j = 0; j < t.frames; ++j) {
            std::optional<DvTime> time;
            if (t.start) {
                time = qvtest::Plus(*t.start, pal ? j / 25 : int64_t{j} * 1001 / 30000);
            }
            std::vector<uint8_t> f =
                qvtest::MakeDvFrame(pal, time, static_cast<uint32_t>(frames.size()));
            SetPacks(f, pal, t.recordingStart && j == 0, m, s, fr, t.wide, t.sampleRate);
            frames.push_back(std::move(f));
            if (++fr == fps) {
                fr = 0;
                if (++s == 60) {
                    s = 0;
                    ++m;
                    fr = !pal && m % 10 != 0 ? 2 : 0;  // drop-frame minutes
                }
            }
        }
    }
    return frames;
}

// Each place a pack the thorough scan reads may lie, alone in a frame of 0xFF bytes:
// the video and audio source-control packs in DIF sequence 0 and 1, the timecode in
// any of the twelve sync blocks of the two subcode blocks. A pack is read when the
// frame holds all its five bytes, and not when the frame ends one byte short.
TEST(DvFramePacks, EveryPlaceOfEachPackAndTheFramesEnd) {
    struct Place {
        const char* what;
        size_t at;
        std::vector<uint8_t> pack;
        std::function<bool(const qv::DvFrameMarks&)> read;
    };
    std::vector<Place> places = {
        {"video source control, sequence 0", 5 * 80 + 3 + 50, {0x61, 0x3F, 0x4A, 0xFC, 0xFF},
         [](const auto& m) { return m.aspect == 2 && m.recordingStart; }},
        {"video source control, sequence 1", 12000 + 3 * 80 + 3 + 5, {0x61, 0x3F, 0x48, 0xFC, 0xFF},
         [](const auto& m) { return m.aspect == 1 && m.recordingStart; }},
        {"audio source control, sequence 0", (6 + 4 * 16) * 80 + 3, {0x51, 0x03, 0x7F, 0x20, 0xFF},
         [](const auto& m) { return m.recordingStart && m.aspect == 0; }},
        {"audio source control, sequence 1", 12000 + (6 + 16) * 80 + 3,
         {0x51, 0x03, 0x7F, 0x20, 0xFF}, [](const auto& m) { return m.recordingStart; }},
    };
    for (size_t block = 1; block <= 2; ++block) {
        for (size_t sync = 0; sync < 6; ++sync) {
            places.push_back({"timecode", block * 80 + 3 + sync * 8 + 3, {0x13, 0x24, 0x35, 0x46, 0x12},
                              [](const auto& m) {
                                  return m.timecode.valid && m.timecode.frames == 24 &&
                                         m.timecode.seconds == 35 && m.timecode.minutes == 46 &&
                                         m.timecode.hours == 12;
                              }});
        }
    }
    for (const Place& p : places) {
        SCOPED_TRACE(std::string(p.what) + " at " + std::to_string(p.at));
        std::vector<uint8_t> frame(144000, 0xFF);
        std::copy(p.pack.begin(), p.pack.end(), frame.begin() + static_cast<std::ptrdiff_t>(p.at));
        EXPECT_TRUE(p.read(qv::DecodeFrameMarks(frame.data(), frame.size())));
        EXPECT_TRUE(p.read(qv::DecodeFrameMarks(frame.data(), p.at + 5)));
        const qv::DvFrameMarks cut = qv::DecodeFrameMarks(frame.data(), p.at + 4);
        EXPECT_FALSE(cut.timecode.valid || cut.recordingStart || cut.aspect != 0);
        // One byte off its place it is no pack.
        std::vector<uint8_t> shifted(144000, 0xFF);
        std::copy(p.pack.begin(), p.pack.end(), shifted.begin() + static_cast<std::ptrdiff_t>(p.at + 1));
        const qv::DvFrameMarks off = qv::DecodeFrameMarks(shifted.data(), shifted.size());
        EXPECT_FALSE(off.timecode.valid || off.recordingStart || off.aspect != 0);
    }
}

enum class Kind { Type1, Type2, Raw };

// A scene as the scan lists it: first frame, frame count, dated, the mark that began it.
using Found = std::tuple<int, int, bool, std::string>;

class ThoroughScan : public testing::TestWithParam<Kind> {
  protected:
    std::string Write(bool pal, const std::vector<Take>& takes) {
        return Save(pal, TakeFrames(pal, takes), false);
    }

    // The frames as raw DV, or in AVI: type-1 from the fixture writer, type-2 from the
    // fixture writer or, with ffmpegWrap, from ffmpeg copying the raw DV.
    std::string Save(bool pal, const std::vector<std::vector<uint8_t>>& video, bool ffmpegWrap) {
        const std::string path = dir.Path("tape" + std::to_string(++tapes) +
                                          (GetParam() == Kind::Raw ? ".dv" : ".avi"));
        if (GetParam() == Kind::Raw || (GetParam() == Kind::Type2 && ffmpegWrap)) {
            std::vector<uint8_t> bytes;
            for (const auto& f : video) {
                bytes.insert(bytes.end(), f.begin(), f.end());
            }
            const std::string raw = GetParam() == Kind::Raw ? path : path + ".dv";
            EXPECT_TRUE(qvtest::WriteFileBytes(raw, bytes));
            if (raw != path) {
                EXPECT_EQ(qvtest::RunShell("ffmpeg -v error -y -nostdin -i " + qvtest::Quote(raw) +
                                           " -c copy -f avi " + qvtest::Quote(path) + " 2>&1")
                              .status,
                          0);
            }
            return path;
        }
        const qvtest::FixtureOptions options =
            qvtest::OptionsOf(GetParam() == Kind::Type1 ? qvtest::DvType::Type1
                                                        : qvtest::DvType::Type2,
                              qvtest::Generation::Avi1, 0, true, pal);
        auto frames = qvtest::MakePatternFrames(options, static_cast<int>(video.size()), 0);
        for (size_t i = 0; i < video.size(); ++i) {
            frames[i].video = video[i];
        }
        EXPECT_TRUE(qvtest::WriteFixtureAvi(path, options, frames));
        return path;
    }

    std::vector<Found> Scan(const std::string& path, qv::ThoroughSplits splits = {},
                            bool thorough = true) {
        scenes.Clear();
        int64_t done = 0;
        EXPECT_EQ(thorough ? qv::ScanFileThoroughly(context, splits, path, done)
                           : qv::ScanFileDatestamps(context, path, done),
                  0);
        std::vector<Found> found;
        for (const qv::Scene& s : scenes) {
            found.emplace_back(s.firstFrame, s.frameCount, s.datestamp != 0,
                               qv::SceneStartName(s.start));
        }
        return found;
    }

    qvtest::ScopedFrameRate rate{qv::framesPerSecond};
    qvtest::ScopedTimeZone zone{"UTC"};
    qvtest::TempDir dir;
    int tapes = 0;
    std::unique_ptr<qv::AviReader> reader;
    qv::SceneList scenes;
    qvtest::FakeQuestions questions;
    qvtest::ProgressLog log;
    qvtest::RecordingProgress progress{log};
    qv::DatestampScanContext context{
        .sourceReader = reader, .scenes = scenes, .questions = questions, .progress = progress,
        .skipNoDatestamp = false, .lastPreviewTick = nullptr, .onProbe = {}};
};

const DvTime kTen{2004, 7, 14, 10, 0, 0};

TEST_P(ThoroughScan, ScenesBeginAtEveryMark) {
    struct Case {
        const char* what;
        bool pal;
        std::vector<Take> takes;
        std::vector<Found> expected;
    };
    const DvTime later = qvtest::Plus(kTen, 3);  // 60 frames end in 10:00:02: no jump
    const std::vector<Case> cases = {
        {"a pause of 1 s, the timecode running on",
         true,
         {{60, kTen, true, 0, 0}, {50, later, true, 2, 10}},
         {{0, 60, true, "file"}, {60, 50, true, "recording-start"}}},
        {"a timecode break alone",
         true,
         {{40, kTen, false, 0, 0}, {30, qvtest::Plus(kTen, 1), false, 30, 0}},
         {{0, 40, true, "file"}, {40, 30, true, "timecode"}}},
        {"an aspect change alone",
         true,
         {{30, kTen, false, 0, 0}, {30, qvtest::Plus(kTen, 1), false, 1, 5, 0, true}},
         {{0, 30, true, "file"}, {30, 30, true, "format"}}},
        {"an audio-rate change alone",
         true,
         {{30, kTen, false, 0, 0}, {30, qvtest::Plus(kTen, 1), false, 1, 5, 0, false, 32000}},
         {{0, 30, true, "file"}, {30, 30, true, "format"}}},
        {"no datestamps: recording starts and a timecode break",
         true,
         {{30, std::nullopt, true, 0, 0}, {30, std::nullopt, true, 1, 5},
          {20, std::nullopt, false, 40, 0}},
         {{0, 30, false, "file"}, {30, 30, false, "recording-start"}, {60, 20, false, "timecode"}}},
        {"29.97 across a drop-frame minute",
         false,
         {{40, kTen, true, 59, 10}},
         {{0, 40, true, "file"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Scan(Write(c.pal, c.takes)), c.expected);
    }
    // Each split is the user's choice; the datestamp jump always splits.
    const std::string path = Write(true, {{30, kTen, true, 0, 0},
                                          {30, qvtest::Plus(kTen, 1), true, 40, 0, 0, true},
                                          {30, qvtest::Plus(kTen, 20), false, 41, 5, 0, true}});
    EXPECT_EQ(Scan(path, {false, false, false}),
              (std::vector<Found>{{0, 60, true, "file"}, {60, 30, true, "datestamp"}}));
    EXPECT_EQ(Scan(path, {false, false, true}),
              (std::vector<Found>{{0, 30, true, "file"}, {30, 30, true, "format"},
                                  {60, 30, true, "datestamp"}}));
}

// A recording start marked by the video source-control pack alone, by the audio one
// alone, or by both begins a scene; marked by neither, the frames run on.
TEST_P(ThoroughScan, ARecordingStartIsSeenInEitherSourceControlPack) {
    const size_t video = 453 + 2;                 // VAUX 0x61, PC2: REC ST in bit 7
    const size_t audio = 6 * 80 + 4 * 16 * 80 + 3 + 2;  // AAUX 0x51, PC2
    const DvTime later = qvtest::Plus(kTen, 3);
    for (const auto& [inVideo, inAudio] :
         {std::pair{true, false}, std::pair{false, true}, std::pair{true, true},
          std::pair{false, false}}) {
        SCOPED_TRACE(std::string("video pack ") + (inVideo ? "marks" : "does not mark") +
                     ", audio pack " + (inAudio ? "marks" : "does not mark"));
        // The timecode runs on and the clock follows: the mark alone can split.
        auto frames = TakeFrames(true, {{60, kTen, false, 0, 0}, {50, later, true, 2, 10}});
        std::vector<uint8_t>& start = frames[60];
        ASSERT_EQ(start[video - 2], 0x61);
        ASSERT_EQ(start[audio - 2], 0x51);
        start[video] = static_cast<uint8_t>(inVideo ? start[video] & 0x7F : start[video] | 0x80);
        start[audio] = static_cast<uint8_t>(inAudio ? start[audio] & 0x7F : start[audio] | 0x80);
        const std::vector<Found> expected =
            inVideo || inAudio
                ? std::vector<Found>{{0, 60, true, "file"}, {60, 50, true, "recording-start"}}
                : std::vector<Found>{{0, 110, true, "file"}};
        EXPECT_EQ(Scan(Save(true, frames, false)), expected);
    }
}

// A pack lost from a frame or two (a dropout: the timecode, the video or audio
// source-control pack, the audio source pack) is no mark: the recording stays one
// scene, whichever pack goes and whether one frame or two in a row lose it.
TEST_P(ThoroughScan, APackLostInADropoutIsNoMark) {
    using Place = std::pair<size_t, size_t>;  // first byte, bytes
    const auto audioPack = [](size_t sequence, size_t block) {
        return Place{sequence * 12000 + (6 + 16 * block) * 80 + 3, 5};
    };
    const struct {
        const char* what;
        std::vector<Place> places;
    } losses[] = {
        {"timecode", {{80, 160}}},  // both subcode blocks of sequence 0
        {"video source control", {{453, 5}, {12000 + 3 * 80 + 3 + 5, 5}}},
        {"audio source control", {audioPack(0, 4), audioPack(1, 1)}},
        {"audio source", [&] {
             std::vector<Place> all;
             for (size_t c = 0; c < 12; ++c) {
                 all.push_back(audioPack(c, c % 2 != 0 ? 0 : 3));
             }
             return all;
         }()},
    };
    for (const auto& loss : losses) {
        for (const int lost : {1, 2}) {
            SCOPED_TRACE(std::string(loss.what) + ", frames lost " + std::to_string(lost));
            auto frames = TakeFrames(true, {{40, kTen, true, 0, 0, 0, true, 32000}});
            for (int f = 20; f < 20 + lost; ++f) {
                for (const auto& [at, n] : loss.places) {
                    std::fill_n(frames[static_cast<size_t>(f)].begin() + static_cast<long>(at), n,
                                uint8_t{0xFF});
                }
            }
            EXPECT_EQ(Scan(Save(true, frames, false)), (std::vector<Found>{{0, 40, true, "file"}}));
        }
    }
}

TEST_P(ThoroughScan, FfmpegTapesSplitWhereARecordingEndsAndNowhereElse) {
    constexpr const char* kAt0 = "2004-07-14T10:00:00Z";
    constexpr const char* kAt1 = "2004-07-14T10:00:01Z";
    using qvtest::Segment;
    struct Case {
        const char* what;
        std::vector<Segment> segments;
        std::vector<Found> expected;
    };
    const Segment first{30, kAt0, "00:00:00:00", true};
    const std::vector<Case> cases = {
        {"a pause of 1 s, the timecode running on",
         {first, {30, "2004-07-14T10:00:02Z", "00:00:01:05", true}},
         {{0, 30, true, "file"}, {30, 30, true, "recording-start"}}},
        {"a timecode break alone",
         {first, {30, kAt1, "00:00:30:00"}},
         {{0, 30, true, "file"}, {30, 30, true, "timecode"}}},
        {"an aspect change alone",
         {first, {30, kAt1, "00:00:01:05", false, true}},
         {{0, 30, true, "file"}, {30, 30, true, "format"}}},
        {"an audio-rate change alone",
         {first, {30, kAt1, "00:00:01:05", false, false, 32000}},
         {{0, 30, true, "file"}, {30, 30, true, "format"}}},
        {"no datestamps: recording starts and a timecode break",
         {{30, nullptr, "00:00:00:00", true}, {30, nullptr, "00:00:01:05", true},
          {30, nullptr, "00:10:00:00"}},
         {{0, 30, false, "file"}, {30, 30, false, "recording-start"}, {60, 30, false, "timecode"}}},
        {"29.97 across a drop-frame minute",
         {{40, kAt0, "00:00:59;20", true, false, 48000, true}},
         {{0, 40, true, "file"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Scan(Save(!c.segments[0].ntsc, qvtest::TapeOf(c.segments), true)), c.expected);
    }
}

// Two recordings 2.4 s apart: every frame's time follows on from the frame before but
// at the second recording's first frame, so the default scan cuts there or nowhere.
TEST_P(ThoroughScan, APauseOfSecondsIsCutAtTheSecondRecordingsFirstFrame) {
    if (GetParam() != Kind::Type2) {
        GTEST_SKIP() << "the ffmpeg-made type-2 AVI is the case";
    }
    const std::string path = Save(true,
                                  qvtest::TapeOf({{240, "2004-07-14T10:00:00Z"},
                                          {280, "2004-07-14T10:00:12Z", "00:00:09:15"}}),
                                  true);
    const std::vector<Found> two{{0, 240, true, "file"}, {240, 280, true, "datestamp"}};
    EXPECT_EQ(Scan(path), two);
    const std::vector<Found> byDefault = Scan(path, {}, false);
    if (byDefault.size() != 1) {
        EXPECT_EQ(byDefault, two);
    }
}

// A camcorder clock that runs fast against the frames (a second every 20 frames, at
// 25 a second): the recording time never jumps from frame to frame, and a scene goes
// on while its frames' time is at most 2 s ahead of the time its first frame and the
// frame count give; the first frame 3 s ahead begins the next scene.
TEST_P(ThoroughScan, AClockAheadOfItsFramesSplitsBeyondTwoSeconds) {
    const auto fast = [](int count) {
        std::vector<std::vector<uint8_t>> frames;
        for (int j = 0; j < count; ++j) {
            auto f = qvtest::MakeDvFrame(true, qvtest::Plus(kTen, j / 20), static_cast<uint32_t>(j));
            SetPacks(f, true, false, 0, j / 25 % 60, j % 25, false, 48000);
            frames.push_back(std::move(f));
        }
        return frames;
    };
    // Frame 199: 9 s of clock against 7 s of frames; frame 220: 11 s against 8 s.
    EXPECT_EQ(Scan(Save(true, fast(200), false)), (std::vector<Found>{{0, 200, true, "file"}}));
    EXPECT_EQ(Scan(Save(true, fast(300), false)),
              (std::vector<Found>{{0, 220, true, "file"}, {220, 80, true, "datestamp"}}));
}

// A type-1 capture whose frames are "REF " chunks into a data file, as capture cards
// wrote them: every reference is followed for its recording time, a chunk of 512
// bytes or more is a frame even when it starts with "REF ", and a reference that
// names no file is a frame without datestamp. The bytes of a reference are no
// damage of the tape; a 512-byte frame is.
TEST_P(ThoroughScan, FramesInADataFileAreFollowedAndTheirReferencesAreNoDamage) {
    if (GetParam() != Kind::Type1) {
        return;  // a reference is a type-1 chunk
    }
    const DvTime eleven{2004, 7, 14, 11, 0, 0};
    const auto dv = TakeFrames(true, {{30, kTen}, {20, eleven}});
    qvtest::RiffBuilder data;
    data.Zeros(16);
    std::vector<uint32_t> at;
    for (const auto& f : dv) {
        at.push_back(static_cast<uint32_t>(data.Position()));
        data.Chunk("00dc", f);
    }
    const std::string dataFile = dir.Path("capture.dat");
    ASSERT_TRUE(qvtest::WriteFileBytes(dataFile, data.Bytes()));
    std::vector<std::vector<uint8_t>> refs;
    for (size_t i = 0; i < dv.size(); ++i) {
        refs.push_back(qvtest::MakeRefChunk(at[i], dataFile));
    }
    refs[10] = qvtest::Sized(refs[10], 511);
    refs[20].resize(512, 0xFF);  // no recording date where a frame has it
    refs[40] = {'R', 'E', 'F', ' '};
    const qvtest::FixtureOptions options =
        qvtest::OptionsOf(qvtest::DvType::Type1, qvtest::Generation::Avi1, 0, true, true);
    auto frames = qvtest::MakePatternFrames(options, static_cast<int>(refs.size()), 0);
    for (size_t i = 0; i < refs.size(); ++i) {
        frames[i].video = refs[i];
    }
    const std::string path = dir.Path("refs.avi");
    ASSERT_TRUE(qvtest::WriteFixtureAvi(path, options, frames));
    EXPECT_EQ(Scan(path), (std::vector<Found>{{0, 20, true, "file"},
                                              {20, 1, false, "datestamp"},
                                              {21, 9, true, "datestamp"},
                                              {30, 10, true, "datestamp"},
                                              {40, 1, false, "datestamp"},
                                              {41, 9, true, "datestamp"}}));
    ASSERT_EQ(scenes.Count(), 6);
    for (int i = 0; i < scenes.Count(); ++i) {
        SCOPED_TRACE("scene " + std::to_string(i));
        EXPECT_EQ(scenes[i].referencedFile, i == 1 || i == 4 ? "" : dataFile);
        EXPECT_EQ(scenes[i].health.damagedFrames, i == 1 ? 1 : 0);
    }
    EXPECT_EQ(scenes[3].datestamp, 1089802800);  // 2004-07-14 11:00:00 UTC, from the data file
}

INSTANTIATE_TEST_SUITE_P(Kinds, ThoroughScan, testing::Values(Kind::Type1, Kind::Type2, Kind::Raw));

TEST(DvPacks, DropFrameTimecodeSkipsTheFirstTwoFramesOfMinutesButEachTenth) {
    const auto tc = [](int m, int s, int f) { return qv::DvTimecode{true, true, 0, m, s, f}; };
    EXPECT_TRUE(qv::TimecodeFollows(tc(0, 59, 29), tc(1, 0, 2), 30));
    EXPECT_FALSE(qv::TimecodeFollows(tc(0, 59, 29), tc(1, 0, 0), 30));
    EXPECT_TRUE(qv::TimecodeFollows(tc(9, 59, 29), tc(10, 0, 0), 30));
    EXPECT_TRUE(qv::TimecodeFollows(qv::DvTimecode{true, false, 0, 0, 59, 24},
                                    qv::DvTimecode{true, false, 0, 1, 0, 0}, 25));
}

}  // namespace
