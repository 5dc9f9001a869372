// Captures that stopped early (a power cut, a full disk, a copy cut short): the index
// covers less than the data, or none of it, or lists chunks the file no longer holds.
// Every whole chunk in the file is read, in order, and nothing beyond it.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "avi/RiffAviReader.h"
#include "support/AviFixture.h"
#include "support/Exercise.h"
#include "support/ReadUnits.h"

namespace {

using namespace qvtest;
using enum DvType;
using enum Generation;

constexpr int kFrames = 9;

struct Shape {
    const char* name;
    DvType type;
    Generation generation;
    int framesPerSegment;
    bool indexFirst;  // "idx1" written before the data it lists, as some capture programs
                      // reserve it; its absolute offsets stay right when it moves
    int headerStep;   // bytes between cuts through the headers
};

const Shape kShapes[] = {
    {"type-2 AVI 1.0", Type2, Avi1, 0, false, 4},
    {"type-1 AVI 1.0", Type1, Avi1, 0, false, 4},
    {"type-2 OpenDML, segments", Type2, OpenDml, 3, false, 4},
    {"type-1 OpenDML with idx1", Type1, OpenDmlCompat, 4, false, 37},
    {"type-2 OpenDML with idx1", Type2, OpenDmlCompat, 2, false, 4},
    {"type-2 AVI 1.0, index first", Type2, Avi1, 0, true, 37},
};

// Where each chunk lies, from the complete file's own index.
struct Layout {
    std::vector<qv::IndexEntry> video;
    std::vector<qv::IndexEntry> audio;
};

// Writes bytes to path first.
Layout LayoutOf(const std::string& path, const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    qv::RiffAviReader reader;
    EXPECT_TRUE(reader.Open(path));
    EXPECT_FALSE(reader.IndexRebuilt());
    return {reader.RiffStream(0)->Entries(),
            reader.StreamCount() > 1 ? reader.RiffStream(1)->Entries() : std::vector<qv::IndexEntry>{}};
}

// The chunks that lie wholly in the first cut bytes.
size_t WholeChunks(const std::vector<qv::IndexEntry>& entries, uint64_t cut) {
    return static_cast<size_t>(
        std::find_if(entries.begin(), entries.end(),
                     [&](const qv::IndexEntry& e) { return e.position + e.size > cut; }) -
        entries.begin());
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressLimitWorks = false;  // the sanitizer reserves terabytes up front
#else
constexpr bool kAddressLimitWorks = true;
#endif

// Opens path in a child process whose address space is limited to limitBytes more
// than it has; true when the open succeeded there with the given frame count.
bool OpensWithinMemory(const std::string& path, uint64_t limitBytes, int frames) {
    const pid_t child = ::fork();
    if (child == 0) {
        uint64_t pages = 0;  // what the process maps already
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            pages = std::fscanf(f, "%lu", &pages) == 1 ? pages : 0;
            std::fclose(f);
        }
        rlimit limit{};
        ::getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)) + limitBytes;
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            auto reader = qv::OpenAviFile(path);
            ::_exit(reader && reader->FrameCount() == frames ? 0 : 1);
        } catch (...) {
            ::_exit(2);
        }
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Checks that a reader of the first cut bytes of a file with the given layout holds
// exactly the whole chunks there.
void ExpectWholeChunksOf(qv::AviReader* reader, const std::vector<FixtureFrame>& frames,
                         const Layout& layout, uint64_t cut) {
    ASSERT_NE(reader, nullptr);
    const size_t videoChunks = WholeChunks(layout.video, cut);
    const auto upTo = [&](size_t n) {
        return std::vector<FixtureFrame>(frames.begin(), frames.begin() + static_cast<ptrdiff_t>(n));
    };
    ExpectFramesAndAudio(*reader, upTo(videoChunks), upTo(WholeChunks(layout.audio, cut)));
    if (videoChunks < layout.video.size()) {
        EXPECT_NE(reader->Describe().find(", index rebuilt from the data"), std::string::npos);
    }
}

class UnfinishedCaptureTest : public ::testing::Test {
  protected:
    TempDir dir_;
};

// Cut at every few bytes through the headers, every few more to the end, and at both
// sides of every chunk's end: inside chunk headers, inside chunk data, between segments,
// inside the indexes. Whatever is read is what was written there; from the first frame
// on, every whole chunk is read. An index before the data survives the cut: its entries
// for chunks that are gone are dropped, and an empty last frame stays while its header
// is in the file.
TEST_F(UnfinishedCaptureTest, CutAnywhereKeepsEveryWholeChunk) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.name);
        FixtureOptions o = SmallOptions(shape.type, shape.generation, shape.framesPerSegment);
        auto frames = MakePatternFrames(o, kFrames, 301);
        auto bytes = BuildFixtureAvi(o, frames);
        if (shape.indexFirst) {
            // Room for the index before "movi", then the index with absolute offsets there.
            frames.back().video.clear();
            o.relativeIdx1 = false;
            o.junkBytes = static_cast<int>(GetLe32(bytes, FindFourCC(bytes, "idx1") + 4));
            bytes = BuildFixtureAvi(o, frames);
            const size_t idx1 = FindFourCC(bytes, "idx1");
            std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(idx1), o.junkBytes + 8,
                        bytes.begin() + static_cast<ptrdiff_t>(FindFourCC(bytes, "JUNK")));
            // The index at the end was never written there: its place is JUNK.
            std::copy_n("JUNK", 4, bytes.begin() + static_cast<ptrdiff_t>(FindFourCC(bytes, "idx1", 0, 1)));
        }
        const Written written = WrittenOf(frames);
        const Layout layout = LayoutOf(dir_.Path("whole.avi"), bytes);

        const size_t firstFrame = layout.video.front().position - 8;
        std::vector<size_t> cuts;
        for (size_t cut = 0; cut <= bytes.size();
             cut += cut < firstFrame ? static_cast<size_t>(shape.headerStep) : 61) {
            cuts.push_back(cut);
        }
        for (const auto* entries : {&layout.video, &layout.audio}) {
            for (const qv::IndexEntry& e : *entries) {
                cuts.push_back(e.position + e.size);
                cuts.push_back(e.position + e.size - 1);
            }
        }
        for (size_t cut : cuts) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            if (cut < 12) {
                // Cut before the "AVI " form type: no file of any kind that is read.
                ASSERT_TRUE(qvtest::WriteFileBytes(
                    dir_.Path("cut.avi"),
                    {bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut)}));
                EXPECT_EQ(qv::OpenAviFile(dir_.Path("cut.avi")), nullptr);
                continue;
            }
            auto reader = WriteAndOpen(dir_.Path("cut.avi"),
                                       {bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut)});
            ASSERT_NE(reader, nullptr);
            if (cut >= firstFrame) {
                ExpectWholeChunksOf(reader.get(), frames, layout, cut);
            }
            Exercise(*reader, &written);
            if (HasFailure()) {
                return;  // one cut's report is enough
            }
        }
    }
}

// A complete file whose super index lists fewer segments than the file holds, or whose
// last segment has no standard index; or whose super index entries all repeat one
// standard index, or point back at the super index (192 KB of them: read once for each
// entry, it would be 2.3 GB). Each standard index is read once, nothing is multiplied,
// and the frames not reached through a usable index come from the data.
TEST_F(UnfinishedCaptureTest, SuperIndexesMissingSegmentsOrRepeatingEntries) {
    constexpr int kSegments = 12000;
    const char* const kCases[] = {"type 1, 2 of 3 segments listed", "type 2, 2 of 3 segments listed",
                                  "type 1, no last standard index", "type 2, no last standard index",
                                  "pointing at the super index", "all at one standard index"};
    const std::string path = dir_.Path("tape.avi");
    for (int k = 0; k < 6; ++k) {
        SCOPED_TRACE(kCases[k]);
        const bool repeats = k >= 4;
        const auto o = SmallOptions(k % 2 == 1 && !repeats ? Type2 : Type1, OpenDml, repeats ? 1 : 3);
        const auto frames = MakePatternFrames(o, repeats ? kSegments : kFrames, repeats ? 40 : 301);
        auto bytes = BuildFixtureAvi(o, frames);
        const Layout layout = LayoutOf(path, bytes);
        for (int s = 0; !repeats && s < (o.type == Type1 ? 1 : 2); ++s) {
            if (k < 2) {
                PutLe32(bytes, FindFourCC(bytes, "indx", 0, s) + 12, 2);  // nEntriesInUse
            } else {  // its place is JUNK
                const size_t last = FindFourCC(bytes, s == 0 ? "ix00" : "ix01", 0, 2);
                std::copy_n("JUNK", 4, bytes.begin() + static_cast<ptrdiff_t>(last));
            }
        }
        const size_t indx = FindFourCC(bytes, "indx");
        const size_t to = k == 4 ? indx : FindFourCC(bytes, "ix00");
        for (size_t e = 0; repeats && e < kSegments; ++e) {
            PutLe64(bytes, indx + 32 + 16 * e, to);                          // qwOffset
            PutLe32(bytes, indx + 40 + 16 * e, GetLe32(bytes, to + 4) + 8);  // dwSize
        }
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        if (repeats && kAddressLimitWorks) {
            EXPECT_TRUE(OpensWithinMemory(path, uint64_t{256} << 20, kSegments));
        }
        // Every frame, as the complete index would have listed it.
        ExpectWholeChunksOf(qv::OpenAviFile(path).get(), frames, layout, bytes.size());
    }
}

// Header chunks whose sizes claim gigabytes in a file that has them (a sparse one here):
// what is kept of them stays small.
TEST_F(UnfinishedCaptureTest, DamagedHeaderSizesInALargeFile) {
    if (!kAddressLimitWorks) {
        GTEST_SKIP() << "address-space limits do not work under the address sanitizer";
    }
    FixtureOptions o;
    o.withStrn = true;
    const auto bytes = BuildFixtureAvi(o, MakePatternFrames(o, 3, 500));
    const std::string path = dir_.Path("tape.avi");
    for (const char* id : {"strn", "strf", "strh", "avih"}) {
        SCOPED_TRACE(id);
        auto damaged = bytes;
        // The chunk and every list around it claim 3 GB, which the file then holds.
        PutLe32(damaged, FindFourCC(damaged, id) + 4, 0xC0000000u);
        for (const char* list : {"strl", "hdrl", "AVI "}) {
            PutLe32(damaged, FindFourCC(damaged, list) - 4, 0xC0000010u);
        }
        ASSERT_TRUE(WriteFileBytes(path, damaged));
        std::filesystem::resize_file(path, uint64_t{0xC0001000u});
        EXPECT_TRUE(OpensWithinMemory(path, uint64_t{512} << 20, 0));
    }
}

}  // namespace
