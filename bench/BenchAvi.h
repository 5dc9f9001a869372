#pragma once
// What the benchmarks that make AVI files share: the layout of a type-2 PAL DV
// AVI (OpenDML, RIFF segments of at most 7000 frames, a super index per stream
// and an ix00/ix01 standard index per segment), the first 512 bytes of a DV frame
// with its recording date and time, a calendar without time zones for making and
// reading those, and writing them out. The files are made here, not by the
// program's AVI code, so that a mistake there cannot hide in the benchmark.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace qvbench {

constexpr int kFramesPerSegment = 7000;        // 7000 x 151696 bytes: each RIFF stays below 1 GiB
constexpr uint32_t kVideoSize = 144000;        // one PAL DV frame
constexpr uint32_t kSamplesPerFrame = 1920;    // 48 kHz at 25 fps
constexpr uint32_t kAudioSize = kSamplesPerFrame * 4;  // stereo 16-bit
constexpr uint64_t kFramePair = 8 + kVideoSize + 8 + kAudioSize;  // 00dc + 01wb chunks
constexpr uint32_t kSuperIndexCapacity = 256;  // entries reserved in each "indx"
constexpr int kHeadBytes = 512;                // what the datestamp is read from
constexpr size_t kIoBlock = size_t{8} << 20;   // what SequentialWriter gathers per write

// Little-endian byte buffer with RIFF chunk helpers: a chunk is begun, its size
// field remembered, and patched when the chunk ends.
class Bytes {
public:
    void U8(uint8_t v) { data_.push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void Fcc(const char (&s)[5]) { data_.insert(data_.end(), s, s + 4); }
    void Zeros(size_t n) { data_.insert(data_.end(), n, 0); }

    // "id" and a size to be patched; returns where the size field is.
    size_t Begin(const char (&id)[5]) {
        Fcc(id);
        size_t at = data_.size();
        U32(0);
        return at;
    }
    size_t BeginList(const char (&id)[5], const char (&type)[5]) {
        size_t at = Begin(id);
        Fcc(type);
        return at;
    }
    void End(size_t sizeAt) { Patch32(sizeAt, static_cast<uint32_t>(data_.size() - sizeAt - 4)); }
    void Patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            data_[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
        }
    }
    void Patch64(size_t at, uint64_t v) {
        Patch32(at, static_cast<uint32_t>(v));
        Patch32(at + 4, static_cast<uint32_t>(v >> 32));
    }
    size_t Size() const { return data_.size(); }
    const std::vector<uint8_t>& Data() const { return data_; }

private:
    std::vector<uint8_t> data_;
};

// Where everything of a type-2 file goes. Its layout is fixed by the frame count,
// so every header and index is made before a frame is written.
struct Type2Plan {
    struct Segment {
        uint64_t listsAt = 0;  // the RIFF "AVIX" (not in the first) and LIST "movi" headers
        Bytes lists;
        int first = 0;
        int count = 0;
        uint64_t indexAt = 0;  // ix00, then ix01
        Bytes index[2];
    };
    Bytes head;  // RIFF "AVI " header and the header list
    std::vector<Segment> segments;
    std::vector<uint64_t> pairAt;  // where frame k's "00dc" chunk starts; its "01wb" follows
    uint64_t fileSize = 0;
};

inline Type2Plan PlanType2(int frames) {
    Type2Plan plan;
    const int segments = (frames + kFramesPerSegment - 1) / kFramesPerSegment;
    Bytes& head = plan.head;

    // --- First RIFF: "AVI " with the header list; its "movi" follows at once.
    const size_t riffSize = head.BeginList("RIFF", "AVI ");
    const size_t hdrl = head.BeginList("LIST", "hdrl");
    {
        const size_t avih = head.Begin("avih");
        head.U32(40000);                      // dwMicroSecPerFrame
        head.U32(25 * (kVideoSize + kAudioSize));  // dwMaxBytesPerSec
        head.U32(0);                          // dwPaddingGranularity
        head.U32(0x10 | 0x100);               // dwFlags: AVIF_HASINDEX | AVIF_ISINTERLEAVED
        head.U32(static_cast<uint32_t>(std::min(frames, kFramesPerSegment)));  // dwTotalFrames: first RIFF only
        head.U32(0);                          // dwInitialFrames
        head.U32(2);                          // dwStreams
        head.U32(kVideoSize + 8);             // dwSuggestedBufferSize
        head.U32(720);                        // dwWidth
        head.U32(576);                        // dwHeight
        head.Zeros(16);                       // dwReserved[4]
        head.End(avih);
    }
    size_t superEntries[2] = {0, 0};  // where each stream's super index entries begin
    for (int s = 0; s < 2; ++s) {
        const bool video = s == 0;
        const size_t strl = head.BeginList("LIST", "strl");
        const size_t strh = head.Begin("strh");
        head.Fcc(video ? "vids" : "auds");   // fccType
        if (video) {
            head.Fcc("dvsd");                // fccHandler
        } else {
            head.U32(0);
        }
        head.U32(0);                         // dwFlags
        head.U16(0);                         // wPriority
        head.U16(0);                         // wLanguage
        head.U32(0);                         // dwInitialFrames
        head.U32(1);                         // dwScale
        head.U32(video ? 25 : 48000);        // dwRate
        head.U32(0);                         // dwStart
        head.U32(static_cast<uint32_t>(frames) * (video ? 1 : kSamplesPerFrame));  // dwLength
        head.U32(video ? kVideoSize : kAudioSize);  // dwSuggestedBufferSize
        head.U32(0xFFFFFFFFu);               // dwQuality
        head.U32(video ? 0 : 4);             // dwSampleSize
        head.U16(0);                         // rcFrame.left
        head.U16(0);                         // rcFrame.top
        head.U16(video ? 720 : 0);           // rcFrame.right
        head.U16(video ? 576 : 0);           // rcFrame.bottom
        head.End(strh);
        const size_t strf = head.Begin("strf");
        if (video) {
            head.U32(40);                    // biSize
            head.U32(720);                   // biWidth
            head.U32(576);                   // biHeight
            head.U16(1);                     // biPlanes
            head.U16(24);                    // biBitCount
            head.Fcc("dvsd");                // biCompression
            head.U32(kVideoSize);            // biSizeImage
            head.Zeros(16);                  // biXPelsPerMeter .. biClrImportant
        } else {
            head.U16(1);                     // wFormatTag: PCM
            head.U16(2);                     // nChannels
            head.U32(48000);                 // nSamplesPerSec
            head.U32(48000 * 4);             // nAvgBytesPerSec
            head.U16(4);                     // nBlockAlign
            head.U16(16);                    // wBitsPerSample
        }
        head.End(strf);
        const size_t indx = head.Begin("indx");
        head.U16(4);                         // wLongsPerEntry
        head.U8(0);                          // bIndexSubType
        head.U8(0);                          // bIndexType: AVI_INDEX_OF_INDEXES
        head.U32(static_cast<uint32_t>(segments));  // nEntriesInUse
        head.Fcc(video ? "00dc" : "01wb");   // dwChunkId
        head.Zeros(12);                      // dwReserved[3]
        superEntries[s] = head.Size();
        head.Zeros(16 * kSuperIndexCapacity);  // qwOffset, dwSize, dwDuration each
        head.End(indx);
        head.End(strl);
    }
    {
        const size_t odml = head.BeginList("LIST", "odml");
        const size_t dmlh = head.Begin("dmlh");
        head.U32(static_cast<uint32_t>(frames));  // dwTotalFrames
        head.Zeros(244);                     // dwFuture[61]
        head.End(dmlh);
        head.End(odml);
    }
    head.End(hdrl);

    // --- Segments: [RIFF AVIX] LIST movi, frame chunks, ix00, ix01.
    plan.segments.resize(static_cast<size_t>(segments));
    uint64_t at = head.Size();  // the first "movi" list follows the header list
    uint64_t firstRiffEnd = 0;
    for (int seg = 0; seg < segments; ++seg) {
        Type2Plan::Segment& part = plan.segments[static_cast<size_t>(seg)];
        part.first = seg * kFramesPerSegment;
        part.count = std::min(kFramesPerSegment, frames - part.first);
        part.listsAt = at;
        size_t riffSizeAt = 0;
        if (seg > 0) {
            riffSizeAt = part.lists.BeginList("RIFF", "AVIX");
        }
        const uint64_t moviAt = at + part.lists.Size();  // the "LIST" of the movi list
        const size_t moviSizeAt = part.lists.BeginList("LIST", "movi");
        const uint64_t dataStart = at + part.lists.Size();
        for (int k = 0; k < part.count; ++k) {
            plan.pairAt.push_back(dataStart + static_cast<uint64_t>(k) * kFramePair);
        }
        part.indexAt = dataStart + static_cast<uint64_t>(part.count) * kFramePair;
        uint64_t indexAt = part.indexAt;
        for (int s = 0; s < 2; ++s) {
            const bool video = s == 0;
            Bytes& ix = part.index[s];
            const size_t ixSize = ix.Begin(video ? "ix00" : "ix01");
            ix.U16(2);                       // wLongsPerEntry
            ix.U8(0);                        // bIndexSubType
            ix.U8(1);                        // bIndexType: AVI_INDEX_OF_CHUNKS
            ix.U32(static_cast<uint32_t>(part.count));  // nEntriesInUse
            ix.Fcc(video ? "00dc" : "01wb"); // dwChunkId
            ix.U64(moviAt);                  // qwBaseOffset
            ix.U32(0);                       // dwReserved3
            for (int k = 0; k < part.count; ++k) {
                const uint64_t data = dataStart + static_cast<uint64_t>(k) * kFramePair + 8 +
                                      (video ? 0 : 8 + kVideoSize);
                ix.U32(static_cast<uint32_t>(data - moviAt));  // dwOffset: past the chunk header
                ix.U32(video ? kVideoSize : kAudioSize);      // dwSize: key frames
            }
            ix.End(ixSize);
            // This segment's entry in the stream's super index.
            const size_t e = superEntries[s] + static_cast<size_t>(seg) * 16;
            head.Patch64(e, indexAt);                                   // qwOffset
            head.Patch32(e + 8, static_cast<uint32_t>(ix.Size()));      // dwSize: whole chunk
            head.Patch32(e + 12, static_cast<uint32_t>(part.count) *
                                     (video ? 1 : kSamplesPerFrame));  // dwDuration
            indexAt += ix.Size();
        }
        const uint64_t end = indexAt;
        part.lists.Patch32(moviSizeAt, static_cast<uint32_t>(end - (moviAt + 8)));
        if (seg > 0) {
            part.lists.Patch32(riffSizeAt, static_cast<uint32_t>(end - (part.listsAt + 8)));
        } else {
            firstRiffEnd = end;
        }
        at = end;
    }
    head.Patch32(riffSize, static_cast<uint32_t>(firstRiffEnd - 8));
    plan.fileSize = at;
    return plan;
}

// A chunk header: its id and the size of its data.
inline void ChunkHeader(uint8_t* out, const char (&id)[5], uint32_t size) {
    std::memcpy(out, id, 4);                                   // ckID
    for (int i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<uint8_t>(size >> (8 * i));    // ckSize
    }
}

// --- Time without time zones: seconds since 1970-01-01 00:00 of a calendar that
// has no daylight saving. Recording times are made and compared in it; only the
// program converts them to calendar time.

struct Civil {
    int year, month, day, hour, minute, second;
};

// Days since 1970-01-01 of a proleptic Gregorian date (the usual era arithmetic).
inline int64_t DaysFromCivil(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

inline int64_t SecondsFromCivil(const Civil& c) {
    return DaysFromCivil(c.year, c.month, c.day) * 86400 + c.hour * 3600 + c.minute * 60 +
           c.second;
}

inline Civil CivilFromSeconds(int64_t t) {
    int64_t days = t / 86400;
    int64_t rest = t % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
            static_cast<int>(rest % 60)};
}

inline uint8_t Bcd(int v) {
    return static_cast<uint8_t>((v / 10) << 4 | v % 10);
}

// The VAUX packs that carry the recording date and time, in the third VAUX DIF
// block of DIF sequence 0; the rest of the frame is left as it is.
inline void WriteDvPacks(uint8_t* f, const Civil& time) {
    // The third VAUX DIF block starts at byte 400, its 5-byte packs at 403.
    const uint8_t source[5] = {0x60, 0xFF, 0xFF, 0x20, 0xFF};   // VAUX source: 50 Hz, stype 0
    const uint8_t control[5] = {0x61, 0xFF, 0xFF, 0xFF, 0xFF};  // VAUX source control: not given
    // Recording date pack, time zone not given; the bits above the digits set, as
    // camcorders leave them.
    const uint8_t date[5] = {0x62, 0xFF, static_cast<uint8_t>(0xC0 | Bcd(time.day)),
                             static_cast<uint8_t>(0xE0 | Bcd(time.month)),
                             Bcd(time.year % 100)};
    // Recording time pack, frames not given.
    const uint8_t clock[5] = {0x63, 0xFF, static_cast<uint8_t>(0x80 | Bcd(time.second)),
                              static_cast<uint8_t>(0x80 | Bcd(time.minute)),
                              static_cast<uint8_t>(0xC0 | Bcd(time.hour))};
    std::memcpy(f + 448, source, 5);
    std::memcpy(f + 453, control, 5);
    std::memcpy(f + 458, date, 5);
    std::memcpy(f + 463, clock, 5);
}

// The first 512 bytes of a PAL DV frame recorded at time: the header DIF block,
// two subcode and three VAUX blocks of DIF sequence 0, and the start of the first
// audio block. Pattern bytes stand for everything that is not looked at.
inline void MakeDvHead(uint8_t* f, const Civil& time) {
    std::memset(f, 0xFF, kHeadBytes);
    for (int block = 0; block * 80 < kHeadBytes; ++block) {
        uint8_t* b = f + block * 80;
        // Section type: 0 header, 1 subcode (blocks 1-2), 2 VAUX (3-5), 3 audio (6).
        const int section = block == 0 ? 0 : block < 3 ? 1 : block < 6 ? 2 : 3;
        const int dbn = section == 0 ? 0 : section == 1 ? block - 1 : section == 2 ? block - 3 : 0;
        b[0] = static_cast<uint8_t>(section << 5 | 0x1F);  // SCT, reserved bit, Arb
        b[1] = 0x07;                                       // Dseq 0, FSC 0, reserved
        b[2] = static_cast<uint8_t>(dbn);                  // DBN: number within the section
    }
    f[3] = 0xBF;  // DSF set: the 625-line system
    WriteDvPacks(f, time);
}

// --- Writing the files.

inline bool PWriteAll(int fd, const void* data, size_t size, uint64_t position) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd, p + done, size - done, static_cast<off_t>(position + done));
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Sets the file to its full size and writes every header and index at its place.
// The frames are the caller's: holes of a sparse file, or whatever it writes there.
inline bool WriteSparseLayout(int fd, const Type2Plan& plan) {
    bool ok = ::ftruncate(fd, static_cast<off_t>(plan.fileSize)) == 0 &&
              PWriteAll(fd, plan.head.Data().data(), plan.head.Size(), 0);
    for (const auto& part : plan.segments) {
        ok = ok && PWriteAll(fd, part.lists.Data().data(), part.lists.Size(), part.listsAt);
        uint64_t at = part.indexAt;
        for (const auto& ix : part.index) {
            ok = ok && PWriteAll(fd, ix.Data().data(), ix.Size(), at);
            at += ix.Size();
        }
    }
    return ok;
}

// Pattern bytes for frame data that differ from frame to frame: 4 MiB of
// xorshift output, taken from at an offset that moves with the frame number, so
// that no two neighbouring frames are alike and nothing costs a generator per byte.
class PatternPool {
public:
    PatternPool() : pool_(size_t{4} << 20) {
        uint64_t x = 0x9E3779B97F4A7C15u;
        for (uint8_t& b : pool_) {
            x ^= x << 13;  // xorshift64
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<uint8_t>(x >> 24);
        }
    }
    // size bytes for frame k; at most 4 MiB.
    const uint8_t* At(int k, size_t size) const {
        return pool_.data() + (static_cast<size_t>(k) * 7919 * 8) % (pool_.size() - size);
    }

private:
    std::vector<uint8_t> pool_;
};

// Appends to a file through a large buffer, so that generating gigabytes costs few calls.
class SequentialWriter {
public:
    explicit SequentialWriter(int fd) : fd_(fd) { buffer_.reserve(kIoBlock); }

    void Put(const void* data, size_t n) {
        const auto* p = static_cast<const uint8_t*>(data);
        while (n > 0) {
            const size_t take = std::min(n, kIoBlock - buffer_.size());
            buffer_.insert(buffer_.end(), p, p + take);
            p += take;
            n -= take;
            if (buffer_.size() == kIoBlock) {
                Flush();
            }
        }
    }
    void Put(const Bytes& b) { Put(b.Data().data(), b.Size()); }
    bool Flush() {
        size_t done = 0;
        while (ok_ && done < buffer_.size()) {
            ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            ok_ = n > 0;
            done += ok_ ? static_cast<size_t>(n) : 0;
        }
        buffer_.clear();
        return ok_;
    }

private:
    int fd_;
    std::vector<uint8_t> buffer_;
    bool ok_ = true;
};

// Puts the whole file front to back: frameData(k) gives frame k's video and audio
// data as a pair of pointers. When chunksToo is given it receives every frame's
// two chunks as well: the bytes that a copy of all scenes moves, for cp.
template <typename FrameData>
void PutType2(const Type2Plan& plan, FrameData frameData, SequentialWriter& out,
              SequentialWriter* chunksToo = nullptr) {
    uint8_t videoHeader[8];
    uint8_t audioHeader[8];
    ChunkHeader(videoHeader, "00dc", kVideoSize);
    ChunkHeader(audioHeader, "01wb", kAudioSize);
    out.Put(plan.head);
    for (const auto& part : plan.segments) {
        out.Put(part.lists);
        for (int k = part.first; k < part.first + part.count; ++k) {
            const std::pair<const uint8_t*, const uint8_t*> data = frameData(k);
            for (SequentialWriter* w : {&out, chunksToo}) {
                if (w != nullptr) {
                    w->Put(videoHeader, 8);
                    w->Put(data.first, kVideoSize);
                    w->Put(audioHeader, 8);
                    w->Put(data.second, kAudioSize);
                }
            }
        }
        out.Put(part.index[0]);
        out.Put(part.index[1]);
    }
}

// Frame content: a DV frame whose video DIF blocks hold empty macroblocks, so
// that ffmpeg, which decodes a few frames while probing, finds nothing wrong,
// while the subcode, VAUX and audio DIF blocks hold pattern bytes that differ
// from frame to frame. The copy itself never looks inside. timeOf gives each
// frame its recording date and time.
class DvContent {
public:
    explicit DvContent(Civil (*timeOf)(int frame)) : timeOf_(timeOf), video_(kVideoSize) {}

    const uint8_t* Video(int k) {
        uint8_t* f = video_.data();
        std::memcpy(f, pool_.At(k, kVideoSize), kVideoSize);
        constexpr int kSequences = 12;  // DIF sequences of a 625-line frame
        constexpr int kBlocks = 150;    // DIF blocks of 80 bytes in a sequence
        for (int seq = 0; seq < kSequences; ++seq) {
            for (int block = 0; block < kBlocks; ++block) {
                uint8_t* b = f + (seq * kBlocks + block) * 80;
                // Section type: 0 header, 1 subcode (blocks 1-2), 2 VAUX (3-5), then
                // an audio block (3) before every 15 video blocks (4).
                const int section = block == 0   ? 0
                                    : block < 3  ? 1
                                    : block < 6  ? 2
                                    : (block - 6) % 16 == 0 ? 3 : 4;
                b[0] = static_cast<uint8_t>(section << 5 | 0x1F);  // SCT, reserved bit, Arb
                b[1] = static_cast<uint8_t>(seq << 4 | 0x07);      // Dseq, FSC 0, reserved
                const int dbn = section == 0   ? 0
                                : section == 1 ? block - 1
                                : section == 2 ? block - 3
                                : section == 3 ? (block - 6) / 16
                                               : block - 7 - (block - 6) / 16;
                b[2] = static_cast<uint8_t>(dbn);                  // DBN: number within the section
                if (section == 0) {
                    b[3] = 0xBF;  // DSF set: the 625-line system
                } else if (section == 4) {
                    b[3] = 0x00;  // STA 0 (no error), QNO 0
                    // Six DCT blocks of 14, 14, 14, 14, 10, 10 bytes: a DC of 0 (9 bits),
                    // mode 0 (1 bit), class 0 (2 bits), then the end-of-block code 0110.
                    std::memset(b + 4, 0, 76);
                    for (int offset : {4, 18, 32, 46, 60, 70}) {
                        b[offset + 1] = 0x06;
                    }
                }
            }
        }
        WriteDvPacks(f, timeOf_(k));
        return f;
    }
    const uint8_t* Audio(int k) const { return pool_.At(k + 7, kAudioSize); }

private:
    Civil (*timeOf_)(int frame);
    PatternPool pool_;
    std::vector<uint8_t> video_;
};

}  // namespace qvbench
