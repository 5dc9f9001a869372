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
#include <functional>
#include <future>
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

// Small files (SmallOptions): 301-byte frames and 80 sample frames of audio per frame.
class AviDamageTest : public ::testing::Test {
  protected:
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
    std::vector<int> unreadable = {};  // frames that must not read; when given, the others must
    bool headers = false;         // the stream headers must still read: streams, rate, audio
};

// A "strl", "hdrl", "movi" ... list's size field, found by its type; or a chunk's.
size_t SizeFieldOf(const std::vector<uint8_t>& b, const std::string& id, int nth = 0) {
    const size_t at = FindFourCC(b, id, 0, nth);
    const bool list = id == "hdrl" || id == "strl" || id == "movi" || id == "odml" || id == "AVIX";
    return at == kNotFound ? kNotFound : list ? at - 4 : at + 4;
}

std::vector<Damage> Damages() {
    std::vector<Damage> d;
    const FixtureOptions avi1 = SmallOptions(Type2, Avi1);
    const FixtureOptions odml = SmallOptions(Type2, OpenDml);
    const auto idx1 = [](const std::vector<uint8_t>& b) { return FindFourCC(b, "idx1") + 4; };
    for (uint32_t more : {16u, 8u}) {
        d.push_back({"idx1 size beyond the chunk by " + std::to_string(more), avi1,
                     [=](auto& b) { PutLe32(b, idx1(b), GetLe32(b, idx1(b)) + more); }, kFrames,
                     kAudio, true});
    }
    for (uint32_t claimed : {0x7FFFFFF0u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        d.push_back({"idx1 size " + std::to_string(claimed), avi1,
                     [=](auto& b) { PutLe32(b, idx1(b), claimed); }, kFrames, kAudio, true});
    }
    // A size that ends inside the last entry: that entry is not used, and the chunk it
    // listed is found in the data after the listed ones.
    d.push_back({.name = "idx1 size ending inside its last entry", .options = avi1,
                 .apply = [=](auto& b) { PutLe32(b, idx1(b), GetLe32(b, idx1(b)) - 8); },
                 .frames = kFrames, .audio = kAudio, .truthful = true, .rebuilt = true});
    // Audio lengths of 4 GB for chunks 1 and 2: chunk 2 would take the stream past the
    // largest unit number, so it is left out; the chunks after it keep their place.
    d.push_back({"idx1 audio lengths beyond a unit number", avi1, [](auto& b) {
                     for (size_t chunk : {size_t{1}, size_t{2}}) {  // entries: video 0, audio 0, video 1, ...
                         PutLe32(b, FindFourCC(b, "idx1") + 8 + 16 * (2 * chunk + 1) + 12,
                                 0xFFFFFFFCu);
                     }
                 }, kFrames, (kFrames - 2) * 80 + 0x3FFFFFFF});
    // nEntriesInUse of both super indexes and of every standard index; and super index
    // entries that take in far more than their standard index chunk: what follows a
    // standard index is not part of it.
    d.push_back({"entry counts beyond the index chunks", SmallOptions(Type2, OpenDml, 2), [](auto& b) {
                     for (const char* id : {"indx", "ix00", "ix01"}) {
                         for (int n = 0; FindFourCC(b, id, 0, n) != kNotFound; ++n) {
                             PutLe32(b, FindFourCC(b, id, 0, n) + 12, 0xFFFFFFFFu);
                         }
                     }
                     for (int k = 0; k < 6; ++k) {  // 3 entries in each of 2 super indexes
                         PutLe32(b, FindFourCC(b, "indx", 0, k / 3) + 40 + 16 * (k % 3), 0x100000);
                     }
                 }, kFrames, kAudio, true});
    // Entries in file order: video 0, audio 0, video 1, audio 1, ... A length that is not
    // the chunk's own is a read error, not what lies there.
    for (bool relative : {true, false}) {
        FixtureOptions o = avi1;
        o.relativeIdx1 = relative;
        d.push_back({.name = std::string("idx1 offsets and lengths beyond the file, ") +
                             (relative ? "relative" : "absolute"),
                     .options = o,
                     .apply = [](auto& b) {
                         const size_t entries = FindFourCC(b, "idx1") + 8;
                         PutLe32(b, entries + 2 * 16 + 8, 0xFFFFFF00u);   // video 1 dwChunkOffset
                         PutLe32(b, entries + 4 * 16 + 12, 0x7FFFFFFFu);  // video 2 dwChunkLength
                         PutLe32(b, entries + 5 * 16 + 8, 0x80000000u);   // audio 2 dwChunkOffset
                     },
                     .frames = kFrames, .unreadable = {1, 2}});
    }
    d.push_back({.name = "standard index offsets beyond the file", .options = odml,
                 .apply = [](auto& b) {
                     PutLe32(b, FindFourCC(b, "ix00") + 32 + 8, 0xFFFFFFF0u);        // dwOffset 1
                     PutLe64(b, FindFourCC(b, "ix01") + 20, 0xFFFFFFFFFFFFFF00ull);  // qwBaseOffset
                 },
                 .frames = kFrames, .unreadable = {1}});
    // Super index entries that lead back into the headers: to the super index itself, to
    // its "strl" list, to the start of the file, past the end. No video index is usable:
    // the video chunks come from the data; the audio stream's own index is intact.
    for (int t = 0; t < 7; ++t) {
        d.push_back({"super index pointing back, case " + std::to_string(t),
                     SmallOptions(Type2, OpenDml, 3), [t](auto& b) {
                         const size_t x = FindFourCC(b, "indx");
                         const std::pair<uint64_t, uint32_t> to[] = {
                             {x, GetLe32(b, x + 4) + 8},  // itself
                             {FindFourCC(b, "strl") - 8, 0xFFFFFFFFu},
                             {FindFourCC(b, "hdrl") - 8, 4096},
                             {0, static_cast<uint32_t>(b.size())},
                             {x + 32, 64},  // its own entries
                             {b.size() - 4, 1000},
                             {~uint64_t{0}, 100}};
                         for (size_t k = 0; k < 2; ++k) {  // both segments of the video stream
                             PutLe64(b, x + 32 + 16 * k, to[t].first);   // qwOffset
                             PutLe32(b, x + 40 + 16 * k, to[t].second);  // dwSize
                         }
                     }, kFrames, kAudio, true});
    }
    // A standard index whose type says "index of indexes", pointing back at the super
    // index: no entries from it, the frames come from the data.
    d.push_back({"standard index that is a super index", SmallOptions(Type1, OpenDml), [](auto& b) {
                     const size_t ix00 = FindFourCC(b, "ix00"), indx = FindFourCC(b, "indx");
                     b[ix00 + 11] = 0;                                 // bIndexType: of indexes
                     PutLe32(b, ix00 + 12, 1);                         // nEntriesInUse
                     PutLe64(b, ix00 + 32, indx);                      // qwOffset
                     PutLe32(b, ix00 + 40, GetLe32(b, indx + 4) + 8);  // dwSize
                 }, kFrames, -1, true});
    // What a capture leaves when it stops without closing the file: sizes still 0 and
    // no index at all. The headers are there; there is nothing to read.
    d.push_back({.name = "capture ended inside the first segment", .options = odml,
                 .apply = [](auto& b) {
                     PutLe32(b, 4, 0);                           // RIFF ckSize
                     PutLe32(b, SizeFieldOf(b, "movi"), 0);      // movi ckSize
                     PutLe32(b, FindFourCC(b, "indx") + 12, 0);  // nEntriesInUse
                     b.resize(FindFourCC(b, "movi") + 1000);
                 },
                 .headers = true});
    // A "movi" of size 0 with the index after it, as an unfinished file leaves it.
    d.push_back({.name = "movi of size 0", .options = SmallOptions(Type2, OpenDmlCompat, 3),
                 .apply = [](auto& b) { PutLe32(b, SizeFieldOf(b, "movi"), 0); },
                 .headers = true});
    // The size fields of lists below 4: RIFF, hdrl, both strl, odml, every movi, the AVIX.
    for (const char* list : {"AVI ", "hdrl", "strl", "odml", "movi", "AVIX"}) {
        for (int n = 0; n < 3; ++n) {
            for (uint32_t size : {0u, 1u, 2u, 3u}) {
                d.push_back({std::string(list) + " " + std::to_string(n) + " size " +
                                 std::to_string(size),
                             SmallOptions(Type2, OpenDmlCompat, 3), [=](auto& b) {
                                 const size_t at = std::string(list) == "AVI "
                                                       ? (n == 0 ? 4 : kNotFound)
                                                       : SizeFieldOf(b, list, n);
                                 if (at != kNotFound) {
                                     PutLe32(b, at, size);
                                 }
                             }});
            }
        }
    }
    // Chunk and list sizes beyond their list.
    for (const char* id : {"avih", "strh", "strf", "indx", "dmlh", "hdrl", "strl", "movi"}) {
        for (uint32_t size : {0u, 5u, 0x10000u, 0x7FFFFFFFu, 0xFFFFFFF7u, 0xFFFFFFFFu}) {
            d.push_back({std::string(id) + " size " + std::to_string(size), odml,
                         [=](auto& b) { PutLe32(b, SizeFieldOf(b, id), size); }});
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
        auto reader = WriteAndOpen(dir_.Path("damaged.avi"), bytes);
        ASSERT_NE(reader, nullptr);
        if (d.frames >= 0) {
            ASSERT_EQ(reader->FrameCount(), d.frames);
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
            EXPECT_EQ(r.bytes, bad ? std::vector<uint8_t>{} : frames[static_cast<size_t>(f)].video)
                << "frame " << f;
        }
        Exercise(*reader, d.truthful ? &written : nullptr);
    }
}

// ---------------------------------------------------------------------------
// Broken chunk trees

TEST_F(AviDamageTest, ListsNestedTooDeep) {
    // A fixture file of one frame whose "hdrl" ends in a list nested deep, with a second
    // "strl" at the bottom.
    // Lists are walked eight deep, the file's RIFF list the first: under "hdrl" five
    // lists deep the "strl" is the eighth and a stream of its own, six deep it is
    // passed over, as everything deeper.
    const FixtureOptions o = OptionsOf(Type2, Avi1);
    const auto frames = MakePatternFrames(o, 1, 300);
    for (int depth : {5, 6, 9, 30, 3000}) {
        SCOPED_TRACE(depth);
        RiffBuilder deep;
        std::vector<size_t> marks;
        for (int i = 0; i < depth; ++i) {
            marks.push_back(deep.BeginList("LIST", "deep"));
        }
        marks.push_back(deep.BeginList("LIST", "strl"));
        deep.Chunk("strh", std::vector<uint8_t>(56, 0));
        for (auto m = marks.rbegin(); m != marks.rend(); ++m) {
            deep.End(*m);
        }
        auto bytes = BuildFixtureAvi(o, frames);
        const auto added = static_cast<uint32_t>(deep.Position());
        bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(FindFourCC(bytes, "movi") - 8),
                     deep.Bytes().begin(), deep.Bytes().end());  // "idx1" counts from "movi"
        PutLe32(bytes, 4, GetLe32(bytes, 4) + added);  // RIFF and hdrl ckSize
        PutLe32(bytes, FindFourCC(bytes, "hdrl") - 4, GetLe32(bytes, FindFourCC(bytes, "hdrl") - 4) + added);
        auto reader = WriteAndOpen(dir_.Path("damaged.avi"), bytes);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->StreamCount(), depth <= 5 ? 3 : 2);
        ASSERT_GE(reader->StreamCount(), 1);
        EXPECT_TRUE(reader->Stream(0)->IsVideo());
        EXPECT_EQ(reader->FramesPerSecond(), 25.0);
        ASSERT_EQ(reader->FrameCount(), 1);
        EXPECT_EQ(ReadUnits(*reader->Stream(0), 0, 1, 1000).bytes, frames[0].video);
    }
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
    for (const std::string& path : {dir_.Dir().string(), dir_.Path("missing.avi"), std::string()}) {
        EXPECT_EQ(qv::OpenAviFile(path), nullptr) << path;
    }
}

}  // namespace
