// The AVI writer, checked three ways on copies of fixture files and of files ffmpeg made:
// our reader reads every frame and sample back; a RIFF walk written here (it shares
// nothing with the writer) checks the layout byte by byte - alignment, JUNK, "idx1",
// super and standard indexes, the counts in the headers; and ffprobe / ffmpeg demux and
// decode the result. A fault hook under the file class makes writes, flushes and renames
// fail, to show that a failed copy never leaves a file behind, never names a
// half-written one, and never touches the file it replaces or the source.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "avi/AviReader.h"
#include "avi/AviWriter.h"
#include "avi/RiffAviReader.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "support/AviFixture.h"
#include "support/Exercise.h"
#include "support/Ffmpeg.h"
#include "support/ReadUnits.h"

namespace {

using namespace qvtest;
using enum qvtest::DvType;
using enum qvtest::Generation;
namespace fs = std::filesystem;

constexpr uint32_t kSuperIndexBytes = 16416;     // "indx" chunk with its header
constexpr uint32_t kStandardIndexBytes = 8224;   // "ix##" chunk with its header
constexpr uint32_t kIndexSlots = 1024;           // entries of either index
constexpr const char kFiller[] = "quorvandel ";  // what JUNK chunks hold, repeated
constexpr uint32_t kSmallSegments = 600000;      // a limit that ends a segment every few frames

uint32_t Le32At(const std::vector<uint8_t>& b, uint64_t at) {
    return at + 4 <= b.size() ? GetLe32(b, static_cast<size_t>(at)) : 0;
}
uint64_t Le64At(const std::vector<uint8_t>& b, uint64_t at) {
    return uint64_t{Le32At(b, at)} | uint64_t{Le32At(b, at + 4)} << 32;
}
std::string CodeAt(const std::vector<uint8_t>& b, uint64_t at) {
    return at + 4 <= b.size() ? std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                                            b.begin() + static_cast<std::ptrdiff_t>(at + 4))
                              : "????";
}

// ---------------------------------------------------------------------------
// A RIFF walk of our own and the layout every output must have.

struct Chunk {
    std::string id, type;  // type: of "RIFF" and "LIST"
    uint64_t offset = 0;   // of the chunk id
    uint32_t size = 0;
    int segment = 0;     // the top-level RIFF it lies in
    std::string parent;  // list type of its parent; empty at the top
    int stream = -1;     // data chunks in "movi": their stream
};

struct SuperEntry {
    uint32_t entries = 0;   // nEntriesInUse of the standard index it points at
    uint32_t duration = 0;  // its dwDuration
    bool operator==(const SuperEntry&) const = default;
};

struct Layout {
    std::vector<Chunk> all;                       // every chunk in file order
    int segments = 0;
    std::vector<Chunk> chunks;                    // data chunks in file order
    std::vector<std::vector<SuperEntry>> supers;  // per stream, in super-index order
};

// Every chunk, each size checked against its parent: a layout fault shows as a message.
void Walk(const std::vector<uint8_t>& b, uint64_t pos, uint64_t end, const std::string& parent,
          int segment, std::vector<Chunk>& out) {
    for (int top = 0; pos + 8 <= end; ++top) {
        Chunk c{CodeAt(b, pos), "", pos, Le32At(b, pos + 4), parent.empty() ? top : segment,
                parent};
        ASSERT_LE(pos + 8 + c.size, end) << c.id << " at " << pos << " overruns its parent";
        const bool list = c.id == "RIFF" || c.id == "LIST";
        c.type = list ? CodeAt(b, pos + 8) : "";
        out.push_back(c);
        if (list) {
            Walk(b, pos + 12, pos + 8 + c.size, c.type, c.segment, out);
        }
        pos += 8 + c.size + c.size % 2;  // an odd chunk is followed by a pad byte
    }
    EXPECT_EQ(pos, end) << "stray bytes, or a pad byte outside its parent, in " << parent;
}

// A header chunk as written: the source's, but for the 32-bit count at field (from the
// chunk's data), which is count.
void ExpectSourceHeaderBut(const std::vector<uint8_t>& b, const Chunk& c, qv::ByteSpan source,
                           uint64_t field, int64_t count, const std::string& what) {
    std::vector<uint8_t> got(b.begin() + static_cast<std::ptrdiff_t>(c.offset),
                             b.begin() + static_cast<std::ptrdiff_t>(c.offset + 8 + c.size));
    ASSERT_EQ(got.size(), source.size()) << c.id << " differs in size from the source's";
    EXPECT_EQ(Le32At(got, 8 + field), count) << what;
    PutLe32(got, 8 + field, GetLe32(std::vector<uint8_t>(source.begin(), source.end()), 8 + field));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), source.begin()))
        << c.id << " differs from the source's beyond " << what;
}

// Checks every rule of the layout of b, a copy of source with the units given per
// stream, and leaves what it found in L.
void CheckLayout(const std::vector<uint8_t>& b, qv::AviReader& source, bool openDml, bool idx1,
                 const std::vector<int64_t>& units, uint32_t segmentLimit, Layout& L) {
    auto& riff = dynamic_cast<qv::RiffAviReader&>(source);
    const size_t streams = static_cast<size_t>(source.StreamCount());
    L.supers.resize(streams);
    Walk(b, 0, b.size(), "", 0, L.all);
    std::map<std::string, int> streamOf;
    std::vector<std::string> ids;
    std::vector<uint32_t> unitBytes;  // 0: a chunk is one unit
    for (int s = 0; s < static_cast<int>(streams); ++s) {
        ids.push_back(qv::FourCCText(riff.RiffStream(s)->ChunkId()));
        streamOf[ids.back()] = s;
        unitBytes.push_back(source.Stream(s)->IsAudio() ? source.Stream(s)->UnitSize() : 0);
    }
    std::map<uint64_t, size_t> chunkAt;     // data position -> index into L.chunks
    std::map<uint64_t, int> standardIndex;  // "ix##" position -> its stream
    std::vector<const Chunk*> tops, indx, strh, strf, movi, idx1s;
    const Chunk *avih = nullptr, *dmlh = nullptr;
    for (Chunk& c : L.all) {
        if (c.parent.empty()) {
            EXPECT_EQ(c.id + c.type, L.segments++ == 0 ? "RIFFAVI " : "RIFFAVIX");
            tops.push_back(&c);
        }
        if (c.id == "JUNK") {
            // Up to the next 2048 boundary; one shorter than its header grows by 2048.
            EXPECT_TRUE(c.size + 8 < 2048 + 8 && c.size + 8 != 2048) << "JUNK at " << c.offset;
            for (uint32_t i = 0; i < c.size; ++i) {
                ASSERT_EQ(b[c.offset + 8 + i], static_cast<uint8_t>(kFiller[i % (sizeof kFiller - 1)])) << c.offset;
            }
        }
        if (c.parent == "movi" && streamOf.count(c.id) != 0) {
            c.stream = streamOf[c.id];
            EXPECT_TRUE(c.segment == 0 || c.stream == 0 ||
                        (!L.chunks.empty() && L.chunks.back().segment == c.segment))
                << "a segment must begin with a video chunk";
            chunkAt[c.offset + 8] = L.chunks.size();
            L.chunks.push_back(c);
        } else if (c.parent == "movi" && c.id.starts_with("ix") && std::isdigit(c.id[2] & 0xFF) &&
                   std::isdigit(c.id[3] & 0xFF)) {
            standardIndex[c.offset] = std::stoi(c.id.substr(2));
        } else if (c.parent == "movi") {
            ADD_FAILURE() << "unexpected \"" << c.id << "\" in movi at " << c.offset;
        }
        using Named = std::pair<std::string, std::vector<const Chunk*>*>;
        for (const auto& [name, list] : {Named{"indx", &indx}, Named{"strh", &strh},
                                         Named{"strf", &strf}, Named{"movi", &movi},
                                         Named{"idx1", &idx1s}}) {
            if (c.id == name || c.type == name) {
                list->push_back(&c);
            }
        }
        avih = c.id == "avih" ? &c : avih;
        dmlh = c.id == "dmlh" ? &c : dmlh;
        if (c.id == "indx" || c.type == "movi") {
            EXPECT_EQ((c.offset + (c.id == "indx" ? 0 : 12)) % 2048, 0u) << c.id << " unaligned";
        }
    }
    ASSERT_EQ(movi.size(), size_t(L.segments)) << "one movi list a segment";
    EXPECT_EQ(std::tuple(idx1s.size(), indx.size(), dmlh != nullptr),
              std::tuple(idx1 ? 1u : 0u, openDml ? streams : 0u, openDml));
    ASSERT_NE(avih, nullptr);
    ASSERT_EQ(std::pair(strh.size(), strf.size()), std::pair(streams, streams));

    // The headers: the source's with the counts of this file.
    std::vector<int64_t> frames(static_cast<size_t>(L.segments)), got(streams);
    for (const Chunk& c : L.chunks) {
        frames[static_cast<size_t>(c.segment)] += c.stream == 0;
        const uint32_t unit = unitBytes[static_cast<size_t>(c.stream)];
        got[static_cast<size_t>(c.stream)] += unit ? c.size / unit : 1;
    }
    EXPECT_EQ(got, units) << "units in the data chunks";
    ExpectSourceHeaderBut(b, *avih, riff.MainHeader(), 16, frames[0], "avih dwTotalFrames");
    if (dmlh != nullptr) {
        EXPECT_EQ(Le32At(b, dmlh->offset + 8), static_cast<int64_t>(got[0])) << "dmlh dwTotalFrames";
    }
    for (size_t s = 0; s < streams; ++s) {
        qv::AviStream& src = *source.Stream(static_cast<int>(s));
        ExpectSourceHeaderBut(b, *strh[s], src.Header(), 32, units[s], "strh dwLength");
        EXPECT_TRUE(std::equal(src.Format().begin(), src.Format().end(),
                               b.begin() + static_cast<std::ptrdiff_t>(strf[s]->offset + 8)) &&
                    strf[s]->size == src.Format().size())
            << "strf of stream " << s;
    }

    // Before each video chunk the writer compares the bytes of its RIFF with the limit
    // less 16 a collected "idx1" entry and the room for the standard indexes (16448).
    for (size_t k = 0; k < tops.size(); ++k) {
        const auto riffAt = static_cast<int64_t>(tops[k]->offset);
        int64_t entries = 0, lastVideo = -1, before = 0, end = 0;
        for (const Chunk& c : L.chunks) {
            if (c.segment == static_cast<int>(k)) {
                if (c.stream == 0) {
                    lastVideo = static_cast<int64_t>(c.offset) - riffAt;
                    before = entries;
                }
                entries += idx1 && k == 0;
                end = static_cast<int64_t>(c.offset + 8 + c.size + c.size % 2) - riffAt;
            }
        }
        EXPECT_LE(lastVideo, segmentLimit - 16 * before - 16448)
            << "segment " << k << " took a video chunk beyond its limit";
        if (k + 1 < tops.size()) {
            EXPECT_GT(end, segmentLimit - 16 * entries - 16448) << "segment " << k << " ended early";
        }
    }

    // Super indexes, in stream order, and the standard indexes they point at.
    for (size_t s = 0; s < indx.size() && s < streams; ++s) {
        const uint64_t x = indx[s]->offset;
        EXPECT_EQ(indx[s]->size + 8, kSuperIndexBytes);
        EXPECT_EQ(Le32At(b, x + 8), 4u) << "wLongsPerEntry 4, of indexes";
        EXPECT_EQ(CodeAt(b, x + 16), ids[s]) << "dwChunkId";
        const uint32_t used = Le32At(b, x + 12);
        ASSERT_LE(used, kIndexSlots);
        std::vector<size_t> indexed, ofStream;
        for (size_t i = 0; i < L.chunks.size(); ++i) {
            if (L.chunks[i].stream == static_cast<int>(s)) {
                ofStream.push_back(i);
            }
        }
        for (uint32_t k = 0; k < kIndexSlots; ++k) {
            const uint64_t at = x + 32 + 16 * uint64_t{k}, ix = Le64At(b, at);
            const uint32_t duration = Le32At(b, at + 12);
            if (k >= used) {
                EXPECT_TRUE(ix == 0 && Le32At(b, at + 8) == 0 && duration == 0) << "slot " << k;
                continue;
            }
            EXPECT_EQ(Le32At(b, at + 8), kStandardIndexBytes);
            ASSERT_TRUE(standardIndex.count(ix) && standardIndex[ix] == static_cast<int>(s))
                << "super index entry " << k << " points at no standard index of stream " << s;
            standardIndex.erase(ix);
            EXPECT_EQ(Le32At(b, ix + 4) + 8u, kStandardIndexBytes);
            EXPECT_EQ(Le32At(b, ix + 8), 0x01000002u) << "wLongsPerEntry 2, of chunks";
            EXPECT_EQ(CodeAt(b, ix + 16), CodeAt(b, x + 16)) << "dwChunkId";
            const uint32_t entries = Le32At(b, ix + 12);
            ASSERT_TRUE(entries >= 1 && entries <= kIndexSlots);
            uint64_t sum = 0;
            for (uint32_t j = 0; j < entries; ++j) {
                const uint32_t size = Le32At(b, ix + 36 + 8 * uint64_t{j});
                EXPECT_EQ((size >> 31) != 0, s != 0) << "key frame bit of entry " << j;
                auto c = chunkAt.find(Le64At(b, ix + 20) + Le32At(b, ix + 32 + 8 * uint64_t{j}));
                ASSERT_TRUE(c != chunkAt.end() && L.chunks[c->second].stream == static_cast<int>(s))
                    << "entry " << j << " of standard index " << k << " points at no chunk";
                EXPECT_EQ(size & 0x7FFFFFFFu, L.chunks[c->second].size);
                indexed.push_back(c->second);
                sum += unitBytes[s] ? L.chunks[c->second].size / unitBytes[s] : 1;
            }
            EXPECT_EQ(duration, sum) << "dwDuration of super index entry " << k;
            L.supers[s].push_back({entries, duration});
        }
        EXPECT_EQ(indexed, ofStream) << "the standard indexes list every chunk once, in order";
    }
    EXPECT_TRUE(standardIndex.empty()) << "a standard index no super index lists";

    // "idx1": the first RIFF's chunks, offsets from the movi list type.
    if (!idx1s.empty()) {
        std::vector<Chunk> first;
        std::copy_if(L.chunks.begin(), L.chunks.end(), std::back_inserter(first),
                     [](const Chunk& c) { return c.segment == 0; });
        ASSERT_EQ(idx1s[0]->size, 16 * first.size()) << "idx1 lists the first RIFF's chunks";
        EXPECT_GT(idx1s[0]->offset, movi[0]->offset);
        for (size_t i = 0; i < first.size(); ++i) {
            const uint64_t at = idx1s[0]->offset + 8 + 16 * i;
            EXPECT_EQ(CodeAt(b, at), first[i].id) << "idx1 entry " << i;
            EXPECT_EQ(Le32At(b, at + 4), first[i].stream == 0 ? 0x10u : 0u) << "dwFlags " << i;
            EXPECT_EQ(Le32At(b, at + 8), first[i].offset - movi[0]->offset - 8) << "offset " << i;
            EXPECT_EQ(Le32At(b, at + 12), first[i].size) << "dwChunkLength " << i;
        }
    }
}

// ---------------------------------------------------------------------------
// Copying frames the way the clip copier does

// Audio sample frames per video frame of a type-2 source; 0 without audio.
double SamplesPerFrame(qv::AviReader& source) {
    qv::AviStream* audio = source.StreamCount() > 1 ? source.Stream(1) : nullptr;
    return audio != nullptr && audio->IsAudio()
               ? audio->FramesPerSecond() / source.FramesPerSecond()
               : 0.0;
}

int FirstSampleOf(double samplesPerFrame, int frame) {
    return static_cast<int>(std::trunc(frame * samplesPerFrame));
}

std::vector<uint8_t> ReadFrame(qv::AviStream& stream, int frame) {
    const int64_t size = stream.ChunkSize(frame);
    EXPECT_GE(size, 0) << "frame " << frame;
    return ReadUnits(stream, frame, 1, static_cast<int>(std::max<int64_t>(size, 0))).bytes;
}

std::vector<uint8_t> ReadAudio(qv::AviStream& stream, int first, int count) {
    const auto r = ReadUnits(stream, first, count, count * static_cast<int>(stream.UnitSize()));
    EXPECT_EQ(r.units, count) << "audio units " << first << "+" << count;
    return r.bytes;
}

// The audio units [first, end) that go with frames [first, first + count) of source.
std::pair<int, int> AudioOf(qv::AviReader& source, int first, int count) {
    const double s = SamplesPerFrame(source);
    if (s == 0.0) {
        return {0, 0};
    }
    return {FirstSampleOf(s, first),
            std::min(FirstSampleOf(s, first + count), source.Stream(1)->Length())};
}

std::vector<uint8_t> SourceAudio(qv::AviReader& source, int first, int count) {
    const auto [a, z] = AudioOf(source, first, count);
    return z > a ? ReadAudio(*source.Stream(1), a, z - a) : std::vector<uint8_t>{};
}

// Units per stream of a copy of frames [first, first + count).
std::vector<int64_t> CopyUnits(qv::AviReader& source, int first, int count) {
    const auto [a, z] = AudioOf(source, first, count);
    return SamplesPerFrame(source) != 0.0 ? std::vector<int64_t>{count, z - a}
                                          : std::vector<int64_t>{count};
}

// Copies frames [first, first + count) of source with their audio, frame by frame:
// video chunk f, then audio units trunc(f*s) .. trunc((f+1)*s), handed over slice units
// at a time (0: all at once). Stops at the first chunk the writer refuses and returns
// false; *accepted counts the frames taken.
bool CopyFrames(qv::AviReader& source, qv::AviWriter& writer, int first, int count,
                int* accepted = nullptr, int slice = 0) {
    int taken = 0;
    for (int f = first; f < first + count; ++f, ++taken) {
        const std::vector<uint8_t> video = ReadFrame(*source.Stream(0), f);
        auto [a, z] = AudioOf(source, f, 1);
        bool ok = writer.WriteChunk(0, video.data(), static_cast<int64_t>(video.size()), 1);
        for (int n = 0; ok && a < z; a += n) {
            n = slice > 0 ? std::min(slice, z - a) : z - a;
            const std::vector<uint8_t> audio = ReadAudio(*source.Stream(1), a, n);
            ok = writer.WriteChunk(1, audio.data(), static_cast<int64_t>(audio.size()), n);
        }
        if (!ok) {
            break;
        }
    }
    if (accepted != nullptr) {
        *accepted = taken;
    }
    return taken == count;
}

// Checks with our reader that output holds frames [first, first + count) of source
// and their audio, with the source's streams and rate and the kind given.
void CheckReadsBack(qv::AviReader& source, const std::string& output, int first, int count,
                    const std::string& kind) {
    auto out = qv::OpenAviFile(output);
    ASSERT_NE(out, nullptr) << output;
    EXPECT_EQ(out->Kind(), kind);
    ASSERT_EQ(out->StreamCount(), source.StreamCount());
    for (int s = 0; s < source.StreamCount(); ++s) {
        EXPECT_EQ(out->Stream(s)->Type(), source.Stream(s)->Type()) << "stream " << s;
    }
    EXPECT_DOUBLE_EQ(out->FramesPerSecond(), source.FramesPerSecond());
    ASSERT_EQ(out->FrameCount(), count);
    for (int f = 0; f < count; ++f) {
        ASSERT_TRUE(ReadFrame(*out->Stream(0), f) == ReadFrame(*source.Stream(0), first + f))
            << "frame " << f;
    }
    if (SamplesPerFrame(source) != 0.0) {
        const std::vector<uint8_t> want = SourceAudio(source, first, count);
        qv::AviStream& audio = *out->Stream(1);
        EXPECT_DOUBLE_EQ(audio.FramesPerSecond(), source.Stream(1)->FramesPerSecond());
        ASSERT_EQ(static_cast<size_t>(audio.Length()) * audio.UnitSize(), want.size());
        EXPECT_TRUE(ReadAudio(audio, 0, audio.Length()) == want) << "audio differs";
    }
}

// Checks a copy of frames [first, first + count) of source, of the kind given ("idx1"
// in all but plain OpenDML): read back by our reader, and its layout, which it returns.
Layout CheckCopy(const std::string& path, qv::AviReader& source, int first, int count,
                 const std::string& kind, uint32_t segmentLimit = qv::kSegmentLimit) {
    CheckReadsBack(source, path, first, count, kind);
    Layout L;
    CheckLayout(ReadFileBytes(path), source, kind != "avi1", kind != "odml-avi2",
                CopyUnits(source, first, count), segmentLimit, L);
    return L;
}

class AviWriterTest : public ::testing::Test {
  protected:
    void TearDown() override { qv::SetWriteFaults(nullptr); }

    // A source of count frames of videoBytes pattern bytes (or of the frames given).
    std::unique_ptr<qv::AviReader> Source(const FixtureOptions& o, int count, int videoBytes,
                                          const std::string& name = "source.avi") {
        return Source(o, MakePatternFrames(o, count, videoBytes), name);
    }
    std::unique_ptr<qv::AviReader> Source(const FixtureOptions& o,
                                          const std::vector<FixtureFrame>& frames,
                                          const std::string& name = "source.avi") {
        return WriteAndOpen(dir_.Path(name), BuildFixtureAvi(o, frames));
    }
    // Copies frames [first, first + count) of source into dest and finishes it.
    bool Copy(qv::AviReader& source, const std::string& dest, int first, int count,
              qv::WriterOptions options = {}, int slice = 0) {
        auto writer = source.CreateWriter(dest, options);
        EXPECT_NE(writer, nullptr) << "no writer for " << dest;
        const bool copied =
            writer != nullptr && CopyFrames(source, *writer, first, count, nullptr, slice);
        EXPECT_TRUE(copied);
        const bool finished = copied && writer->Finish(0);
        EXPECT_TRUE(finished);
        return finished;
    }

    TempDir dir_;
    const std::string out_ = dir_.Path("scene.avi");
};

// ---------------------------------------------------------------------------
// Every generation the writer produces, checked by our reader, the layout walk
// and ffmpeg.

struct GenerationCase {
    const char* name;
    DvType type;
    std::optional<Generation> generation;  // of the fixture source; none: ffmpeg's own AVI
    bool pal;
    bool segments;  // a lowered segment limit: the copy spans several RIFFs
    bool forceOpenDml;
    const char* kind;  // of the output
};

class AviWriterGenerations : public AviWriterTest,
                             public ::testing::WithParamInterface<GenerationCase> {};

TEST_P(AviWriterGenerations, CopyReadsBackAndFfmpegAgrees) {
    const GenerationCase& c = GetParam();
    constexpr int kFirst = 3;
    constexpr int kCount = 16;
    std::string reason;
    const DvClip* clip = RealDvClip(c.pal ? kPal : kNtsc, &reason);
    ASSERT_NE(clip, nullptr) << reason;
    const std::string sourcePath = c.generation ? dir_.Path("source.avi") : clip->aviPath;
    auto source = qv::OpenAviFile(sourcePath);
    if (c.generation) {
        // The source's own segments do not carry over: the writer decides its own.
        const FixtureOptions o = OptionsOf(c.type, *c.generation, c.generation == Avi1 ? 0 : 7, true, c.pal);
        auto frames = MakePatternFrames(o, static_cast<int>(clip->frames.size()), 0);
        for (size_t i = 0; i < frames.size(); ++i) {
            frames[i].video = clip->frames[i];
        }
        source = Source(o, frames);
    }
    ASSERT_NE(source, nullptr);
    ASSERT_GE(source->FrameCount(), kFirst + kCount);
    const std::vector<uint8_t> sourceBytes = ReadFileBytes(sourcePath);

    const qv::WriterOptions options{c.segments ? kSmallSegments : qv::kSegmentLimit, c.forceOpenDml};
    ASSERT_TRUE(Copy(*source, out_, kFirst, kCount, options));
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out_)));
    EXPECT_TRUE(ReadFileBytes(sourcePath) == sourceBytes) << "the source changed";

    const Layout layout = CheckCopy(out_, *source, kFirst, kCount, c.kind, options.segmentLimit);
    if (c.segments) {
        EXPECT_GE(layout.segments, 3) << "the copy should span several RIFF segments";
    } else {
        EXPECT_EQ(layout.segments, 1);
    }

    // ffmpeg decodes everything without a word (-f null), and finds the source's bytes
    // in the video packets and PCM samples it copies out as they are stored.
    const std::string video = out_ + ".video", pcm = out_ + ".pcm";
    const ShellResult r = RunShell("ffmpeg -v error -nostdin -i " + Quote(out_) +
                                   " -f null - -map 0:v -c:v copy -f rawvideo -y " + Quote(video) +
                                   " -map 0:a -c:a copy -f s16le -y " + Quote(pcm) + " 2>&1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "") << "ffmpeg complained while decoding";
    std::vector<uint8_t> frames;
    for (int f = kFirst; f < kFirst + kCount; ++f) {
        const auto frame = ReadFrame(*source->Stream(0), f);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    EXPECT_TRUE(ReadFileBytes(video) == frames) << "ffmpeg's video packets differ from the source";
    // Audio sample frames: trunc((first + n) * s) - trunc(first * s), s = 48000 / fps.
    const double s = 48000.0 / source->FramesPerSecond();
    const auto samples = FirstSampleOf(s, kFirst + kCount) - FirstSampleOf(s, kFirst);
    const std::vector<uint8_t> ffmpegPcm = ReadFileBytes(pcm);
    EXPECT_EQ(ffmpegPcm.size(), static_cast<size_t>(samples) * 4) << "audio sample count";
    if (c.type == Type2) {
        EXPECT_TRUE(ffmpegPcm == SourceAudio(*source, kFirst, kCount))
            << "ffmpeg's PCM differs from the source's audio";
    }
}

const GenerationCase kGenerations[] = {
    {"Type1Avi1", Type1, Avi1, true, false, false, "avi1"},
    {"Type2Avi1", Type2, Avi1, true, false, false, "avi1"},
    {"Type2Avi1FromFfmpeg", Type2, std::nullopt, true, false, false, "avi1"},
    {"Type1Avi1ForcedAvix", Type1, Avi1, true, true, true, "compat.odml-avi2"},
    {"Type2Avi1ForcedAvix", Type2, Avi1, true, true, true, "compat.odml-avi2"},
    {"Type1OpenDml", Type1, OpenDml, true, false, false, "odml-avi2"},
    {"Type2OpenDml", Type2, OpenDml, true, false, false, "odml-avi2"},
    {"Type2OpenDmlAvix", Type2, OpenDml, true, true, false, "odml-avi2"},
    {"Type1Compat", Type1, OpenDmlCompat, true, false, false, "compat.odml-avi2"},
    {"Type2Compat", Type2, OpenDmlCompat, true, false, false, "compat.odml-avi2"},
    {"Type2CompatAvix", Type2, OpenDmlCompat, true, true, false, "compat.odml-avi2"},
    {"Type2CompatAvixNtsc", Type2, OpenDmlCompat, false, true, false, "compat.odml-avi2"},
};

INSTANTIATE_TEST_SUITE_P(AviWriter, AviWriterGenerations, ::testing::ValuesIn(kGenerations),
                         [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Layout details

// An AVI 1.0 source written without the OpenDML parts: whatever the writer does
// when the data outgrow one segment, a frame it accepted must be in the finished
// file, readable (an "AVIX" frame that only "idx1" could index would be lost).
TEST_F(AviWriterTest, Avi1OutputNeverHoldsUnindexedFrames) {
    auto source = Source(OptionsOf(Type2, Avi1), 20, 100000);
    ASSERT_NE(source, nullptr);
    auto writer = source->CreateWriter(out_, {.segmentLimit = kSmallSegments});
    ASSERT_NE(writer, nullptr);
    int accepted = 0;
    CopyFrames(*source, *writer, 0, 20, &accepted);
    if (!writer->Finish(0)) {
        EXPECT_FALSE(fs::exists(out_));
        return;
    }
    auto result = qv::OpenAviFile(out_);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FrameCount(), accepted) << "frames accepted but not in the file";
    for (int f = 0; f < std::min(accepted, result->FrameCount()); ++f) {
        EXPECT_TRUE(ReadFrame(*result->Stream(0), f) == ReadFrame(*source->Stream(0), f)) << f;
    }
}

// The 1025th chunk of a stream starts a new standard index; the super index gains
// an entry whose dwDuration is the units of the full one.
TEST_F(AviWriterTest, StandardIndexHoldsAtMost1024Entries) {
    constexpr int kFrames = 1100;  // each with one chunk of 1920 audio units
    auto source = Source(OptionsOf(Type2, OpenDmlCompat), kFrames, 16);
    ASSERT_NE(source, nullptr);
    ASSERT_TRUE(Copy(*source, out_, 0, kFrames));
    const Layout layout = CheckCopy(out_, *source, 0, kFrames, "compat.odml-avi2");
    const std::vector<std::vector<SuperEntry>> supers = {{{1024, 1024}, {76, 76}},
                                                         {{1024, 1024 * 1920}, {76, 76 * 1920}}};
    EXPECT_TRUE(layout.supers == supers) << "standard index entries and durations";
}

// A JUNK that would be shorter than its 8-byte header grows by 2048 bytes. The
// source's video format is lengthened until the padding before the super index
// (OpenDML) or before "movi" (AVI 1.0) comes out at 4 bytes. Its frames have odd sizes:
// each gets its pad byte, the next chunk starts on an even position, the indexes keep
// the real size, and the file walks.
TEST_F(AviWriterTest, JunkShorterThanItsHeaderGrowsBy2048AndOddChunksGetTheirPadByte) {
    for (Generation generation : {Avi1, OpenDmlCompat}) {
        const bool odml = generation != Avi1;
        SCOPED_TRACE(odml ? "compat" : "avi1");
        const std::string before = odml ? "indx" : "movi";
        // The JUNK chunk in front of that chunk, in a copy of a source with extra bytes
        // of video format; -1 when there is none.
        auto junkBefore = [&](int extra) -> int64_t {
            FixtureOptions o = OptionsOf(Type1, generation);
            o.videoFormatExtra = extra;
            std::vector<FixtureFrame> frames = MakePatternFrames(o, 4, 1000);
            frames[0].video.resize(1001);
            frames[1].video.resize(999);
            frames[2].video.resize(1);
            auto source = Source(o, frames, "source" + std::to_string(extra) + ".avi");
            const std::string out = dir_.Path("scene" + std::to_string(extra) + ".avi");
            if (source == nullptr || !Copy(*source, out, 0, 4)) {
                return -2;
            }
            const auto bytes = ReadFileBytes(out);
            // The walk steps over pad bytes: every chunk it finds starts on an even position.
            const Layout layout = CheckCopy(out, *source, 0, 4, odml ? "compat.odml-avi2" : "avi1");
            EXPECT_TRUE(layout.chunks.size() == 4 && bytes[layout.chunks[0].offset + 8 + 1001] == 0)
                << "pad byte";
            int64_t junk = -1;
            for (const Chunk& c : layout.all) {
                const uint64_t end = c.offset + 8 + c.size;
                if (c.id == "JUNK" &&
                    (CodeAt(bytes, end) == before || CodeAt(bytes, end + 8) == before)) {
                    junk = 8 + int64_t{c.size};
                }
            }
            return junk;
        };
        const int64_t plain = junkBefore(0);
        ASSERT_GE(plain, 0) << "no JUNK before " << before;
        // Every 2 bytes more of format take 2 bytes off the JUNK; leave 4.
        const int extra = static_cast<int>((plain % 2048 - 4 + 2048) % 2048);
        EXPECT_EQ(junkBefore(extra), 2048 + 4);
    }
}

// Audio is re-chunked to the source's largest audio chunk C: every output chunk
// holds C - 8 .. C bytes, except the last one of a segment and of the file.
class AviWriterAudio : public AviWriterTest, public ::testing::WithParamInterface<int> {};

TEST_P(AviWriterAudio, ChunksHoldTheLargestSourceChunkLessAtMost8Bytes) {
    const int slice = GetParam();  // sample frames handed over at a time
    // NTSC: 1601 or 1602 sample frames a frame, so C = 6408 and chunks vary.
    auto source = Source(OptionsOf(Type2, OpenDmlCompat, 0, true, false), 30, 20000);
    ASSERT_NE(source, nullptr);
    constexpr uint32_t kLargest = 6408;
    for (uint32_t limit : {qv::kSegmentLimit, uint32_t{150000}}) {
        SCOPED_TRACE("segment limit " + std::to_string(limit));
        const std::string out = dir_.Path("scene" + std::to_string(limit) + ".avi");
        ASSERT_TRUE(Copy(*source, out, 0, 30, {.segmentLimit = limit}, slice));
        const double s = SamplesPerFrame(*source);
        const Layout layout = CheckCopy(out, *source, 0, 30, "compat.odml-avi2", limit);
        if (limit != qv::kSegmentLimit) {
            EXPECT_GE(layout.segments, 3);
        }
        // A segment ends with all the audio handed over before the video chunk that
        // began the next one.
        int64_t videoChunks = 0;
        int64_t samples = 0;
        for (size_t i = 0; i + 1 < layout.chunks.size(); ++i) {
            const Chunk& c = layout.chunks[i];
            videoChunks += c.stream == 0;
            samples += c.stream == 1 ? c.size / 4 : 0;
            if (layout.chunks[i + 1].segment != c.segment && videoChunks < 30) {
                EXPECT_EQ(samples, FirstSampleOf(s, static_cast<int>(videoChunks)))
                    << "audio left over at the end of segment " << c.segment;
            }
        }
        std::vector<Chunk> audio;
        std::copy_if(layout.chunks.begin(), layout.chunks.end(), std::back_inserter(audio),
                     [](const Chunk& c) { return c.stream == 1; });
        for (size_t i = 0; i < audio.size(); ++i) {
            EXPECT_LE(audio[i].size, kLargest) << "audio chunk " << i;
            if (i + 1 < audio.size() && audio[i + 1].segment == audio[i].segment) {
                EXPECT_GE(audio[i].size, kLargest - 8) << "audio chunk " << i;
            }
            EXPECT_EQ(audio[i].size % 4, 0u) << "audio chunk " << i << " splits a sample frame";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AviWriter, AviWriterAudio, ::testing::Values(1, 1000, 1601, 4801),
                         [](const auto& p) { return "Slices" + std::to_string(p.param); });

// ---------------------------------------------------------------------------
// Chunks the writer refuses or pads

// A damaged standard index that gives the audio the video's chunk id ("00dc"): the
// copy names each stream's chunks by its own number, so that reading the copy back
// does not take audio chunks for frames.
TEST_F(AviWriterTest, ChunkIdOfAnotherStreamIsNotCopied) {
    // Each stream given another's number in its standard index: the video of a type-2
    // file, its audio, and the interleaved stream of a type-1 file; each copy names
    // that stream's chunks by its own number and kind.
    const struct {
        DvType type;
        const char* index;
        const char* wrong;
        const char* own;
    } cases[] = {{Type2, "ix01", "00dc", "01wb"},
                 {Type2, "ix00", "01wb", "00dc"},
                 {Type1, "ix00", "01dc", "00db"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.index) + " says " + c.wrong);
        const FixtureOptions o = OptionsOf(c.type, OpenDml);
        auto bytes = BuildFixtureAvi(o, MakePatternFrames(o, 3, 200));
        const size_t ix = FindFourCC(bytes, c.index);
        ASSERT_NE(ix, kNotFound);
        std::copy_n(c.wrong, 4, bytes.begin() + static_cast<std::ptrdiff_t>(ix + 16));  // dwChunkId
        auto source = WriteAndOpen(dir_.Path("wrong-id.avi"), bytes);
        ASSERT_NE(source, nullptr);
        ASSERT_EQ(source->FrameCount(), 3);
        ASSERT_TRUE(Copy(*source, out_, 0, 2));
        const std::vector<uint8_t> copy = ReadFileBytes(out_);
        EXPECT_NE(FindFourCC(copy, c.own), kNotFound);
        const size_t copied = FindFourCC(copy, c.index);
        ASSERT_NE(copied, kNotFound);
        EXPECT_EQ(std::string(copy.begin() + static_cast<std::ptrdiff_t>(copied + 16),
                              copy.begin() + static_cast<std::ptrdiff_t>(copied + 20)),
                  c.own);
        auto reread = qv::OpenAviFile(out_);
        ASSERT_NE(reread, nullptr);
        EXPECT_EQ(reread->FrameCount(), 2);
        EXPECT_FALSE(reread->IndexRebuilt());
        ASSERT_TRUE(qv::RemoveFile(out_));
    }
}

// Chunks the writer cannot take: of a stream the output lacks, by each way of writing
// them; and runs of chunks that must go one by one (empty, odd-sized for their pad
// byte, without units, of a stream the output lacks). None changes the output.
TEST_F(AviWriterTest, ChunksAndRunsTheWriterCannotTakeChangeNothing) {
    const FixtureOptions o = OptionsOf(Type2, OpenDml);
    auto source = Source(o, 3, 300);
    ASSERT_NE(source, nullptr);
    qv::AviStream::ChunkPlace place;
    ASSERT_TRUE(source->Stream(0)->Locate(0, &place));
    qv::File in;
    ASSERT_TRUE(in.OpenRead(dir_.Path("source.avi"), qv::File::Access::Random));
    auto writer = source->CreateWriter(out_, {});
    ASSERT_NE(writer, nullptr);
    const std::vector<uint8_t> data(300, 7);
    for (const int stream : {-1, 2, 3}) {
        EXPECT_FALSE(writer->WriteChunk(stream, data.data(), 300, 1)) << stream;
        EXPECT_NE(writer->CopyChunk(stream, in, place.position, 300, 1), qv::ChunkCopy::Done)
            << stream;
    }
    for (const qv::RunChunk run : {qv::RunChunk{-1, 300, 1}, qv::RunChunk{2, 300, 1},
                                   qv::RunChunk{0, 0, 1}, qv::RunChunk{0, 301, 1},
                                   qv::RunChunk{0, 300, 0}}) {
        size_t taken = 9;
        EXPECT_EQ(writer->CopyRun(in, place.position - 8, &run, 1, 1, &taken), qv::ChunkCopy::Done);
        EXPECT_EQ(taken, 0u) << run.stream << " " << run.size << " " << run.units;
    }
    ASSERT_TRUE(CopyFrames(*source, *writer, 0, 3));
    ASSERT_TRUE(writer->Finish(0));
    writer.reset();
    CheckReadsBack(*source, out_, 0, 3, "odml-avi2");
}

// A stream that would need more than the 1024 standard indexes of its super index
// (1,048,576 chunks) gets its further chunks refused; the file stays sound.
TEST_F(AviWriterTest, ChunksBeyondTheSuperIndexAreRefused) {
    auto source = Source(OptionsOf(Type1, OpenDml), 1, 2);
    ASSERT_NE(source, nullptr);
    auto writer = source->CreateWriter(out_);
    ASSERT_NE(writer, nullptr);
    constexpr int kMost = 1024 * 1024;
    const uint8_t frame[2] = {0x1F, 0x07};
    for (int i = 0; i < kMost; ++i) {
        if (!writer->WriteChunk(0, frame, 2, 1)) {
            FAIL() << "chunk " << i << " refused";
        }
    }
    EXPECT_FALSE(writer->WriteChunk(0, frame, 2, 1));
    EXPECT_FALSE(writer->WriteChunk(0, frame, 2, 1));
    ASSERT_TRUE(writer->Finish(0));

    // The layout walk would take long over a million chunks: the super index, the list
    // after it and the counts by hand.
    const auto bytes = ReadFileBytes(out_);
    const size_t indx = FindFourCC(bytes, "indx");
    ASSERT_NE(indx, kNotFound);
    EXPECT_EQ(Le32At(bytes, indx + 12), 1024u) << "nEntriesInUse of the super index";
    for (uint64_t k = 0; k < 1024; ++k) {
        const uint64_t at = indx + 32 + 16 * k;
        ASSERT_EQ(Le32At(bytes, at + 8), kStandardIndexBytes) << "dwSize of entry " << k;
        ASSERT_EQ(Le32At(bytes, at + 12), 1024u) << "dwDuration of entry " << k;
        ASSERT_EQ(CodeAt(bytes, Le64At(bytes, at)), "ix00") << "entry " << k;
    }
    // The super index ends its "strl"; the "odml" list after it is intact, not
    // overwritten by a 1025th entry. The refused chunks count nowhere: strh dwLength
    // and dmlh dwTotalFrames.
    EXPECT_EQ(CodeAt(bytes, indx + kSuperIndexBytes) + CodeAt(bytes, indx + kSuperIndexBytes + 8),
              "LISTodml");
    EXPECT_EQ(Le32At(bytes, FindFourCC(bytes, "strh") + 8 + 32), uint32_t{kMost});
    EXPECT_EQ(Le32At(bytes, FindFourCC(bytes, "dmlh") + 8), uint32_t{kMost});
    auto result = qv::OpenAviFile(out_);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->Kind(), "odml-avi2");
    EXPECT_EQ(result->FrameCount(), kMost);
    EXPECT_EQ(ReadFrame(*result->Stream(0), kMost - 1), std::vector<uint8_t>(frame, frame + 2));
}

// ---------------------------------------------------------------------------
// Finishing, naming, replacing

// A temporary file left by a copy that was killed does not block the next one; the
// destination keeps its old bytes until a copy is finished.
TEST_F(AviWriterTest, WritesUnderTheTemporaryNameUntilFinishedRefusingBadChunks) {
    auto source = Source(OptionsOf(Type2, OpenDmlCompat), 5, 1000);
    ASSERT_NE(source, nullptr);
    const auto sourceBytes = ReadFileBytes(dir_.Path("source.avi"));
    const std::vector<uint8_t> old(300000, 'x');  // longer than the copy
    ASSERT_TRUE(WriteFileBytes(out_, old));
    ASSERT_TRUE(WriteFileBytes(qv::TemporaryNameFor(out_), std::vector<uint8_t>(5000, 'y')));
    // An unfinished writer that is destroyed removes its file and names nothing.
    auto abandoned = source->CreateWriter(out_);
    ASSERT_NE(abandoned, nullptr);
    ASSERT_TRUE(CopyFrames(*source, *abandoned, 0, 3));
    abandoned.reset();
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out_)));
    EXPECT_TRUE(ReadFileBytes(out_) == old) << "an unfinished copy replaced the destination";

    auto writer = source->CreateWriter(out_);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->TemporaryName(), qv::TemporaryNameFor(out_));
    EXPECT_TRUE(fs::exists(writer->TemporaryName()));
    ASSERT_TRUE(CopyFrames(*source, *writer, 0, 4));

    // Chunks of no such stream, without units or with negative ones, or of a negative size
    // are refused and write nothing; the copy goes on after them.
    const auto video = ReadFrame(*source->Stream(0), 0);
    const auto audio = ReadAudio(*source->Stream(1), 0, 1920);
    ASSERT_TRUE(writer->FlushBuffers());
    const auto size = fs::file_size(writer->TemporaryName());
    qv::File sourceFile;
    ASSERT_TRUE(sourceFile.OpenRead(dir_.Path("source.avi"), qv::File::Access::Random));
    for (auto [stream, bytes, units] : std::initializer_list<std::tuple<int, int64_t, int>>{
             {-1, 1000, 1}, {2, 1000, 1}, {1000, 1000, 1}, {0, 1000, 0}, {1, 7680, 0},
             {0, 1000, -1}, {1, 7680, -5}, {0, -1000, 1}}) {
        EXPECT_FALSE(writer->WriteChunk(stream, stream == 1 ? audio.data() : video.data(), bytes, units))
            << "stream " << stream << ", " << bytes << " bytes, " << units << " units";
        // The same chunk copied from the source file is refused alike.
        EXPECT_EQ(writer->CopyChunk(stream, sourceFile, 8, bytes, units), qv::ChunkCopy::WriteFailed)
            << "copied: stream " << stream << ", " << bytes << " bytes";
    }
    EXPECT_EQ(fs::file_size(writer->TemporaryName()), size) << "a refused chunk wrote something";
    ASSERT_TRUE(CopyFrames(*source, *writer, 4, 1));
    EXPECT_TRUE(ReadFileBytes(out_) == old) << "the destination changed before Finish";

    constexpr int64_t kWhen = 1089800430;  // 2004-07-14 10:20:30 UTC
    ASSERT_TRUE(writer->Finish(kWhen));
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out_)));
    int64_t mtime = 0;
    ASSERT_TRUE(qv::GetModificationTime(out_, &mtime));
    EXPECT_EQ(mtime, kWhen);
    const auto bytes = ReadFileBytes(out_);
    // The layout walk also finds old bytes left behind the new file.
    CheckCopy(out_, *source, 0, 5, "compat.odml-avi2");
    EXPECT_TRUE(ReadFileBytes(dir_.Path("source.avi")) == sourceBytes);

    // A finished writer takes no more data, and the file it named stays as it is.
    EXPECT_FALSE(writer->WriteChunk(0, video.data(), static_cast<int64_t>(video.size()), 1));
    writer.reset();
    EXPECT_TRUE(ReadFileBytes(out_) == bytes) << "the finished file changed afterwards";
}

// A copy never replaces the file it is made from, however its name is spelt; and the
// temporary name of a destination may be taken by a file of the user's, even by the
// very source being copied: it is never removed or overwritten.
TEST_F(AviWriterTest, SourceIsNeverTouched) {
    // Every kind of output from an AVI and from a raw DV source, the source's name
    // given to the output, whatever its extension asks for.
    const FixtureOptions o = OptionsOf(Type2, OpenDmlCompat);
    const std::vector<FixtureFrame> frames = MakeFrames(o, 4, DvTime{2004, 7, 14, 10, 20, 30});
    std::vector<uint8_t> raw;
    for (const FixtureFrame& f : frames) {
        raw.insert(raw.end(), f.video.begin(), f.video.end());
    }
    struct Case {
        const char* what;
        std::string source, dest;
        bool finishFails;
    };
    for (const bool fromRaw : {false, true}) {
        for (const std::string ext : {".avi", ".dv", ".mov"}) {
            const std::string name = std::string(fromRaw ? "raw" : "avi") + ext;
            for (const Case& c :
                 {Case{"the same name", dir_.Path("same-" + name), dir_.Path("same-" + name), true},
                  Case{"the name spelt another way", dir_.Path("respelt-" + name),
                       (dir_.Dir() / "." / ("respelt-" + name)).string(), true},
                  Case{"the source under the temporary name",
                       qv::TemporaryNameFor(dir_.Path("out" + ext)), dir_.Path("out" + ext), false}}) {
                SCOPED_TRACE(std::string(c.what) + ", " + name);
                const std::vector<uint8_t> sourceBytes = fromRaw ? raw : BuildFixtureAvi(o, frames);
                ASSERT_TRUE(WriteFileBytes(c.source, sourceBytes));
                auto source = qv::OpenAviFile(c.source);
                ASSERT_NE(source, nullptr);
                auto writer = qv::CreateWriterFor(*source, c.dest, {});
                EXPECT_TRUE(writer == nullptr || !c.finishFails) << "a writer onto its source";
                if (writer != nullptr) {
                    EXPECT_NE(writer->TemporaryName(), c.source);
                    for (int f = 1; f < 3; ++f) {
                        const std::vector<uint8_t> video = ReadFrame(*source->Stream(0), f);
                        writer->WriteChunk(0, video.data(), std::ssize(video), 1);
                    }
                    const bool finished = writer->Finish(0);
                    EXPECT_FALSE(finished && c.finishFails)
                        << "the source was replaced by a copy of itself";
                    writer.reset();
                }
                if (c.finishFails) {
                    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(c.dest)));
                }
                source.reset();
                ASSERT_TRUE(fs::exists(c.source)) << "the source was removed";
                EXPECT_TRUE(ReadFileBytes(c.source) == sourceBytes) << "the source changed";
                std::filesystem::remove(c.source);
                std::filesystem::remove(c.dest);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Sources the writer cannot copy, destinations it cannot create

struct ShortHeader {
    const char* name;
    DvType type;
    Generation generation;
    const char* id;  // the chunk shortened
    int nth;         // which of them
    int dataBytes;   // its new data size; -1: the chunk is missing
    bool usable;     // whether the writer can still complete its fields
};

class AviWriterShortHeaders : public AviWriterTest,
                              public ::testing::WithParamInterface<ShortHeader> {};

TEST_P(AviWriterShortHeaders, CreateWriterRefusesHeadersItCannotComplete) {
    const ShortHeader& c = GetParam();
    const FixtureOptions o = OptionsOf(c.type, c.generation);
    auto bytes = BuildFixtureAvi(o, MakePatternFrames(o, 3, 1000));
    const size_t at = FindFourCC(bytes, c.id, 0, c.nth);
    ASSERT_NE(at, kNotFound);
    if (c.dataBytes < 0) {
        std::copy_n("JUNK", 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
        // The bytes cut off become a JUNK chunk, so that the rest walks as before.
        const uint32_t old = GetLe32(bytes, at + 4);
        const auto size = static_cast<uint32_t>(c.dataBytes);
        ASSERT_GE(old, size + 8);
        PutLe32(bytes, at + 4, size);
        std::copy_n("JUNK", 4, bytes.begin() + static_cast<std::ptrdiff_t>(at + 8 + size));
        PutLe32(bytes, at + 8 + size + 4, old - size - 8);
    }
    auto source = WriteAndOpen(dir_.Path("source.avi"), bytes);
    ASSERT_NE(source, nullptr);
    auto writer = source->CreateWriter(out_);
    if (!c.usable) {
        EXPECT_EQ(writer, nullptr);
        EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out_)));
        EXPECT_FALSE(fs::exists(out_));
        return;
    }
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(CopyFrames(*source, *writer, 0, 3));
    ASSERT_TRUE(writer->Finish(0));
    auto result = qv::OpenAviFile(out_);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FrameCount(), 3);
    // The header that was kept short still gets its count: avih dwTotalFrames, dmlh
    // dwTotalFrames, strh dwLength.
    const auto written = ReadFileBytes(out_);
    const size_t w = FindFourCC(written, c.id);
    ASSERT_NE(w, kNotFound);
    const std::string id = c.id;
    EXPECT_EQ(Le32At(written, w + 8 + (id == "avih" ? 16 : id == "dmlh" ? 0 : 32)), 3u) << id;
}

const ShortHeader kShortHeaders[] = {
    {"NoAvih", Type1, Avi1, "avih", 0, -1, false},
    {"Avih26", Type1, Avi1, "avih", 0, 18, false},
    {"Avih28", Type1, Avi1, "avih", 0, 20, true},
    {"Dmlh10", Type1, OpenDml, "dmlh", 0, 2, false},
    {"Dmlh12", Type1, OpenDml, "dmlh", 0, 4, true},
    {"NoStrh", Type1, Avi1, "strh", 0, -1, false},
    {"Strh42", Type1, Avi1, "strh", 0, 34, false},
    {"Strh44", Type1, OpenDmlCompat, "strh", 0, 36, true},
    {"AudioStrh42", Type2, Avi1, "strh", 1, 34, false},
};

INSTANTIATE_TEST_SUITE_P(AviWriter, AviWriterShortHeaders, ::testing::ValuesIn(kShortHeaders),
                         [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Data safety: a write, flush or rename that fails anywhere makes the copy fail,
// leaves no file behind, keeps an existing destination as it was until a finished
// copy replaces it, and never touches the source.

struct FaultCase {
    const char* name;
    bool shortWrite;    // half a write, or none of it
    bool failAllAfter;  // a full disk: every later write fails too
    bool destExists;
    bool failFlush = false;   // no write fails: the flush
    bool failRename = false;  // or the rename
};

class AviWriterFaults : public AviWriterTest, public ::testing::WithParamInterface<FaultCase> {
  protected:
    static constexpr int kFrames = 10;

    void SetUp() override {
        source_ = Source(OptionsOf(Type2, OpenDmlCompat), kFrames, 2000);
        ASSERT_NE(source_, nullptr);
        sourceBytes_ = ReadFileBytes(dir_.Path("source.avi"));
    }

    // One copy of every frame under faults; the writer is gone on return. When a
    // chunk is refused the copy is abandoned, or, with finishAfterRefusal, finished
    // anyway (which must fail). True when the copy reported success.
    bool CopyUnder(qv::WriteFaults* faults, bool finishAfterRefusal) {
        qv::SetWriteFaults(faults);
        // About 4 frames a segment.
        auto writer = source_->CreateWriter(out_, {.segmentLimit = 60000});
        const bool copied = writer != nullptr && CopyFrames(*source_, *writer, 0, kFrames);
        if (copied && faults->failFlush) {
            EXPECT_FALSE(writer->FlushBuffers());
        }
        const bool finishing = writer != nullptr && (copied || finishAfterRefusal);
        const bool finished = finishing && writer->Finish(0);
        if (finishing && !finished) {
            qv::SetWriteFaults(nullptr);
            CheckNothingLeft("after Finish failed");
        }
        writer.reset();
        qv::SetWriteFaults(nullptr);
        if (copied && finished) {
            return true;
        }
        CheckNothingLeft("after the writer was destroyed");
        return false;
    }

    void CheckNothingLeft(const std::string& when) {
        SCOPED_TRACE(when);
        EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out_))) << "the temporary file remains";
        if (oldDest_) {
            EXPECT_TRUE(ReadFileBytes(out_) == *oldDest_) << "the existing destination changed";
        } else {
            EXPECT_FALSE(fs::exists(out_)) << "a destination appeared";
        }
    }

    std::unique_ptr<qv::AviReader> source_;
    std::vector<uint8_t> sourceBytes_;
    std::optional<std::vector<uint8_t>> oldDest_;
};

TEST_P(AviWriterFaults, EveryWriteThatFailsFailsTheCopy) {
    const FaultCase& c = GetParam();
    // A clean run counts the writes of one copy.
    qv::WriteFaults counting;
    ASSERT_TRUE(CopyUnder(&counting, false));
    const int64_t writes = c.failFlush || c.failRename ? 0 : counting.writes;
    ASSERT_GT(counting.writes, 20);
    ASSERT_TRUE(qv::RemoveFile(out_));
    if (c.destExists) {
        oldDest_ = std::vector<uint8_t>(5000, 'o');
        ASSERT_TRUE(WriteFileBytes(out_, *oldDest_));
    }
    if (c.failFlush || c.failRename) {
        qv::WriteFaults faults{.failFlush = c.failFlush, .failRename = c.failRename};
        EXPECT_FALSE(CopyUnder(&faults, false)) << "the copy reported success";
    }
    for (int64_t n = 0; n < writes && !HasFailure(); ++n) {  // one place is enough to report
        SCOPED_TRACE("write " + std::to_string(n) + " of " + std::to_string(writes));
        qv::WriteFaults faults;
        (c.shortWrite ? faults.shortWriteAt : faults.failWriteAt) = n;
        faults.failAllWritesAfter = c.failAllAfter;
        // Half the time the caller finishes after a refused chunk anyway: a file
        // with a failed write in it must never be finished.
        EXPECT_FALSE(CopyUnder(&faults, n % 2 == 1)) << "the copy reported success";
        EXPECT_GE(faults.writes, n + 1) << "the failing write never came";
    }
    EXPECT_TRUE(ReadFileBytes(dir_.Path("source.avi")) == sourceBytes_) << "the source changed";

    // And with nothing failing the copy replaces the destination.
    qv::WriteFaults none;
    ASSERT_TRUE(CopyUnder(&none, false));
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out_)));
    CheckReadsBack(*source_, out_, 0, kFrames, "compat.odml-avi2");
}

const FaultCase kFaults[] = {
    {"DiskFullOverExistingFile", false, true, true},
    {"OneFailedWrite", false, false, false},
    {"ShortWriteThenDiskFull", true, true, false},
    {"OneShortWriteOverExistingFile", true, false, true},
    {"FailedFlush", false, false, false, true, false},
    {"FailedFlushOverExistingFile", false, false, true, true, false},
    {"FailedRename", false, false, false, false, true},
    {"FailedRenameOverExistingFile", false, false, true, false, true},
};

INSTANTIATE_TEST_SUITE_P(AviWriter, AviWriterFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& p) { return std::string(p.param.name); });

// Every kind of output, each write failed in turn, whole or half: the call during
// which the failing write was made reports the failure (a frame's or sound's write,
// or the finish), none before it does, and nothing is left. The writers that gather
// frames before writing them make their writes in a later call: that call fails.
struct WriterKind {
    const char* name;
    const char* source;  // "avi" (type-2 OpenDML, DV frames with their sound) or "dv"
    const char* output;
};

class EveryWriterFaults : public AviWriterTest, public ::testing::WithParamInterface<WriterKind> {};

TEST_P(EveryWriterFaults, TheCallWhoseWriteFailedSaysSo) {
    const WriterKind& kind = GetParam();
    const FixtureOptions o = OptionsOf(Type2, OpenDmlCompat);
    const std::vector<FixtureFrame> frames = MakeFrames(o, 8, DvTime{2004, 7, 14, 10, 20, 30});
    std::unique_ptr<qv::AviReader> source = Source(o, frames);
    if (std::string(kind.source) == "dv") {
        std::vector<uint8_t> raw;
        for (const FixtureFrame& f : frames) {
            raw.insert(raw.end(), f.video.begin(), f.video.end());
        }
        ASSERT_TRUE(WriteFileBytes(dir_.Path("source.dv"), raw));
        source = qv::OpenAviFile(dir_.Path("source.dv"));
    }
    ASSERT_NE(source, nullptr);
    const std::string out = dir_.Path(std::string("out.") + kind.output);
    // One copy under faults: the writes made during each call, and the call that
    // first reported a failure (-1: none did; calls are numbered from the writer's
    // creation, 0, to Finish).
    struct Run {
        std::vector<int64_t> writesBefore;  // of each call
        int failedCall = -1;
    };
    const auto copy = [&](qv::WriteFaults& faults) {
        Run run;
        qv::SetWriteFaults(&faults);
        const auto call = [&](auto&& action) {
            run.writesBefore.push_back(faults.writes);
            if (!action() && run.failedCall < 0) {
                run.failedCall = static_cast<int>(run.writesBefore.size()) - 1;
            }
            return run.failedCall < 0;
        };
        std::unique_ptr<qv::AviWriter> writer;
        bool ok = call([&] {
            writer = qv::CreateWriterFor(*source, out, {});
            return writer != nullptr;
        });
        for (int f = 0; ok && f < 8; ++f) {
            const std::vector<uint8_t> video = ReadFrame(*source->Stream(0), f);
            ok = call([&] { return writer->WriteChunk(0, video.data(), std::ssize(video), 1); });
            const auto [a, z] = AudioOf(*source, f, 1);
            if (ok && z > a) {
                const std::vector<uint8_t> audio = ReadAudio(*source->Stream(1), a, z - a);
                ok = call([&] { return writer->WriteChunk(1, audio.data(), std::ssize(audio), z - a); });
            }
        }
        if (ok) {
            call([&] { return writer->Finish(0); });
        }
        run.writesBefore.push_back(faults.writes);  // the end of the last call
        writer.reset();
        qv::SetWriteFaults(nullptr);
        return run;
    };
    qv::WriteFaults counting;
    const Run clean = copy(counting);
    ASSERT_EQ(clean.failedCall, -1);
    ASSERT_TRUE(qv::RemoveFile(out));
    ASSERT_GT(counting.writes, 3);
    for (const bool half : {false, true}) {
        for (int64_t n = 0; n < counting.writes; ++n) {
            SCOPED_TRACE(std::string(half ? "half of write " : "write ") + std::to_string(n) +
                         " of " + std::to_string(counting.writes));
            qv::WriteFaults faults;
            (half ? faults.shortWriteAt : faults.failWriteAt) = n;
            faults.failAllWritesAfter = false;
            const Run run = copy(faults);
            // The call in which write n was made, as in the clean run.
            int expected = -1;
            for (size_t c = 0; c + 1 < clean.writesBefore.size(); ++c) {
                if (clean.writesBefore[c] <= n && n < clean.writesBefore[c + 1]) {
                    expected = static_cast<int>(c);
                    break;
                }
            }
            EXPECT_EQ(run.failedCall, expected);
            EXPECT_FALSE(fs::exists(out)) << "a destination appeared";
            EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out))) << "the temporary file remains";
            if (HasFailure()) {
                return;  // one place is enough to report
            }
        }
    }
}

const WriterKind kWriterKinds[] = {
    {"AviFromAvi", "avi", "avi"},
    {"RawDvFromAvi", "avi", "dv"},
    {"QuickTimeFromAvi", "avi", "mov"},
    {"AviFromRawDv", "dv", "avi"},
    {"QuickTimeFromRawDv", "dv", "mov"},
};

INSTANTIATE_TEST_SUITE_P(AviWriter, EveryWriterFaults, ::testing::ValuesIn(kWriterKinds),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
