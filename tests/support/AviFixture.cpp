#include "support/AviFixture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

namespace qvtest {

namespace {

constexpr uint32_t kAvifHasIndex = 0x10;       // avih dwFlags: an "idx1" follows "movi"
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kAviifKeyFrame = 0x10;      // idx1 dwFlags
constexpr uint32_t kNotKeyFrame = 0x80000000u;  // standard index dwSize bit 31

// Bytes that look random but repeat for a seed.
void FillPattern(uint8_t* out, size_t count, uint32_t seed) {
    uint32_t v = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < count; ++i) {
        v = v * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(v >> 16);
    }
}

uint8_t Bcd(int value) {
    return static_cast<uint8_t>((value / 10 % 10) << 4 | value % 10);
}

// start + seconds, carried through minutes, hours, days, months and years.
DvTime AddSeconds(DvTime t, int64_t seconds) {
    namespace c = std::chrono;
    const c::sys_days date{c::year{t.year} / t.month / t.day};
    const auto when = date + c::hours{t.hour} + c::minutes{t.minute} + c::seconds{t.second} +
                      c::seconds{seconds};
    const auto whenDay = c::floor<c::days>(when);
    const c::year_month_day ymd{whenDay};
    const c::hh_mm_ss hms{when - whenDay};
    return DvTime{static_cast<int>(ymd.year()),      static_cast<int>(unsigned{ymd.month()}),
                  static_cast<int>(unsigned{ymd.day()}), static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count())};
}

struct Placed {
    int stream;
    size_t header;  // file position of the chunk header
    uint32_t size;  // data bytes
};

bool IsExtraAudio(const FixtureOptions& o, int stream) {
    return stream >= 2 && o.extraStreams[static_cast<size_t>(stream - 2)].type == "auds";
}

std::string ChunkIdOf(const FixtureOptions& o, int stream) {
    if (o.type == DvType::Type1) {
        return "00__";
    }
    if (stream < 2) {
        return stream == 0 ? "00dc" : "01wb";
    }
    return "0" + std::to_string(stream) + (IsExtraAudio(o, stream) ? "wb" : "tx");
}

}  // namespace

// ---------------------------------------------------------------------------
// DV frames

void SetDvTime(std::vector<uint8_t>& frame, std::optional<DvTime> time) {
    if (frame.size() < 468) {
        return;
    }
    uint8_t* date = frame.data() + 458;  // recording date pack in the third VAUX block
    uint8_t* clock = frame.data() + 463;  // recording time pack right after it
    if (!time) {
        std::memset(date, 0xFF, 10);
        return;
    }
    // The bits above the digits are set, as camcorders leave them.
    date[0] = 0x62;
    date[1] = 0xFF;                                 // time zone: not given
    date[2] = static_cast<uint8_t>(0xC0 | Bcd(time->day));
    date[3] = static_cast<uint8_t>(0xE0 | Bcd(time->month));
    date[4] = Bcd(time->year % 100);
    clock[0] = 0x63;
    clock[1] = 0xFF;                                // frames: not given
    clock[2] = static_cast<uint8_t>(0x80 | Bcd(time->second));
    clock[3] = static_cast<uint8_t>(0x80 | Bcd(time->minute));
    clock[4] = static_cast<uint8_t>(0xC0 | Bcd(time->hour));
}

std::vector<uint8_t> MakeDvFrame(bool pal, std::optional<DvTime> time, uint32_t seed) {
    std::vector<uint8_t> frame(static_cast<size_t>(pal ? kPalFrameSize : kNtscFrameSize));
    FillPattern(frame.data(), frame.size(), seed);
    // Header DIF block of sequence 0: section type 0, DSF bit 1 for the 625-line system.
    const uint8_t header[] = {0x1F, 0x07, 0x00, static_cast<uint8_t>(pal ? 0xBF : 0x3F)};
    std::copy_n(header, 4, frame.begin());
    SetDvTime(frame, time);
    return frame;
}

std::vector<uint8_t> MakeRefChunk(uint32_t position, const std::string& name) {
    std::vector<uint8_t> chunk = {'R', 'E', 'F', ' ', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    PutLe32(chunk, 4, position);
    chunk.insert(chunk.end(), name.begin(), name.end());
    chunk.push_back(0);
    return chunk;
}

int AudioBlockAlign(const FixtureOptions& o) {
    return o.audioChannels * o.audioBits / 8;
}

std::vector<uint8_t> AudioPattern(const FixtureOptions& o, int64_t first, int64_t count) {
    const int align = AudioBlockAlign(o);
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(count * align));
    for (int64_t n = first; n < first + count; ++n) {
        for (int j = 0; j < align; ++j) {
            bytes.push_back(static_cast<uint8_t>((n >> (8 * (j % 4))) ^ (0xA5 + 16 * j)));
        }
    }
    return bytes;
}

namespace {

std::vector<FixtureFrame> FramesWith(const FixtureOptions& o, int count,
                                     const std::function<std::vector<uint8_t>(int)>& video) {
    std::vector<FixtureFrame> frames(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        auto& f = frames[static_cast<size_t>(i)];
        f.video = video(i);
        if (o.type == DvType::Type2) {
            const int64_t first = FirstSampleOf(o, i);
            f.audio = AudioPattern(o, first, FirstSampleOf(o, i + 1) - first);
        }
    }
    return frames;
}

}  // namespace

int64_t FirstSampleOf(const FixtureOptions& o, int frame) {
    const double s = o.audioRate / (o.pal ? 25.0 : 30000.0 / 1001.0);
    return static_cast<int64_t>(std::trunc(frame * s));
}

std::vector<FixtureFrame> MakeFrames(const FixtureOptions& o, int count,
                                     std::optional<DvTime> start) {
    return FramesWith(o, count, [&](int i) {
        std::optional<DvTime> time;
        if (start) {
            // Whole seconds since the first frame: i / fps.
            const int64_t seconds = o.pal ? i / 25 : static_cast<int64_t>(i) * 1001 / 30000;
            time = AddSeconds(*start, seconds);
        }
        return MakeDvFrame(o.pal, time, static_cast<uint32_t>(i));
    });
}

std::vector<FixtureFrame> MakePatternFrames(const FixtureOptions& o, int count, int videoBytes) {
    return FramesWith(o, count, [&](int i) {
        std::vector<uint8_t> video(static_cast<size_t>(std::max(videoBytes, 0)));
        FillPattern(video.data(), video.size(), static_cast<uint32_t>(i));
        return video;
    });
}

// ---------------------------------------------------------------------------
// RIFF writing

size_t RiffBuilder::BeginChunk(const std::string& id) {
    Code(id);
    const size_t mark = Position();
    U32(0);  // ckSize, filled in by End
    return mark;
}

size_t RiffBuilder::BeginList(const std::string& id, const std::string& type) {
    const size_t mark = BeginChunk(id);
    Code(type);
    return mark;
}

void RiffBuilder::End(size_t mark) {
    const size_t size = Position() - mark - 4;
    PutLe32(bytes_, mark, static_cast<uint32_t>(size));
    if (size % 2 != 0) {
        U8(0);  // pad byte: chunks start on even positions
    }
}

void RiffBuilder::Chunk(const std::string& id, const std::vector<uint8_t>& data) {
    const size_t mark = BeginChunk(id);
    Append(data);
    End(mark);
}

void RiffBuilder::U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
}

void RiffBuilder::U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
}

void RiffBuilder::U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
}

void RiffBuilder::Code(const std::string& fourcc) {
    for (size_t i = 0; i < 4; ++i) {
        U8(i < fourcc.size() ? static_cast<uint8_t>(fourcc[i]) : ' ');
    }
}

void RiffBuilder::Append(const std::vector<uint8_t>& data) {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
}

// ---------------------------------------------------------------------------
// The fixture file

std::vector<uint8_t> BuildFixtureAvi(const FixtureOptions& o,
                                     const std::vector<FixtureFrame>& frames) {
    const bool type2 = o.type == DvType::Type2;
    const bool odml = o.generation != Generation::Avi1;
    const bool withIdx1 = o.generation != Generation::OpenDml;
    const int streamCount = type2 ? 2 + static_cast<int>(o.extraStreams.size()) : 1;
    const auto frameCount = static_cast<uint32_t>(frames.size());
    const uint32_t scale = o.pal ? 1 : 1001;
    const uint32_t rate = o.pal ? 25 : 30000;
    const uint32_t frameSize = o.pal ? kPalFrameSize : kNtscFrameSize;
    const int32_t width = 720;
    const int32_t height = o.pal ? 576 : 480;
    const int align = AudioBlockAlign(o);

    // Frame ranges [first, end) of the RIFF segments.
    std::vector<std::pair<size_t, size_t>> segments;
    const size_t perSegment = odml && o.framesPerSegment > 0 ? static_cast<size_t>(o.framesPerSegment)
                                                             : std::max<size_t>(frames.size(), 1);
    for (size_t first = 0; first < frames.size() || segments.empty(); first += perSegment) {
        segments.emplace_back(first, std::min(frames.size(), first + perSegment));
    }

    uint64_t totalSamples = 0;
    uint32_t maxAudio = 0;
    for (const auto& f : frames) {
        totalSamples += f.audio.size() / static_cast<size_t>(align);
        maxAudio = std::max(maxAudio, static_cast<uint32_t>(f.audio.size()));
    }
    // Units (sample frames, or chunks) and the largest chunk of each extra stream.
    std::vector<uint64_t> extraUnits(o.extraStreams.size());
    std::vector<uint32_t> extraLargest(o.extraStreams.size());
    for (size_t j = 0; j < o.extraStreams.size(); ++j) {
        for (const auto& chunk : o.extraStreams[j].chunks) {
            const auto size = static_cast<uint32_t>(chunk.size());
            extraUnits[j] += IsExtraAudio(o, static_cast<int>(j) + 2) ? size / static_cast<uint32_t>(align)
                                                                       : (size > 0 ? 1 : 0);
            extraLargest[j] = std::max(extraLargest[j], size);
        }
    }

    RiffBuilder b;
    const size_t riff = b.BeginList("RIFF", "AVI ");
    const size_t hdrl = b.BeginList("LIST", "hdrl");

    const size_t avih = b.BeginChunk("avih");
    b.U32(o.pal ? 40000 : 33367);                                      // dwMicroSecPerFrame
    const uint64_t maxBytesPerSec = uint64_t{frameSize + maxAudio} * rate / scale;
    b.U32(static_cast<uint32_t>(maxBytesPerSec));                      // dwMaxBytesPerSec
    b.U32(0);                                                          // dwPaddingGranularity
    b.U32((withIdx1 ? kAvifHasIndex : 0) | kAvifIsInterleaved);        // dwFlags
    b.U32(static_cast<uint32_t>(segments[0].second - segments[0].first));  // dwTotalFrames
    b.U32(0);                                                          // dwInitialFrames
    b.U32(static_cast<uint32_t>(streamCount));                         // dwStreams
    b.U32(frameSize + maxAudio);                                       // dwSuggestedBufferSize
    b.U32(static_cast<uint32_t>(width));                               // dwWidth
    b.U32(static_cast<uint32_t>(height));                              // dwHeight
    b.Zeros(16);                                                       // dwReserved[4]
    b.End(avih);

    std::vector<size_t> superIndex(static_cast<size_t>(streamCount));  // "indx" chunk headers
    auto waveFormat = [&](uint16_t tag, uint32_t samplesPerSec) {  // WAVEFORMATEX
        b.U16(tag);                                             // wFormatTag
        b.U16(o.audioChannels);                                 // nChannels
        b.U32(samplesPerSec);                                   // nSamplesPerSec
        b.U32(samplesPerSec * static_cast<uint32_t>(align));   // nAvgBytesPerSec
        b.U16(static_cast<uint16_t>(align));                    // nBlockAlign
        b.U16(o.audioBits);                                     // wBitsPerSample
        b.U16(0);                                               // cbSize
    };
    for (int s = 0; s < streamCount; ++s) {
        // Streams 2, ... are the extra ones; stream 1 and extra "auds" streams are audio.
        const ExtraStream* x = s >= 2 ? &o.extraStreams[static_cast<size_t>(s - 2)] : nullptr;
        const size_t j = static_cast<size_t>(std::max(s - 2, 0));
        const bool video = s == 0;
        const bool audio = s == 1 || IsExtraAudio(o, s);
        const size_t strl = b.BeginList("LIST", "strl");
        const size_t strh = b.BeginChunk("strh");
        b.Code(x ? x->type : audio ? "auds" : type2 ? "vids" : "iavs");  // fccType
        b.Code(video ? "dvsd" : std::string(4, '\0'));                   // fccHandler
        b.Zeros(12);                 // dwFlags, wPriority, wLanguage, dwInitialFrames
        b.U32(video ? scale : 1);                                         // dwScale
        b.U32(x ? x->rate : audio ? o.audioRate : rate);                  // dwRate
        b.U32(0);                                                         // dwStart
        b.U32(static_cast<uint32_t>(x       ? extraUnits[j]
                                    : audio ? totalSamples
                                            : frameCount));               // dwLength
        b.U32(x ? extraLargest[j] : audio ? maxAudio : frameSize);        // dwSuggestedBufferSize
        b.U32(0);                                                         // dwQuality
        b.U32(audio ? o.audioSampleSize : 0);                             // dwSampleSize
        b.Zeros(4);                                                       // rcFrame.left, top
        b.U16(static_cast<uint16_t>(video ? width : 0));                  // rcFrame.right
        b.U16(static_cast<uint16_t>(video ? height : 0));                 // rcFrame.bottom
        b.End(strh);

        const size_t strf = b.BeginChunk("strf");
        if (audio) {
            waveFormat(x ? x->formatTag : uint16_t{1}, x ? x->rate : o.audioRate);  // 1: PCM
        } else if (x) {
            b.Zeros(16);
        } else if (type2) {  // BITMAPINFOHEADER
            b.U32(40);                                                 // biSize
            b.U32(static_cast<uint32_t>(width));                       // biWidth
            b.U32(static_cast<uint32_t>(height));                      // biHeight
            b.U16(1);                                                  // biPlanes
            b.U16(24);                                                 // biBitCount
            b.Code("dvsd");                                            // biCompression
            b.U32(frameSize);                                          // biSizeImage
            b.Zeros(16);  // biXPelsPerMeter, biYPelsPerMeter, biClrUsed, biClrImportant
        } else {
            // DVINFO: dwDVAAuxSrc, dwDVAAuxCtl, dwDVAAuxSrc1, dwDVAAuxCtl1, dwDVVAuxSrc,
            // dwDVVAuxCtl, dwDVReserved[2]; left zero, nothing here reads them.
            b.Zeros(32);
        }
        if (video && o.videoFormatExtra > 0) {
            b.Zeros(static_cast<size_t>(o.videoFormatExtra));
        }
        b.End(strf);

        if (o.withStrn && !x) {  // odd length: the walk must skip the pad byte
            const char* name = audio ? "DV audio" : "DV video";
            b.Chunk("strn",
                    std::vector<uint8_t>(name, name + std::strlen(name) + 1));  // with its NUL
        }
        if (odml) {  // a super index whose entries are filled in once the segments are written
            superIndex[static_cast<size_t>(s)] = b.Position();
            const size_t indx = b.BeginChunk("indx");
            b.U16(4);                        // wLongsPerEntry
            b.U8(0);                         // bIndexSubType
            b.U8(0);                         // bIndexType: of indexes
            b.U32(0);                        // nEntriesInUse, below
            b.Code(ChunkIdOf(o, s));         // dwChunkId
            b.Zeros(12);                     // dwReserved[3]
            b.Zeros(16 * segments.size());   // qwOffset, dwSize, dwDuration per segment
            b.End(indx);
        }
        b.End(strl);
    }
    if (odml) {
        const size_t list = b.BeginList("LIST", "odml");
        const size_t dmlh = b.BeginChunk("dmlh");
        b.U32(frameCount);  // dwTotalFrames
        b.Zeros(244);       // dwFuture[61]
        b.End(dmlh);
        b.End(list);
    }
    b.End(hdrl);
    if (o.junkBytes > 0) {
        b.Chunk("JUNK", std::vector<uint8_t>(static_cast<size_t>(o.junkBytes), 0));
    }

    size_t riffMark = riff;
    for (size_t k = 0; k < segments.size(); ++k) {
        if (k > 0) {
            riffMark = b.BeginList("RIFF", "AVIX");
        }
        const size_t moviHeader = b.Position();
        const size_t movi = b.BeginList("LIST", "movi");
        const size_t moviType = movi + 4;  // where relative "idx1" offsets count from
        std::vector<Placed> chunks;
        for (size_t i = segments[k].first; i < segments[k].second; ++i) {
            const FixtureFrame& f = frames[i];
            chunks.push_back({0, b.Position(), static_cast<uint32_t>(f.video.size())});
            b.Chunk(ChunkIdOf(o, 0), f.video);
            if (type2 && !f.audio.empty()) {
                chunks.push_back({1, b.Position(), static_cast<uint32_t>(f.audio.size())});
                b.Chunk(ChunkIdOf(o, 1), f.audio);
            }
            for (size_t j = 0; type2 && j < o.extraStreams.size(); ++j) {
                const auto& extra = o.extraStreams[j].chunks;
                if (i < extra.size() && !extra[i].empty()) {
                    const int s = static_cast<int>(j) + 2;
                    chunks.push_back({s, b.Position(), static_cast<uint32_t>(extra[i].size())});
                    b.Chunk(ChunkIdOf(o, s), extra[i]);
                }
            }
        }
        if (odml) {
            // One standard index per stream and segment, entries relative to the "movi" list.
            for (int s = 0; s < streamCount; ++s) {
                const size_t ixAt = b.Position();
                const size_t ix = b.BeginChunk("ix0" + std::to_string(s));
                b.U16(2);                                    // wLongsPerEntry
                b.U8(0);                                     // bIndexSubType
                b.U8(1);                                     // bIndexType: of chunks
                b.U32(0);                                    // nEntriesInUse, below
                b.Code(ChunkIdOf(o, s));                     // dwChunkId
                b.U64(moviHeader);                           // qwBaseOffset
                b.U32(0);                                    // dwReserved3
                uint32_t entries = 0;
                uint64_t duration = 0;
                for (const auto& c : chunks) {
                    if (c.stream == s) {
                        ++entries;
                        duration += s == 1 || IsExtraAudio(o, s) ? c.size / static_cast<uint32_t>(align) : 1;
                        b.U32(static_cast<uint32_t>(c.header + 8 - moviHeader));  // dwOffset
                        b.U32(c.size | (s != 0 ? kNotKeyFrame : 0));              // dwSize
                    }
                }
                PutLe32(b.Bytes(), ixAt + 12, entries);
                b.End(ix);

                // The super index entry of this segment.
                const size_t entry = superIndex[static_cast<size_t>(s)] + 32 + 16 * k;
                const auto ixSize = static_cast<uint32_t>(b.Position() - ixAt);
                PutLe64(b.Bytes(), entry, ixAt);                                  // qwOffset
                PutLe32(b.Bytes(), entry + 8, ixSize);                            // dwSize
                PutLe32(b.Bytes(), entry + 12, static_cast<uint32_t>(duration));  // dwDuration
            }
        }
        b.End(movi);

        if (k == 0 && withIdx1) {
            const size_t idx1 = b.BeginChunk("idx1");
            for (const auto& c : chunks) {
                b.Code(ChunkIdOf(o, c.stream));                                    // ckid
                b.U32(kAviifKeyFrame);                                             // dwFlags
                b.U32(static_cast<uint32_t>(o.relativeIdx1 ? c.header - moviType  // dwChunkOffset
                                                           : c.header));
                b.U32(c.size);                                                     // dwChunkLength
            }
            b.End(idx1);
        }
        b.End(riffMark);
    }
    if (odml && !o.emptySuperIndex) {
        for (size_t s : superIndex) {
            PutLe32(b.Bytes(), s + 12, static_cast<uint32_t>(segments.size()));  // nEntriesInUse
        }
    }
    return std::move(b.Bytes());
}

FixtureOptions OptionsOf(DvType type, Generation generation, int framesPerSegment,
                         bool relativeIdx1, bool pal) {
    FixtureOptions o;
    o.type = type;
    o.generation = generation;
    o.framesPerSegment = framesPerSegment;
    o.relativeIdx1 = relativeIdx1;
    o.pal = pal;
    return o;
}

FixtureOptions SmallOptions(DvType type, Generation generation, int framesPerSegment) {
    FixtureOptions o = OptionsOf(type, generation, framesPerSegment);
    o.audioRate = 2000;
    return o;
}

bool WriteFixtureAvi(const std::string& path, const FixtureOptions& options,
                     const std::vector<FixtureFrame>& frames) {
    return WriteFileBytes(path, BuildFixtureAvi(options, frames));
}

// ---------------------------------------------------------------------------
// Damage helpers

size_t FindFourCC(const std::vector<uint8_t>& bytes, const std::string& code, size_t from,
                  int nth) {
    if (code.size() != 4) {
        return kNotFound;
    }
    for (size_t i = from; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(bytes.data() + i, code.data(), 4) == 0 && nth-- == 0) {
            return i;
        }
    }
    return kNotFound;
}

uint32_t GetLe32(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && offset + i < bytes.size(); ++i) {
        v |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return v;
}

void PutLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4 && offset + i < bytes.size(); ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void PutLe64(std::vector<uint8_t>& bytes, size_t offset, uint64_t value) {
    PutLe32(bytes, offset, static_cast<uint32_t>(value));
    PutLe32(bytes, offset + 4, static_cast<uint32_t>(value >> 32));
}

bool PatchFile(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!file) {
        return false;
    }
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

}  // namespace qvtest
