// The AVI reader on files of every shape a capture leaves: both DV types, AVI 1.0 with
// relative or absolute "idx1" offsets, OpenDML with and without "idx1" and "AVIX"
// segments. Files come from the test fixture writer, which shares no code with the reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "avi/AviReader.h"
#include "avi/RiffAviReader.h"
#include "platform/Platform.h"
#include "support/AviFixture.h"
#include "support/ReadUnits.h"

namespace {

using qvtest::DvTime;
using qvtest::DvType;
using qvtest::FixtureFrame;
using qvtest::FixtureOptions;
using qvtest::Generation;

constexpr DvTime kStart{2004, 7, 14, 10, 20, 30};


std::vector<uint8_t> ReadFrame(qv::AviStream& stream, int frame) {
    return qvtest::ReadUnits(stream, frame, 1, qvtest::kPalFrameSize + 1000).bytes;
}

std::vector<uint8_t> AllAudio(const std::vector<FixtureFrame>& frames) {
    std::vector<uint8_t> all;
    for (const auto& f : frames) {
        all.insert(all.end(), f.audio.begin(), f.audio.end());
    }
    return all;
}

class AviReaderTest : public ::testing::Test {
protected:
    std::unique_ptr<qv::AviReader> Open(const FixtureOptions& options,
                                        const std::vector<FixtureFrame>& frames,
                                        const std::string& name = "tape1.avi") {
        const std::string path = dir_.Path(name);
        EXPECT_TRUE(qvtest::WriteFixtureAvi(path, options, frames));
        auto reader = qv::OpenAviFile(path);
        EXPECT_NE(reader, nullptr);
        return reader;
    }

    qvtest::TempDir dir_;
};

// ---------------------------------------------------------------------------
// Every shape of file reads back the frames and audio written into it.

struct Shape {
    const char* name;
    DvType type;
    Generation generation;
    bool relativeIdx1;
    int framesPerSegment;
    bool pal;
    const char* kind;
};

std::string ShapeName(const ::testing::TestParamInfo<Shape>& p) {
    return p.param.name;
}

class EveryShape : public AviReaderTest, public ::testing::WithParamInterface<Shape> {
protected:
    FixtureOptions Options() const {
        FixtureOptions o;
        o.type = GetParam().type;
        o.generation = GetParam().generation;
        o.relativeIdx1 = GetParam().relativeIdx1;
        o.framesPerSegment = GetParam().framesPerSegment;
        o.pal = GetParam().pal;
        return o;
    }
};

TEST_P(EveryShape, ReadsBackEveryFrameAndTheHeaders) {
    const FixtureOptions o = Options();
    const auto frames = qvtest::MakeFrames(o, 5, kStart);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);

    const bool type2 = o.type == DvType::Type2;
    EXPECT_EQ(reader->Kind(), GetParam().kind);
    ASSERT_EQ(reader->StreamCount(), type2 ? 2 : 1);
    EXPECT_EQ(reader->FrameCount(), 5);
    EXPECT_DOUBLE_EQ(reader->FramesPerSecond(), o.pal ? 25.0 : 30000.0 / 1001.0);

    qv::AviStream& video = *reader->Stream(0);
    EXPECT_EQ(video.IsVideo(), type2);
    EXPECT_EQ(video.IsInterleaved(), !type2);
    EXPECT_FALSE(video.IsAudio());
    EXPECT_EQ(video.Length(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ReadFrame(video, i), frames[static_cast<size_t>(i)].video) << "frame " << i;
    }
    EXPECT_FALSE(qvtest::ReadUnits(video, 5, 1, 1000).ok);
    EXPECT_FALSE(qvtest::ReadUnits(video, -1, 1, 1000).ok);

    const char* rate = o.pal ? "25.00fps" : "29.97fps";
    const std::string streams =
        !type2  ? std::string("Interleaved Audio/Video (") + (o.pal ? "PAL)" : "NTSC)")
        : o.pal ? "Video:720x576, Audio:16 bits, 48.00kHz, 2 chans"
                : "Video:720x480, Audio:16 bits, 48.00kHz, 2 chans";
    EXPECT_EQ(reader->Describe(), std::string("file tape1.avi, 5 frames, type:") +
                                      GetParam().kind + ", " + rate + ", " + streams);
    if (!type2) {
        return;
    }

    qv::AviStream& audio = *reader->Stream(1);
    ASSERT_TRUE(audio.IsAudio());
    EXPECT_DOUBLE_EQ(audio.FramesPerSecond(), 48000.0);
    EXPECT_EQ(audio.UnitSize(), 4u);
    const std::vector<uint8_t> all = AllAudio(frames);
    ASSERT_EQ(audio.Length(), static_cast<int>(all.size() / 4));
    // The audio of each video frame, the way the scan and the writer ask for it.
    int first = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const int count = static_cast<int>(frames[i].audio.size() / 4);
        qvtest::ReadResult r = qvtest::ReadUnits(audio, first, count, 20000);
        EXPECT_EQ(r.units, count);
        EXPECT_EQ(r.bytes, frames[i].audio) << "audio of frame " << i;
        first += count;
    }
    // All of it in one request, across every chunk and segment.
    qvtest::ReadResult whole = qvtest::ReadUnits(audio, 0, audio.Length(), static_cast<int>(all.size()));
    EXPECT_EQ(whole.units, audio.Length());
    EXPECT_EQ(whole.bytes, all);
}

const Shape kShapes[] = {
    {"Type1Avi1Relative", DvType::Type1, Generation::Avi1, true, 0, true, "avi1"},
    {"Type1Avi1Absolute", DvType::Type1, Generation::Avi1, false, 0, false, "avi1"},
    {"Type1OpenDml", DvType::Type1, Generation::OpenDml, true, 0, true, "odml-avi2"},
    {"Type1OpenDmlAvix", DvType::Type1, Generation::OpenDml, true, 2, false, "odml-avi2"},
    {"Type1CompatRelative", DvType::Type1, Generation::OpenDmlCompat, true, 0, true,
     "compat.odml-avi2"},
    {"Type1CompatAbsoluteAvix", DvType::Type1, Generation::OpenDmlCompat, false, 2, true,
     "compat.odml-avi2"},
    {"Type1CompatRelativeAvix", DvType::Type1, Generation::OpenDmlCompat, true, 1, false,
     "compat.odml-avi2"},
    {"Type2Avi1Relative", DvType::Type2, Generation::Avi1, true, 0, true, "avi1"},
    {"Type2Avi1Absolute", DvType::Type2, Generation::Avi1, false, 0, true, "avi1"},
    {"Type2Avi1RelativeNtsc", DvType::Type2, Generation::Avi1, true, 0, false, "avi1"},
    {"Type2OpenDml", DvType::Type2, Generation::OpenDml, true, 0, true, "odml-avi2"},
    {"Type2OpenDmlAvix", DvType::Type2, Generation::OpenDml, true, 2, true, "odml-avi2"},
    {"Type2OpenDmlAvixNtsc", DvType::Type2, Generation::OpenDml, true, 3, false, "odml-avi2"},
    {"Type2CompatRelative", DvType::Type2, Generation::OpenDmlCompat, true, 0, true,
     "compat.odml-avi2"},
    {"Type2CompatAbsolute", DvType::Type2, Generation::OpenDmlCompat, false, 0, false,
     "compat.odml-avi2"},
    {"Type2CompatRelativeAvix", DvType::Type2, Generation::OpenDmlCompat, true, 2, true,
     "compat.odml-avi2"},
    {"Type2CompatAbsoluteAvix", DvType::Type2, Generation::OpenDmlCompat, false, 2, false,
     "compat.odml-avi2"},
};

INSTANTIATE_TEST_SUITE_P(AviReader, EveryShape, ::testing::ValuesIn(kShapes),
                         ShapeName);

// ---------------------------------------------------------------------------
// Indexes

TEST_F(AviReaderTest, CompatFileIsReadThroughItsOpenDmlIndexesOnly) {
    FixtureOptions o;
    o.generation = Generation::OpenDmlCompat;
    const auto frames = qvtest::MakePatternFrames(o, 4, 1000);
    auto bytes = qvtest::BuildFixtureAvi(o, frames);
    // Point every "idx1" entry at the first chunk: were it used, all frames would be equal.
    const size_t idx1 = qvtest::FindFourCC(bytes, "idx1");
    ASSERT_NE(idx1, qvtest::kNotFound);
    const uint32_t entries = qvtest::GetLe32(bytes, idx1 + 4) / 16;
    for (uint32_t i = 0; i < entries; ++i) {
        qvtest::PutLe32(bytes, idx1 + 8 + 16 * i + 8, 4);  // dwChunkOffset
    }
    const std::string path = dir_.Path("compat.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, bytes));
    auto reader = qv::OpenAviFile(path);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->FrameCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ReadFrame(*reader->Stream(0), i), frames[static_cast<size_t>(i)].video);
    }
}

// A capture that stopped before it wrote its super indexes: the "idx1" of the first RIFF
// lists that RIFF's frames (its relative offsets count from that RIFF's "movi", not from
// the last "movi" met), and the "AVIX" segments after it are read from their data.
class InterruptedCapture : public AviReaderTest, public ::testing::WithParamInterface<bool> {};

TEST_P(InterruptedCapture, ReadsTheFirstRiffsIdx1AndTheSegmentsAfterIt) {
    FixtureOptions o;
    o.generation = Generation::OpenDmlCompat;
    o.framesPerSegment = 2;
    o.emptySuperIndex = true;
    o.relativeIdx1 = GetParam();
    const auto frames = qvtest::MakePatternFrames(o, 6, 999);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Kind(), "compat.odml-avi2");
    ASSERT_EQ(reader->FrameCount(), 6);
    for (int f = 0; f < 6; ++f) {
        EXPECT_EQ(ReadFrame(*reader->Stream(0), f), frames[static_cast<size_t>(f)].video) << f;
    }
    qv::AviStream& audio = *reader->Stream(1);
    const auto expected = qvtest::AudioPattern(o, 0, audio.Length());
    size_t written = 0;
    for (const auto& f : frames) {
        written += f.audio.size();
    }
    ASSERT_EQ(audio.Length() * 4u, written);
    EXPECT_EQ(qvtest::ReadUnits(audio, 0, audio.Length(), 100000).bytes, expected);
    EXPECT_TRUE(reader->IndexRebuilt());
}

INSTANTIATE_TEST_SUITE_P(AviReader, InterruptedCapture, ::testing::Values(true, false),
                         [](const auto& p) {
                             return std::string(p.param ? "Relative" : "Absolute");
                         });

// Nothing indexed at all: every chunk comes from the data, and the description says so.
TEST_F(AviReaderTest, OpenDmlWithoutAnyIndexEntryIsReadFromItsData) {
    FixtureOptions o;
    o.generation = Generation::OpenDml;
    o.emptySuperIndex = true;
    const auto frames = qvtest::MakePatternFrames(o, 3, 500);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Kind(), "odml-avi2");
    ASSERT_EQ(reader->StreamCount(), 2);
    ASSERT_EQ(reader->FrameCount(), 3);
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(ReadFrame(*reader->Stream(0), f), frames[static_cast<size_t>(f)].video);
    }
    auto* video = dynamic_cast<qv::RiffAviStream*>(reader->Stream(0));
    auto* audio = dynamic_cast<qv::RiffAviStream*>(reader->Stream(1));
    ASSERT_TRUE(video && audio);
    // The writer names its chunks after these.
    EXPECT_EQ(qv::FourCCText(video->ChunkId()), "00dc");
    EXPECT_EQ(qv::FourCCText(audio->ChunkId()), "01wb");
    EXPECT_EQ(qvtest::ReadUnits(*audio, 0, audio->Length(), 100000).bytes,
              qvtest::AudioPattern(o, 0, 3 * 1920));
    EXPECT_EQ(reader->Describe(),
              "file tape1.avi, 3 frames, type:odml-avi2, 25.00fps, Video:720x576, "
              "Audio:16 bits, 48.00kHz, 2 chans, index rebuilt from the data");
}

TEST_F(AviReaderTest, Idx1EntriesOfUnknownStreamsAreSkipped) {
    FixtureOptions o;
    const auto frames = qvtest::MakePatternFrames(o, 3, 500);
    auto bytes = qvtest::BuildFixtureAvi(o, frames);
    // Rename the audio entries to a stream the file does not have.
    const size_t idx1 = qvtest::FindFourCC(bytes, "idx1");
    for (size_t at = qvtest::FindFourCC(bytes, "01wb", idx1); at != qvtest::kNotFound;
         at = qvtest::FindFourCC(bytes, "01wb", at + 4)) {
        bytes[at + 1] = '7';
    }
    const std::string path = dir_.Path("unknown.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, bytes));
    auto reader = qv::OpenAviFile(path);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->FrameCount(), 3);
    EXPECT_EQ(ReadFrame(*reader->Stream(0), 2), frames[2].video);
    // The audio stream's chunks, listed for no stream, are found in the data.
    EXPECT_EQ(reader->Stream(1)->Length(), 3 * 1920);
    EXPECT_TRUE(reader->IndexRebuilt());
}

// An empty video chunk: "idx1" keeps it as a frame that reads nothing; a standard
// index entry of size 0 is dropped, so the frames after it move up.
class EmptyChunk : public AviReaderTest,
                   public ::testing::WithParamInterface<std::tuple<DvType, Generation>> {};

TEST_P(EmptyChunk, CountsInIdx1AndIsDroppedFromStandardIndexes) {
    FixtureOptions o;
    o.type = std::get<0>(GetParam());
    o.generation = std::get<1>(GetParam());
    auto frames = qvtest::MakePatternFrames(o, 5, 700);
    frames[2].video.clear();
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    qv::AviStream& video = *reader->Stream(0);
    if (o.generation == Generation::Avi1) {
        ASSERT_EQ(reader->FrameCount(), 5);
        qvtest::ReadResult r = qvtest::ReadUnits(video, 2, 1, 1000);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.units, 0);
        EXPECT_TRUE(r.bytes.empty());
        EXPECT_EQ(video.ChunkSize(2), 0);
        EXPECT_EQ(ReadFrame(video, 3), frames[3].video);
        EXPECT_EQ(ReadFrame(video, 4), frames[4].video);
    } else {
        ASSERT_EQ(reader->FrameCount(), 4);
        EXPECT_EQ(ReadFrame(video, 1), frames[1].video);
        EXPECT_EQ(ReadFrame(video, 2), frames[3].video);
        EXPECT_EQ(ReadFrame(video, 3), frames[4].video);
    }
    if (o.type == DvType::Type2) {  // the audio is not affected
        qv::AviStream& audio = *reader->Stream(1);
        EXPECT_EQ(qvtest::ReadUnits(audio, 0, audio.Length(), 100000).bytes, AllAudio(frames));
    }
}

INSTANTIATE_TEST_SUITE_P(
    AviReader, EmptyChunk,
    ::testing::Combine(::testing::Values(DvType::Type1, DvType::Type2),
                       ::testing::Values(Generation::Avi1, Generation::OpenDml,
                                         Generation::OpenDmlCompat)));

// "REF " chunks (frames kept in another file) and chunks of odd size, each followed by a
// pad byte, come back exactly as stored.
class RefAndOddChunks : public AviReaderTest, public ::testing::WithParamInterface<Shape> {};

TEST_P(RefAndOddChunks, ComeBackExactlyAsStored) {
    FixtureOptions o;
    o.type = GetParam().type;
    o.generation = GetParam().generation;
    o.relativeIdx1 = GetParam().relativeIdx1;
    o.framesPerSegment = GetParam().framesPerSegment;
    o.junkBytes = 7;
    auto frames = qvtest::MakeFrames(o, 6, kStart);
    frames[0].video = qvtest::MakeRefChunk(1234, "capture.dv");  // 27 bytes
    frames[2].video.resize(1001);
    frames[3].video = qvtest::MakeRefChunk(0x12345678, "capture-2.dv");  // 29 bytes
    frames[4].video.resize(1);
    ASSERT_EQ(frames[0].video.size() % 2, 1u);
    ASSERT_EQ(frames[3].video.size() % 2, 1u);
    if (o.type == DvType::Type2) {
        frames[1].audio.resize(frames[1].audio.size() - 4);  // still whole sample frames
    }
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Kind(), GetParam().kind);
    ASSERT_EQ(reader->FrameCount(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ReadFrame(*reader->Stream(0), i), frames[static_cast<size_t>(i)].video)
            << "frame " << i;
    }
    if (o.type == DvType::Type2) {
        qv::AviStream& audio = *reader->Stream(1);
        EXPECT_EQ(qvtest::ReadUnits(audio, 0, audio.Length(), 100000).bytes, AllAudio(frames));
    }
}

const Shape kRefShapes[] = {
    {"Type1Avi1Relative", DvType::Type1, Generation::Avi1, true, 0, true, "avi1"},
    {"Type1Avi1Absolute", DvType::Type1, Generation::Avi1, false, 0, true, "avi1"},
    {"Type1OpenDmlAvix", DvType::Type1, Generation::OpenDml, true, 4, true, "odml-avi2"},
    {"Type2CompatAvix", DvType::Type2, Generation::OpenDmlCompat, true, 3, true,
     "compat.odml-avi2"},
    {"Type2Avi1Absolute", DvType::Type2, Generation::Avi1, false, 0, true, "avi1"},
};

INSTANTIATE_TEST_SUITE_P(AviReader, RefAndOddChunks, ::testing::ValuesIn(kRefShapes),
                         ShapeName);

TEST_F(AviReaderTest, StrnAfterStrhKeepsTypeAndRate) {
    for (DvType type : {DvType::Type1, DvType::Type2}) {
        FixtureOptions o;
        o.type = type;
        o.withStrn = true;
        o.pal = false;
        const auto frames = qvtest::MakeFrames(o, 2, kStart);
        auto reader = Open(o, frames);
        ASSERT_NE(reader, nullptr);
        ASSERT_EQ(reader->StreamCount(), type == DvType::Type2 ? 2 : 1);
        EXPECT_EQ(reader->Stream(0)->Type(), type == DvType::Type2 ? qv::fcc::vids : qv::fcc::iavs);
        EXPECT_DOUBLE_EQ(reader->FramesPerSecond(), 30000.0 / 1001.0);
        EXPECT_EQ(ReadFrame(*reader->Stream(0), 1), frames[1].video);
        if (type == DvType::Type2) {
            EXPECT_TRUE(reader->Stream(1)->IsAudio());
            EXPECT_DOUBLE_EQ(reader->Stream(1)->FramesPerSecond(), 48000.0);
            EXPECT_EQ(reader->Describe(),
                      "file tape1.avi, 2 frames, type:avi1, 29.97fps, Video:720x480, "
                      "Audio:16 bits, 48.00kHz, 2 chans");
        } else {
            EXPECT_EQ(reader->Describe(),
                      "file tape1.avi, 2 frames, type:avi1, 29.97fps, "
                      "Interleaved Audio/Video (NTSC)");
        }
    }
}

// ---------------------------------------------------------------------------
// Audio units

// strh dwSampleSize 0 and 1 stand for 4-byte units, like a 16-bit stereo sample frame.
class AudioSampleSize
    : public AviReaderTest,
      public ::testing::WithParamInterface<std::tuple<uint32_t, Generation>> {};

TEST_P(AudioSampleSize, UnitsAreFourByteSampleFrames) {
    FixtureOptions o;
    o.audioSampleSize = std::get<0>(GetParam());
    o.generation = std::get<1>(GetParam());
    o.framesPerSegment = 2;
    const auto frames = qvtest::MakeFrames(o, 4, kStart);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    qv::AviStream& audio = *reader->Stream(1);
    EXPECT_EQ(audio.UnitSize(), 4u);
    ASSERT_EQ(audio.Length(), 4 * 1920);
    // 1920 stereo 16-bit sample frames to a chunk at 25 fps.
    EXPECT_EQ(audio.ChunkSize(0), 7680);
    EXPECT_EQ(audio.ChunkSize(1919), 7680);
    qvtest::ReadResult chunk = qvtest::ReadUnits(audio, 0, 1920, 100000);
    EXPECT_EQ(chunk.units, 1920);
    EXPECT_EQ(chunk.bytes, frames[0].audio);

    // Runs that start inside one chunk and end inside the next (or the one after).
    for (auto [first, count] : {std::pair{1900, 40}, std::pair{1919, 2}, std::pair{1000, 3000},
                                std::pair{3839, 1}, std::pair{5000, 2680}}) {
        qvtest::ReadResult r = qvtest::ReadUnits(audio, first, count, 100000);
        EXPECT_EQ(r.units, count) << first;
        EXPECT_EQ(r.bytes, qvtest::AudioPattern(o, first, count)) << first;
    }
    // A run past the end stops at the end.
    qvtest::ReadResult tail = qvtest::ReadUnits(audio, 4 * 1920 - 10, 100, 100000);
    EXPECT_EQ(tail.units, 10);
    EXPECT_EQ(tail.bytes, qvtest::AudioPattern(o, 4 * 1920 - 10, 10));
    EXPECT_FALSE(qvtest::ReadUnits(audio, 4 * 1920, 1, 1000).ok);
    EXPECT_FALSE(qvtest::ReadUnits(audio, -1, 1, 1000).ok);
    // No chunk holds a unit outside the stream.
    EXPECT_EQ(audio.ChunkSize(4 * 1920), -1);
    EXPECT_EQ(audio.ChunkSize(-1), -1);
}

INSTANTIATE_TEST_SUITE_P(AviReader, AudioSampleSize,
                         ::testing::Combine(::testing::Values(0u, 1u, 4u),
                                            ::testing::Values(Generation::Avi1,
                                                              Generation::OpenDml)));

// Every unit of streams of 1 to 37 chunks, asked for in a scrambled order.
class ChunkCount : public AviReaderTest, public ::testing::WithParamInterface<int> {};

TEST_P(ChunkCount, EveryAudioUnitIsFoundInAnyOrder) {
    FixtureOptions o;
    o.audioRate = 2000;  // 80 sample frames to a chunk
    const auto frames = qvtest::MakePatternFrames(o, GetParam(), 10);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    qv::AviStream& audio = *reader->Stream(1);
    const int length = audio.Length();
    ASSERT_EQ(length, 80 * GetParam());
    const auto all = AllAudio(frames);
    std::vector<int> order(static_cast<size_t>(length));
    std::iota(order.begin(), order.end(), 0);
    for (size_t i = 0; i < order.size(); ++i) {  // a fixed shuffle
        std::swap(order[i], order[(i * 7919 + 13) % order.size()]);
    }
    for (int unit : order) {
        qvtest::ReadResult r = qvtest::ReadUnits(audio, unit, 1, 4);
        ASSERT_EQ(r.units, 1) << unit;
        ASSERT_TRUE(std::equal(r.bytes.begin(), r.bytes.end(), all.begin() + 4 * unit)) << unit;
        ASSERT_EQ(audio.ChunkSize(unit), 320) << unit;
    }
}

INSTANTIATE_TEST_SUITE_P(AviReader, ChunkCount, ::testing::Values(1, 2, 3, 4, 5, 8, 9, 37));

TEST_F(AviReaderTest, SequentialAndBackwardAudioRequestsFindTheirChunks) {
    // The reader caches the last chunk found; requests that jump around must still land.
    FixtureOptions o;
    o.pal = false;  // chunks of 1601 and 1602 sample frames
    const auto frames = qvtest::MakeFrames(o, 12, kStart);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    qv::AviStream& audio = *reader->Stream(1);
    const int length = audio.Length();
    for (int first : {0, length - 3, 1601, 1600, 3203, 12, 9000, 1602, length / 2, 0}) {
        EXPECT_EQ(qvtest::ReadUnits(audio, first, 3, 100).bytes, qvtest::AudioPattern(o, first, 3))
            << first;
    }
}

// ---------------------------------------------------------------------------
// Buffers

TEST_F(AviReaderTest, SmallBufferGetsTheStartOfTheFrame) {
    FixtureOptions o;
    const auto frames = qvtest::MakeFrames(o, 2, kStart);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    qvtest::ReadResult r = qvtest::ReadUnits(*reader->Stream(0), 1, 1, 1000);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.units, 1);
    EXPECT_EQ(r.bytes,
              std::vector<uint8_t>(frames[1].video.begin(), frames[1].video.begin() + 1000));
    // Two frames asked for, room for one and a half: never more than the buffer.
    r = qvtest::ReadUnits(*reader->Stream(0), 0, 2, qvtest::kPalFrameSize * 3 / 2);
    EXPECT_EQ(r.bytes.size(), static_cast<size_t>(qvtest::kPalFrameSize * 3 / 2));
    EXPECT_EQ(r.units, 2);
}

TEST_F(AviReaderTest, AudioBufferNotAMultipleOfTheUnitIsNeverOverrun) {
    FixtureOptions o;
    const auto frames = qvtest::MakeFrames(o, 2, kStart);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    for (int size : {1, 3, 6, 10, 7681}) {
        qvtest::ReadResult r = qvtest::ReadUnits(*reader->Stream(1), 1918, 1000, size);
        EXPECT_TRUE(r.ok);
        EXPECT_LE(r.units * 4, static_cast<int>(r.bytes.size()));
        const auto expected = qvtest::AudioPattern(o, 1918, 1000);
        EXPECT_TRUE(std::equal(r.bytes.begin(), r.bytes.end(), expected.begin())) << size;
    }
}

TEST_F(AviReaderTest, NullCountersAreAllowed) {
    FixtureOptions o;
    auto reader = Open(o, qvtest::MakePatternFrames(o, 2, 100));
    ASSERT_NE(reader, nullptr);
    std::vector<uint8_t> buffer(100);
    EXPECT_TRUE(reader->Stream(0)->Read(0, 1, nullptr, buffer.data(), 100, nullptr));
    EXPECT_TRUE(reader->Stream(1)->Read(3, 5, nullptr, buffer.data(), 100, nullptr));
}

// ---------------------------------------------------------------------------
// Streams, unit sizes and the description

TEST_F(AviReaderTest, StreamOutsideTheRangeIsNull) {
    FixtureOptions o;
    auto reader = Open(o, qvtest::MakePatternFrames(o, 1, 100));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Stream(-1), nullptr);
    EXPECT_EQ(reader->Stream(reader->StreamCount()), nullptr);
    EXPECT_NE(reader->Stream(reader->StreamCount() - 1), nullptr);
}

TEST_F(AviReaderTest, FileWithoutStreams) {
    qvtest::RiffBuilder b;
    const size_t riff = b.BeginList("RIFF", "AVI ");
    b.Chunk("JUNK", {1, 2, 3});
    b.End(riff);
    const std::string path = dir_.Path("empty.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, b.Bytes()));
    auto reader = qv::OpenAviFile(path);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->StreamCount(), 0);
    EXPECT_EQ(reader->FrameCount(), 0);
    EXPECT_EQ(reader->FramesPerSecond(), 0.0);
    EXPECT_EQ(reader->Stream(0), nullptr);
    EXPECT_EQ(reader->Kind(), "avi1");
    EXPECT_EQ(reader->Describe(), "file empty.avi, 0 frames, type:avi1, 0.00fps");

    ASSERT_TRUE(qvtest::WriteFileBytes(path, {}));
    reader = qv::OpenAviFile(path);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->StreamCount(), 0);
}

TEST_F(AviReaderTest, MissingFileDoesNotOpen) {
    EXPECT_EQ(qv::OpenAviFile(dir_.Path("nothing.avi")), nullptr);
}

TEST_F(AviReaderTest, UnitSizeReportsTheFirstFrameWithoutChangingReads) {
    // A type-1 file whose first frame is a 40-byte "REF " chunk.
    FixtureOptions o;
    o.type = DvType::Type1;
    auto frames = qvtest::MakeFrames(o, 3, kStart);
    frames[0].video = qvtest::MakeRefChunk(4096, "/data/tape1-20040714.dv");
    ASSERT_EQ(frames[0].video.size(), 40u);
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    qv::AviStream& stream = *reader->Stream(0);
    EXPECT_EQ(stream.UnitSize(), 40u);
    EXPECT_EQ(reader->Describe(),
              "file tape1.avi, 3 frames, type:avi1, 25.00fps, Interleaved Audio/Video (NTSC)");
    EXPECT_EQ(stream.Length(), 3);
    EXPECT_EQ(ReadFrame(stream, 0), frames[0].video);
    qvtest::ReadResult r = qvtest::ReadUnits(stream, 1, 2, 2 * qvtest::kPalFrameSize);
    EXPECT_EQ(r.units, 2);
    EXPECT_EQ(r.bytes.size(), 2u * qvtest::kPalFrameSize);
    EXPECT_EQ(ReadFrame(stream, 2), frames[2].video);

    // A type-2 video stream reports its first frame's size; audio its sample frame.
    FixtureOptions o2;
    auto reader2 = Open(o2, qvtest::MakeFrames(o2, 2, kStart), "type2.avi");
    ASSERT_NE(reader2, nullptr);
    EXPECT_EQ(reader2->Stream(0)->UnitSize(), static_cast<uint32_t>(qvtest::kPalFrameSize));
    EXPECT_EQ(reader2->Stream(1)->UnitSize(), 4u);
    EXPECT_EQ(reader2->Stream(0)->Length(), 2);
}

TEST_F(AviReaderTest, DescribesAMinuteOfCapture) {
    // 1500 tiny frames without audio chunks: the description needs only the headers and
    // the frame count.
    FixtureOptions o;
    o.generation = Generation::OpenDml;
    auto frames = qvtest::MakePatternFrames(o, 1500, 8);
    for (auto& f : frames) {
        f.audio.clear();
    }
    auto reader = Open(o, frames);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Describe(),
              "file tape1.avi, 1500 frames, type:odml-avi2, 25.00fps, Video:720x576, "
              "Audio:16 bits, 48.00kHz, 2 chans");
}

TEST_F(AviReaderTest, DescribesOtherAudioFormats) {
    FixtureOptions o;
    o.audioRate = 32000;
    o.audioChannels = 4;
    o.audioBits = 12;  // 4 x 12 bits: 6-byte sample frames
    o.generation = Generation::OpenDml;
    auto reader = Open(o, qvtest::MakePatternFrames(o, 2, 100), "tape 2.avi");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Describe(),
              "file tape 2.avi, 2 frames, type:odml-avi2, 25.00fps, Video:720x576, "
              "Audio:12 bits, 32.00kHz, 4 chans");
    // The 6-byte sample frame comes from the format when dwSampleSize says nothing.
    o.audioSampleSize = 0;
    reader = Open(o, qvtest::MakePatternFrames(o, 2, 100), "tape3.avi");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Stream(1)->UnitSize(), 6u);
}

TEST_F(AviReaderTest, CloseEmptiesTheReaderButKeepsTheName) {
    FixtureOptions o;
    auto reader = Open(o, qvtest::MakePatternFrames(o, 2, 100));
    ASSERT_NE(reader, nullptr);
    reader->Close();
    EXPECT_EQ(reader->StreamCount(), 0);
    EXPECT_EQ(reader->FrameCount(), 0);
    EXPECT_EQ(reader->Stream(0), nullptr);
    EXPECT_EQ(reader->Kind(), "avi1");
    EXPECT_EQ(qv::FileNameOf(reader->FileName()), "tape1.avi");
}

TEST_F(AviReaderTest, TwoReadersOfOneFileReadIndependently) {
    FixtureOptions o;
    const auto frames = qvtest::MakePatternFrames(o, 3, 300);
    auto first = Open(o, frames);
    auto second = qv::OpenAviFile(dir_.Path("tape1.avi"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(ReadFrame(*first->Stream(0), 2), frames[2].video);
    EXPECT_EQ(ReadFrame(*second->Stream(0), 0), frames[0].video);
    EXPECT_EQ(ReadFrame(*first->Stream(0), 1), frames[1].video);
    first.reset();
    EXPECT_EQ(ReadFrame(*second->Stream(0), 1), frames[1].video);
}

}  // namespace
