#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <tuple>

#include "avi/ClipCopier.h"
#include "platform/FileSystem.h"
#include "platform/Progress.h"
#include "support/AviFixture.h"
#include "support/FakeQuestions.h"
#include "support/Ffmpeg.h"
#include "support/ReadUnits.h"
#include "support/RecordingProgress.h"
#include "support/SceneSetup.h"

namespace {

using namespace qvtest;

constexpr int kVideoBytes = 1000;      // small frames: the copy never looks inside them
constexpr int64_t kTime = 1089800430;  // 2004-07-14 10:20:30 UTC
constexpr int64_t kSecondTrack = 5000000;

// Everything one audio stream holds (of at most 8-byte units), in one read.
std::vector<uint8_t> AllAudio(qv::AviStream& audio) {
    return ReadUnits(audio, 0, audio.Length(), audio.Length() * 8).bytes;
}

class ClipCopierTest : public ::testing::Test {
  protected:
    void TearDown() override { qv::SetWriteFaults(nullptr); }

    // With secondTrack, a second PCM track of a rate of its own (32 kHz, as DV records it
    // in four channels), whose samples are numbered from kSecondTrack.
    // ffmpeg's own encoding of 1.2 s (encoded.avi) and dvgrab's type-2 file of clip
    // (grab-001.avi) in the test's folder. dvgrab takes a fraction of a second, but
    // now and then waits without end, and on a busy machine drops frames of a file:
    // bounded, and made again until it holds every frame of the clip.
    void MakeRealFiles(const DvClip& clip, bool pal) {
        const std::string folder = Quote(dir_.Dir().string());
        RunShell("cd " + folder + " && ffmpeg -v error -nostdin -f lavfi -i testsrc=size=720x" +
                 (pal ? "576:rate=25" : "480:rate=30000/1001") +
                 " -f lavfi -i sine=sample_rate=48000 -t 1.2 -c:v dvvideo -pix_fmt " +
                 (pal ? "yuv420p" : "yuv411p") + " -c:a pcm_s16le -ac 2 encoded.avi");
        const std::string grabbed = dir_.Path("grab-001.avi");
        for (int attempt = 0; attempt < 8; ++attempt) {
            RunShell("cd " + folder + " && rm -f grab-* && timeout -k 1 3 dvgrab -I " +
                     Quote(clip.dvPath) + " -format dv2 -size 0 grab- </dev/null >/dev/null 2>&1" +
                     " || rm -f grab-*");
            copier_.sourceReader.reset();
            const auto reader = qv::OpenAviFile(grabbed);
            if (reader && reader->FrameCount() == static_cast<int>(clip.frames.size())) {
                return;
            }
        }
        std::filesystem::remove(grabbed);  // the tests then say what is missing
    }

    std::string MakeSource(const FixtureOptions& options, int frames, bool secondTrack = false) {
        options_ = options;
        frames_ = MakePatternFrames(options, frames, kVideoBytes);
        if (secondTrack) {
            ExtraStream second{"auds", 1, 32000, {}};
            const double s = 32000.0 / FramesPerSecond();
            for (int i = 0; i < frames; ++i) {
                second.chunks.push_back(AudioPattern(
                    options, kSecondTrack + qv::AudioUnitsOf(0, i, s), qv::AudioUnitsOf(i, 1, s)));
            }
            options_.extraStreams = {second};
        }
        copier_.sourceReader.reset();  // the copier keeps the last source open
        const std::string path = dir_.Path("tape.avi");
        EXPECT_TRUE(WriteFixtureAvi(path, options_, frames_));
        return path;
    }

    // A scene of the source, dated as the tapes are.
    qv::Scene SceneOf(const std::string& source, int first, int count) {
        qv::Scene s = qvtest::SceneOf(source, first, count);
        s.datestamp = kTime;
        return s;
    }

    int Copy(const std::string& dest, const qv::Scene& scene, size_t bufferBytes = 64 << 10,
             int framesPerStep = 1) {
        buffer_.assign(bufferBytes, 0xEE);
        copier_.copyBuffer = buffer_;
        return copier_.CopyScene(dest, scene, progress_, framesDone_, framesPerStep);
    }

    // The output holds exactly the scene's frames and their audio: the first track's,
    // and a second track's (samples numbered from kSecondTrack) when the source has one.
    void ExpectCopyOf(const std::string& dest, int first, int count, const std::string& kind) {
        auto out = qv::OpenAviFile(dest);
        ASSERT_TRUE(out);
        EXPECT_EQ(out->Kind(), kind);
        ASSERT_EQ(out->FrameCount(), count);
        for (int f = 0; f < count; ++f) {
            EXPECT_EQ(ReadUnits(*out->Stream(0), f, 1, 200000).bytes,
                      frames_[static_cast<size_t>(first + f)].video)
                << "frame " << f;
        }
        const bool type2 = options_.type == DvType::Type2;
        ASSERT_EQ(out->StreamCount(),
                  type2 ? 1 + 1 + static_cast<int>(options_.extraStreams.size()) : 1);
        // Each track's own chunks, one a frame, are followed.
        for (int track = 0; type2 && track < out->StreamCount() - 1; ++track) {
            const double s = 32000.0 / FramesPerSecond();
            const int64_t start = track == 0 ? FirstSampleOf(options_, first)
                                             : kSecondTrack + qv::AudioUnitsOf(0, first, s);
            const int64_t n = track == 0 ? FirstSampleOf(options_, first + count) - start
                                         : qv::AudioUnitsOf(first, count, s);
            EXPECT_EQ(out->Stream(1 + track)->Length(), n) << "track " << track;
            EXPECT_EQ(AllAudio(*out->Stream(1 + track)), AudioPattern(options_, start, n))
                << "track " << track;
        }
    }

    double FramesPerSecond() const { return options_.pal ? 25.0 : 30000.0 / 1001.0; }

    std::vector<std::string> FilesInDir() const { return FolderEntries(dir_.Dir()); }

    // The copy was refused with one message (and these buttons) and left no file behind
    // but these.
    void ExpectRefused(const std::string& text, std::optional<qv::Buttons> buttons = {},
                       const std::vector<std::string>& files = {"tape.avi"}) {
        ASSERT_EQ(questions_.asked.size(), 1u);
        EXPECT_EQ(questions_.asked[0].text, text);
        EXPECT_TRUE(!buttons || questions_.asked[0].buttons == *buttons) << "buttons";
        EXPECT_EQ(FilesInDir(), files);
        questions_.asked.clear();
    }

    TempDir dir_;
    FixtureOptions options_;
    std::vector<FixtureFrame> frames_;
    FakeQuestions questions_;
    qv::ClipCopier copier_{questions_};
    ProgressLog log_;  // Cancel is pressed at the checks log_.cancel chooses
    RecordingProgress progress_{log_};
    std::vector<uint8_t> buffer_;
    int framesDone_ = 0;
};

struct Shape {
    const char* name;
    FixtureOptions options;
    const char* kind;
};

class CopyShapes : public ClipCopierTest, public ::testing::WithParamInterface<Shape> {};

TEST_P(CopyShapes, CopiesTheScenesFramesWithTheirAudio) {
    std::string source = MakeSource(GetParam().options, 40);
    const auto before = ReadFileBytes(source);
    // A buffer of a few frames: many refills.
    ASSERT_EQ(Copy(dir_.Path("out.avi"), SceneOf(source, 7, 29), 3 * (kVideoBytes + 8000)), 0);
    EXPECT_TRUE(questions_.asked.empty());
    ExpectCopyOf(dir_.Path("out.avi"), 7, 29, GetParam().kind);
    EXPECT_EQ(ReadFileBytes(source), before);
    EXPECT_EQ(framesDone_, 29);
    int64_t mtime = 0;
    ASSERT_TRUE(qv::GetModificationTime(dir_.Path("out.avi"), &mtime));
    EXPECT_EQ(mtime, kTime);
    EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"out.avi", "tape.avi"}));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CopyShapes,
    ::testing::Values(
        Shape{"type2_avi1_pal", {}, "avi1"}, Shape{"type2_avi1_ntsc", {.pal = false}, "avi1"},
        Shape{"type2_odml_segments",
              {.generation = Generation::OpenDml, .framesPerSegment = 10}, "odml-avi2"},
        Shape{"type2_compat_ntsc",
              {.generation = Generation::OpenDmlCompat, .pal = false, .framesPerSegment = 12},
              "compat.odml-avi2"},
        Shape{"type1_avi1", {.type = DvType::Type1, .pal = false}, "avi1"},
        Shape{"type1_odml",
              {.type = DvType::Type1, .generation = Generation::OpenDml, .framesPerSegment = 15},
              "odml-avi2"}),
    [](const auto& shape) { return std::string(shape.param.name); });

TEST_F(ClipCopierTest, ASceneTooLargeForOneSegmentOfAnAvi1SourceGetsOpenDmlIndexes) {
    std::string source = MakeSource(FixtureOptions{}, 60);
    copier_.segmentLimit = 200 << 10;  // about 20 frames of 1000 + 7680 bytes
    ASSERT_EQ(Copy(dir_.Path("big.avi"), SceneOf(source, 0, 60)), 0);
    ExpectCopyOf(dir_.Path("big.avi"), 0, 60, "compat.odml-avi2");
    EXPECT_NE(FindFourCC(ReadFileBytes(dir_.Path("big.avi")), "AVIX"), kNotFound);
    // A scene that fits stays an AVI 1.0 file.
    ASSERT_EQ(Copy(dir_.Path("small.avi"), SceneOf(source, 0, 5)), 0);
    ExpectCopyOf(dir_.Path("small.avi"), 0, 5, "avi1");

    // Video and the first track alone would fit one segment; with the second they do not.
    source = MakeSource(FixtureOptions{}, 60, true);
    copier_.segmentLimit = 800 << 10;
    ASSERT_EQ(Copy(dir_.Path("two.avi"), SceneOf(source, 0, 60)), 0);
    ExpectCopyOf(dir_.Path("two.avi"), 0, 60, "compat.odml-avi2");
}

// NTSC frames take 1602 and 1601 sample frames of 48 kHz audio in turn, each frame
// boundary at the nearest sample.
TEST_F(ClipCopierTest, BothTracksAreCopiedAndScenesJoinWithoutGapOrOverlap) {
    const double ntsc = 48000.0 / (30000.0 / 1001.0);
    EXPECT_EQ(std::tuple(qv::AudioUnitsOf(0, 1, ntsc), qv::AudioUnitsOf(1, 1, ntsc),
                         qv::AudioUnitsOf(2, 1, ntsc), qv::AudioUnitsOf(0, 5, ntsc)),
              std::tuple(1602, 1601, 1602, 8008));
    for (const auto& [options, kind] :
         {std::pair{FixtureOptions{.pal = false, .framesPerSegment = 10}, "avi1"},
          std::pair{FixtureOptions{.generation = Generation::OpenDml, .framesPerSegment = 10},
                    "odml-avi2"}}) {
        std::string source = MakeSource(options, 30, true);
        int64_t first = 0, second = 0;
        // A buffer of a few frames: many refills.
        for (auto [from, count] : {std::pair{0, 13}, std::pair{13, 17}}) {
            std::string dest = dir_.Path("part" + std::to_string(from) + ".avi");
            ASSERT_EQ(Copy(dest, SceneOf(source, from, count), 3 * (kVideoBytes + 8000 + 5400)), 0);
            ExpectCopyOf(dest, from, count, kind);
            auto out = qv::OpenAviFile(dest);
            first += out->Stream(1)->Length();
            second += out->Stream(2)->Length();
        }
        auto in = qv::OpenAviFile(source);
        EXPECT_EQ(first, in->Stream(1)->Length());
        EXPECT_EQ(second, in->Stream(2)->Length());
        EXPECT_TRUE(questions_.asked.empty());
    }
}

TEST_F(ClipCopierTest, AStreamThatCannotBeCutAtFramesRefusesTheScene) {
    struct Case {
        ExtraStream stream;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"t~\x7Fs", 1, 25, {}},
         "the sourcefile has a stream that can't be copied (stream 2, type t~?s); nothing was "
         "written"},
        {{"auds", 0x55, 48000, {}},  // compressed audio
         "the sourcefile has a stream that can't be copied (stream 2, type auds, not PCM); "
         "nothing was written"},
        {{"vids", 1, 25, {}},
         "the sourcefile has a stream that can't be copied (stream 2, type vids); nothing was "
         "written"},
    };
    for (const Case& c : cases) {
        FixtureOptions o;
        o.extraStreams = {c.stream};
        o.extraStreams[0].chunks.assign(10, std::vector<uint8_t>(64, 0x5A));
        const std::string source = MakeSource(o, 10);
        EXPECT_EQ(Copy(dir_.Path("out.avi"), SceneOf(source, 0, 5)), -1);
        ExpectRefused(c.message, qv::Buttons::Ok);
        EXPECT_EQ(framesDone_, 0);
    }
}

// A destination written earlier for this scene (its time within 2 s, its first and
// last frames the scene's) is overwritten without asking; any other file is asked
// about - even one with the scene's time, from another tape whose clock said the same.
TEST_F(ClipCopierTest, AnExistingDestinationIsAskedAboutUnlessItIsThisScenesEarlierCopy) {
    std::string source = MakeSource(FixtureOptions{}, 10);
    std::string dest = dir_.Path("out.avi");
    struct Existing {
        const char* name;
        int first, count;  // a copy of frames of the source; count 0: not an AVI
        int64_t offset;    // its time against the scene's
        bool asked;
    };
    for (const Existing e :
         {Existing{"2 s early", 0, 4, -2, false}, Existing{"same time", 0, 4, 0, false},
          Existing{"2 s late", 0, 4, 2, false}, Existing{"3 s late", 0, 4, 3, true},
          Existing{"not an AVI", 0, 0, 0, true}, Existing{"other frames", 1, 4, 0, true},
          Existing{"fewer frames", 0, 3, 0, true}, Existing{"same start", 0, 5, 0, true}}) {
        SCOPED_TRACE(e.name);
        std::filesystem::remove(dest);
        if (e.count == 0) {
            ASSERT_TRUE(WriteFileBytes(dest, {1, 2, 3}));
        } else {
            ASSERT_EQ(Copy(dest, SceneOf(source, e.first, e.count)), 0);
        }
        ASSERT_TRUE(qv::SetModificationTime(dest, kTime + e.offset));
        const auto before = ReadFileBytes(dest);
        const int done = framesDone_;
        questions_.asked.clear();
        questions_.answers = {qv::Answer::Abort};
        if (!e.asked) {
            ASSERT_EQ(Copy(dest, SceneOf(source, 0, 4)), 0);
            EXPECT_TRUE(questions_.asked.empty());
            ExpectCopyOf(dest, 0, 4, "avi1");
            continue;
        }
        EXPECT_EQ(Copy(dest, SceneOf(source, 0, 4)), -1);
        EXPECT_EQ(questions_.asked.at(0).caption, "Confirm");
        ExpectRefused("Do you want to overwrite\r\n" + dest + "?", qv::Buttons::YesYesForAllAbort,
                      {"out.avi", "tape.avi"});
        EXPECT_EQ(ReadFileBytes(dest), before);
        EXPECT_EQ(framesDone_, done);  // nothing was copied
    }

    // Yes overwrites once; Yes for all, every file for the rest of the run.
    std::string dest2 = dir_.Path("out2.avi");
    for (const std::string& d : {dest, dest2}) {
        ASSERT_TRUE(WriteFileBytes(d, {1, 2, 3}));
        ASSERT_TRUE(qv::SetModificationTime(d, 1000));
    }
    questions_.asked.clear();
    questions_.answers = {qv::Answer::Yes};
    ASSERT_EQ(Copy(dest, SceneOf(source, 0, 4)), 0);
    ExpectCopyOf(dest, 0, 4, "avi1");
    EXPECT_FALSE(copier_.yesForAll);

    ASSERT_TRUE(qv::SetModificationTime(dest, 1000));
    questions_.answers = {qv::Answer::YesForAll};
    ASSERT_EQ(Copy(dest, SceneOf(source, 0, 4)), 0);
    EXPECT_TRUE(copier_.yesForAll);
    ASSERT_EQ(Copy(dest2, SceneOf(source, 4, 4)), 0);
    EXPECT_EQ(questions_.asked.size(), 2u);
    ExpectCopyOf(dest2, 4, 4, "avi1");

    // The bar moves during refills, at once, and the end of the copy moves it no more.
    log_.positions.clear();
    framesDone_ = 512;
    ASSERT_EQ(Copy(dir_.Path("bar.avi"), SceneOf(source, 2, 8), 1 << 20, 256), 0);
    ASSERT_GE(log_.positions.size(), 2u);
    EXPECT_EQ(log_.positions.front().position, 2);  // (512 + 0) / 256
    EXPECT_EQ(log_.positions.back().position, -1);
}

TEST_F(ClipCopierTest, ScenesThatCannotBeCopiedCreateNothing) {
    std::string source = MakeSource(FixtureOptions{}, 10);
    struct Case {
        qv::Scene scene;
        std::string message;
        std::string dest;
        size_t buffer = 64 << 10;
        qv::WriteFaults faults = {};
    };
    const std::string out = dir_.Path("out.avi");
    const std::string read = "error reading the video stream";
    // The disk-full guess only where the disk is full; the file and the reason after it.
    const std::string write = "error writing to the video stream\n" + out + ": Input/output error";
    const std::string missing = dir_.Path("missing.avi");
    const std::string noFolder = dir_.Path("no/such/folder/out.avi");
    const std::vector<Case> cases = {
        {SceneOf(missing, 0, 3),
         "the sourcefile can't be opened for reading\n" + missing + ": No such file or directory",
         out},
        {SceneOf(source, 0, 0), read, out},
        {SceneOf(source, -1, 3), read, out},
        {SceneOf(source, 8, 3), read, out},
        {SceneOf(source, 0, 3), "the destfile is the sourcefile itself; it is not overwritten",
         source},
        {SceneOf(source, 0, 3),
         "the destfile can't be opened for writing\n" + noFolder + ": No such file or directory",
         noFolder},
        // A buffer too small for one frame is a read error, not a short frame.
        {SceneOf(source, 0, 3), read, out, kVideoBytes + 100},
        {SceneOf(source, 0, 5), write, out, 64 << 10, {.failFlush = true}},
        {SceneOf(source, 0, 5), write, out, 64 << 10, {.failRename = true}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        Case c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.message);
        qv::SetWriteFaults(&c.faults);
        EXPECT_EQ(Copy(c.dest, c.scene, c.buffer), -1);
        qv::SetWriteFaults(nullptr);
        ExpectRefused(c.message);
    }
    // One frame and its audio exactly: fine.
    EXPECT_EQ(Copy(out, SceneOf(source, 0, 3), kVideoBytes + 1920 * 4), 0);
    ExpectCopyOf(out, 0, 3, "avi1");
    ASSERT_TRUE(qv::RemoveFile(out));

    // The source the copier holds open loses its end: frame 9 comes up short.
    ASSERT_TRUE(copier_.sourceReader);
    std::filesystem::resize_file(source, std::filesystem::file_size(source) - 9000);
    const int done = framesDone_;
    EXPECT_EQ(Copy(out, SceneOf(source, 0, 10)), -1);
    ExpectRefused("error reading the video stream");
    EXPECT_EQ(framesDone_, done + 10);
}

// An index entry that no longer points at its chunk (a damaged index, a file changed
// since): what lies there is not copied as the frame or its audio.
TEST_F(ClipCopierTest, AnIndexEntryNotAtItsChunkIsAReadError) {
    struct Damage {
        const char* name;
        Generation generation;
        bool video;    // the video or the audio entry of frame 4
        size_t field;  // dwChunkOffset of "idx1", dwOffset of a standard index
        uint32_t add;
    };
    for (const Damage& d : {Damage{"idx1 video offset", Generation::Avi1, true, 8, 2},
                            Damage{"idx1 audio offset", Generation::Avi1, false, 8, 16},
                            Damage{"ix00 offset", Generation::OpenDml, true, 0, 2},
                            Damage{"ix00 size", Generation::OpenDml, true, 4, 8}}) {
        SCOPED_TRACE(d.name);
        FixtureOptions o;
        o.generation = d.generation;
        const std::string source = MakeSource(o, 10);
        auto bytes = ReadFileBytes(source);
        size_t at;
        if (d.generation == Generation::Avi1) {
            // Entries in file order: video 0, audio 0, video 1, ...
            at = FindFourCC(bytes, "idx1") + 8 + (d.video ? 8 : 9) * 16 + d.field;
        } else {
            at = FindFourCC(bytes, "ix00") + 32 + 4 * 8 + d.field;
        }
        PutLe32(bytes, at, GetLe32(bytes, at) + d.add);
        ASSERT_TRUE(WriteFileBytes(source, bytes));
        questions_.answers = {qv::Answer::No};
        EXPECT_EQ(Copy(dir_.Path("out.avi"), SceneOf(source, 2, 5)), -1);
        ExpectRefused(d.video ? "error reading the video stream"
                              : "there was an error reading the audio stream\n- do you want to "
                                "ignore audio-stream errors?",
                      d.video ? qv::Buttons::Ok : qv::Buttons::YesNoDefaultNo);
        // The frames before the damage still read as they were written.
        auto reader = qv::OpenAviFile(source);
        ASSERT_TRUE(reader);
        EXPECT_EQ(ReadUnits(*reader->Stream(0), 3, 1, 200000).bytes, frames_[3].video);
    }
}

// A source whose audio ends before its video: frames from 5 on have no audio chunk.
TEST_F(ClipCopierTest, IgnoredAudioErrorsGiveSilenceOfTheExpectedLength) {
    frames_ = MakePatternFrames(options_, 10, kVideoBytes);
    for (size_t f = 5; f < frames_.size(); ++f) {
        frames_[f].audio.clear();
    }
    const std::string source = dir_.Path("tape.avi");
    ASSERT_TRUE(WriteFixtureAvi(source, options_, frames_));
    questions_.answers = {qv::Answer::Yes};
    ASSERT_EQ(Copy(dir_.Path("out.avi"), SceneOf(source, 3, 5)), 0);
    EXPECT_TRUE(copier_.ignoreAudioErrors);
    EXPECT_EQ(questions_.asked.size(), 1u);  // asked once for the run
    auto out = qv::OpenAviFile(dir_.Path("out.avi"));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->FrameCount(), 5);
    ASSERT_EQ(out->Stream(1)->Length(), 5 * 1920);
    auto expected = AudioPattern(options_, 3 * 1920, 2 * 1920);
    expected.resize(5 * 1920 * 4, 0);
    EXPECT_EQ(AllAudio(*out->Stream(1)), expected);

    // Before any audio was read in a scene, the unit size is unknown: no audio chunk.
    ASSERT_EQ(Copy(dir_.Path("late.avi"), SceneOf(source, 6, 3)), 0);
    out = qv::OpenAviFile(dir_.Path("late.avi"));
    EXPECT_EQ(out->FrameCount(), 3);
    EXPECT_EQ(out->Stream(1)->Length(), 0);
}

TEST_F(ClipCopierTest, CancelAnsweredNoLosesNoFrameAndYesRemovesTheCopy) {
    std::string source = MakeSource(FixtureOptions{}, 50);
    log_.cancel = [](int check) { return std::set<int>{1, 4, 7, 10}.count(check) != 0; };
    questions_.answers = {qv::Answer::No, qv::Answer::No, qv::Answer::No, qv::Answer::No};
    ASSERT_EQ(Copy(dir_.Path("out.avi"), SceneOf(source, 0, 50), 4 * (kVideoBytes + 7680)), 0);
    EXPECT_EQ(questions_.asked.size(), 4u);
    EXPECT_EQ(questions_.asked[0].text, "do you want to abort?");
    EXPECT_EQ(questions_.asked[0].buttons, qv::Buttons::YesNo);
    ExpectCopyOf(dir_.Path("out.avi"), 0, 50, "avi1");

    // An existing destination outlives an aborted copy untouched.
    const std::vector<uint8_t> old = {9, 9};
    ASSERT_TRUE(WriteFileBytes(dir_.Path("old.avi"), old));
    ASSERT_TRUE(qv::SetModificationTime(dir_.Path("old.avi"), kTime));
    log_.cancelChecks = 0;
    log_.cancel = [](int check) { return check == 8; };
    questions_.answers = {qv::Answer::Yes, qv::Answer::Yes};  // overwrite; abort
    framesDone_ = 100;
    EXPECT_EQ(Copy(dir_.Path("old.avi"), SceneOf(source, 0, 50), 4 * (kVideoBytes + 7680)), -1);
    EXPECT_EQ(framesDone_, 150);
    EXPECT_EQ(ReadFileBytes(dir_.Path("old.avi")), old);
    EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"old.avi", "out.avi", "tape.avi"}));
}

// Real NTSC type-2 files cut at every residue of 5 frames: ffmpeg's wrapping of DV and
// dvgrab's file carry the audio one chunk per frame (1600 and 1602 samples as DV
// records it), which each scene keeps; ffmpeg's own encoding has chunks of 1024 samples
// and more audio than video. Either way the scenes joined are the source's audio.
TEST_F(ClipCopierTest, NtscScenesCutAnywhereHoldTheSourcesAudioSampleForSample) {
    std::string reason;
    const DvClip* clip = RealDvClip(kNtsc, &reason);
    ASSERT_NE(clip, nullptr) << reason;
    const std::string encoded = dir_.Path("encoded.avi"), grabbed = dir_.Path("grab-001.avi");
    MakeRealFiles(*clip, false);
    ASSERT_TRUE(std::filesystem::exists(encoded) && std::filesystem::exists(grabbed))
        << "ffmpeg and dvgrab (test dependencies) are needed";
    copier_.yesForAll = true;  // each part replaces the one before
    for (const auto& [source, perFrame] :
         {std::pair{clip->aviPath, true}, std::pair{grabbed, true}, std::pair{encoded, false}}) {
        SCOPED_TRACE(source);
        auto in = qv::OpenAviFile(source);
        ASSERT_TRUE(in && in->StreamCount() == 2);
        qv::AviStream& audio = *in->Stream(1);
        const int frames = in->FrameCount();
        EXPECT_EQ(qv::AudioSplit(*in->Stream(0), audio).FollowsChunks(), perFrame);
        for (int cut = 10; cut < 15; ++cut) {
            std::vector<uint8_t> joined;
            for (const auto& [from, end] : {std::pair{0, cut}, std::pair{cut, frames}}) {
                ASSERT_EQ(Copy(dir_.Path("part.avi"), SceneOf(source, from, end - from), 4 << 20),
                          0);
                const std::vector<uint8_t> got =
                    AllAudio(*qv::OpenAviFile(dir_.Path("part.avi"))->Stream(1));
                // With chunks a frame, the scene's own chunks, no sample more or less.
                const int64_t chunks = (end < frames ? audio.ChunkFirstUnit(end) : audio.Length()) -
                                       audio.ChunkFirstUnit(from);
                EXPECT_TRUE(!perFrame || static_cast<int64_t>(got.size()) == 4 * chunks) << cut;
                joined.insert(joined.end(), got.begin(), got.end());
            }
            EXPECT_TRUE(joined == AllAudio(audio)) << "cut " << cut;
        }
    }
}


// Runs copied as one range give the very bytes of the chunk-by-chunk copy, for every
// kind of source: across segment and standard index boundaries, where a pad byte, a
// changed audio chunking or audio chunks of another size stop a run, and for ffmpeg's
// and dvgrab's files.
TEST_F(ClipCopierTest, RunsCopiedAsOneRangeGiveTheBytesOfTheChunkByChunkCopy) {
    std::string reason;
    const DvClip* clip = RealDvClip(kPal, &reason);
    ASSERT_NE(clip, nullptr) << reason;
    const std::string encoded = dir_.Path("encoded.avi"), grabbed = dir_.Path("grab-001.avi");
    MakeRealFiles(*clip, true);
    ASSERT_TRUE(std::filesystem::exists(encoded) && std::filesystem::exists(grabbed))
        << "ffmpeg and dvgrab (test dependencies) are needed";
    struct Source {
        std::string path;
        int first, count;
        bool runs;  // whether some frames go as runs
        bool segments = false;  // whether the source's data breaks off (its segments)
    };
    std::vector<Source> sources = {{clip->aviPath, 3, 25, true},
                                   {grabbed, 0, 30, false},
                                   {encoded, 2, 20, false}};
    int n = 0;
    for (const auto& [type, generation, perSegment, videoBytes, second] :
         {std::tuple{DvType::Type2, Generation::Avi1, 0, 1000, false},
          std::tuple{DvType::Type2, Generation::OpenDml, 300, 1000, true},
          std::tuple{DvType::Type2, Generation::OpenDmlCompat, 500, 1000, false},
          std::tuple{DvType::Type1, Generation::Avi1, 0, 1000, false},
          std::tuple{DvType::Type1, Generation::OpenDml, 700, 1000, false},
          std::tuple{DvType::Type2, Generation::OpenDml, 0, 999, false}}) {
        FixtureOptions options = SmallOptions(type, generation, perSegment);
        frames_ = MakePatternFrames(options, 1100, videoBytes);
        // Audio chunks of another size for some frames: the copy gathers them.
        frames_[1000].audio.resize(frames_[1000].audio.size() / 2);
        if (second) {
            options.extraStreams = {ExtraStream{"auds", 1, 2000, {}}};
            for (const FixtureFrame& f : frames_) {
                options.extraStreams[0].chunks.push_back(f.audio);
            }
        }
        const std::string path = dir_.Path("fixture" + std::to_string(n++) + ".avi");
        ASSERT_TRUE(WriteFixtureAvi(path, options, frames_));
        sources.push_back({path, 5, 1090, videoBytes % 2 == 0, perSegment != 0});
    }
    copier_.yesForAll = true;
    for (const Source& source : sources) {
        SCOPED_TRACE(source.path);
        for (const uint32_t limit : {qv::kSegmentLimit, uint32_t{700} << 10}) {
            copier_.segmentLimit = limit;
            std::vector<uint8_t> copies[2];
            int64_t writes[2] = {0, 0};
            for (const bool runs : {false, true}) {
                copier_.copyRuns = runs;
                qv::WriteFaults counted;
                qv::SetWriteFaults(&counted);
                ASSERT_EQ(Copy(dir_.Path("out.avi"), SceneOf(source.path, source.first,
                                                             source.count), 1 << 20),
                          0);
                qv::SetWriteFaults(nullptr);
                writes[runs] = counted.writes;
                copies[runs] = ReadFileBytes(dir_.Path("out.avi"));
            }
            EXPECT_FALSE(copies[0].empty());
            EXPECT_TRUE(copies[0] == copies[1]) << "segment limit " << limit;
            EXPECT_EQ(writes[1] < writes[0], source.runs) << writes[1] << " " << writes[0];
            // Where runs go, the output's chunks lie at their source's place within a
            // 4 KiB page (the system then copies whole pages): the first frame's, and
            // in a source whose data does not break off (segments) every frame's up to
            // the audio chunk of another size, the output's own indexes and segments
            // notwithstanding.
            if (source.runs) {
                auto in = qv::OpenAviFile(source.path);
                auto out = qv::OpenAviFile(dir_.Path("out.avi"));
                ASSERT_TRUE(in && out);
                for (int f = 0; f < source.count && (f == 0 || !source.segments) &&
                                source.first + f < 1000;
                     ++f) {
                    qv::AviStream::ChunkPlace a, b;
                    ASSERT_TRUE(in->Stream(0)->Locate(source.first + f, &a));
                    ASSERT_TRUE(out->Stream(0)->Locate(f, &b));
                    ASSERT_EQ((a.position - b.position) % 4096, 0) << "frame " << f;
                }
            }
        }
    }
    copier_.copyRuns = true;
}

// Calls that move few bytes and calls a signal interrupts change no byte of what is
// opened and copied: chunk by chunk and as runs, from AVI 1.0 and OpenDML files.
TEST_F(ClipCopierTest, ShortAndInterruptedCallsChangeNoByteOfACopy) {
    copier_.yesForAll = true;
    for (const Generation g : {Generation::Avi1, Generation::OpenDml}) {
        const std::string source = MakeSource(SmallOptions(DvType::Type2, g, 9), 30, true);
        for (const bool runs : {false, true}) {
            SCOPED_TRACE(runs ? "runs" : "chunk by chunk");
            copier_.copyRuns = runs;
            copier_.sourceReader.reset();
            ASSERT_EQ(Copy(dir_.Path("plain.avi"), SceneOf(source, 2, 25)), 0);
            copier_.sourceReader.reset();
            qv::WriteFaults faults{.bytesPerCall = 997, .interruptEvery = 3};
            qv::SetWriteFaults(&faults);
            const int result = Copy(dir_.Path("short.avi"), SceneOf(source, 2, 25));
            qv::SetWriteFaults(nullptr);
            EXPECT_EQ(result, 0);
            EXPECT_GT(faults.calls, 100);
            EXPECT_EQ(ReadFileBytes(dir_.Path("short.avi")), ReadFileBytes(dir_.Path("plain.avi")));
        }
    }
    copier_.copyRuns = true;
}

}  // namespace
