// The AVI writer, checked three ways on copies of fixture files and of files ffmpeg
// made: our reader reads every frame and sample back; a RIFF walk written here (it
// shares nothing with the writer) checks the layout byte by byte — alignment, JUNK,
// "idx1", super and standard indexes, the frame and unit counts in the headers; and
// ffprobe / ffmpeg, an independent reader, demux and decode the result. A fault hook
// under the file class makes writes, flushes and renames fail, to show that a failed
// copy never leaves a file behind, never names a half-written one, and never touches
// the file it replaces or the source.
//
// ffmpeg and ffprobe are declared test dependencies: when they are missing the tests
// that need them fail rather than skip.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "avi/AviWriter.h"
#include "avi/RiffAviReader.h"
#include "platform/FileSystem.h"
#include "support/AviFixture.h"
#include "support/Shell.h"
#include "support/ReadUnits.h"

namespace {

using qvtest::DvType;
using qvtest::FixtureFrame;
using qvtest::FixtureOptions;
using qvtest::Generation;
using qvtest::GetLe32;
using qvtest::TempDir;

namespace fs = std::filesystem;

// The whole file in one read (outputs run to megabytes); empty when unreadable.
std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return {};
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

constexpr uint32_t kNotKeyFrame = 0x80000000u;   // standard index dwSize bit 31
constexpr uint32_t kAviifKeyFrame = 0x10;        // idx1 dwFlags
constexpr uint32_t kSuperIndexBytes = 16416;     // "indx" chunk with its header
constexpr uint32_t kStandardIndexBytes = 8224;   // "ix##" chunk with its header
constexpr uint32_t kIndexSlots = 1024;           // entries of either index
constexpr const char kFiller[] = "quorvandel ";  // what JUNK chunks hold, repeated
constexpr size_t kFillerLength = sizeof kFiller - 1;

// A limit that ends a segment every few PAL frames.
constexpr uint32_t kSmallSegments = 600000;

uint16_t Le16At(const std::vector<uint8_t>& b, uint64_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | b[at + 1] << 8) : 0;
}
uint32_t Le32At(const std::vector<uint8_t>& b, uint64_t at) {
    return at + 4 <= b.size() ? GetLe32(b, static_cast<size_t>(at)) : 0;
}
uint64_t Le64At(const std::vector<uint8_t>& b, uint64_t at) {
    return static_cast<uint64_t>(Le32At(b, at)) | static_cast<uint64_t>(Le32At(b, at + 4)) << 32;
}
std::string CodeAt(const std::vector<uint8_t>& b, uint64_t at) {
    std::string code(4, '?');
    for (size_t i = 0; i < 4 && at + i < b.size(); ++i) {
        code[i] = static_cast<char>(b[at + i]);
    }
    return code;
}
std::vector<uint8_t> Slice(const std::vector<uint8_t>& b, uint64_t at, uint64_t n) {
    if (at > b.size() || n > b.size() - at) {
        return {};
    }
    return {b.begin() + static_cast<std::ptrdiff_t>(at),
            b.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

// ---------------------------------------------------------------------------
// A RIFF walk of our own: the whole file as a tree, every size checked against its
// parent, so that a layout fault shows as a message rather than as a wrong reading.

struct Chunk {
    std::string id;
    std::string type;     // list type of "RIFF" and "LIST"; empty for other chunks
    uint64_t offset = 0;  // file position of the chunk id
    uint32_t size = 0;    // the size field
    std::vector<Chunk> children;

    uint64_t Data() const { return offset + 8; }
    uint64_t End() const { return offset + 8 + size; }

    const Chunk* Find(const std::string& wantId, const std::string& wantType = "") const {
        for (const Chunk& c : children) {
            if (c.id == wantId && (wantType.empty() || c.type == wantType)) {
                return &c;
            }
        }
        return nullptr;
    }
    std::vector<const Chunk*> All(const std::string& wantId,
                                  const std::string& wantType = "") const {
        std::vector<const Chunk*> found;
        for (const Chunk& c : children) {
            if (c.id == wantId && (wantType.empty() || c.type == wantType)) {
                found.push_back(&c);
            }
        }
        return found;
    }
};

struct RiffTree {
    std::vector<Chunk> top;
    std::vector<std::string> errors;
};

void ParseLevel(const std::vector<uint8_t>& b, uint64_t from, uint64_t end, int depth,
                std::vector<Chunk>& out, std::vector<std::string>& errors) {
    uint64_t pos = from;
    while (pos < end) {
        if (end - pos < 8) {
            errors.push_back(std::to_string(end - pos) + " stray bytes at " + std::to_string(pos));
            return;
        }
        Chunk c;
        c.offset = pos;
        c.id = CodeAt(b, pos);
        c.size = Le32At(b, pos + 4);
        if (c.End() > end) {
            errors.push_back("\"" + c.id + "\" at " + std::to_string(pos) + " (size " +
                             std::to_string(c.size) + ") overruns its parent, which ends at " +
                             std::to_string(end));
            return;
        }
        if (c.id == "RIFF" || c.id == "LIST") {
            if (c.size < 4) {
                errors.push_back("list at " + std::to_string(pos) + " has size " +
                                 std::to_string(c.size));
                return;
            }
            c.type = CodeAt(b, pos + 8);
            if (depth < 4) {
                ParseLevel(b, pos + 12, c.End(), depth + 1, c.children, errors);
            }
        }
        pos = c.End() + c.size % 2;  // an odd chunk is followed by a pad byte
        if (pos > end) {
            errors.push_back("pad byte of \"" + c.id + "\" at " + std::to_string(c.offset) +
                             " lies outside its parent");
        }
        out.push_back(std::move(c));
    }
}

RiffTree ParseRiff(const std::vector<uint8_t>& bytes) {
    RiffTree tree;
    ParseLevel(bytes, 0, bytes.size(), 0, tree.top, tree.errors);
    return tree;
}

void ForEachChunk(const std::vector<Chunk>& chunks, const std::function<void(const Chunk&)>& f) {
    for (const Chunk& c : chunks) {
        f(c);
        ForEachChunk(c.children, f);
    }
}

// ---------------------------------------------------------------------------
// The layout every output must have.

struct Expected {
    bool openDml = false;
    bool idx1 = false;
    std::vector<std::string> chunkIds;   // per stream, as the source names them
    std::vector<bool> audio;             // per stream
    std::vector<uint32_t> bytesPerUnit;  // per stream; 0: a chunk is one unit
    std::vector<int64_t> units;          // per stream, all segments together
    uint32_t segmentLimit = qv::kSegmentLimit;
};

struct DataChunk {
    int stream = 0;
    int segment = 0;
    uint64_t offset = 0;  // of its id
    uint32_t size = 0;
};

struct SuperEntry {
    uint32_t entries = 0;   // nEntriesInUse of the standard index it points at
    uint32_t duration = 0;  // its dwDuration
};

struct Layout {
    RiffTree tree;
    int segments = 0;
    std::vector<DataChunk> chunks;                // data chunks in file order
    std::vector<std::vector<SuperEntry>> supers;  // per stream, in super-index order
};

// The expectation for a copy of source into the generation given.
Expected ExpectFor(qv::AviReader& source, bool openDml, bool idx1,
                   const std::vector<int64_t>& units, uint32_t segmentLimit) {
    auto* riff = dynamic_cast<qv::RiffAviReader*>(&source);
    Expected e;
    e.openDml = openDml;
    e.idx1 = idx1;
    e.units = units;
    e.segmentLimit = segmentLimit;
    for (int s = 0; s < source.StreamCount(); ++s) {
        qv::AviStream* stream = source.Stream(s);
        e.chunkIds.push_back(riff ? qv::FourCCText(riff->RiffStream(s)->ChunkId()) : "????");
        e.audio.push_back(stream->IsAudio());
        e.bytesPerUnit.push_back(stream->IsAudio() ? stream->UnitSize() : 0);
    }
    return e;
}

void CheckJunk(const std::vector<uint8_t>& b, const Chunk& junk) {
    // A JUNK fills up to the next 2048 boundary; one that would be shorter than its
    // own header grows by 2048 instead, so in all 8..2055 bytes, never 2048.
    const uint64_t total = 8 + uint64_t{junk.size};
    EXPECT_LT(total, 2048u + 8u) << "JUNK at " << junk.offset;
    EXPECT_NE(total, 2048u) << "JUNK at " << junk.offset;
    for (uint32_t i = 0; i < junk.size; ++i) {
        if (b[junk.Data() + i] != static_cast<uint8_t>(kFiller[i % kFillerLength])) {
            ADD_FAILURE() << "JUNK at " << junk.offset << ": byte " << i
                          << " is not the filler text";
            break;
        }
    }
}

// Before each video chunk the writer compares the bytes of the current RIFF, b,
// with m = limit - 16 x (collected "idx1" entries) - 16448 (room for the standard
// indexes written when the segment ends), and starts a new segment when b > m.
// So the last video chunk of a segment began at b <= m, and the segment's data
// reach past m (the check that ended it saw b > m).
void CheckSegmentEnds(const Expected& e, const Layout& L) {
    constexpr int64_t kReserve = 16448;
    const auto& top = L.tree.top;
    for (size_t k = 0; k < top.size(); ++k) {
        const auto riff = static_cast<int64_t>(top[k].offset);
        int64_t entries = 0;  // "idx1" entries collected so far
        int64_t lastVideoAt = -1;
        int64_t entriesBeforeLastVideo = 0;
        int64_t dataEnd = -1;
        for (const DataChunk& c : L.chunks) {
            if (c.segment != static_cast<int>(k)) {
                continue;
            }
            if (c.stream == 0) {
                lastVideoAt = static_cast<int64_t>(c.offset) - riff;
                entriesBeforeLastVideo = entries;
            }
            entries += e.idx1 && k == 0 ? 1 : 0;
            dataEnd = static_cast<int64_t>(c.offset + 8 + c.size + c.size % 2) - riff;
        }
        const int64_t limit = e.segmentLimit;
        if (lastVideoAt >= 0) {
            EXPECT_LE(lastVideoAt, limit - 16 * entriesBeforeLastVideo - kReserve)
                << "segment " << k << " took a video chunk beyond its limit";
        }
        if (k + 1 < top.size()) {
            EXPECT_GT(dataEnd, limit - 16 * entries - kReserve)
                << "segment " << k << " ended before its limit";
        }
    }
}

// Checks every rule of the output layout against e and the source's headers, and
// leaves what it found in L for further checks.
void CheckLayoutInto(const std::vector<uint8_t>& b, const Expected& e, qv::AviReader& source,
                     Layout& L) {
    L.tree = ParseRiff(b);
    for (const std::string& error : L.tree.errors) {
        ADD_FAILURE() << "RIFF walk: " << error;
    }
    const std::vector<Chunk>& top = L.tree.top;
    if (top.empty() || !L.tree.errors.empty()) {
        ADD_FAILURE() << "no complete RIFF tree";
        return;
    }
    const size_t streams = e.chunkIds.size();
    L.segments = static_cast<int>(top.size());
    L.supers.resize(streams);

    std::map<uint64_t, size_t> chunkByData;   // data position -> index into L.chunks
    std::map<uint64_t, int> standardIndexes;  // "ix##" chunk position -> its stream

    for (size_t k = 0; k < top.size(); ++k) {
        const Chunk& riff = top[k];
        SCOPED_TRACE("segment " + std::to_string(k));
        EXPECT_EQ(riff.id, "RIFF");
        EXPECT_EQ(riff.type, k == 0 ? "AVI " : "AVIX");
        const auto movis = riff.All("LIST", "movi");
        ASSERT_EQ(movis.size(), 1u) << "movi lists in a segment";
        const Chunk& movi = *movis[0];
        EXPECT_EQ((movi.offset + 12) % 2048, 0u) << "movi data does not start on a 2048 boundary";
        EXPECT_EQ(riff.All("idx1").size(), k == 0 && e.idx1 ? 1u : 0u) << "idx1 chunks";
        if (const Chunk* idx1 = riff.Find("idx1")) {
            EXPECT_GT(idx1->offset, movi.offset) << "idx1 before movi";
        }
        bool first = true;
        for (const Chunk& c : movi.children) {
            const auto id = std::find(e.chunkIds.begin(), e.chunkIds.end(), c.id);
            if (id != e.chunkIds.end()) {
                const int s = static_cast<int>(id - e.chunkIds.begin());
                chunkByData[c.Data()] = L.chunks.size();
                L.chunks.push_back({s, static_cast<int>(k), c.offset, c.size});
                if (first && k > 0) {
                    EXPECT_EQ(s, 0) << "an AVIX segment must begin with a video chunk";
                }
                first = false;
            } else if (c.id.size() == 4 && c.id[0] == 'i' && c.id[1] == 'x' && c.id[2] >= '0' &&
                       c.id[2] <= '9' && c.id[3] >= '0' && c.id[3] <= '9') {
                standardIndexes[c.offset] = (c.id[2] - '0') * 10 + (c.id[3] - '0');
            } else {
                ADD_FAILURE() << "unexpected \"" << c.id << "\" in movi at " << c.offset;
            }
        }
    }
    CheckSegmentEnds(e, L);

    ForEachChunk(top, [&](const Chunk& c) {
        if (c.id == "JUNK") {
            CheckJunk(b, c);
        }
        if (c.id == "indx") {
            EXPECT_EQ(c.offset % 2048, 0u) << "indx at " << c.offset << " is not aligned";
        }
        if (!e.openDml) {
            EXPECT_NE(c.id, "indx");
            EXPECT_NE(c.id, "dmlh");
            EXPECT_FALSE(c.id == "LIST" && c.type == "odml");
        }
    });

    // The header list: the source's headers with the counts of this file.
    ASSERT_FALSE(top[0].children.empty());
    const Chunk& hdrl = top[0].children[0];
    ASSERT_EQ(hdrl.id + hdrl.type, "LISThdrl") << "the first RIFF must begin with hdrl";
    auto* riffSource = dynamic_cast<qv::RiffAviReader*>(&source);
    ASSERT_NE(riffSource, nullptr);

    int64_t framesFirst = 0;
    int64_t framesAll = 0;
    for (const DataChunk& c : L.chunks) {
        framesAll += c.stream == 0;
        framesFirst += c.stream == 0 && c.segment == 0;
    }
    const Chunk* avih = hdrl.Find("avih");
    ASSERT_NE(avih, nullptr);
    EXPECT_EQ(hdrl.children[0].id, "avih");
    {
        std::vector<uint8_t> got = Slice(b, avih->offset, 8 + uint64_t{avih->size});
        const auto want = riffSource->MainHeader();
        ASSERT_EQ(got.size(), want.size()) << "avih differs in size from the source's";
        EXPECT_EQ(Le32At(got, 8 + 16), framesFirst)
            << "avih dwTotalFrames: frames of the first RIFF";
        qvtest::PutLe32(got, 8 + 16,
                        Le32At(std::vector<uint8_t>(want.begin(), want.end()), 8 + 16));
        EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin()))
            << "avih differs from the source's beyond dwTotalFrames";
    }

    const auto strls = hdrl.All("LIST", "strl");
    ASSERT_EQ(strls.size(), streams);
    const Chunk* odml = hdrl.Find("LIST", "odml");
    EXPECT_EQ(odml != nullptr, e.openDml) << "odml list";
    if (odml != nullptr) {
        const Chunk* dmlh = odml->Find("dmlh");
        ASSERT_NE(dmlh, nullptr);
        ASSERT_GE(dmlh->size, 4u);
        EXPECT_EQ(Le32At(b, dmlh->Data()), framesAll) << "dmlh dwTotalFrames: all frames";
        const auto want = riffSource->OpenDmlHeader();
        if (!want.empty()) {
            EXPECT_EQ(dmlh->size + 8u, want.size()) << "dmlh differs in size from the source's";
        }
    }

    for (size_t s = 0; s < streams; ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        const Chunk& strl = *strls[s];
        qv::AviStream& src = *source.Stream(static_cast<int>(s));
        const Chunk* strh = strl.Find("strh");
        ASSERT_NE(strh, nullptr);
        std::vector<uint8_t> got = Slice(b, strh->offset, 8 + uint64_t{strh->size});
        const auto want = src.Header();
        ASSERT_EQ(got.size(), want.size()) << "strh differs in size from the source's";
        EXPECT_EQ(Le32At(got, 8 + 32), e.units[s]) << "strh dwLength: the units written";
        qvtest::PutLe32(got, 8 + 32,
                        Le32At(std::vector<uint8_t>(want.begin(), want.end()), 8 + 32));
        EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin()))
            << "strh differs from the source's beyond dwLength";
        const Chunk* strf = strl.Find("strf");
        ASSERT_NE(strf, nullptr);
        const auto format = src.Format();
        EXPECT_TRUE(Slice(b, strf->Data(), strf->size) ==
                    std::vector<uint8_t>(format.begin(), format.end()))
            << "strf data differ from the source's";

        std::vector<size_t> ofStream;  // this stream's chunks in file order
        int64_t units = 0;
        for (size_t i = 0; i < L.chunks.size(); ++i) {
            if (L.chunks[i].stream == static_cast<int>(s)) {
                ofStream.push_back(i);
                units += e.bytesPerUnit[s] ? L.chunks[i].size / e.bytesPerUnit[s] : 1;
            }
        }
        EXPECT_EQ(units, e.units[s]) << "units in the data chunks";

        const Chunk* indx = strl.Find("indx");
        EXPECT_EQ(indx != nullptr, e.openDml) << "indx chunk";
        if (indx == nullptr) {
            continue;
        }
        // Super index: wLongsPerEntry 4, bIndexSubType 0, bIndexType 0 (index of indexes).
        ASSERT_EQ(indx->size + 8u, kSuperIndexBytes);
        const uint64_t x = indx->offset;
        EXPECT_EQ(Le16At(b, x + 8), 4) << "wLongsPerEntry";
        EXPECT_EQ(b[x + 10], 0) << "bIndexSubType";
        EXPECT_EQ(b[x + 11], 0) << "bIndexType";
        const uint32_t used = Le32At(b, x + 12);  // nEntriesInUse
        EXPECT_EQ(CodeAt(b, x + 16), e.chunkIds[s]) << "dwChunkId";
        ASSERT_LE(used, kIndexSlots);
        std::vector<size_t> indexed;  // chunks as the standard indexes list them
        for (uint32_t k = 0; k < kIndexSlots; ++k) {
            const uint64_t at = x + 32 + 16 * uint64_t{k};
            const uint64_t qwOffset = Le64At(b, at);
            const uint32_t dwSize = Le32At(b, at + 8);
            const uint32_t dwDuration = Le32At(b, at + 12);
            if (k >= used) {
                if (qwOffset != 0 || dwSize != 0 || dwDuration != 0) {
                    ADD_FAILURE() << "super index slot " << k
                                  << " beyond nEntriesInUse is not zero";
                }
                continue;
            }
            EXPECT_EQ(dwSize, kStandardIndexBytes) << "super index entry " << k;
            auto ix = standardIndexes.find(qwOffset);
            if (ix == standardIndexes.end() || ix->second != static_cast<int>(s)) {
                ADD_FAILURE() << "super index entry " << k << " points at " << qwOffset
                              << ", no standard index of this stream";
                continue;
            }
            standardIndexes.erase(ix);  // each is listed once
            // Standard index: "ix" and the stream number, wLongsPerEntry 2, bIndexType 1.
            const std::string name = "ix" + std::string(1, static_cast<char>('0' + s / 10)) +
                                     std::string(1, static_cast<char>('0' + s % 10));
            EXPECT_EQ(CodeAt(b, qwOffset), name);
            EXPECT_EQ(Le32At(b, qwOffset + 4) + 8u, kStandardIndexBytes);
            EXPECT_EQ(Le16At(b, qwOffset + 8), 2) << "wLongsPerEntry";
            EXPECT_EQ(b[qwOffset + 10], 0) << "bIndexSubType";
            EXPECT_EQ(b[qwOffset + 11], 1) << "bIndexType";
            const uint32_t entries = Le32At(b, qwOffset + 12);  // nEntriesInUse
            EXPECT_EQ(CodeAt(b, qwOffset + 16), e.chunkIds[s]) << "dwChunkId";
            const uint64_t base = Le64At(b, qwOffset + 20);  // qwBaseOffset
            EXPECT_GE(entries, 1u) << "an empty standard index";
            EXPECT_LE(entries, kIndexSlots);
            uint64_t duration = 0;
            for (uint32_t j = 0; j < std::min(entries, kIndexSlots); ++j) {
                const uint32_t dwOffset = Le32At(b, qwOffset + 32 + 8 * uint64_t{j});
                const uint32_t size = Le32At(b, qwOffset + 36 + 8 * uint64_t{j});
                EXPECT_EQ((size & kNotKeyFrame) != 0, s != 0)
                    << "bit 31 of dwSize of entry " << j << " of standard index " << k;
                auto c = chunkByData.find(base + dwOffset);
                if (c == chunkByData.end() || L.chunks[c->second].stream != static_cast<int>(s)) {
                    ADD_FAILURE() << "entry " << j << " of standard index " << k
                                  << " points at no chunk of this stream";
                    continue;
                }
                const DataChunk& dc = L.chunks[c->second];
                EXPECT_EQ(size & ~kNotKeyFrame, dc.size);
                indexed.push_back(c->second);
                duration += e.bytesPerUnit[s] ? dc.size / e.bytesPerUnit[s] : 1;
            }
            EXPECT_EQ(dwDuration, duration) << "dwDuration of super index entry " << k;
            L.supers[s].push_back({entries, dwDuration});
        }
        EXPECT_EQ(indexed, ofStream) << "the standard indexes must list every chunk once, in order";
    }
    for (const auto& [position, stream] : standardIndexes) {
        ADD_FAILURE() << "standard index of stream " << stream << " at " << position
                      << " is not in its super index";
    }

    // "idx1": the first RIFF's chunks, offsets from the movi list type.
    if (const Chunk* idx1 = top[0].Find("idx1")) {
        const Chunk& movi = *top[0].Find("LIST", "movi");
        std::vector<DataChunk> first;
        for (const DataChunk& c : L.chunks) {
            if (c.segment == 0) {
                first.push_back(c);
            }
        }
        ASSERT_EQ(idx1->size, 16 * first.size())
            << "idx1 must list exactly the first RIFF's chunks";
        for (size_t i = 0; i < first.size(); ++i) {
            const uint64_t at = idx1->Data() + 16 * i;
            const DataChunk& c = first[i];
            const bool audio = e.audio[static_cast<size_t>(c.stream)];
            EXPECT_EQ(CodeAt(b, at), e.chunkIds[static_cast<size_t>(c.stream)])
                << "idx1 entry " << i;
            EXPECT_EQ(Le32At(b, at + 4), audio ? 0u : kAviifKeyFrame) << "idx1 dwFlags " << i;
            EXPECT_EQ(Le32At(b, at + 8), c.offset - (movi.offset + 8))
                << "idx1 dwChunkOffset " << i;
            EXPECT_EQ(Le32At(b, at + 12), c.size) << "idx1 dwChunkLength " << i;
        }
    }
}

Layout CheckLayout(const std::vector<uint8_t>& b, const Expected& e, qv::AviReader& source) {
    Layout L;
    CheckLayoutInto(b, e, source, L);
    return L;
}

// ---------------------------------------------------------------------------
// Shell, ffprobe and ffmpeg

using qvtest::Quote;

struct ShellResult {
    int status = -1;
    std::string output;
};

ShellResult RunShell(const std::string& command) {
    ShellResult r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        r.output.append(buffer, n);
    }
    r.status = ::pclose(pipe);
    return r;
}

using ProbeFields = std::map<std::string, std::string>;

std::vector<ProbeFields> Probe(const std::string& path) {
    const ShellResult r = RunShell(
        "ffprobe -v error -count_packets -show_entries "
        "stream=index,codec_type,codec_name,r_frame_rate,sample_rate,channels,nb_read_packets "
        "-of compact=p=0 " +
        Quote(path) + " </dev/null");
    std::vector<ProbeFields> streams;
    if (r.status != 0) {
        return streams;
    }
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        ProbeFields fields;
        std::istringstream items(line);
        std::string item;
        while (std::getline(items, item, '|')) {
            const auto eq = item.find('=');
            if (eq != std::string::npos) {
                fields[item.substr(0, eq)] = item.substr(eq + 1);
            }
        }
        if (!fields.empty()) {
            streams.push_back(std::move(fields));
        }
    }
    return streams;
}

std::string Field(const ProbeFields& f, const std::string& key) {
    auto it = f.find(key);
    return it == f.end() ? std::string("(missing)") : it->second;
}

// What ffmpeg makes of a file: one run that decodes every stream (-f null) and
// copies the video packets and the PCM samples out as they are stored.
struct FfmpegView {
    int status = -1;
    std::string messages;
    std::vector<uint8_t> video;
    std::vector<uint8_t> pcm;
};

FfmpegView AskFfmpeg(const std::string& path) {
    const std::string video = path + ".video";
    const std::string pcm = path + ".pcm";
    const ShellResult r = RunShell("ffmpeg -v error -nostdin -i " + Quote(path) +
                                   " -f null - -map 0:v -c:v copy -f rawvideo -y " + Quote(video) +
                                   " -map 0:a -c:a copy -f s16le -y " + Quote(pcm) + " 2>&1");
    FfmpegView v;
    v.status = r.status;
    v.messages = r.output;
    v.video = ReadFileBytes(video);
    v.pcm = ReadFileBytes(pcm);
    std::error_code ec;
    fs::remove(video, ec);
    fs::remove(pcm, ec);
    return v;
}

// Real DV, made once per process by ffmpeg's dvvideo encoder (ffmpeg decodes only
// real pictures), and the PAL clip as ffmpeg itself wraps it into a type-2 AVI 1.0.
struct RealDv {
    std::vector<std::vector<uint8_t>> pal;   // 144000-byte frames, 25 fps
    std::vector<std::vector<uint8_t>> ntsc;  // 120000-byte frames, 30000/1001 fps
    std::string palAvi;
};

class RealDvStore {
  public:
    const RealDv* Get(std::string* reason) {
        if (!tried_) {
            tried_ = true;
            Make();
        }
        *reason = reason_;
        return dv_ ? &*dv_ : nullptr;
    }

  private:
    void Make() {
        if (RunShell("ffmpeg -version >/dev/null 2>&1").status != 0 ||
            RunShell("ffprobe -version >/dev/null 2>&1").status != 0) {
            reason_ = "ffmpeg/ffprobe are not installed (Debian package ffmpeg; a test dependency)";
            return;
        }
        RealDv dv;
        struct System {
            const char* name;
            const char* size;
            const char* rate;
            const char* pixels;
            size_t frameSize;
            std::vector<std::vector<uint8_t>>* frames;
        };
        const System systems[] = {
            {"pal", "720x576", "25", "yuv420p", qvtest::kPalFrameSize, &dv.pal},
            {"ntsc", "720x480", "30000/1001", "yuv411p", qvtest::kNtscFrameSize, &dv.ntsc},
        };
        for (const System& sys : systems) {
            const std::string path = dir_.Path(std::string(sys.name) + ".dv");
            const std::string encode =
                std::string("ffmpeg -v error -y -nostdin -f lavfi -i testsrc=size=") + sys.size +
                ":rate=" + sys.rate + " -f lavfi -i sine=frequency=1000:sample_rate=48000 -t 1.2" +
                " -c:v dvvideo -pix_fmt " + sys.pixels + " -c:a pcm_s16le -ac 2 -ar 48000 -f dv " +
                Quote(path) + " 2>&1";
            const ShellResult r = RunShell(encode);
            const std::vector<uint8_t> bytes = ReadFileBytes(path);
            if (r.status != 0 || bytes.empty() || bytes.size() % sys.frameSize != 0) {
                reason_ = "ffmpeg could not make DV: " + encode + "\n" + r.output;
                return;
            }
            for (size_t at = 0; at < bytes.size(); at += sys.frameSize) {
                sys.frames->emplace_back(
                    bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + sys.frameSize));
            }
            if (std::string(sys.name) == "pal") {
                dv.palAvi = dir_.Path("pal.avi");
                const ShellResult w = RunShell("ffmpeg -v error -y -nostdin -i " + Quote(path) +
                                               " -c copy " + Quote(dv.palAvi) + " 2>&1");
                if (w.status != 0) {
                    reason_ = "ffmpeg could not wrap DV into AVI: " + w.output;
                    return;
                }
            }
        }
        dv_ = std::move(dv);
    }

    bool tried_ = false;
    std::optional<RealDv> dv_;
    std::string reason_;
    TempDir dir_;
};

const RealDv* RealDvClips(std::string* reason) {
    static RealDvStore store;
    return store.Get(reason);
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
    return qvtest::ReadUnits(stream, frame, 1, static_cast<int>(std::max<int64_t>(size, 0))).bytes;
}

std::vector<uint8_t> ReadAudio(qv::AviStream& stream, int first, int count) {
    const auto r =
        qvtest::ReadUnits(stream, first, count, count * static_cast<int>(stream.UnitSize()));
    EXPECT_EQ(r.units, count) << "audio units " << first << "+" << count;
    return r.bytes;
}

// The audio that goes with frames [first, first + count) of source.
std::vector<uint8_t> SourceAudio(qv::AviReader& source, int first, int count) {
    const double s = SamplesPerFrame(source);
    if (s == 0.0) {
        return {};
    }
    const int a = FirstSampleOf(s, first);
    const int z = std::min(FirstSampleOf(s, first + count), source.Stream(1)->Length());
    return ReadAudio(*source.Stream(1), a, z - a);
}

// Copies frames [first, first + count) of source with their audio, frame by frame:
// video chunk f, then audio units trunc(f*s) .. trunc((f+1)*s). Stops at the first
// chunk the writer refuses and returns false; *accepted counts the frames taken.
bool CopyFrames(qv::AviReader& source, qv::AviWriter& writer, int first, int count,
                int* accepted = nullptr) {
    const double s = SamplesPerFrame(source);
    if (accepted != nullptr) {
        *accepted = 0;
    }
    for (int f = first; f < first + count; ++f) {
        const std::vector<uint8_t> video = ReadFrame(*source.Stream(0), f);
        if (!writer.WriteChunk(0, video.data(), static_cast<int64_t>(video.size()), 1)) {
            return false;
        }
        if (s != 0.0) {
            const int a = FirstSampleOf(s, f);
            const int z = std::min(FirstSampleOf(s, f + 1), source.Stream(1)->Length());
            if (z > a) {
                const std::vector<uint8_t> audio = ReadAudio(*source.Stream(1), a, z - a);
                if (!writer.WriteChunk(1, audio.data(), static_cast<int64_t>(audio.size()),
                                       z - a)) {
                    return false;
                }
            }
        }
        if (accepted != nullptr) {
            ++*accepted;
        }
    }
    return true;
}

// Units per stream of a copy of frames [first, first + count).
std::vector<int64_t> CopyUnits(qv::AviReader& source, int first, int count) {
    std::vector<int64_t> units{count};
    const double s = SamplesPerFrame(source);
    if (s != 0.0) {
        units.push_back(std::min(FirstSampleOf(s, first + count), source.Stream(1)->Length()) -
                        FirstSampleOf(s, first));
    }
    return units;
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

// ---------------------------------------------------------------------------

class AviWriterTest : public ::testing::Test {
  protected:
    void TearDown() override { qv::SetWriteFaults(nullptr); }

    std::string WriteSource(const std::string& name, const FixtureOptions& o,
                            const std::vector<FixtureFrame>& frames) {
        const std::string path = dir_.Path(name);
        EXPECT_TRUE(qvtest::WriteFixtureAvi(path, o, frames));
        return path;
    }
    std::unique_ptr<qv::AviReader> OpenSource(const std::string& name, const FixtureOptions& o,
                                              const std::vector<FixtureFrame>& frames) {
        auto reader = qv::OpenAviFile(WriteSource(name, o, frames));
        EXPECT_NE(reader, nullptr);
        return reader;
    }
    // Copies frames [first, first + count) of source into dest and finishes it.
    bool Copy(qv::AviReader& source, const std::string& dest, int first, int count,
              qv::WriterOptions options = {}) {
        auto writer = source.CreateWriter(dest, options);
        if (writer == nullptr) {
            ADD_FAILURE() << "no writer for " << dest;
            return false;
        }
        const bool copied = CopyFrames(source, *writer, first, count);
        EXPECT_TRUE(copied);
        const bool finished = writer->Finish(0);
        EXPECT_TRUE(finished);
        return copied && finished;
    }

    TempDir dir_;
};

FixtureOptions Options(DvType type, Generation generation, bool pal = true) {
    FixtureOptions o;
    o.type = type;
    o.generation = generation;
    o.pal = pal;
    return o;
}

// ---------------------------------------------------------------------------
// Every generation the writer produces, checked by our reader, the layout walk
// and ffmpeg.

enum class From { Fixture, FfmpegAvi };

struct GenerationCase {
    const char* name;
    From from;
    DvType type;
    Generation generation;  // of the fixture source
    bool pal;
    bool segments;  // a lowered segment limit: the copy spans several RIFFs
    bool forceOpenDml;
    const char* kind;  // of the output
};

void PrintTo(const GenerationCase& c, std::ostream* os) {
    *os << c.name;
}

class AviWriterGenerations : public AviWriterTest,
                             public ::testing::WithParamInterface<GenerationCase> {
  protected:
    void SetUp() override {
        std::string reason;
        dv_ = RealDvClips(&reason);
        ASSERT_NE(dv_, nullptr) << reason;
    }
    const RealDv* dv_ = nullptr;
};

TEST_P(AviWriterGenerations, CopyReadsBackAndFfmpegAgrees) {
    const GenerationCase& c = GetParam();
    constexpr int kFirst = 3;
    constexpr int kCount = 16;
    std::string sourcePath;
    if (c.from == From::FfmpegAvi) {
        sourcePath = dv_->palAvi;
    } else {
        FixtureOptions o = Options(c.type, c.generation, c.pal);
        // The source's own segments do not carry over: the writer decides its own.
        o.framesPerSegment = c.generation == Generation::Avi1 ? 0 : 7;
        const auto& real = c.pal ? dv_->pal : dv_->ntsc;
        auto frames = qvtest::MakePatternFrames(o, static_cast<int>(real.size()), 0);
        for (size_t i = 0; i < frames.size(); ++i) {
            frames[i].video = real[i];
        }
        sourcePath = WriteSource("source.avi", o, frames);
    }
    auto source = qv::OpenAviFile(sourcePath);
    ASSERT_NE(source, nullptr);
    ASSERT_GE(source->FrameCount(), kFirst + kCount);
    const std::vector<uint8_t> sourceBytes = ReadFileBytes(sourcePath);

    const std::string out = dir_.Path("scene.avi");
    qv::WriterOptions options;
    options.segmentLimit = c.segments ? kSmallSegments : qv::kSegmentLimit;
    options.forceOpenDml = c.forceOpenDml;
    ASSERT_TRUE(Copy(*source, out, kFirst, kCount, options));
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out)));
    EXPECT_TRUE(ReadFileBytes(sourcePath) == sourceBytes) << "the source changed";

    CheckReadsBack(*source, out, kFirst, kCount, c.kind);

    const std::string kind = c.kind;
    auto* riffSource = dynamic_cast<qv::RiffAviReader*>(source.get());
    ASSERT_NE(riffSource, nullptr);
    const Expected e = ExpectFor(*source, kind != "avi1", !riffSource->LegacyIndex().empty(),
                                 CopyUnits(*source, kFirst, kCount), options.segmentLimit);
    const Layout layout = CheckLayout(ReadFileBytes(out), e, *source);
    if (c.segments) {
        EXPECT_GE(layout.segments, 3) << "the copy should span several RIFF segments";
    } else {
        EXPECT_EQ(layout.segments, 1);
    }

    // ffprobe: the streams, their frame count and rate.
    const std::vector<ProbeFields> probe = Probe(out);
    ASSERT_EQ(probe.size(), 2u) << "ffprobe failed or found another stream layout";
    EXPECT_EQ(Field(probe[0], "codec_type"), "video");
    EXPECT_EQ(Field(probe[0], "codec_name"), "dvvideo");
    EXPECT_EQ(Field(probe[0], "nb_read_packets"), std::to_string(kCount));
    EXPECT_EQ(Field(probe[0], "r_frame_rate"), c.pal ? "25/1" : "30000/1001");
    EXPECT_EQ(Field(probe[1], "codec_type"), "audio");
    EXPECT_EQ(Field(probe[1], "sample_rate"), "48000");

    // ffmpeg decodes everything without a word, and finds the source's bytes.
    const FfmpegView view = AskFfmpeg(out);
    EXPECT_EQ(view.status, 0);
    EXPECT_EQ(view.messages, "") << "ffmpeg complained while decoding";
    std::vector<uint8_t> video;
    for (int f = kFirst; f < kFirst + kCount; ++f) {
        const auto frame = ReadFrame(*source->Stream(0), f);
        video.insert(video.end(), frame.begin(), frame.end());
    }
    EXPECT_TRUE(view.video == video) << "ffmpeg's video packets differ from the source frames";
    // Audio sample frames: trunc((first + n) * s) - trunc(first * s), s = 48000 / fps.
    const double s = 48000.0 / source->FramesPerSecond();
    const auto samples = FirstSampleOf(s, kFirst + kCount) - FirstSampleOf(s, kFirst);
    EXPECT_EQ(view.pcm.size(), static_cast<size_t>(samples) * 4) << "audio sample count";
    if (c.type == DvType::Type2) {
        EXPECT_TRUE(view.pcm == SourceAudio(*source, kFirst, kCount))
            << "ffmpeg's PCM differs from the source's audio";
    }
}

const GenerationCase kGenerations[] = {
    {"Type1Avi1", From::Fixture, DvType::Type1, Generation::Avi1, true, false, false, "avi1"},
    {"Type2Avi1", From::Fixture, DvType::Type2, Generation::Avi1, true, false, false, "avi1"},
    {"Type2Avi1FromFfmpeg", From::FfmpegAvi, DvType::Type2, Generation::Avi1, true, false, false,
     "avi1"},
    {"Type1Avi1ForcedAvix", From::Fixture, DvType::Type1, Generation::Avi1, true, true, true,
     "compat.odml-avi2"},
    {"Type2Avi1ForcedAvix", From::Fixture, DvType::Type2, Generation::Avi1, true, true, true,
     "compat.odml-avi2"},
    {"Type1OpenDml", From::Fixture, DvType::Type1, Generation::OpenDml, true, false, false,
     "odml-avi2"},
    {"Type2OpenDml", From::Fixture, DvType::Type2, Generation::OpenDml, true, false, false,
     "odml-avi2"},
    {"Type1OpenDmlAvix", From::Fixture, DvType::Type1, Generation::OpenDml, true, true, false,
     "odml-avi2"},
    {"Type2OpenDmlAvix", From::Fixture, DvType::Type2, Generation::OpenDml, true, true, false,
     "odml-avi2"},
    {"Type1Compat", From::Fixture, DvType::Type1, Generation::OpenDmlCompat, true, false, false,
     "compat.odml-avi2"},
    {"Type2Compat", From::Fixture, DvType::Type2, Generation::OpenDmlCompat, true, false, false,
     "compat.odml-avi2"},
    {"Type1CompatAvix", From::Fixture, DvType::Type1, Generation::OpenDmlCompat, true, true, false,
     "compat.odml-avi2"},
    {"Type2CompatAvix", From::Fixture, DvType::Type2, Generation::OpenDmlCompat, true, true, false,
     "compat.odml-avi2"},
    {"Type2CompatAvixNtsc", From::Fixture, DvType::Type2, Generation::OpenDmlCompat, false, true,
     false, "compat.odml-avi2"},
};

INSTANTIATE_TEST_SUITE_P(AviWriter, AviWriterGenerations, ::testing::ValuesIn(kGenerations),
                         [](const ::testing::TestParamInfo<GenerationCase>& p) {
                             return std::string(p.param.name);
                         });

// ---------------------------------------------------------------------------
// Layout details

// An AVI 1.0 source written without the OpenDML parts: whatever the writer does
// when the data outgrow one segment, a frame it accepted must be in the finished
// file, readable (an "AVIX" frame that only "idx1" could index would be lost).
TEST_F(AviWriterTest, Avi1OutputNeverHoldsUnindexedFrames) {
    const FixtureOptions o = Options(DvType::Type2, Generation::Avi1);
    auto source = OpenSource("source.avi", o, qvtest::MakePatternFrames(o, 20, 100000));
    ASSERT_NE(source, nullptr);
    const std::string out = dir_.Path("scene.avi");
    qv::WriterOptions options;
    options.segmentLimit = kSmallSegments;
    auto writer = source->CreateWriter(out, options);
    ASSERT_NE(writer, nullptr);
    int accepted = 0;
    CopyFrames(*source, *writer, 0, 20, &accepted);
    if (!writer->Finish(0)) {
        EXPECT_FALSE(fs::exists(out));
        return;
    }
    auto result = qv::OpenAviFile(out);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FrameCount(), accepted) << "frames accepted but not in the file";
    for (int f = 0; f < std::min(accepted, result->FrameCount()); ++f) {
        EXPECT_TRUE(ReadFrame(*result->Stream(0), f) == ReadFrame(*source->Stream(0), f)) << f;
    }
}

// The 1025th chunk of a stream starts a new standard index; the super index gains
// an entry whose dwDuration is the units of the full one.
TEST_F(AviWriterTest, StandardIndexHoldsAtMost1024Entries) {
    const FixtureOptions o = Options(DvType::Type2, Generation::OpenDmlCompat);
    auto source = OpenSource("source.avi", o, qvtest::MakePatternFrames(o, 2, 16));
    ASSERT_NE(source, nullptr);
    const std::vector<uint8_t> video = ReadFrame(*source->Stream(0), 0);
    const std::vector<uint8_t> audio = ReadAudio(*source->Stream(1), 0, 1920);  // one chunk of C
    constexpr int kChunks = 1100;
    const std::string out = dir_.Path("scene.avi");
    auto writer = source->CreateWriter(out);
    ASSERT_NE(writer, nullptr);
    for (int i = 0; i < kChunks; ++i) {
        ASSERT_TRUE(writer->WriteChunk(0, video.data(), static_cast<int64_t>(video.size()), 1))
            << i;
        ASSERT_TRUE(writer->WriteChunk(1, audio.data(), static_cast<int64_t>(audio.size()), 1920))
            << i;
    }
    ASSERT_TRUE(writer->Finish(0));

    const Expected e =
        ExpectFor(*source, true, true, {kChunks, int64_t{kChunks} * 1920}, qv::kSegmentLimit);
    const Layout layout = CheckLayout(ReadFileBytes(out), e, *source);
    ASSERT_EQ(layout.supers.size(), 2u);
    ASSERT_EQ(layout.supers[0].size(), 2u);
    EXPECT_EQ(layout.supers[0][0].entries, 1024u);
    EXPECT_EQ(layout.supers[0][0].duration, 1024u);
    EXPECT_EQ(layout.supers[0][1].entries, 76u);
    EXPECT_EQ(layout.supers[0][1].duration, 76u);
    ASSERT_EQ(layout.supers[1].size(), 2u);
    EXPECT_EQ(layout.supers[1][0].entries, 1024u);
    EXPECT_EQ(layout.supers[1][0].duration, 1024u * 1920u);
    EXPECT_EQ(layout.supers[1][1].entries, 76u);
    EXPECT_EQ(layout.supers[1][1].duration, 76u * 1920u);

    auto result = qv::OpenAviFile(out);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FrameCount(), kChunks);
    EXPECT_TRUE(ReadFrame(*result->Stream(0), 1024) == video);
    EXPECT_EQ(result->Stream(1)->Length(), kChunks * 1920);
}

// A JUNK that would be shorter than its 8-byte header grows by 2048 bytes. The
// source's video format is lengthened until the padding before the super index
// (OpenDML) or before "movi" (AVI 1.0) comes out at 4 bytes.
TEST_F(AviWriterTest, JunkShorterThanItsHeaderGrowsBy2048) {
    for (Generation generation : {Generation::Avi1, Generation::OpenDml}) {
        SCOPED_TRACE(generation == Generation::Avi1 ? "avi1" : "odml");
        const std::string before = generation == Generation::Avi1 ? "movi" : "indx";
        // The JUNK chunk in front of that chunk, in a copy of a source with
        // extra bytes of video format; -1 when there is none.
        auto junkBefore = [&](int extra) -> int64_t {
            FixtureOptions o = Options(DvType::Type1, generation);
            o.videoFormatExtra = extra;
            const std::string name = "source" + std::to_string(extra) + ".avi";
            auto source = OpenSource(name, o, qvtest::MakePatternFrames(o, 1, 100));
            if (source == nullptr) {
                return -2;
            }
            const std::string out = dir_.Path("scene" + std::to_string(extra) + ".avi");
            if (!Copy(*source, out, 0, 1)) {
                return -2;
            }
            const auto bytes = ReadFileBytes(out);
            // Type-1 AVI 1.0 fixtures have "idx1", plain OpenDML ones not.
            const auto e = ExpectFor(*source, generation != Generation::Avi1,
                                     generation == Generation::Avi1, {1}, qv::kSegmentLimit);
            const Layout layout = CheckLayout(bytes, e, *source);
            int64_t junk = -1;
            ForEachChunk(layout.tree.top, [&](const Chunk& c) {
                if (c.id == "JUNK" && c.End() + 8 <= bytes.size() &&
                    (CodeAt(bytes, c.End()) == before || CodeAt(bytes, c.End() + 8) == before)) {
                    junk = 8 + int64_t{c.size};
                }
            });
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
    const FixtureOptions o = Options(DvType::Type2, Generation::OpenDmlCompat, false);
    const auto frames = qvtest::MakePatternFrames(o, 30, 20000);
    auto source = OpenSource("source.avi", o, frames);
    ASSERT_NE(source, nullptr);
    uint32_t largest = 0;
    for (const auto& f : frames) {
        largest = std::max(largest, static_cast<uint32_t>(f.audio.size()));
    }
    ASSERT_EQ(largest, 6408u);
    for (uint32_t limit : {qv::kSegmentLimit, uint32_t{150000}}) {
        SCOPED_TRACE("segment limit " + std::to_string(limit));
        const std::string out = dir_.Path("scene" + std::to_string(limit) + ".avi");
        qv::WriterOptions options;
        options.segmentLimit = limit;
        auto writer = source->CreateWriter(out, options);
        ASSERT_NE(writer, nullptr);
        const double s = SamplesPerFrame(*source);
        std::vector<int64_t> audioBefore;  // units handed over before each video chunk
        for (int f = 0; f < 30; ++f) {
            audioBefore.push_back(FirstSampleOf(s, f));
            const auto video = ReadFrame(*source->Stream(0), f);
            ASSERT_TRUE(writer->WriteChunk(0, video.data(), static_cast<int64_t>(video.size()), 1));
            const int z = FirstSampleOf(s, f + 1);
            for (int a = FirstSampleOf(s, f); a < z; a += slice) {
                const int n = std::min(slice, z - a);
                const auto audio = ReadAudio(*source->Stream(1), a, n);
                ASSERT_TRUE(
                    writer->WriteChunk(1, audio.data(), static_cast<int64_t>(audio.size()), n));
            }
        }
        ASSERT_TRUE(writer->Finish(0));

        const auto units = CopyUnits(*source, 0, 30);
        const Layout layout =
            CheckLayout(ReadFileBytes(out), ExpectFor(*source, true, true, units, limit), *source);
        if (limit != qv::kSegmentLimit) {
            EXPECT_GE(layout.segments, 3);
        }
        // A segment ends with all the audio handed over before the video chunk that
        // began the next one.
        int64_t videoChunks = 0;
        int64_t samples = 0;
        for (size_t i = 0; i < layout.chunks.size(); ++i) {
            const DataChunk& c = layout.chunks[i];
            videoChunks += c.stream == 0;
            samples += c.stream == 1 ? c.size / 4 : 0;
            const bool segmentEnds =
                i + 1 < layout.chunks.size() && layout.chunks[i + 1].segment != c.segment;
            if (segmentEnds && videoChunks < 30) {
                EXPECT_EQ(samples, audioBefore[static_cast<size_t>(videoChunks)])
                    << "audio left over at the end of segment " << c.segment;
            }
        }
        std::vector<DataChunk> audio;
        for (const DataChunk& c : layout.chunks) {
            if (c.stream == 1) {
                audio.push_back(c);
            }
        }
        ASSERT_FALSE(audio.empty());
        for (size_t i = 0; i < audio.size(); ++i) {
            const bool lastOfSegment =
                i + 1 == audio.size() || audio[i + 1].segment != audio[i].segment;
            EXPECT_LE(audio[i].size, largest) << "audio chunk " << i;
            if (!lastOfSegment) {
                EXPECT_GE(audio[i].size, largest - 8) << "audio chunk " << i;
            }
            EXPECT_EQ(audio[i].size % 4, 0u) << "audio chunk " << i << " splits a sample frame";
        }
        CheckReadsBack(*source, out, 0, 30, "compat.odml-avi2");
    }
}

INSTANTIATE_TEST_SUITE_P(AviWriter, AviWriterAudio, ::testing::Values(1, 1000, 1601, 4801),
                         [](const ::testing::TestParamInfo<int>& p) {
                             return "Slices" + std::to_string(p.param);
                         });

// Handed C + 1000 bytes at once, the writer writes one chunk of C and keeps 1000
// bytes until the file is finished.
TEST_F(AviWriterTest, AudioBeyondTheLargestChunkWaitsForMore) {
    const FixtureOptions o = Options(DvType::Type2, Generation::Avi1);
    const auto frames = qvtest::MakePatternFrames(o, 3, 1000);
    auto source = OpenSource("source.avi", o, frames);
    ASSERT_NE(source, nullptr);
    constexpr int kC = 7680;  // 1920 stereo 16-bit sample frames
    ASSERT_EQ(frames[0].audio.size(), size_t{kC});
    const auto video = ReadFrame(*source->Stream(0), 0);
    const auto audio = ReadAudio(*source->Stream(1), 0, (kC + 1000) / 4);

    const std::string out = dir_.Path("scene.avi");
    auto writer = source->CreateWriter(out);
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(writer->WriteChunk(0, video.data(), static_cast<int64_t>(video.size()), 1));
    ASSERT_TRUE(writer->WriteChunk(1, audio.data(), kC + 1000, (kC + 1000) / 4));
    EXPECT_TRUE(writer->FlushBuffers());

    // The unfinished file, walked chunk by chunk from the movi list type: the data
    // chunks carry their real sizes already.
    const auto partial = ReadFileBytes(writer->TemporaryName());
    const size_t movi = qvtest::FindFourCC(partial, "movi");
    ASSERT_NE(movi, qvtest::kNotFound);
    std::vector<std::pair<std::string, uint32_t>> written;
    for (uint64_t at = movi + 4; at + 8 <= partial.size();) {
        const uint32_t size = Le32At(partial, at + 4);
        written.emplace_back(CodeAt(partial, at), size);
        at += 8 + uint64_t{size} + size % 2;
    }
    const std::vector<std::pair<std::string, uint32_t>> expected = {{"00dc", 1000}, {"01wb", kC}};
    EXPECT_EQ(written, expected);

    ASSERT_TRUE(writer->Finish(0));
    const Layout layout = CheckLayout(
        ReadFileBytes(out),
        ExpectFor(*source, false, true, {1, (kC + 1000) / 4}, qv::kSegmentLimit), *source);
    std::vector<uint32_t> audioSizes;
    for (const DataChunk& c : layout.chunks) {
        if (c.stream == 1) {
            audioSizes.push_back(c.size);
        }
    }
    EXPECT_EQ(audioSizes, (std::vector<uint32_t>{kC, 1000}));
    auto result = qv::OpenAviFile(out);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(ReadAudio(*result->Stream(1), 0, (kC + 1000) / 4) == audio);
}

// ---------------------------------------------------------------------------
// Chunks the writer refuses or pads

TEST_F(AviWriterTest, RefusesBadStreamsUnitsAndSizes) {
    const FixtureOptions o = Options(DvType::Type2, Generation::OpenDmlCompat);
    auto source = OpenSource("source.avi", o, qvtest::MakePatternFrames(o, 2, 1000));
    ASSERT_NE(source, nullptr);
    const std::string out = dir_.Path("scene.avi");
    auto writer = source->CreateWriter(out);
    ASSERT_NE(writer, nullptr);
    const auto video = ReadFrame(*source->Stream(0), 0);
    const auto audio = ReadAudio(*source->Stream(1), 0, 1920);
    ASSERT_TRUE(writer->WriteChunk(0, video.data(), 1000, 1));
    ASSERT_TRUE(writer->FlushBuffers());
    const auto size = fs::file_size(writer->TemporaryName());

    EXPECT_FALSE(writer->WriteChunk(-1, video.data(), 1000, 1));
    EXPECT_FALSE(writer->WriteChunk(2, video.data(), 1000, 1));
    EXPECT_FALSE(writer->WriteChunk(1000, video.data(), 1000, 1));
    EXPECT_FALSE(writer->WriteChunk(0, video.data(), 1000, 0)) << "data without units";
    EXPECT_FALSE(writer->WriteChunk(1, audio.data(), 7680, 0)) << "audio without units";
    EXPECT_FALSE(writer->WriteChunk(0, video.data(), 1000, -1)) << "negative units";
    EXPECT_FALSE(writer->WriteChunk(1, audio.data(), 7680, -5)) << "negative units";
    EXPECT_FALSE(writer->WriteChunk(0, video.data(), -1000, 1)) << "negative size";
    EXPECT_EQ(fs::file_size(writer->TemporaryName()), size) << "a refused chunk wrote something";

    ASSERT_TRUE(writer->WriteChunk(1, audio.data(), 7680, 1920));
    ASSERT_TRUE(writer->Finish(0));
    CheckLayout(ReadFileBytes(out), ExpectFor(*source, true, true, {1, 1920}, qv::kSegmentLimit),
                *source);
    CheckReadsBack(*source, out, 0, 1, "compat.odml-avi2");
}

// Chunks of odd size get their pad byte: the next chunk starts on an even position,
// the indexes keep the real size, and the file walks.
TEST_F(AviWriterTest, OddChunkGetsItsPadByte) {
    for (Generation generation : {Generation::Avi1, Generation::OpenDmlCompat}) {
        const bool odml = generation != Generation::Avi1;
        SCOPED_TRACE(odml ? "compat" : "avi1");
        FixtureOptions o = Options(DvType::Type1, generation);
        std::vector<FixtureFrame> frames = qvtest::MakePatternFrames(o, 4, 1000);
        frames[0].video.resize(1001);
        frames[1].video.resize(999);
        frames[2].video.resize(1);
        auto source = OpenSource(odml ? "compat.avi" : "avi1.avi", o, frames);
        ASSERT_NE(source, nullptr);
        const std::string out = dir_.Path(odml ? "compat-out.avi" : "avi1-out.avi");
        ASSERT_TRUE(Copy(*source, out, 0, 4));
        const auto bytes = ReadFileBytes(out);
        const Layout layout =
            CheckLayout(bytes, ExpectFor(*source, odml, true, {4}, qv::kSegmentLimit), *source);
        ASSERT_EQ(layout.chunks.size(), 4u);
        for (const DataChunk& c : layout.chunks) {
            EXPECT_EQ(c.offset % 2, 0u) << "chunk at " << c.offset;
        }
        EXPECT_EQ(layout.chunks[0].size, 1001u);
        EXPECT_EQ(bytes[layout.chunks[0].offset + 8 + 1001], 0) << "pad byte";
        CheckReadsBack(*source, out, 0, 4, odml ? "compat.odml-avi2" : "avi1");
    }
}

// A damaged standard index that gives the audio the video's chunk id ("00dc"): the
// copy names each stream's chunks by its own number, so that reading the copy back
// does not take audio chunks for frames.
TEST_F(AviWriterTest, ChunkIdOfAnotherStreamIsNotCopied) {
    const FixtureOptions o = Options(DvType::Type2, Generation::OpenDml);
    const std::vector<FixtureFrame> frames = qvtest::MakePatternFrames(o, 3, 200);
    const std::string path = WriteSource("wrong-id.avi", o, frames);
    auto bytes = ReadFileBytes(path);
    const size_t ix01 = qvtest::FindFourCC(bytes, "ix01");
    ASSERT_NE(ix01, qvtest::kNotFound);
    ASSERT_TRUE(qvtest::PatchFile(path, ix01 + 16, {'0', '0', 'd', 'c'}));  // dwChunkId
    auto source = qv::OpenAviFile(path);
    ASSERT_NE(source, nullptr);
    ASSERT_EQ(source->FrameCount(), 3);

    const std::string out = dir_.Path("wrong-id-out.avi");
    ASSERT_TRUE(Copy(*source, out, 0, 2));
    const auto copy = ReadFileBytes(out);
    EXPECT_NE(qvtest::FindFourCC(copy, "01wb"), qvtest::kNotFound);
    auto reread = qv::OpenAviFile(out);
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(reread->FrameCount(), 2);
    EXPECT_FALSE(reread->IndexRebuilt());
}

// A stream that would need more than the 1024 standard indexes of its super index
// (1,048,576 chunks) gets its further chunks refused; the file stays sound.
TEST_F(AviWriterTest, ChunksBeyondTheSuperIndexAreRefused) {
    const FixtureOptions o = Options(DvType::Type1, Generation::OpenDml);
    auto source = OpenSource("source.avi", o, qvtest::MakePatternFrames(o, 1, 2));
    ASSERT_NE(source, nullptr);
    const std::string out = dir_.Path("scene.avi");
    auto writer = source->CreateWriter(out);
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

    const auto bytes = ReadFileBytes(out);
    const size_t indx = qvtest::FindFourCC(bytes, "indx");
    ASSERT_NE(indx, qvtest::kNotFound);
    EXPECT_EQ(Le32At(bytes, indx + 12), 1024u) << "nEntriesInUse of the super index";
    for (uint64_t k = 0; k < 1024; ++k) {
        const uint64_t at = indx + 32 + 16 * k;
        ASSERT_EQ(Le32At(bytes, at + 8), kStandardIndexBytes) << "dwSize of entry " << k;
        ASSERT_EQ(Le32At(bytes, at + 12), 1024u) << "dwDuration of entry " << k;
        ASSERT_EQ(CodeAt(bytes, Le64At(bytes, at)), "ix00") << "entry " << k;
    }
    // The super index ends its "strl"; the "odml" list after it is intact, not
    // overwritten by a 1025th entry.
    EXPECT_EQ(CodeAt(bytes, indx + kSuperIndexBytes), "LIST");
    EXPECT_EQ(CodeAt(bytes, indx + kSuperIndexBytes + 8), "odml");
    // The refused chunks count nowhere: strh dwLength and dmlh dwTotalFrames.
    const size_t strh = qvtest::FindFourCC(bytes, "strh");
    const size_t dmlh = qvtest::FindFourCC(bytes, "dmlh");
    ASSERT_NE(strh, qvtest::kNotFound);
    ASSERT_NE(dmlh, qvtest::kNotFound);
    EXPECT_EQ(Le32At(bytes, strh + 8 + 32), uint32_t{kMost}) << "strh dwLength";
    EXPECT_EQ(Le32At(bytes, dmlh + 8), uint32_t{kMost}) << "dmlh dwTotalFrames";
    auto result = qv::OpenAviFile(out);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->Kind(), "odml-avi2");
    EXPECT_EQ(result->FrameCount(), kMost);
    EXPECT_EQ(ReadFrame(*result->Stream(0), kMost - 1), std::vector<uint8_t>(frame, frame + 2));
}

// ---------------------------------------------------------------------------
// Finishing, naming, replacing

TEST_F(AviWriterTest, WritesUnderTheTemporaryNameUntilFinished) {
    const FixtureOptions o = Options(DvType::Type2, Generation::OpenDmlCompat);
    const std::string sourcePath =
        WriteSource("source.avi", o, qvtest::MakePatternFrames(o, 5, 1000));
    auto source = qv::OpenAviFile(sourcePath);
    ASSERT_NE(source, nullptr);
    const auto sourceBytes = ReadFileBytes(sourcePath);
    const std::string out = dir_.Path("scene.avi");
    const std::vector<uint8_t> old(300000, 'x');  // longer than the copy
    ASSERT_TRUE(qvtest::WriteFileBytes(out, old));

    auto writer = source->CreateWriter(out);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->TemporaryName(), qv::TemporaryNameFor(out));
    EXPECT_NE(writer->TemporaryName(), out);
    EXPECT_EQ(fs::path(writer->TemporaryName()).parent_path(), fs::path(out).parent_path())
        << "the temporary file must lie beside the destination, on the same file system";
    EXPECT_TRUE(fs::exists(writer->TemporaryName()));
    ASSERT_TRUE(CopyFrames(*source, *writer, 0, 5));
    EXPECT_TRUE(ReadFileBytes(out) == old) << "the destination changed before Finish";

    constexpr int64_t kWhen = 1089800430;  // 2004-07-14 10:20:30 UTC
    ASSERT_TRUE(writer->Finish(kWhen));
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out)));
    int64_t mtime = 0;
    ASSERT_TRUE(qv::GetModificationTime(out, &mtime));
    EXPECT_EQ(mtime, kWhen);
    const auto bytes = ReadFileBytes(out);
    EXPECT_EQ(bytes.size(), 8 + uint64_t{Le32At(bytes, 4)}) << "old bytes left behind the new file";
    CheckLayout(bytes, ExpectFor(*source, true, true, CopyUnits(*source, 0, 5), qv::kSegmentLimit),
                *source);
    CheckReadsBack(*source, out, 0, 5, "compat.odml-avi2");
    EXPECT_TRUE(ReadFileBytes(sourcePath) == sourceBytes);

    // A finished writer takes no more data, and the file it named stays as it is.
    const auto video = ReadFrame(*source->Stream(0), 0);
    EXPECT_FALSE(writer->WriteChunk(0, video.data(), static_cast<int64_t>(video.size()), 1));
    writer.reset();
    EXPECT_TRUE(ReadFileBytes(out) == bytes) << "the finished file changed afterwards";
}

TEST_F(AviWriterTest, FinishWithoutTimeLeavesTheModificationTime) {
    const FixtureOptions o = Options(DvType::Type1, Generation::Avi1);
    auto source = OpenSource("source.avi", o, qvtest::MakePatternFrames(o, 2, 1000));
    ASSERT_NE(source, nullptr);
    const std::string out = dir_.Path("scene.avi");
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    ASSERT_TRUE(Copy(*source, out, 0, 2));
    int64_t mtime = 0;
    ASSERT_TRUE(qv::GetModificationTime(out, &mtime));
    EXPECT_GE(mtime, before - 2);
    EXPECT_LE(mtime, static_cast<int64_t>(std::time(nullptr)) + 2);
}

// A temporary file left by a copy that was killed does not block the next copy.
TEST_F(AviWriterTest, LeftoverTemporaryFileIsReplaced) {
    const FixtureOptions o = Options(DvType::Type1, Generation::Avi1);
    auto source = OpenSource("source.avi", o, qvtest::MakePatternFrames(o, 2, 1000));
    ASSERT_NE(source, nullptr);
    const std::string out = dir_.Path("scene.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(qv::TemporaryNameFor(out), std::vector<uint8_t>(5000, 'y')));
    ASSERT_TRUE(Copy(*source, out, 0, 2));
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out)));
    CheckReadsBack(*source, out, 0, 2, "avi1");
}

// The temporary name of a destination may be taken by a file of the user's,
// even by the very source being copied: it is never removed or overwritten.
TEST_F(AviWriterTest, SourceUnderTheTemporaryNameIsNeverTouched) {
    const std::string out = dir_.Path("scene.avi");
    const std::string sourcePath = qv::TemporaryNameFor(out);
    const FixtureOptions o = Options(DvType::Type1, Generation::Avi1);
    ASSERT_TRUE(qvtest::WriteFixtureAvi(sourcePath, o, qvtest::MakePatternFrames(o, 3, 1000)));
    const auto sourceBytes = ReadFileBytes(sourcePath);
    auto source = qv::OpenAviFile(sourcePath);
    ASSERT_NE(source, nullptr);
    auto writer = source->CreateWriter(out);
    if (writer != nullptr) {
        EXPECT_NE(writer->TemporaryName(), sourcePath);
        CopyFrames(*source, *writer, 0, 3);
        writer->Finish(0);
        writer.reset();
    }
    ASSERT_TRUE(fs::exists(sourcePath)) << "the source was removed";
    EXPECT_TRUE(ReadFileBytes(sourcePath) == sourceBytes) << "the source changed";
}

// A copy never replaces the file it is made from, however its name is spelt.
TEST_F(AviWriterTest, SourceIsNeverReplacedByItsCopy) {
    const FixtureOptions o = Options(DvType::Type2, Generation::OpenDmlCompat);
    for (bool respelt : {false, true}) {
        SCOPED_TRACE(respelt ? "the name spelt another way" : "the same name");
        const std::string name = respelt ? "respelt.avi" : "same.avi";
        const std::string sourcePath = WriteSource(name, o, qvtest::MakePatternFrames(o, 4, 1000));
        const std::string dest = respelt ? (dir_.Dir() / "." / name).string() : sourcePath;
        const auto sourceBytes = ReadFileBytes(sourcePath);
        auto source = qv::OpenAviFile(sourcePath);
        ASSERT_NE(source, nullptr);
        auto writer = source->CreateWriter(dest);
        if (writer != nullptr) {
            CopyFrames(*source, *writer, 1, 2);
            EXPECT_FALSE(writer->Finish(0)) << "the source was replaced by a copy of itself";
            writer.reset();
        }
        EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(dest)));
        EXPECT_TRUE(ReadFileBytes(sourcePath) == sourceBytes) << "the source changed";
    }
}

TEST_F(AviWriterTest, DestroyingAnUnfinishedWriterRemovesItsFile) {
    const FixtureOptions o = Options(DvType::Type2, Generation::OpenDml);
    auto source = OpenSource("source.avi", o, qvtest::MakePatternFrames(o, 3, 1000));
    ASSERT_NE(source, nullptr);
    const std::string out = dir_.Path("scene.avi");
    auto writer = source->CreateWriter(out);
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(CopyFrames(*source, *writer, 0, 3));
    writer.reset();
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out)));
    EXPECT_FALSE(fs::exists(out));
}

// ---------------------------------------------------------------------------
// Sources the writer cannot copy, destinations it cannot create

// Shortens the first chunk named id to size data bytes; the bytes cut off become a
// JUNK chunk, so that the rest of the file walks as before.
void ShortenChunk(std::vector<uint8_t>& bytes, const std::string& id, uint32_t size) {
    const size_t at = qvtest::FindFourCC(bytes, id);
    ASSERT_NE(at, qvtest::kNotFound);
    const uint32_t old = GetLe32(bytes, at + 4);
    ASSERT_EQ(size % 2, 0u);
    ASSERT_GE(old, size + 8);
    qvtest::PutLe32(bytes, at + 4, size);
    const size_t junk = at + 8 + size;
    bytes[junk] = 'J';
    bytes[junk + 1] = 'U';
    bytes[junk + 2] = 'N';
    bytes[junk + 3] = 'K';
    qvtest::PutLe32(bytes, junk + 4, old - size - 8);
}

struct ShortHeader {
    const char* name;
    DvType type;
    Generation generation;
    const char* id;  // the chunk shortened
    int dataBytes;   // its new data size; -1: the chunk is missing
    bool usable;     // whether the writer can still complete its fields
};

void PrintTo(const ShortHeader& c, std::ostream* os) {
    *os << c.name;
}

class AviWriterShortHeaders : public AviWriterTest,
                              public ::testing::WithParamInterface<ShortHeader> {};

TEST_P(AviWriterShortHeaders, CreateWriterRefusesHeadersItCannotComplete) {
    const ShortHeader& c = GetParam();
    const FixtureOptions o = Options(c.type, c.generation);
    auto bytes = qvtest::BuildFixtureAvi(o, qvtest::MakePatternFrames(o, 3, 1000));
    if (c.dataBytes < 0) {
        const size_t at = qvtest::FindFourCC(bytes, c.id);
        ASSERT_NE(at, qvtest::kNotFound);
        std::copy_n("JUNK", 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
        ShortenChunk(bytes, c.id, static_cast<uint32_t>(c.dataBytes));
    }
    const std::string path = dir_.Path("source.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, bytes));
    auto source = qv::OpenAviFile(path);
    ASSERT_NE(source, nullptr);
    const std::string out = dir_.Path("scene.avi");
    auto writer = source->CreateWriter(out);
    if (!c.usable) {
        EXPECT_EQ(writer, nullptr);
        EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out)));
        EXPECT_FALSE(fs::exists(out));
        return;
    }
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(CopyFrames(*source, *writer, 0, 3));
    ASSERT_TRUE(writer->Finish(0));
    auto result = qv::OpenAviFile(out);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->FrameCount(), 3);
    // The header that was kept short still gets its count.
    const auto written = ReadFileBytes(out);
    const size_t at = qvtest::FindFourCC(written, c.id);
    ASSERT_NE(at, qvtest::kNotFound);
    const std::string id = c.id;
    if (id == "avih") {
        EXPECT_EQ(Le32At(written, at + 8 + 16), 3u) << "avih dwTotalFrames";
    } else if (id == "dmlh") {
        EXPECT_EQ(Le32At(written, at + 8), 3u) << "dmlh dwTotalFrames";
    } else {
        EXPECT_EQ(Le32At(written, at + 8 + 32), 3u) << "strh dwLength";
    }
}

const ShortHeader kShortHeaders[] = {
    {"NoAvih", DvType::Type1, Generation::Avi1, "avih", -1, false},
    {"Avih26", DvType::Type1, Generation::Avi1, "avih", 18, false},
    {"Avih28", DvType::Type1, Generation::Avi1, "avih", 20, true},
    {"Dmlh10", DvType::Type1, Generation::OpenDml, "dmlh", 2, false},
    {"Dmlh12", DvType::Type1, Generation::OpenDml, "dmlh", 4, true},
    {"NoStrh", DvType::Type1, Generation::Avi1, "strh", -1, false},
    {"Strh42", DvType::Type1, Generation::Avi1, "strh", 34, false},
    {"Strh44", DvType::Type1, Generation::OpenDmlCompat, "strh", 36, true},
};

INSTANTIATE_TEST_SUITE_P(AviWriter, AviWriterShortHeaders, ::testing::ValuesIn(kShortHeaders),
                         [](const ::testing::TestParamInfo<ShortHeader>& p) {
                             return std::string(p.param.name);
                         });

TEST_F(AviWriterTest, AudioStreamHeaderTooShortIsRefused) {
    const FixtureOptions o = Options(DvType::Type2, Generation::Avi1);
    auto bytes = qvtest::BuildFixtureAvi(o, qvtest::MakePatternFrames(o, 3, 1000));
    // The second "strh" is the audio stream's: cut it down to 42 bytes.
    const size_t first = qvtest::FindFourCC(bytes, "strh");
    ASSERT_NE(first, qvtest::kNotFound);
    const size_t second = qvtest::FindFourCC(bytes, "strh", first + 4);
    ASSERT_NE(second, qvtest::kNotFound);
    std::vector<uint8_t> tail(bytes.begin() + static_cast<std::ptrdiff_t>(second), bytes.end());
    ShortenChunk(tail, "strh", 34);
    std::copy(tail.begin(), tail.end(), bytes.begin() + static_cast<std::ptrdiff_t>(second));
    const std::string path = dir_.Path("source.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, bytes));
    auto source = qv::OpenAviFile(path);
    ASSERT_NE(source, nullptr);
    ASSERT_EQ(source->StreamCount(), 2);
    EXPECT_EQ(source->CreateWriter(dir_.Path("scene.avi")), nullptr);
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(dir_.Path("scene.avi"))));
}

TEST_F(AviWriterTest, CreateWriterFailsWhenTheFileCannotBeCreated) {
    const FixtureOptions o = Options(DvType::Type1, Generation::Avi1);
    auto source = OpenSource("source.avi", o, qvtest::MakePatternFrames(o, 1, 1000));
    ASSERT_NE(source, nullptr);
    const std::string out = dir_.Path("missing-folder/scene.avi");
    EXPECT_EQ(source->CreateWriter(out), nullptr);
    EXPECT_FALSE(fs::exists(dir_.Path("missing-folder")));
}

// ---------------------------------------------------------------------------
// Data safety: a write, flush or rename that fails anywhere makes the copy fail,
// leaves no file behind, keeps an existing destination as it was until a finished
// copy replaces it, and never touches the source.

enum class Fault { FailWrite, ShortWrite };

struct FaultCase {
    const char* name;
    Fault fault;
    bool failAllAfter;  // a full disk: every later write fails too
    bool destExists;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class AviWriterFaults : public AviWriterTest, public ::testing::WithParamInterface<FaultCase> {
  protected:
    static constexpr int kFrames = 10;
    static constexpr uint32_t kLimit = 60000;  // about 4 frames a segment

    void SetUp() override {
        const FixtureOptions o = Options(DvType::Type2, Generation::OpenDmlCompat);
        sourcePath_ = WriteSource("source.avi", o, qvtest::MakePatternFrames(o, kFrames, 2000));
        source_ = qv::OpenAviFile(sourcePath_);
        ASSERT_NE(source_, nullptr);
        sourceBytes_ = ReadFileBytes(sourcePath_);
        dest_ = dir_.Path("scene.avi");
    }

    // One copy of every frame under faults; the writer is gone on return. When a
    // chunk is refused the copy is abandoned, or, with finishAfterRefusal, finished
    // anyway (which must fail). True when the copy reported success.
    bool CopyUnder(qv::WriteFaults* faults, bool finishAfterRefusal) {
        qv::SetWriteFaults(faults);
        qv::WriterOptions options;
        options.segmentLimit = kLimit;
        auto writer = source_->CreateWriter(dest_, options);
        if (writer == nullptr) {
            qv::SetWriteFaults(nullptr);
            CheckNothingLeft("after CreateWriter failed");
            return false;
        }
        const bool copied = CopyFrames(*source_, *writer, 0, kFrames);
        bool finished = false;
        if (copied || finishAfterRefusal) {
            finished = writer->Finish(0);
            if (!finished) {
                qv::SetWriteFaults(nullptr);
                CheckNothingLeft("after Finish failed");
            }
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
        EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(dest_))) << "the temporary file remains";
        if (oldDest_) {
            EXPECT_TRUE(ReadFileBytes(dest_) == *oldDest_) << "the existing destination changed";
        } else {
            EXPECT_FALSE(fs::exists(dest_)) << "a destination appeared";
        }
    }

    void PutOldDestination() {
        oldDest_ = std::vector<uint8_t>(5000, 'o');
        ASSERT_TRUE(qvtest::WriteFileBytes(dest_, *oldDest_));
    }

    std::string sourcePath_;
    std::unique_ptr<qv::AviReader> source_;
    std::vector<uint8_t> sourceBytes_;
    std::string dest_;
    std::optional<std::vector<uint8_t>> oldDest_;
};

TEST_P(AviWriterFaults, EveryWriteThatFailsFailsTheCopy) {
    const FaultCase& c = GetParam();
    // A clean run counts the writes of one copy.
    qv::WriteFaults counting;
    ASSERT_TRUE(CopyUnder(&counting, false));
    const int64_t writes = counting.writes;
    ASSERT_GT(writes, 20);
    ASSERT_TRUE(qv::RemoveFile(dest_));
    if (c.destExists) {
        PutOldDestination();
    }

    for (int64_t n = 0; n < writes; ++n) {
        SCOPED_TRACE("write " + std::to_string(n) + " of " + std::to_string(writes));
        qv::WriteFaults faults;
        (c.fault == Fault::FailWrite ? faults.failWriteAt : faults.shortWriteAt) = n;
        faults.failAllWritesAfter = c.failAllAfter;
        // Half the time the caller finishes after a refused chunk anyway: a file
        // with a failed write in it must never be finished.
        const bool finishAfterRefusal = n % 2 == 1;
        EXPECT_FALSE(CopyUnder(&faults, finishAfterRefusal)) << "the copy reported success";
        EXPECT_GE(faults.writes, n + 1) << "the failing write never came";
        if (HasFailure()) {
            break;  // one place is enough to report
        }
    }
    EXPECT_TRUE(ReadFileBytes(sourcePath_) == sourceBytes_) << "the source changed";

    // And with nothing failing the copy replaces the destination.
    qv::WriteFaults none;
    ASSERT_TRUE(CopyUnder(&none, false));
    EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(dest_)));
    CheckReadsBack(*source_, dest_, 0, kFrames, "compat.odml-avi2");
}

const FaultCase kFaults[] = {
    {"DiskFullOverExistingFile", Fault::FailWrite, true, true},
    {"OneFailedWrite", Fault::FailWrite, false, false},
    {"ShortWriteThenDiskFull", Fault::ShortWrite, true, false},
    {"OneShortWriteOverExistingFile", Fault::ShortWrite, false, true},
};

INSTANTIATE_TEST_SUITE_P(AviWriter, AviWriterFaults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& p) {
                             return std::string(p.param.name);
                         });

TEST_F(AviWriterTest, FailedFlushOrRenameFailsTheCopy) {
    const FixtureOptions o = Options(DvType::Type1, Generation::OpenDmlCompat);
    const std::string sourcePath =
        WriteSource("source.avi", o, qvtest::MakePatternFrames(o, 4, 1000));
    auto source = qv::OpenAviFile(sourcePath);
    ASSERT_NE(source, nullptr);
    const auto sourceBytes = ReadFileBytes(sourcePath);
    const std::string out = dir_.Path("scene.avi");
    for (bool destExists : {false, true}) {
        for (bool flush : {true, false}) {
            SCOPED_TRACE(std::string(flush ? "flush" : "rename") +
                         (destExists ? ", existing destination" : ""));
            const std::vector<uint8_t> old(3000, 'o');
            if (destExists) {
                ASSERT_TRUE(qvtest::WriteFileBytes(out, old));
            }
            qv::WriteFaults faults;
            faults.failFlush = flush;
            faults.failRename = !flush;
            qv::SetWriteFaults(&faults);
            auto writer = source->CreateWriter(out);
            ASSERT_NE(writer, nullptr);
            ASSERT_TRUE(CopyFrames(*source, *writer, 0, 4));
            if (flush) {
                EXPECT_FALSE(writer->FlushBuffers());
            }
            EXPECT_FALSE(writer->Finish(0));
            qv::SetWriteFaults(nullptr);
            EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out)));
            writer.reset();
            EXPECT_FALSE(fs::exists(qv::TemporaryNameFor(out)));
            if (destExists) {
                EXPECT_TRUE(ReadFileBytes(out) == old);
                ASSERT_TRUE(qv::RemoveFile(out));
            } else {
                EXPECT_FALSE(fs::exists(out));
            }
        }
    }
    EXPECT_TRUE(ReadFileBytes(sourcePath) == sourceBytes);
}

}  // namespace
