// The AVI reader on files of every shape a capture leaves: both DV types, AVI 1.0 with
// relative or absolute "idx1" offsets, OpenDML with and without "idx1" and "AVIX"
// segments. Files come from the test fixture writer, which shares no code with the reader.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "avi/AviReader.h"
#include "avi/RiffAviReader.h"
#include "support/AviFixture.h"
#include "support/Exercise.h"
#include "support/ReadUnits.h"

namespace {

using namespace qvtest;
using enum qvtest::DvType;
using enum qvtest::Generation;

constexpr DvTime kStart{2004, 7, 14, 10, 20, 30};
const char* const kKinds[] = {"avi1", "odml-avi2", "compat.odml-avi2"};  // by Generation

class AviReaderTest : public ::testing::Test {
  protected:
    // A fixture file, changed by damage before it is opened.
    std::unique_ptr<qv::AviReader> Open(const FixtureOptions& options,
                                        const std::vector<FixtureFrame>& frames,
                                        const std::string& name = "tape1.avi") {
        return WriteAndOpen(dir_.Path(name), BuildFixtureAvi(options, frames));
    }

    TempDir dir_;
};

// ---------------------------------------------------------------------------
// Every shape of file reads back the frames and audio written into it.

struct Shape {
    const char* name;
    FixtureOptions options;
};

class EveryShape : public AviReaderTest, public ::testing::WithParamInterface<Shape> {};

TEST_P(EveryShape, ReadsBackEveryFrameAndTheHeaders) {
    FixtureOptions o = GetParam().options;
    o.withStrn = !o.pal;  // a "strn" after each "strh" changes neither type nor rate
    const auto frames = MakeFrames(o, 5, kStart);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    const bool type2 = o.type == Type2;
    const char* kind = kKinds[static_cast<int>(o.generation)];
    EXPECT_EQ(reader->Kind(), kind);
    ASSERT_EQ(reader->StreamCount(), type2 ? 2 : 1);
    EXPECT_DOUBLE_EQ(reader->FramesPerSecond(), o.pal ? 25.0 : 30000.0 / 1001.0);
    qv::AviStream& video = *reader->Stream(0);
    EXPECT_EQ(std::pair(video.IsVideo(), video.IsInterleaved()), std::pair(type2, !type2));
    EXPECT_FALSE(video.IsAudio());
    EXPECT_EQ(video.UnitSize(), static_cast<uint32_t>(o.pal ? kPalFrameSize : kNtscFrameSize));
    ExpectFramesAndAudio(*reader, frames);
    EXPECT_FALSE(ReadUnits(video, 5, 1, 1000).ok);
    EXPECT_FALSE(ReadUnits(video, -1, 1, 1000).ok);

    const std::string streams =
        !type2  ? std::string("Interleaved Audio/Video (") + (o.pal ? "PAL)" : "NTSC)")
        : o.pal ? "Video:720x576, Audio:16 bits, 48.00kHz, 2 chans"
                : "Video:720x480, Audio:16 bits, 48.00kHz, 2 chans";
    EXPECT_EQ(reader->Describe(), std::string("file tape1.avi, 5 frames, type:") + kind + ", " +
                                      (o.pal ? "25.00fps" : "29.97fps") + ", " + streams);
    if (type2) {
        qv::AviStream& audio = *reader->Stream(1);
        ASSERT_TRUE(audio.IsAudio());
        EXPECT_DOUBLE_EQ(audio.FramesPerSecond(), 48000.0);
        EXPECT_EQ(audio.UnitSize(), 4u);
        // The audio of each video frame, the way the scan and the writer ask for it.
        for (size_t i = 0, first = 0; i < frames.size(); first += frames[i++].audio.size() / 4) {
            const int count = static_cast<int>(frames[i].audio.size() / 4);
            ReadResult r = ReadUnits(audio, static_cast<int>(first), count, 20000);
            EXPECT_EQ(r.units, count);
            EXPECT_EQ(r.bytes, frames[i].audio) << "audio of frame " << i;
        }
    }

    // "REF " chunks (frames kept in another file) and chunks of odd size, each followed
    // by a pad byte, come back exactly as stored; a JUNK chunk before "movi" is passed by.
    o.junkBytes = 7;
    auto oddFrames = MakeFrames(o, 6, kStart);
    oddFrames[0].video = MakeRefChunk(1234, "capture.dv");  // 27 bytes
    oddFrames[2].video.resize(1001);
    oddFrames[3].video = MakeRefChunk(0x12345678, "capture-2.dv");  // 29 bytes
    oddFrames[4].video.resize(1);
    if (type2) {
        oddFrames[1].audio.resize(oddFrames[1].audio.size() - 4);  // still whole sample frames
    }
    reader = Open(o, oddFrames, "odd.avi");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Kind(), kind);
    ExpectFramesAndAudio(*reader, oddFrames);
}

const Shape kShapes[] = {
    {"Type1Avi1Relative", OptionsOf(Type1, Avi1, 0, true, true)},
    {"Type1Avi1Absolute", OptionsOf(Type1, Avi1, 0, false, false)},
    {"Type1OpenDml", OptionsOf(Type1, OpenDml, 0, true, true)},
    {"Type1OpenDmlAvix", OptionsOf(Type1, OpenDml, 2, true, false)},
    {"Type1CompatRelative", OptionsOf(Type1, OpenDmlCompat, 0, true, true)},
    {"Type1CompatAbsoluteAvix", OptionsOf(Type1, OpenDmlCompat, 2, false, true)},
    {"Type1CompatRelativeAvix", OptionsOf(Type1, OpenDmlCompat, 1, true, false)},
    {"Type2Avi1Relative", OptionsOf(Type2, Avi1, 0, true, true)},
    {"Type2Avi1Absolute", OptionsOf(Type2, Avi1, 0, false, true)},
    {"Type2Avi1RelativeNtsc", OptionsOf(Type2, Avi1, 0, true, false)},
    {"Type2OpenDml", OptionsOf(Type2, OpenDml, 0, true, true)},
    {"Type2OpenDmlAvix", OptionsOf(Type2, OpenDml, 2, true, true)},
    {"Type2OpenDmlAvixNtsc", OptionsOf(Type2, OpenDml, 3, true, false)},
    {"Type2CompatRelative", OptionsOf(Type2, OpenDmlCompat, 0, true, true)},
    {"Type2CompatAbsolute", OptionsOf(Type2, OpenDmlCompat, 0, false, false)},
    {"Type2CompatRelativeAvix", OptionsOf(Type2, OpenDmlCompat, 2, true, true)},
    {"Type2CompatAbsoluteAvix", OptionsOf(Type2, OpenDmlCompat, 2, false, false)},
};

INSTANTIATE_TEST_SUITE_P(AviReader, EveryShape, ::testing::ValuesIn(kShapes),
                         [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Indexes

// A capture that stopped before it wrote its super indexes: the "idx1" of the first RIFF
// lists that RIFF's frames (its relative offsets count from that RIFF's "movi", not from
// the last "movi" met), and the "AVIX" segments after it are read from their data. With
// nothing indexed at all every chunk comes from the data, and the description says so.
TEST_F(AviReaderTest, EmptySuperIndexesAreMadeUpFromTheData) {
    for (auto [generation, relative] :
         {std::pair{OpenDmlCompat, true}, std::pair{OpenDmlCompat, false}, std::pair{OpenDml, true}}) {
        SCOPED_TRACE(relative ? "relative" : "absolute");
        FixtureOptions o = OptionsOf(Type2, generation, generation == OpenDml ? 0 : 2, relative);
        o.emptySuperIndex = true;
        const auto frames = MakePatternFrames(o, generation == OpenDml ? 3 : 6, 999);
        auto reader = Open(o, frames);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->Kind(), kKinds[static_cast<int>(generation)]);
        ASSERT_EQ(reader->StreamCount(), 2);
        ExpectFramesAndAudio(*reader, frames);
        EXPECT_TRUE(reader->IndexRebuilt());
        auto* video = dynamic_cast<qv::RiffAviStream*>(reader->Stream(0));
        auto* audio = dynamic_cast<qv::RiffAviStream*>(reader->Stream(1));
        ASSERT_TRUE(video && audio);
        // The writer names its chunks after these.
        EXPECT_EQ(qv::FourCCText(video->ChunkId()) + qv::FourCCText(audio->ChunkId()), "00dc01wb");
    }
    EXPECT_EQ(qv::OpenAviFile(dir_.Path("tape1.avi"))->Describe(),
              "file tape1.avi, 3 frames, type:odml-avi2, 25.00fps, Video:720x576, "
              "Audio:16 bits, 48.00kHz, 2 chans, index rebuilt from the data");
}

// "idx1" entries renamed to a stream the file does not have: the chunks they listed are
// found in the data after the last listed ones, whatever bytes the frames hold (here
// text, which looks like chunk ids).
TEST_F(AviReaderTest, ChunksListedForUnknownStreamsAreFoundInTheData) {
    for (size_t renamedFrom : {size_t{0}, size_t{2}}) {  // 0: the audio entries; 2: all of frames 2 on
        SCOPED_TRACE(renamedFrom);
        FixtureOptions o;
        o.audioRate = 2000;
        auto frames = MakePatternFrames(o, 4, 500);
        for (size_t i = 0; i < frames.size(); ++i) {
            frames[i].video.assign(500, static_cast<uint8_t>('a' + i));
        }
        auto bytes = BuildFixtureAvi(o, frames);
        const size_t entries = FindFourCC(bytes, "idx1") + 8;  // v0, a0, v1, a1, ...
        for (size_t e = 0; e < 8; ++e) {
            if (renamedFrom == 0 ? e % 2 == 1 : e / 2 >= renamedFrom) {
                bytes[entries + 16 * e + 1] = '7';
            }
        }
        auto reader = WriteAndOpen(dir_.Path("tape1.avi"), bytes);
        ASSERT_NE(reader, nullptr);
        ExpectFramesAndAudio(*reader, frames);
        EXPECT_TRUE(reader->IndexRebuilt());
    }
}

// An empty video chunk: "idx1" keeps it as a frame that reads nothing; a standard
// index entry of size 0 is dropped, and so is an empty chunk found in the data, so the
// frames after it move up. A 1-byte chunk is a frame everywhere.
class EmptyChunk : public AviReaderTest,
                   public ::testing::WithParamInterface<std::tuple<DvType, Generation, bool>> {};

TEST_P(EmptyChunk, CountsInIdx1AndIsDroppedElsewhere) {
    FixtureOptions o;
    std::tie(o.type, o.generation, o.emptySuperIndex) = GetParam();
    auto frames = MakePatternFrames(o, 5, 700);
    frames[2].video.clear();
    frames[3].video.resize(1);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    qv::AviStream& video = *reader->Stream(0);
    if (o.generation == Avi1 || (o.generation == OpenDmlCompat && o.emptySuperIndex)) {
        ReadResult r = ReadUnits(video, 2, 1, 1000);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(std::tuple(r.units, video.ChunkSize(2)), std::tuple(0, 0));
    } else {
        frames[1].audio.insert(frames[1].audio.end(), frames[2].audio.begin(),
                               frames[2].audio.end());
        frames.erase(frames.begin() + 2);
    }
    ExpectFramesAndAudio(*reader, frames);  // the audio is not affected
}

INSTANTIATE_TEST_SUITE_P(AviReader, EmptyChunk,
                         ::testing::Combine(::testing::Values(Type1, Type2),
                                            ::testing::Values(Avi1, OpenDml, OpenDmlCompat),
                                            ::testing::Bool()));

// ---------------------------------------------------------------------------
// Audio units

// strh dwSampleSize 0 and 1 stand for 4-byte units, like a 16-bit stereo sample frame.
class AudioSampleSize : public AviReaderTest,
                        public ::testing::WithParamInterface<std::tuple<uint32_t, Generation>> {};

TEST_P(AudioSampleSize, UnitsAreFourByteSampleFrames) {
    FixtureOptions o;
    o.framesPerSegment = 2;
    std::tie(o.audioSampleSize, o.generation) = GetParam();
    const auto frames = MakeFrames(o, 4, kStart);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    qv::AviStream& audio = *reader->Stream(1);
    EXPECT_EQ(audio.UnitSize(), 4u);
    ASSERT_EQ(audio.Length(), 4 * 1920);
    // 1920 stereo 16-bit sample frames to a chunk at 25 fps; none outside the stream.
    for (auto [unit, size] : {std::pair{0, 7680}, std::pair{1919, 7680}, std::pair{4 * 1920, -1},
                              std::pair{-1, -1}}) {
        EXPECT_EQ(audio.ChunkSize(unit), size) << unit;
    }
    // Runs that start inside one chunk and end inside the next (or the one after); a run
    // past the end stops at the end, one outside the stream reads nothing.
    const std::tuple<int, int, int> runs[] = {{0, 1920, 1920}, {1900, 40, 40}, {1919, 2, 2},
        {1000, 3000, 3000}, {3839, 1, 1}, {5000, 2680, 2680}, {7670, 100, 10}, {7680, 1, 0},
        {-1, 1, 0}};
    for (auto [first, count, got] : runs) {
        ReadResult r = ReadUnits(audio, first, count, 100000);
        EXPECT_EQ(r.units, got) << first;
        EXPECT_EQ(r.bytes, got == 0 ? std::vector<uint8_t>{} : AudioPattern(o, first, got))
            << first;
    }
}

INSTANTIATE_TEST_SUITE_P(AviReader, AudioSampleSize,
                         ::testing::Combine(::testing::Values(0u, 1u, 4u),
                                            ::testing::Values(Avi1, OpenDml)));

// ---------------------------------------------------------------------------
// Buffers, streams, unit sizes and the description

// Chunk ids number streams in hexadecimal: the tenth stream's are "09..". A frame's chunk
// can be copied without reading it: Locate tells where its data lies. For units of an
// audio stream and frames outside the stream it says to read instead.
TEST_F(AviReaderTest, TheTenthStreamReadsItsChunksAndLocateGivesAFrameChunkOrTellsToRead) {
    FixtureOptions o;
    o.extraStreams.resize(8, ExtraStream{"txts", 1, 25, {}});
    o.extraStreams.back().chunks = {{'n', 'i', 'n', 'e'}, {}, {'9'}};
    auto reader = Open(o, MakePatternFrames(o, 3, 100));
    ASSERT_NE(reader, nullptr);
    const auto bytes = ReadFileBytes(dir_.Path("tape1.avi"));
    qv::AviStream::ChunkPlace place;
    ASSERT_TRUE(reader->Stream(0)->Locate(1, &place));
    EXPECT_EQ(place.position,
              static_cast<int64_t>(FindFourCC(bytes, "00dc", FindFourCC(bytes, "movi"), 1) + 8));
    EXPECT_EQ(place.size, 100);
    EXPECT_FALSE(reader->Stream(0)->Locate(3, &place));
    EXPECT_FALSE(reader->Stream(0)->Locate(-1, &place));
    EXPECT_FALSE(reader->Stream(1)->Locate(0, &place));

    ASSERT_EQ(reader->StreamCount(), 10);
    qv::AviStream& tenth = *reader->Stream(9);
    ASSERT_EQ(tenth.Length(), 2);
    EXPECT_EQ(ReadUnits(tenth, 0, 1, 100).bytes, (std::vector<uint8_t>{'n', 'i', 'n', 'e'}));
    EXPECT_EQ(ReadUnits(tenth, 1, 1, 100).bytes, std::vector<uint8_t>{'9'});
}

TEST_F(AviReaderTest, DescribesOtherAudioFormats) {
    FixtureOptions o = OptionsOf(Type2, OpenDml);
    // 4 x 12 bits: 6-byte sample frames, from the format when dwSampleSize says nothing.
    o.audioSampleSize = 0;
    o.audioRate = 32000;
    o.audioChannels = 4;
    o.audioBits = 12;
    auto reader = Open(o, MakePatternFrames(o, 2, 100), "tape 2.avi");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Describe(),
              "file tape 2.avi, 2 frames, type:odml-avi2, 25.00fps, Video:720x576, "
              "Audio:12 bits, 32.00kHz, 4 chans");
    EXPECT_EQ(reader->Stream(1)->UnitSize(), 6u);
}

}  // namespace
