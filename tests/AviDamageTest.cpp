// Damaged AVI files: cut short, with sizes, counts and offsets that lie, with indexes that
// point at themselves, nested too deep, or not files at all. Every one opens with what can
// be read or is refused; none may crash, hang or make the reader touch memory outside its
// buffers (the sanitizer build checks the latter).

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "support/AviFixture.h"
#include "support/ReadUnits.h"

namespace {

using qvtest::DvType;
using qvtest::FixtureFrame;
using qvtest::FixtureOptions;
using qvtest::Generation;

// Small files: 300-byte frames (odd chunks with their pad byte after) and 80 sample frames
// of audio per frame.
FixtureOptions Small(DvType type, Generation generation, int framesPerSegment = 0) {
    FixtureOptions o;
    o.type = type;
    o.generation = generation;
    o.framesPerSegment = framesPerSegment;
    o.audioRate = 2000;
    return o;
}

constexpr int kFrames = 6;
constexpr int kVideoBytes = 301;


// Whether part is the start of whole[from, ...).
bool IsPrefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole,
              size_t from = 0) {
    if (part.empty()) {
        return true;
    }
    return from <= whole.size() && part.size() <= whole.size() - from &&
           std::equal(part.begin(), part.end(), whole.begin() + static_cast<ptrdiff_t>(from));
}

// What the fixture wrote: every frame's video, and the audio of all frames in one run.
struct Written {
    std::vector<FixtureFrame> frames;
    std::vector<uint8_t> audio;
};

Written WrittenOf(std::vector<FixtureFrame> frames) {
    Written w;
    for (const auto& f : frames) {
        w.audio.insert(w.audio.end(), f.audio.begin(), f.audio.end());
    }
    w.frames = std::move(frames);
    return w;
}

// Units worth trying in a stream of length units: all of a short stream, a spread of a
// long one (a damaged audio index may claim billions of units), and the ones just outside.
std::vector<int> UnitsToTry(int length) {
    std::vector<int> units = {-1, 0, 1, length - 1, length, length + 1};
    if (length <= 200) {
        for (int u = 2; u < length - 1; ++u) {
            units.push_back(u);
        }
    } else {
        for (int k = 1; k < 40; ++k) {
            units.push_back(static_cast<int>(static_cast<int64_t>(length) * k / 40));
        }
    }
    return units;
}

// Uses everything the reader offers. When what was written is given (the file was only
// cut short, so every index entry that survived is right), whatever comes back must be
// the start of what was written there.
void Exercise(qv::AviReader& reader, const Written* written = nullptr) {
    (void)reader.Kind();
    (void)reader.FramesPerSecond();
    (void)reader.Describe();
    EXPECT_GE(reader.FrameCount(), 0);
    EXPECT_EQ(reader.Stream(-1), nullptr);
    EXPECT_EQ(reader.Stream(reader.StreamCount()), nullptr);
    for (int s = 0; s < reader.StreamCount(); ++s) {
        qv::AviStream* stream = reader.Stream(s);
        ASSERT_NE(stream, nullptr);
        (void)stream->Header();
        (void)stream->Format();
        (void)stream->GetVideoFormat();
        (void)stream->GetAudioFormat();
        (void)stream->FramesPerSecond();
        (void)stream->UnitSize();
        const int length = stream->Length();
        EXPECT_GE(length, 0);
        for (int unit : UnitsToTry(length)) {
            (void)stream->ChunkSize(unit);
            qvtest::ReadResult one = qvtest::ReadUnits(*stream, unit, 1, 2000);
            qvtest::ReadResult run = qvtest::ReadUnits(*stream, unit, 500, 997);
            (void)qvtest::ReadUnits(*stream, unit, 3, 5);
            if (written == nullptr || unit < 0) {
                continue;
            }
            if (s == 0 && unit < static_cast<int>(written->frames.size())) {
                const auto& video = written->frames[static_cast<size_t>(unit)].video;
                EXPECT_TRUE(IsPrefix(one.bytes, video)) << "frame " << unit;
            } else if (s == 1) {
                const size_t from = static_cast<size_t>(unit) * 4;  // 4-byte sample frames
                EXPECT_TRUE(IsPrefix(one.bytes, written->audio, from)) << "sample " << unit;
                EXPECT_TRUE(IsPrefix(run.bytes, written->audio, from)) << "sample " << unit;
            }
        }
    }
}

// The 56 data bytes of a "strh" chunk of a 25 fps stream.
std::vector<uint8_t> StrhData(const char* type) {
    qvtest::RiffBuilder b;
    b.Code(type);    // fccType
    b.Code("dvsd");  // fccHandler
    b.Zeros(12);     // dwFlags, wPriority, wLanguage, dwInitialFrames
    b.U32(1);        // dwScale
    b.U32(25);       // dwRate
    b.Zeros(28);     // dwStart, dwLength, dwSuggestedBufferSize, dwQuality, dwSampleSize, rcFrame
    return b.Bytes();
}

class AviDamageTest : public ::testing::Test {
protected:
    // Writes bytes and opens them; the reader is null only when the file cannot be opened.
    std::unique_ptr<qv::AviReader> OpenBytes(const std::vector<uint8_t>& bytes,
                                             const std::string& name = "damaged.avi") {
        const std::string path = dir_.Path(name);
        EXPECT_TRUE(qvtest::WriteFileBytes(path, bytes));
        auto reader = qv::OpenAviFile(path);
        EXPECT_NE(reader, nullptr);
        return reader;
    }

    qvtest::TempDir dir_;
};

// ---------------------------------------------------------------------------
// Files cut short

class Truncated : public AviDamageTest,
                  public ::testing::WithParamInterface<std::tuple<DvType, Generation, int>> {};

TEST_P(Truncated, EveryCutOpensWithTheFramesBeforeIt) {
    const FixtureOptions o = Small(std::get<0>(GetParam()), std::get<1>(GetParam()),
                                   std::get<2>(GetParam()));
    const auto frames = qvtest::MakePatternFrames(o, kFrames, kVideoBytes);
    const Written written = WrittenOf(frames);
    const auto whole = qvtest::BuildFixtureAvi(o, frames);
    const size_t movi = qvtest::FindFourCC(whole, "movi");
    ASSERT_NE(movi, qvtest::kNotFound);

    // Every few bytes through the headers, a spread through the frames and indexes.
    std::vector<size_t> cuts;
    for (size_t at = 0; at < movi + 16; at += 4) {
        cuts.push_back(at);
    }
    for (size_t at = movi + 16; at < whole.size(); at += 37) {
        cuts.push_back(at);
    }
    cuts.push_back(whole.size() - 1);
    for (size_t cut : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
        auto reader = OpenBytes(std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
        ASSERT_NE(reader, nullptr);
        Exercise(*reader, &written);
        if (HasFailure()) {
            break;  // one cut's report is enough
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AviDamage, Truncated,
    ::testing::Values(std::tuple{DvType::Type1, Generation::Avi1, 0},
                      std::tuple{DvType::Type2, Generation::Avi1, 0},
                      std::tuple{DvType::Type1, Generation::OpenDml, 2},
                      std::tuple{DvType::Type2, Generation::OpenDml, 2},
                      std::tuple{DvType::Type2, Generation::OpenDmlCompat, 2}));

TEST_F(AviDamageTest, CaptureEndedInsideTheFirstSegment) {
    // What a capture leaves when it stops without closing the file: sizes still 0 and
    // no index at all. The headers are there; there is nothing to read.
    const FixtureOptions o = Small(DvType::Type2, Generation::OpenDml);
    auto bytes = qvtest::BuildFixtureAvi(o, qvtest::MakePatternFrames(o, kFrames, kVideoBytes));
    qvtest::PutLe32(bytes, 4, 0);  // RIFF ckSize
    const size_t movi = qvtest::FindFourCC(bytes, "movi");
    qvtest::PutLe32(bytes, movi - 4, 0);  // movi ckSize
    const size_t indx = qvtest::FindFourCC(bytes, "indx");
    qvtest::PutLe32(bytes, indx + 12, 0);  // nEntriesInUse of the video super index
    bytes.resize(movi + 1000);
    auto reader = OpenBytes(bytes);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->StreamCount(), 2);
    EXPECT_EQ(reader->FramesPerSecond(), 25.0);
    EXPECT_TRUE(reader->Stream(1)->IsAudio());
    Exercise(*reader);
}

// ---------------------------------------------------------------------------
// Sizes, counts and offsets that lie

TEST_F(AviDamageTest, Idx1SizeBeyondTheChunk) {
    const FixtureOptions o = Small(DvType::Type2, Generation::Avi1);
    const auto frames = qvtest::MakePatternFrames(o, kFrames, kVideoBytes);
    const Written written = WrittenOf(frames);
    auto bytes = qvtest::BuildFixtureAvi(o, frames);
    const size_t idx1 = qvtest::FindFourCC(bytes, "idx1");
    ASSERT_NE(idx1, qvtest::kNotFound);
    const uint32_t size = qvtest::GetLe32(bytes, idx1 + 4);

    for (uint32_t claimed : {size + 16, size + 8, 0x7FFFFFF0u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(claimed);
        qvtest::PutLe32(bytes, idx1 + 4, claimed);
        auto reader = OpenBytes(bytes);
        ASSERT_NE(reader, nullptr);
        // Every real entry is still there, and nothing beyond them.
        ASSERT_EQ(reader->FrameCount(), kFrames);
        EXPECT_EQ(reader->Stream(1)->Length(), kFrames * 80);
        Exercise(*reader, &written);
    }
    // A size that ends inside the last entry: that entry is not used, and the chunk it
    // listed is found in the data after the listed ones.
    qvtest::PutLe32(bytes, idx1 + 4, size - 8);
    auto reader = OpenBytes(bytes);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->FrameCount(), kFrames);
    EXPECT_EQ(reader->Stream(1)->Length(), kFrames * 80);
    EXPECT_TRUE(reader->IndexRebuilt());
    Exercise(*reader, &written);
}

TEST_F(AviDamageTest, EntryCountsBeyondTheIndexChunks) {
    const FixtureOptions o = Small(DvType::Type2, Generation::OpenDml, 2);
    const auto frames = qvtest::MakePatternFrames(o, kFrames, kVideoBytes);
    const Written written = WrittenOf(frames);
    auto bytes = qvtest::BuildFixtureAvi(o, frames);
    // nEntriesInUse of both super indexes and of every standard index.
    for (const char* id : {"indx", "ix00", "ix01"}) {
        for (int n = 0;; ++n) {
            const size_t at = qvtest::FindFourCC(bytes, id, 0, n);
            if (at == qvtest::kNotFound) {
                break;
            }
            qvtest::PutLe32(bytes, at + 12, 0xFFFFFFFFu);
        }
    }
    // And super index entries that take in far more than their standard index chunk:
    // what follows a standard index is not part of it.
    for (int n = 0; n < 2; ++n) {
        const size_t indx = qvtest::FindFourCC(bytes, "indx", 0, n);
        for (int k = 0; k < 3; ++k) {
            qvtest::PutLe32(bytes, indx + 40 + 16 * k, 0x100000);  // dwSize
        }
    }
    auto reader = OpenBytes(bytes);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->FrameCount(), kFrames);
    EXPECT_EQ(reader->Stream(1)->Length(), kFrames * 80);
    Exercise(*reader, &written);
}

TEST_F(AviDamageTest, Idx1OffsetsAndLengthsBeyondTheFile) {
    for (bool relative : {true, false}) {
        SCOPED_TRACE(relative ? "relative" : "absolute");
        FixtureOptions o = Small(DvType::Type2, Generation::Avi1);
        o.relativeIdx1 = relative;
        const auto frames = qvtest::MakePatternFrames(o, kFrames, kVideoBytes);
        auto bytes = qvtest::BuildFixtureAvi(o, frames);
        const size_t entries = qvtest::FindFourCC(bytes, "idx1") + 8;
        // Entries in file order: video 0, audio 0, video 1, audio 1, ...
        qvtest::PutLe32(bytes, entries + 2 * 16 + 8, 0xFFFFFF00u);  // video 1 dwChunkOffset
        qvtest::PutLe32(bytes, entries + 4 * 16 + 12, 0x7FFFFFFFu);  // video 2 dwChunkLength
        qvtest::PutLe32(bytes, entries + 5 * 16 + 8, 0x80000000u);  // audio 2 dwChunkOffset
        auto reader = OpenBytes(bytes);
        ASSERT_NE(reader, nullptr);
        ASSERT_EQ(reader->FrameCount(), kFrames);
        qv::AviStream& video = *reader->Stream(0);
        EXPECT_FALSE(qvtest::ReadUnits(video, 1, 1, 1000).ok);
        EXPECT_EQ(qvtest::ReadUnits(video, 0, 1, 1000).bytes, frames[0].video);
        EXPECT_EQ(qvtest::ReadUnits(video, 3, 1, 1000).bytes, frames[3].video);
        // A length that is not the chunk's own is a read error, not what lies there.
        EXPECT_FALSE(qvtest::ReadUnits(video, 2, 1, 301).ok);
        Exercise(*reader);
    }
}

TEST_F(AviDamageTest, StandardIndexOffsetsBeyondTheFile) {
    const FixtureOptions o = Small(DvType::Type2, Generation::OpenDml);
    const auto frames = qvtest::MakePatternFrames(o, kFrames, kVideoBytes);
    auto bytes = qvtest::BuildFixtureAvi(o, frames);
    const size_t ix00 = qvtest::FindFourCC(bytes, "ix00");
    const size_t ix01 = qvtest::FindFourCC(bytes, "ix01");
    qvtest::PutLe32(bytes, ix00 + 32 + 8, 0xFFFFFFF0u);             // entry 1 dwOffset
    qvtest::PutLe64(bytes, ix01 + 20, 0xFFFFFFFFFFFFFF00ull);       // qwBaseOffset
    auto reader = OpenBytes(bytes);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->FrameCount(), kFrames);
    EXPECT_FALSE(qvtest::ReadUnits(*reader->Stream(0), 1, 1, 1000).ok);
    EXPECT_EQ(qvtest::ReadUnits(*reader->Stream(0), 2, 1, 1000).bytes, frames[2].video);
    Exercise(*reader);
}

// Super index entries that lead back into the headers: to the super index itself, to
// its "strl" list, to the start of the file, past the end.
TEST_F(AviDamageTest, SuperIndexPointingAtItselfOrItsParents) {
    const FixtureOptions o = Small(DvType::Type2, Generation::OpenDml, 3);
    const auto frames = qvtest::MakePatternFrames(o, kFrames, kVideoBytes);
    const Written written = WrittenOf(frames);
    const auto good = qvtest::BuildFixtureAvi(o, frames);
    const size_t indx = qvtest::FindFourCC(good, "indx");
    const size_t strl = qvtest::FindFourCC(good, "strl") - 8;
    const size_t hdrl = qvtest::FindFourCC(good, "hdrl") - 8;
    const uint32_t indxSize = qvtest::GetLe32(good, indx + 4) + 8;

    struct Target {
        uint64_t offset;
        uint32_t size;
    };
    for (Target t : {Target{indx, indxSize}, Target{strl, 0xFFFFFFFFu}, Target{hdrl, 4096},
                     Target{0, static_cast<uint32_t>(good.size())}, Target{indx + 32, 64},
                     Target{good.size() - 4, 1000}, Target{~0ull, 100}}) {
        SCOPED_TRACE("offset " + std::to_string(t.offset));
        auto bytes = good;
        for (int k = 0; k < 2; ++k) {  // both segments of the video stream
            qvtest::PutLe64(bytes, indx + 32 + 16 * k, t.offset);  // qwOffset
            qvtest::PutLe32(bytes, indx + 40 + 16 * k, t.size);    // dwSize
        }
        auto reader = OpenBytes(bytes);
        ASSERT_NE(reader, nullptr);
        // No video index is usable: the video chunks come from the data.
        EXPECT_EQ(reader->Stream(0)->Length(), kFrames);
        // The audio stream's own index is intact.
        EXPECT_EQ(reader->Stream(1)->Length(), kFrames * 80);
        Exercise(*reader, &written);
    }
}

// A standard index whose type says "index of indexes", pointing back at the super index:
// no entries from it, the frames come from the data.
TEST_F(AviDamageTest, StandardIndexThatIsASuperIndex) {
    const FixtureOptions o = Small(DvType::Type1, Generation::OpenDml);
    const auto frames = qvtest::MakePatternFrames(o, kFrames, kVideoBytes);
    const Written written = WrittenOf(frames);
    auto bytes = qvtest::BuildFixtureAvi(o, frames);
    const size_t indx = qvtest::FindFourCC(bytes, "indx");
    const size_t ix00 = qvtest::FindFourCC(bytes, "ix00");
    bytes[ix00 + 11] = 0;                          // bIndexType: of indexes
    qvtest::PutLe32(bytes, ix00 + 12, 1);          // nEntriesInUse
    qvtest::PutLe64(bytes, ix00 + 32, indx);       // qwOffset: the super index
    qvtest::PutLe32(bytes, ix00 + 40, qvtest::GetLe32(bytes, indx + 4) + 8);  // dwSize
    auto reader = OpenBytes(bytes);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->FrameCount(), kFrames);
    Exercise(*reader, &written);
}

// ---------------------------------------------------------------------------
// Broken chunk tree

TEST_F(AviDamageTest, ListSizesBelowFour) {
    const FixtureOptions o = Small(DvType::Type2, Generation::OpenDmlCompat, 3);
    const auto frames = qvtest::MakePatternFrames(o, kFrames, kVideoBytes);
    const auto good = qvtest::BuildFixtureAvi(o, frames);
    // The size fields of lists: RIFF, hdrl, both strl, odml, every movi, the AVIX RIFF.
    std::vector<size_t> sizes = {4};
    for (const char* type : {"hdrl", "strl", "odml", "movi", "AVIX"}) {
        for (int n = 0;; ++n) {
            const size_t at = qvtest::FindFourCC(good, type, 0, n);
            if (at == qvtest::kNotFound) {
                break;
            }
            sizes.push_back(at - 4);
        }
    }
    for (size_t at : sizes) {
        for (uint32_t size : {0u, 1u, 2u, 3u}) {
            SCOPED_TRACE("size " + std::to_string(size) + " at " + std::to_string(at));
            auto bytes = good;
            qvtest::PutLe32(bytes, at, size);
            auto reader = OpenBytes(bytes);
            ASSERT_NE(reader, nullptr);
            Exercise(*reader);
        }
    }
    // A "movi" of size 0 with the index after it, as an unfinished file leaves it: the
    // headers stay readable.
    auto bytes = good;
    qvtest::PutLe32(bytes, qvtest::FindFourCC(good, "movi") - 4, 0);
    auto reader = OpenBytes(bytes);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->StreamCount(), 2);
    EXPECT_EQ(reader->FramesPerSecond(), 25.0);
}

TEST_F(AviDamageTest, ChunkSizesBeyondTheirList) {
    const FixtureOptions o = Small(DvType::Type2, Generation::OpenDml);
    const auto good = qvtest::BuildFixtureAvi(o, qvtest::MakePatternFrames(o, 3, kVideoBytes));
    for (const char* id : {"avih", "strh", "strf", "indx", "dmlh", "hdrl", "strl", "movi"}) {
        for (uint32_t size : {0u, 5u, 0x10000u, 0x7FFFFFFFu, 0xFFFFFFF7u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(std::string(id) + " size " + std::to_string(size));
            auto bytes = good;
            // A chunk's size follows its id; a list's size comes before its type.
            const std::string name = id;
            const bool list = name == "hdrl" || name == "strl" || name == "movi";
            const size_t at = qvtest::FindFourCC(bytes, name);
            qvtest::PutLe32(bytes, list ? at - 4 : at + 4, size);
            auto reader = OpenBytes(bytes);
            ASSERT_NE(reader, nullptr);
            Exercise(*reader);
        }
    }
}

TEST_F(AviDamageTest, ListsNestedTooDeep) {
    // RIFF > hdrl > strl holds the video stream; after it, a list nested 3000 deep with a
    // second "strl" at the bottom; then the frames and their index.
    const std::vector<uint8_t> frame(300, 0x5A);
    for (int depth : {9, 30, 3000}) {
        SCOPED_TRACE(depth);
        qvtest::RiffBuilder b;
        const size_t riff = b.BeginList("RIFF", "AVI ");
        const size_t hdrl = b.BeginList("LIST", "hdrl");
        const size_t strl = b.BeginList("LIST", "strl");
        b.Chunk("strh", StrhData("vids"));
        b.End(strl);
        std::vector<size_t> marks;
        for (int i = 0; i < depth; ++i) {
            marks.push_back(b.BeginList("LIST", "deep"));
        }
        const size_t inner = b.BeginList("LIST", "strl");
        b.Chunk("strh", std::vector<uint8_t>(56, 0));
        b.End(inner);
        for (auto m = marks.rbegin(); m != marks.rend(); ++m) {
            b.End(*m);
        }
        b.End(hdrl);
        const size_t movi = b.BeginList("LIST", "movi");
        const size_t chunk = b.Position();
        b.Chunk("00dc", frame);
        b.End(movi);
        const size_t idx1 = b.BeginChunk("idx1");
        b.Code("00dc");                                // ckid
        b.U32(0x10);                                   // dwFlags
        b.U32(static_cast<uint32_t>(chunk));           // dwChunkOffset, absolute
        b.U32(static_cast<uint32_t>(frame.size()));    // dwChunkLength
        b.End(idx1);
        b.End(riff);

        auto reader = OpenBytes(b.Bytes());
        ASSERT_NE(reader, nullptr);
        ASSERT_GE(reader->StreamCount(), 1);
        EXPECT_TRUE(reader->Stream(0)->IsVideo());
        EXPECT_EQ(reader->FramesPerSecond(), 25.0);
        ASSERT_EQ(reader->FrameCount(), 1);
        EXPECT_EQ(qvtest::ReadUnits(*reader->Stream(0), 0, 1, 1000).bytes, frame);
        Exercise(*reader);
    }
}

TEST_F(AviDamageTest, HeadersShorterThanTheirFields) {
    // strh and strf of every length up to their full size: the rate is 0.0 without
    // dwScale/dwRate, the format is absent when it is incomplete, nothing is read past them.
    for (size_t strhBytes : {0, 2, 4, 11, 12, 28, 35, 36, 55, 56}) {
        for (size_t strfBytes : {0, 3, 8, 15, 16, 40}) {
            SCOPED_TRACE("strh " + std::to_string(strhBytes) + " strf " +
                         std::to_string(strfBytes));
            qvtest::RiffBuilder b;
            const size_t riff = b.BeginList("RIFF", "AVI ");
            const size_t hdrl = b.BeginList("LIST", "hdrl");
            for (const char* type : {"vids", "auds"}) {
                std::vector<uint8_t> strh = StrhData(type);
                strh.resize(strhBytes);
                qvtest::RiffBuilder f;
                f.U32(40);    // biSize / wFormatTag, nChannels
                f.U32(720);   // biWidth / nSamplesPerSec
                f.Zeros(32);  // the rest of a BITMAPINFOHEADER
                std::vector<uint8_t> strf = f.Bytes();
                strf.resize(strfBytes);
                const size_t strl = b.BeginList("LIST", "strl");
                b.Chunk("strh", strh);
                b.Chunk("strf", strf);
                b.End(strl);
            }
            b.End(hdrl);
            b.End(riff);

            auto reader = OpenBytes(b.Bytes());
            ASSERT_NE(reader, nullptr);
            ASSERT_EQ(reader->StreamCount(), 2);
            qv::AviStream& video = *reader->Stream(0);
            EXPECT_EQ(video.IsVideo(), strhBytes >= 4);
            EXPECT_EQ(video.FramesPerSecond(), strhBytes == 56 ? 25.0 : 0.0);
            EXPECT_EQ(reader->FramesPerSecond(), video.FramesPerSecond());
            if (strfBytes < 16 || strhBytes < 4) {
                EXPECT_FALSE(video.GetVideoFormat().has_value());
                EXPECT_FALSE(reader->Stream(1)->GetAudioFormat().has_value());
            }
            if (strhBytes < 4) {
                EXPECT_EQ(video.Type(), 0u);
            }
            Exercise(*reader);
        }
    }
}

TEST_F(AviDamageTest, StreamChunksOutsideAnyStreamList) {
    // "strh", "strf" and "indx" before the first "strl" belong to no stream.
    qvtest::RiffBuilder b;
    const size_t riff = b.BeginList("RIFF", "AVI ");
    b.Chunk("strh", StrhData("vids"));
    b.Chunk("strf", std::vector<uint8_t>(40, 0));
    qvtest::RiffBuilder indx;
    indx.U16(4);        // wLongsPerEntry
    indx.U8(0);         // bIndexSubType
    indx.U8(0);         // bIndexType: of indexes
    indx.U32(1);        // nEntriesInUse
    indx.Code("00dc");  // dwChunkId
    indx.Zeros(12);     // dwReserved[3]
    indx.U64(0);        // qwOffset: the file itself
    indx.U32(64);       // dwSize
    indx.U32(1);        // dwDuration
    b.Chunk("indx", indx.Bytes());
    const size_t hdrl = b.BeginList("LIST", "hdrl");
    const size_t strl = b.BeginList("LIST", "strl");
    b.Chunk("strh", StrhData("auds"));
    b.End(strl);
    b.End(hdrl);
    b.End(riff);
    auto reader = OpenBytes(b.Bytes());
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->StreamCount(), 1);
    EXPECT_TRUE(reader->Stream(0)->IsAudio());
    EXPECT_FALSE(reader->Stream(0)->GetAudioFormat().has_value());
    EXPECT_EQ(reader->Stream(0)->Length(), 0);
    Exercise(*reader);
}

TEST_F(AviDamageTest, StandardIndexBeforeTheStreamHeader) {
    // An "indx" read before the "strh" that makes the stream audio: its entries
    // count as sample frames all the same, and the length agrees with them.
    qvtest::RiffBuilder b;
    const size_t riff = b.BeginList("RIFF", "AVI ");
    const size_t hdrl = b.BeginList("LIST", "hdrl");
    const size_t strl = b.BeginList("LIST", "strl");
    const size_t indx = b.BeginChunk("indx");
    b.U16(2);        // wLongsPerEntry
    b.U8(0);         // bIndexSubType
    b.U8(1);         // bIndexType: of chunks
    b.U32(2);        // nEntriesInUse
    b.Code("00wb");  // dwChunkId
    b.U64(0);        // qwBaseOffset: offsets from the file start
    b.U32(0);        // dwReserved
    const size_t entries = b.Position();
    b.Zeros(16);     // two entries: dwOffset, dwSize
    b.End(indx);
    std::vector<uint8_t> strh = StrhData("auds");
    qvtest::PutLe32(strh, 44, 4);  // dwSampleSize
    b.Chunk("strh", strh);
    b.End(strl);
    b.End(hdrl);
    const size_t movi = b.BeginList("LIST", "movi");
    std::vector<uint8_t> data(600);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    const size_t first = b.Position();
    b.Chunk("00wb", std::vector<uint8_t>(data.begin(), data.begin() + 200));
    const size_t second = b.Position();
    b.Chunk("00wb", std::vector<uint8_t>(data.begin() + 200, data.end()));
    b.End(movi);
    b.End(riff);
    std::vector<uint8_t>& bytes = b.Bytes();
    qvtest::PutLe32(bytes, entries, static_cast<uint32_t>(first + 8));
    qvtest::PutLe32(bytes, entries + 4, 200);
    qvtest::PutLe32(bytes, entries + 8, static_cast<uint32_t>(second + 8));
    qvtest::PutLe32(bytes, entries + 12, 400);

    auto reader = OpenBytes(bytes);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->StreamCount(), 1);
    qv::AviStream& audio = *reader->Stream(0);
    ASSERT_TRUE(audio.IsAudio());
    EXPECT_EQ(audio.Length(), 150);  // 600 bytes of 4-byte sample frames
    EXPECT_EQ(qvtest::ReadUnits(audio, 50, 100, 4000).bytes,
              std::vector<uint8_t>(data.begin() + 200, data.end()));
    EXPECT_TRUE(qvtest::ReadUnits(audio, 150, 1, 4000).bytes.empty());
    Exercise(*reader);
}

TEST_F(AviDamageTest, DescribeWithoutFormats) {
    qvtest::RiffBuilder b;
    const size_t riff = b.BeginList("RIFF", "AVI ");
    for (const char* type : {"vids", "auds", "iavs", "txts"}) {
        const size_t strl = b.BeginList("LIST", "strl");
        b.Chunk("strh", {static_cast<uint8_t>(type[0]), static_cast<uint8_t>(type[1]),
                         static_cast<uint8_t>(type[2]), static_cast<uint8_t>(type[3])});
        b.End(strl);
    }
    b.Chunk("strl", {});  // a "strl" that is a chunk, not a list: not a stream
    b.End(riff);
    auto reader = OpenBytes(b.Bytes(), "bare.avi");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Describe(),
              "file bare.avi, 0 frames, type:avi1, 0.00fps, Video , Audio, "
              "Interleaved Audio/Video (NTSC), stream 3, type txts");
}

// ---------------------------------------------------------------------------
// Not a file, or a file that changes

TEST_F(AviDamageTest, FifoAndDirectoryAreRefusedWithoutBlocking) {
    const std::string fifo = dir_.Path("capture.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto opening = std::async(std::launch::async, [&] { return qv::OpenAviFile(fifo) != nullptr; });
    if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Give the waiting open a writer so that the test ends, then fail.
        int fd = ::open(fifo.c_str(), O_RDWR);
        ADD_FAILURE() << "opening a FIFO waited for a writer";
        opening.wait();
        ::close(fd);
    }
    EXPECT_FALSE(opening.get());

    EXPECT_EQ(qv::OpenAviFile(dir_.Dir().string()), nullptr);
    EXPECT_EQ(qv::OpenAviFile(dir_.Path("missing.avi")), nullptr);
    EXPECT_EQ(qv::OpenAviFile(""), nullptr);
}

TEST_F(AviDamageTest, FileThatShrinksAfterOpening) {
    for (Generation g : {Generation::Avi1, Generation::OpenDml}) {
        const FixtureOptions o = Small(DvType::Type2, g);
        const auto frames = qvtest::MakePatternFrames(o, kFrames, kVideoBytes);
        const Written written = WrittenOf(frames);
        const std::string path = dir_.Path("shrinking.avi");
        ASSERT_TRUE(qvtest::WriteFixtureAvi(path, o, frames));
        auto reader = qv::OpenAviFile(path);
        ASSERT_NE(reader, nullptr);
        ASSERT_EQ(reader->FrameCount(), kFrames);

        // Cut inside frame 3's chunk.
        const auto bytes = qvtest::ReadFileBytes(path);
        const size_t movi = qvtest::FindFourCC(bytes, "movi");
        const size_t frame3 = qvtest::FindFourCC(bytes, "00dc", movi, 3);
        std::filesystem::resize_file(path, frame3 + 8 + 100);

        qv::AviStream& video = *reader->Stream(0);
        EXPECT_EQ(qvtest::ReadUnits(video, 2, 1, 1000).bytes, frames[2].video);
        qvtest::ReadResult cut = qvtest::ReadUnits(video, 3, 1, 1000);
        EXPECT_EQ(cut.bytes, std::vector<uint8_t>(frames[3].video.begin(),
                                                  frames[3].video.begin() + 100));
        EXPECT_FALSE(qvtest::ReadUnits(video, 4, 1, 1000).ok);
        EXPECT_FALSE(qvtest::ReadUnits(video, 5, 1, 1000).ok);
        Exercise(*reader, &written);

        std::filesystem::resize_file(path, 0);
        Exercise(*reader);
    }
}

// ---------------------------------------------------------------------------
// Random damage

TEST_F(AviDamageTest, RandomByteCorruption) {
    struct Base {
        FixtureOptions options;
        std::vector<uint8_t> bytes;
        size_t moviData;  // where the frames begin: damage lands mostly before and after
    };
    std::vector<Base> bases;
    for (auto [type, generation, segment] :
         {std::tuple{DvType::Type2, Generation::Avi1, 0},
          std::tuple{DvType::Type1, Generation::Avi1, 0},
          std::tuple{DvType::Type2, Generation::OpenDml, 2},
          std::tuple{DvType::Type2, Generation::OpenDmlCompat, 3}}) {
        Base base;
        base.options = Small(type, generation, segment);
        base.options.withStrn = true;
        base.bytes = qvtest::BuildFixtureAvi(
            base.options, qvtest::MakePatternFrames(base.options, 4, 33));
        base.moviData = qvtest::FindFourCC(base.bytes, "movi") + 4;
        bases.push_back(std::move(base));
    }

    std::mt19937 random(20040714);
    const std::string path = dir_.Path("random.avi");
    for (int iteration = 0; iteration < 400; ++iteration) {
        const Base& base = bases[static_cast<size_t>(iteration) % bases.size()];
        auto bytes = base.bytes;
        auto pick = [&](size_t below) {
            return std::uniform_int_distribution<size_t>(0, below - 1)(random);
        };
        const int changes = 1 + static_cast<int>(pick(6));
        for (int c = 0; c < changes; ++c) {
            // Mostly the headers, else anywhere (frames, standard indexes, "idx1").
            size_t at = pick(3) != 0 ? pick(base.moviData) : pick(bytes.size());
            switch (pick(4)) {
                case 0:
                    bytes[at] = static_cast<uint8_t>(pick(256));
                    break;
                case 1:
                    bytes[at] ^= static_cast<uint8_t>(1u << pick(8));
                    break;
                case 2:  // a 32-bit field set to an extreme
                    at &= ~size_t{3};
                    qvtest::PutLe32(bytes, at, pick(2) != 0 ? 0xFFFFFFFFu : 0u);
                    break;
                default:
                    qvtest::PutLe32(bytes, at & ~size_t{3},
                                    static_cast<uint32_t>(pick(bytes.size() * 2)));
                    break;
            }
        }
        if (pick(5) == 0) {
            bytes.resize(pick(bytes.size()));
        }
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        ASSERT_TRUE(qvtest::WriteFileBytes(path, bytes));
        auto reader = qv::OpenAviFile(path);
        ASSERT_NE(reader, nullptr);
        Exercise(*reader);
        if (HasFailure()) {
            break;  // the trace names the iteration
        }
    }
}

}  // namespace
