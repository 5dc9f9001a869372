// Damaged AVI files: with sizes, counts and offsets that lie, with indexes that point at
// themselves, nested too deep, or not files at all (files cut short are the unfinished
// captures'). Every one opens with what can be read or is refused; none may crash, hang
// or make the reader touch memory outside its buffers (the sanitizer build checks that).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "support/AviFixture.h"
#include "support/Exercise.h"

namespace {

using namespace qvtest;
using enum DvType;
using enum Generation;

constexpr int kFrames = 6;
constexpr int kVideoBytes = 301;  // odd chunks, with their pad byte after
constexpr int kAudio = kFrames * 80;

// Small files: 300-byte frames and 80 sample frames of audio per frame.
FixtureOptions Small(DvType type, Generation generation, int framesPerSegment = 0) {
    FixtureOptions o;
    o.type = type;
    o.generation = generation;
    o.framesPerSegment = framesPerSegment;
    o.audioRate = 2000;
    return o;
}

// The 56 data bytes of a "strh" chunk of a 25 fps stream.
std::vector<uint8_t> StrhData(const char* type) {
    RiffBuilder b;
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
        EXPECT_TRUE(WriteFileBytes(dir_.Path(name), bytes));
        auto reader = qv::OpenAviFile(dir_.Path(name));
        EXPECT_NE(reader, nullptr);
        return reader;
    }

    TempDir dir_;
};

// ---------------------------------------------------------------------------
// Sizes, counts and offsets that lie, indexes that point at themselves, lists that do
// not hold their children: one damage to a small fixture file each.

struct Damage {
    std::string name;
    FixtureOptions options;
    std::function<void(std::vector<uint8_t>&)> apply;
    int frames = -1;              // the frame count it must open with; -1: any
    int audio = -1;               // the audio stream's length; -1: any
    bool truthful = false;        // every index entry left is right: reads are what was written
    bool rebuilt = false;         // must say that its index was rebuilt from the data
    std::vector<int> unreadable;  // frames that must not read; when given, the others must
    bool headers = false;         // the stream headers must still read: streams, rate, audio
};

// A "strl", "hdrl", "movi" ... list's size field, found by its type; or a chunk's.
size_t SizeFieldOf(const std::vector<uint8_t>& b, const std::string& id, int nth = 0) {
    const size_t at = FindFourCC(b, id, 0, nth);
    const bool list = id == "hdrl" || id == "strl" || id == "movi" || id == "odml" || id == "AVIX";
    return at == kNotFound ? kNotFound : list ? at - 4 : at + 4;
}

Damage& Add(std::vector<Damage>& d, std::string name, const FixtureOptions& options,
            std::function<void(std::vector<uint8_t>&)> apply, int frames = -1, int audio = -1,
            bool truthful = false) {
    d.push_back(Damage{});
    Damage& r = d.back();
    r.name = std::move(name);
    r.options = options;
    r.apply = std::move(apply);
    r.frames = frames;
    r.audio = audio;
    r.truthful = truthful;
    return r;
}

std::vector<Damage> Damages() {
    std::vector<Damage> d;
    const FixtureOptions avi1 = Small(Type2, Avi1);
    const FixtureOptions odml = Small(Type2, OpenDml);
    const auto idx1 = [](const std::vector<uint8_t>& b) { return FindFourCC(b, "idx1") + 4; };
    for (uint32_t more : {16u, 8u}) {
        Add(
            d, "idx1 size " + std::to_string(more) + " beyond the chunk", avi1,
            [=](auto& b) { PutLe32(b, idx1(b), GetLe32(b, idx1(b)) + more); }, kFrames, kAudio,
            true);
    }
    for (uint32_t claimed : {0x7FFFFFF0u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        Add(
            d, "idx1 size " + std::to_string(claimed), avi1,
            [=](auto& b) { PutLe32(b, idx1(b), claimed); }, kFrames, kAudio, true);
    }
    // A size that ends inside the last entry: that entry is not used, and the chunk it
    // listed is found in the data after the listed ones.
    Add(
        d, "idx1 size ending inside its last entry", avi1,
        [=](auto& b) { PutLe32(b, idx1(b), GetLe32(b, idx1(b)) - 8); }, kFrames, kAudio, true)
        .rebuilt = true;
    // nEntriesInUse of both super indexes and of every standard index; and super index
    // entries that take in far more than their standard index chunk: what follows a
    // standard index is not part of it.
    Add(
        d, "entry counts beyond the index chunks", Small(Type2, OpenDml, 2),
        [](auto& b) {
            for (const char* id : {"indx", "ix00", "ix01"}) {
                for (int n = 0; FindFourCC(b, id, 0, n) != kNotFound; ++n) {
                    PutLe32(b, FindFourCC(b, id, 0, n) + 12, 0xFFFFFFFFu);
                }
            }
            for (int n = 0; n < 2; ++n) {
                for (int k = 0; k < 3; ++k) {
                    PutLe32(b, FindFourCC(b, "indx", 0, n) + 40 + 16 * k, 0x100000);
                }
            }
        },
        kFrames, kAudio, true);
    // Entries in file order: video 0, audio 0, video 1, audio 1, ... A length that is not
    // the chunk's own is a read error, not what lies there.
    for (bool relative : {true, false}) {
        FixtureOptions o = avi1;
        o.relativeIdx1 = relative;
        Add(
            d,
            std::string("idx1 offsets and lengths beyond the file, ") +
                (relative ? "relative" : "absolute"),
            o,
            [](auto& b) {
                const size_t entries = FindFourCC(b, "idx1") + 8;
                PutLe32(b, entries + 2 * 16 + 8, 0xFFFFFF00u);   // video 1 dwChunkOffset
                PutLe32(b, entries + 4 * 16 + 12, 0x7FFFFFFFu);  // video 2 dwChunkLength
                PutLe32(b, entries + 5 * 16 + 8, 0x80000000u);   // audio 2 dwChunkOffset
            },
            kFrames)
            .unreadable = {1, 2};
    }
    Add(
        d, "standard index offsets beyond the file", odml,
        [](auto& b) {
            PutLe32(b, FindFourCC(b, "ix00") + 32 + 8, 0xFFFFFFF0u);        // entry 1 dwOffset
            PutLe64(b, FindFourCC(b, "ix01") + 20, 0xFFFFFFFFFFFFFF00ull);  // qwBaseOffset
        },
        kFrames)
        .unreadable = {1};
    // Super index entries that lead back into the headers: to the super index itself, to
    // its "strl" list, to the start of the file, past the end. No video index is usable:
    // the video chunks come from the data; the audio stream's own index is intact.
    const char* const targets[] = {"itself",          "its strl",       "the hdrl", "the file",
                                   "its own entries", "the last bytes", "nowhere"};
    for (size_t t = 0; t < std::size(targets); ++t) {
        Add(
            d, std::string("super index pointing at ") + targets[t], Small(Type2, OpenDml, 3),
            [t](auto& b) {
                const size_t x = FindFourCC(b, "indx");
                const std::pair<uint64_t, uint32_t> to[] = {
                    {x, GetLe32(b, x + 4) + 8},
                    {FindFourCC(b, "strl") - 8, 0xFFFFFFFFu},
                    {FindFourCC(b, "hdrl") - 8, 4096},
                    {0, static_cast<uint32_t>(b.size())},
                    {x + 32, 64},
                    {b.size() - 4, 1000},
                    {~uint64_t{0}, 100}};
                for (size_t k = 0; k < 2; ++k) {                // both segments of the video stream
                    PutLe64(b, x + 32 + 16 * k, to[t].first);   // qwOffset
                    PutLe32(b, x + 40 + 16 * k, to[t].second);  // dwSize
                }
            },
            kFrames, kAudio, true);
    }
    // A standard index whose type says "index of indexes", pointing back at the super
    // index: no entries from it, the frames come from the data.
    Add(
        d, "standard index that is a super index", Small(Type1, OpenDml),
        [](auto& b) {
            const size_t ix00 = FindFourCC(b, "ix00"), indx = FindFourCC(b, "indx");
            b[ix00 + 11] = 0;                                 // bIndexType: of indexes
            PutLe32(b, ix00 + 12, 1);                         // nEntriesInUse
            PutLe64(b, ix00 + 32, indx);                      // qwOffset
            PutLe32(b, ix00 + 40, GetLe32(b, indx + 4) + 8);  // dwSize
        },
        kFrames, -1, true);
    // What a capture leaves when it stops without closing the file: sizes still 0 and
    // no index at all. The headers are there; there is nothing to read.
    Add(d, "capture ended inside the first segment", odml, [](auto& b) {
        PutLe32(b, 4, 0);                           // RIFF ckSize
        PutLe32(b, SizeFieldOf(b, "movi"), 0);      // movi ckSize
        PutLe32(b, FindFourCC(b, "indx") + 12, 0);  // nEntriesInUse
        b.resize(FindFourCC(b, "movi") + 1000);
    }).headers = true;
    // A "movi" of size 0 with the index after it, as an unfinished file leaves it.
    Add(d, "movi of size 0", Small(Type2, OpenDmlCompat, 3), [](auto& b) {
        PutLe32(b, SizeFieldOf(b, "movi"), 0);
    }).headers = true;
    // The size fields of lists below 4: RIFF, hdrl, both strl, odml, every movi, the AVIX.
    for (const char* list : {"AVI ", "hdrl", "strl", "odml", "movi", "AVIX"}) {
        for (int n = 0; n < 3; ++n) {
            for (uint32_t size : {0u, 1u, 2u, 3u}) {
                Add(d,
                    std::string(list) + " " + std::to_string(n) + " size " + std::to_string(size),
                    Small(Type2, OpenDmlCompat, 3), [=](auto& b) {
                        const size_t at = std::string(list) == "AVI " ? (n == 0 ? 4 : kNotFound)
                                                                      : SizeFieldOf(b, list, n);
                        if (at != kNotFound) {
                            PutLe32(b, at, size);
                        }
                    });
            }
        }
    }
    // Chunk and list sizes beyond their list.
    for (const char* id : {"avih", "strh", "strf", "indx", "dmlh", "hdrl", "strl", "movi"}) {
        for (uint32_t size : {0u, 5u, 0x10000u, 0x7FFFFFFFu, 0xFFFFFFF7u, 0xFFFFFFFFu}) {
            Add(d, std::string(id) + " size " + std::to_string(size), odml,
                [=](auto& b) { PutLe32(b, SizeFieldOf(b, id), size); });
        }
    }
    return d;
}

TEST_F(AviDamageTest, EveryDamageOpensWithWhatCanBeRead) {
    for (const Damage& d : Damages()) {
        SCOPED_TRACE(d.name);
        const auto frames = MakePatternFrames(d.options, kFrames, kVideoBytes);
        const Written written = WrittenOf(frames);
        auto bytes = BuildFixtureAvi(d.options, frames);
        d.apply(bytes);
        auto reader = OpenBytes(bytes);
        ASSERT_NE(reader, nullptr);
        if (d.frames >= 0) {
            ASSERT_EQ(reader->FrameCount(), d.frames);
            EXPECT_EQ(reader->Stream(0)->Length(), d.frames);
        }
        if (d.audio >= 0) {
            EXPECT_EQ(reader->Stream(1)->Length(), d.audio);
        }
        if (d.rebuilt) {
            EXPECT_TRUE(reader->IndexRebuilt());
        }
        if (d.headers) {
            ASSERT_EQ(reader->StreamCount(), 2);
            EXPECT_EQ(reader->FramesPerSecond(), 25.0);
            EXPECT_TRUE(reader->Stream(1)->IsAudio());
        }
        for (int f = 0; !d.unreadable.empty() && f < kFrames; ++f) {
            const bool bad = std::count(d.unreadable.begin(), d.unreadable.end(), f) != 0;
            const ReadResult r = ReadUnits(*reader->Stream(0), f, 1, bad ? kVideoBytes : 1000);
            if (bad) {
                EXPECT_FALSE(r.ok) << "frame " << f;
            } else {
                EXPECT_EQ(r.bytes, frames[static_cast<size_t>(f)].video) << "frame " << f;
            }
        }
        Exercise(*reader, d.truthful ? &written : nullptr);
    }
}

// ---------------------------------------------------------------------------
// Broken chunk trees built by hand

TEST_F(AviDamageTest, ListsNestedTooDeep) {
    // RIFF > hdrl > strl holds the video stream; after it, a list nested 3000 deep with a
    // second "strl" at the bottom; then the frames and their index.
    const std::vector<uint8_t> frame(300, 0x5A);
    for (int depth : {9, 30, 3000}) {
        SCOPED_TRACE(depth);
        RiffBuilder b;
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
        b.Code("00dc");                              // ckid
        b.U32(0x10);                                 // dwFlags
        b.U32(static_cast<uint32_t>(chunk));         // dwChunkOffset, absolute
        b.U32(static_cast<uint32_t>(frame.size()));  // dwChunkLength
        b.End(idx1);
        b.End(riff);

        auto reader = OpenBytes(b.Bytes());
        ASSERT_NE(reader, nullptr);
        ASSERT_GE(reader->StreamCount(), 1);
        EXPECT_TRUE(reader->Stream(0)->IsVideo());
        EXPECT_EQ(reader->FramesPerSecond(), 25.0);
        ASSERT_EQ(reader->FrameCount(), 1);
        EXPECT_EQ(ReadUnits(*reader->Stream(0), 0, 1, 1000).bytes, frame);
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
            RiffBuilder b;
            const size_t riff = b.BeginList("RIFF", "AVI ");
            const size_t hdrl = b.BeginList("LIST", "hdrl");
            for (const char* type : {"vids", "auds"}) {
                std::vector<uint8_t> strh = StrhData(type);
                strh.resize(strhBytes);
                RiffBuilder f;
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
    RiffBuilder b;
    const size_t riff = b.BeginList("RIFF", "AVI ");
    b.Chunk("strh", StrhData("vids"));
    b.Chunk("strf", std::vector<uint8_t>(40, 0));
    RiffBuilder indx;
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
    RiffBuilder b;
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
    b.Zeros(16);  // two entries: dwOffset, dwSize
    b.End(indx);
    std::vector<uint8_t> strh = StrhData("auds");
    PutLe32(strh, 44, 4);  // dwSampleSize
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
    PutLe32(bytes, entries, static_cast<uint32_t>(first + 8));
    PutLe32(bytes, entries + 4, 200);
    PutLe32(bytes, entries + 8, static_cast<uint32_t>(second + 8));
    PutLe32(bytes, entries + 12, 400);

    auto reader = OpenBytes(bytes);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->StreamCount(), 1);
    qv::AviStream& audio = *reader->Stream(0);
    ASSERT_TRUE(audio.IsAudio());
    EXPECT_EQ(audio.Length(), 150);  // 600 bytes of 4-byte sample frames
    EXPECT_EQ(ReadUnits(audio, 50, 100, 4000).bytes,
              std::vector<uint8_t>(data.begin() + 200, data.end()));
    EXPECT_TRUE(ReadUnits(audio, 150, 1, 4000).bytes.empty());
    Exercise(*reader);
}

TEST_F(AviDamageTest, DescribeWithoutFormats) {
    RiffBuilder b;
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
        const auto frames = MakePatternFrames(o, kFrames, kVideoBytes);
        const Written written = WrittenOf(frames);
        const std::string path = dir_.Path("shrinking.avi");
        ASSERT_TRUE(WriteFixtureAvi(path, o, frames));
        auto reader = qv::OpenAviFile(path);
        ASSERT_NE(reader, nullptr);
        ASSERT_EQ(reader->FrameCount(), kFrames);

        // Cut inside frame 3's chunk.
        const auto bytes = ReadFileBytes(path);
        const size_t movi = FindFourCC(bytes, "movi");
        const size_t frame3 = FindFourCC(bytes, "00dc", movi, 3);
        std::filesystem::resize_file(path, frame3 + 8 + 100);

        qv::AviStream& video = *reader->Stream(0);
        EXPECT_EQ(ReadUnits(video, 2, 1, 1000).bytes, frames[2].video);
        ReadResult cut = ReadUnits(video, 3, 1, 1000);
        EXPECT_EQ(cut.bytes,
                  std::vector<uint8_t>(frames[3].video.begin(), frames[3].video.begin() + 100));
        EXPECT_FALSE(ReadUnits(video, 4, 1, 1000).ok);
        EXPECT_FALSE(ReadUnits(video, 5, 1, 1000).ok);
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
        base.bytes = BuildFixtureAvi(base.options, MakePatternFrames(base.options, 4, 33));
        base.moviData = FindFourCC(base.bytes, "movi") + 4;
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
                    PutLe32(bytes, at, pick(2) != 0 ? 0xFFFFFFFFu : 0u);
                    break;
                default:
                    PutLe32(bytes, at & ~size_t{3}, static_cast<uint32_t>(pick(bytes.size() * 2)));
                    break;
            }
        }
        if (pick(5) == 0) {
            bytes.resize(pick(bytes.size()));
        }
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        auto reader = qv::OpenAviFile(path);
        ASSERT_NE(reader, nullptr);
        Exercise(*reader);
        if (HasFailure()) {
            break;  // the trace names the iteration
        }
    }
}

}  // namespace
