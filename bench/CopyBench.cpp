// How fast a scene is copied compared with copying its bytes with cp.
//
// Writes a type-2 PAL DV AVI of 14,500 frames (about 2.2 GB, OpenDML with three
// RIFF segments of at most 7000 frames, a super index per stream and an
// ix00/ix01 standard index per segment, every byte really on the disk), then in
// one run times, each followed by sync and with the sync counted,
//   (a) quorvandel-cli copy of a 13,800-frame scene (about 2.09 GB),
//   (b) cp of a file holding exactly the scene's chunks (the same byte count on
//       the same disk: the physical limit), and
//   (c) ffmpeg -ss ... -frames:v ... -c copy of the same scene,
// each a child process whose CPU time and peak resident memory come from wait4.
// A first round warms up and is not counted. The outputs are checked (our copy's and ffmpeg's frame and sample counts, a few frames'
// bytes, cp's size) so that a copy that did nothing cannot look fast. Every
// file is removed at the end.
//
// usage: bench_copy [folder] [--repeat N] [--cold]
//   folder    where the files go (default $TMPDIR, else /tmp); needs about 7 GB
//   --repeat  runs of each step (default 3; the median is reported)
//   --cold    drop the page cache before every timed step (root only)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"

#ifndef QV_CLI_PATH
#error "QV_CLI_PATH must name the quorvandel-cli binary"
#endif

namespace {

constexpr int kFrames = 14500;                 // 9 min 40 s at 25 fps
constexpr int kFramesPerSegment = 7000;        // 7000 x 151696 bytes: each RIFF stays below 1 GiB
constexpr int kSceneFirst = 200;
constexpr int kSceneCount = 13800;             // crosses the first segment boundary
constexpr uint32_t kVideoSize = 144000;        // one PAL DV frame
constexpr uint32_t kSamplesPerFrame = 1920;    // 48 kHz at 25 fps
constexpr uint32_t kAudioSize = kSamplesPerFrame * 4;  // stereo 16-bit
constexpr uint64_t kFramePair = 8 + kVideoSize + 8 + kAudioSize;  // 00dc + 01wb chunks
constexpr uint32_t kSuperIndexCapacity = 256;  // entries reserved in each "indx"
constexpr size_t kIoBlock = size_t{8} << 20;

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

// Appends to a file through a large buffer, so that generating 2 GB costs few calls.
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

// Frame content: a DV frame whose video DIF blocks hold empty macroblocks, so
// that ffmpeg, which decodes a few frames while probing, finds nothing wrong,
// while the subcode, VAUX and audio DIF blocks hold pattern bytes that differ
// from frame to frame. The copy itself never looks inside.
class Content {
public:
    Content() : pool_(size_t{4} << 20), video_(kVideoSize) {
        uint64_t x = 0x9E3779B97F4A7C15u;
        for (uint8_t& b : pool_) {
            x ^= x << 13;  // xorshift64
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<uint8_t>(x >> 24);
        }
    }

    const uint8_t* Video(int k) {
        uint8_t* f = video_.data();
        std::memcpy(f, pool_.data() + Offset(k, kVideoSize), kVideoSize);
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
        // The third VAUX DIF block of sequence 0 starts at byte 400, its 5-byte packs at 403.
        const uint8_t source[5] = {0x60, 0xFF, 0xFF, 0x20, 0xFF};  // VAUX source: 50 Hz, stype 0
        const uint8_t control[5] = {0x61, 0xFF, 0xFF, 0xFF, 0xFF};  // VAUX source control: not given
        const int second = (k / 25) % 60;
        const int minute = (k / 1500) % 60;
        // Recording date pack: 2004-06-12, time zone not given.
        const uint8_t date[5] = {0x62, 0xFF, 0xC0 | 0x12, 0xE0 | 0x06, 0x04};
        // Recording time pack: 14:mm:ss, frames not given.
        const uint8_t clock[5] = {0x63, 0xFF, static_cast<uint8_t>(0x80 | Bcd(second)),
                                  static_cast<uint8_t>(0x80 | Bcd(minute)), 0xC0 | 0x14};
        std::memcpy(f + 448, source, 5);
        std::memcpy(f + 453, control, 5);
        std::memcpy(f + 458, date, 5);
        std::memcpy(f + 463, clock, 5);
        return f;
    }
    const uint8_t* Audio(int k) { return pool_.data() + Offset(k + 7, kAudioSize); }

private:
    static uint8_t Bcd(int v) { return static_cast<uint8_t>((v / 10) << 4 | v % 10); }
    size_t Offset(int k, size_t size) const {
        return (static_cast<size_t>(k) * 7919 * 8) % (pool_.size() - size);
    }

    std::vector<uint8_t> pool_;
    std::vector<uint8_t> video_;
};

struct Layout {
    uint64_t fileSize = 0;
    int segments = 0;
    // Where frame k's video chunk ("00dc" header) starts; its audio chunk follows.
    std::vector<uint64_t> pairAt;
};

// Writes the file front to back and returns its layout; fileSize 0 on failure.
Layout WriteAvi(const std::string& path) {
    Layout layout;
    const int segments = (kFrames + kFramesPerSegment - 1) / kFramesPerSegment;
    layout.segments = segments;

    // --- First RIFF: "AVI " with the header list; its "movi" follows at once.
    Bytes head;
    const size_t riffSize = head.BeginList("RIFF", "AVI ");
    const size_t hdrl = head.BeginList("LIST", "hdrl");
    {
        const size_t avih = head.Begin("avih");
        head.U32(40000);                      // dwMicroSecPerFrame
        head.U32(25 * (kVideoSize + kAudioSize));  // dwMaxBytesPerSec
        head.U32(0);                          // dwPaddingGranularity
        head.U32(0x10 | 0x100);               // dwFlags: AVIF_HASINDEX | AVIF_ISINTERLEAVED
        head.U32(std::min(kFrames, kFramesPerSegment));  // dwTotalFrames: first RIFF only
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
        head.U32(video ? kFrames : kFrames * kSamplesPerFrame);  // dwLength
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
        head.U32(kFrames);                   // dwTotalFrames
        head.Zeros(244);                     // dwFuture[61]
        head.End(dmlh);
        head.End(odml);
    }
    head.End(hdrl);

    // --- Segments: [RIFF AVIX] LIST movi, frame chunks, ix00, ix01. The layout is
    // fixed by the sizes, so every header and index is made before anything is written.
    struct Segment {
        Bytes lists;   // the RIFF and LIST headers before the frames
        int first = 0;
        int count = 0;
        Bytes index[2];
    };
    std::vector<Segment> parts(static_cast<size_t>(segments));
    uint64_t at = head.Size();  // the first "movi" list follows the header list
    uint64_t firstRiffEnd = 0;
    for (int seg = 0; seg < segments; ++seg) {
        Segment& part = parts[static_cast<size_t>(seg)];
        part.first = seg * kFramesPerSegment;
        part.count = std::min(kFramesPerSegment, kFrames - part.first);
        const uint64_t riffAt = at;
        size_t riffSizeAt = 0;
        if (seg > 0) {
            riffSizeAt = part.lists.BeginList("RIFF", "AVIX");
        }
        const uint64_t moviAt = at + part.lists.Size();  // the "LIST" of the movi list
        const size_t moviSizeAt = part.lists.BeginList("LIST", "movi");
        const uint64_t dataStart = at + part.lists.Size();
        for (int k = 0; k < part.count; ++k) {
            layout.pairAt.push_back(dataStart + static_cast<uint64_t>(k) * kFramePair);
        }
        uint64_t indexAt = dataStart + static_cast<uint64_t>(part.count) * kFramePair;
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
            part.lists.Patch32(riffSizeAt, static_cast<uint32_t>(end - (riffAt + 8)));
        } else {
            firstRiffEnd = end;
        }
        at = end;
    }
    head.Patch32(riffSize, static_cast<uint32_t>(firstRiffEnd - 8));
    layout.fileSize = at;

    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        return {};
    }
    SequentialWriter out(fd);
    Content content;
    out.Put(head);
    for (Segment& part : parts) {
        out.Put(part.lists);
        for (int k = part.first; k < part.first + part.count; ++k) {
            Bytes chunkHeaders[2];
            chunkHeaders[0].Fcc("00dc");
            chunkHeaders[0].U32(kVideoSize);  // ckSize
            chunkHeaders[1].Fcc("01wb");
            chunkHeaders[1].U32(kAudioSize);  // ckSize
            out.Put(chunkHeaders[0]);
            out.Put(content.Video(k), kVideoSize);
            out.Put(chunkHeaders[1]);
            out.Put(content.Audio(k), kAudioSize);
        }
        out.Put(part.index[0]);
        out.Put(part.index[1]);
    }
    bool ok = out.Flush();
    struct stat st {};
    ok = ok && ::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) == layout.fileSize;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        std::perror(path.c_str());
        return {};
    }
    return layout;
}

// Copies the scene's chunks, segment by segment, into a file of their own: the
// same number of bytes that the copy moves, for cp.
bool WriteSceneBytes(const std::string& source, const Layout& layout, const std::string& path,
                     uint64_t* total) {
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = in >= 0 && fd >= 0;
    std::vector<uint8_t> block(kIoBlock);
    SequentialWriter out(fd);
    *total = 0;
    for (int f = kSceneFirst; ok && f < kSceneFirst + kSceneCount;) {
        // A run of frames that lie back to back, within one segment.
        const int segmentEnd = (f / kFramesPerSegment + 1) * kFramesPerSegment;
        const int runEnd = std::min(segmentEnd, kSceneFirst + kSceneCount);
        uint64_t position = layout.pairAt[static_cast<size_t>(f)];
        uint64_t left = static_cast<uint64_t>(runEnd - f) * kFramePair;
        while (ok && left > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
            ok = ::pread(in, block.data(), n, static_cast<off_t>(position)) ==
                 static_cast<ssize_t>(n);
            out.Put(block.data(), n);
            position += n;
            left -= n;
            *total += n;
        }
        f = runEnd;
    }
    ok = out.Flush() && ok;
    if (in >= 0) {
        ::close(in);
    }
    if (fd >= 0) {
        ok = ::close(fd) == 0 && ok;
    }
    return ok;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool DropCaches() {
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    return static_cast<bool>(drop.flush());
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

struct Timing {
    double run = 0;   // the child process, start to exit
    double sync = 0;  // the sync after it
    double cpu = 0;   // user and system time of the child
    double maxRssMiB = 0;
    bool ok = false;
};

// Runs argv[0] (looked up in PATH) to its end, then sync; wait4 gives its peak memory.
Timing RunTimed(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    Timing t;
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(argv[0], argv.data());
        std::perror(argv[0]);
        ::_exit(127);
    }
    if (pid < 0) {
        std::perror("fork");
        return t;
    }
    int status = 0;
    struct rusage usage {};
    const pid_t waited = ::wait4(pid, &status, 0, &usage);
    const auto t1 = std::chrono::steady_clock::now();
    ::sync();
    const auto t2 = std::chrono::steady_clock::now();
    t.run = Seconds(t1 - t0);
    t.sync = Seconds(t2 - t1);
    auto seconds = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
    };
    t.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    t.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024;  // ru_maxrss is in KiB
    t.ok = waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!t.ok) {
        std::fprintf(stderr, "%s failed (status %d)\n", args[0].c_str(), status);
    }
    return t;
}

// An AVI output holds the scene: its frame count, and its sample count within
// slack sample frames (ffmpeg ends the audio near the last frame, not at it).
// Our own copy, which must be chunk for chunk, has exact counts and is compared
// with the source on a few frames, the first of a segment among them.
bool CheckAvi(const std::string& path, const std::string& source, bool ours) {
    std::unique_ptr<qv::AviReader> out = qv::OpenAviFile(path);
    if (!out || out->StreamCount() < 2) {
        std::fprintf(stderr, "%s: cannot be read back\n", path.c_str());
        return false;
    }
    const int samples = out->Stream(1)->Length();
    const int expected = static_cast<int>(kSceneCount * kSamplesPerFrame);
    const int slack = ours ? 0 : static_cast<int>(kSamplesPerFrame);
    if (out->FrameCount() != kSceneCount || samples < expected - slack ||
        samples > expected + slack) {
        std::fprintf(stderr, "%s: %d frames and %d samples, expected %d and %d\n", path.c_str(),
                     out->FrameCount(), samples, kSceneCount, expected);
        return false;
    }
    if (!ours) {
        return true;
    }
    std::unique_ptr<qv::AviReader> in = qv::OpenAviFile(source);
    if (!in || out->Kind() != in->Kind()) {
        std::fprintf(stderr, "%s: kind %s, the source's %s\n", path.c_str(), out->Kind().c_str(),
                     in ? in->Kind().c_str() : "(unreadable)");
        return false;
    }
    std::vector<uint8_t> a(kVideoSize);
    std::vector<uint8_t> b(kVideoSize);
    for (int k : {0, kFramesPerSegment - kSceneFirst, kSceneCount / 2, kSceneCount - 1}) {
        int na = 0;
        int nb = 0;
        out->Stream(0)->Read(k, 1, nullptr, a.data(), static_cast<int>(a.size()), &na);
        in->Stream(0)->Read(kSceneFirst + k, 1, nullptr, b.data(), static_cast<int>(b.size()), &nb);
        if (na != static_cast<int>(kVideoSize) || na != nb || a != b) {
            std::fprintf(stderr, "%s: frame %d differs from the source's\n", path.c_str(), k);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    int repeat = 3;
    bool cold = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--cold") {
            cold = true;
        } else if (arg == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (!arg.empty() && arg[0] != '-') {
            folder = arg;
        } else {
            std::fprintf(stderr, "usage: %s [folder] [--repeat N] [--cold]\n", argv[0]);
            return 2;
        }
    }
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    if (cold && ::geteuid() != 0) {
        std::fprintf(stderr, "--cold needs root to drop the page cache\n");
        return 2;
    }
    const std::string stem = folder + "/qv-bench-copy-" + std::to_string(::getpid());
    const std::string source = stem + "-source.avi";
    const std::string sceneBytes = stem + "-scene.bin";
    const std::string outputs[3] = {stem + "-ours.avi", stem + "-cp.bin", stem + "-ffmpeg.avi"};
    auto removeAll = [&] {
        for (const std::string& p : {source, sceneBytes, outputs[0], outputs[1], outputs[2],
                                     outputs[0] + ".part"}) {
            ::unlink(p.c_str());
        }
    };

    auto g0 = std::chrono::steady_clock::now();
    const Layout layout = WriteAvi(source);
    uint64_t bytes = 0;
    if (layout.fileSize == 0 || !WriteSceneBytes(source, layout, sceneBytes, &bytes)) {
        removeAll();
        return 1;
    }
    ::sync();
    auto g1 = std::chrono::steady_clock::now();
    std::printf("source: %s\n", source.c_str());
    std::printf("  OpenDML type-2 PAL DV, %d frames in %d RIFF segments, %.3f GB "
                "(written and synced in %.1f s)\n",
                kFrames, layout.segments, static_cast<double>(layout.fileSize) / 1e9,
                Seconds(g1 - g0));
    std::printf("scene: frames %d..%d (%d), %llu bytes of chunks (%.3f GB); cp copies a file "
                "of exactly those bytes\n",
                kSceneFirst, kSceneFirst + kSceneCount - 1, kSceneCount,
                static_cast<unsigned long long>(bytes), static_cast<double>(bytes) / 1e9);
    std::printf("page cache: %s\n\n",
                cold ? "dropped before every step" : "warm (the inputs were just written)");

    char t0[32];
    std::snprintf(t0, sizeof t0, "%.2f", kSceneFirst / 25.0);
    const std::vector<std::string> commands[3] = {
        {QV_CLI_PATH, "copy", source, "--first", std::to_string(kSceneFirst), "--count",
         std::to_string(kSceneCount), outputs[0], "--yes"},
        {"cp", sceneBytes, outputs[1]},
        {"ffmpeg", "-nostdin", "-v", "error", "-ss", t0, "-i", source, "-frames:v",
         std::to_string(kSceneCount), "-c", "copy", "-y", outputs[2]},
    };
    const char* names[3] = {"our copy", "cp", "ffmpeg"};

    std::vector<Timing> timings[3];
    int status = 0;
    // Round 0 warms up and is not counted: the first step after generating the
    // inputs would otherwise pay alone for memory that nothing has used yet.
    for (int r = 0; r <= repeat && status == 0; ++r) {
        // Alternate the order so that none of them always runs after the same one.
        const std::array<int, 3> order = r % 2 == 1 ? std::array<int, 3>{0, 1, 2}
                                                     : std::array<int, 3>{2, 1, 0};
        for (int step : order) {
            ::sync();  // the previous step's writes are not this one's
            if (cold) {
                DropCaches();
            }
            Timing t = RunTimed(commands[step]);
            bool checked = t.ok;
            if (checked && step == 1) {
                checked = FileSize(outputs[1]) == static_cast<int64_t>(bytes);
            } else if (checked) {
                checked = CheckAvi(outputs[step], source, step == 0);
            }
            const std::string label = r == 0 ? "warm-up" : "run " + std::to_string(r);
            std::printf("%-7s %-9s %6.2f s + sync %5.2f s  cpu %5.2f s  peak RSS %6.1f MiB  "
                        "output %.3f GB%s\n",
                        label.c_str(), names[step], t.run, t.sync, t.cpu, t.maxRssMiB,
                        static_cast<double>(FileSize(outputs[step])) / 1e9,
                        checked ? "" : "  CHECK FAILED");
            std::fflush(stdout);
            ::unlink(outputs[step].c_str());
            if (!checked) {
                status = 1;
                break;
            }
            if (r > 0) {
                timings[step].push_back(t);
            }
        }
    }
    removeAll();
    if (status != 0) {
        return status;
    }

    std::printf("\nmedian of %d runs (time = the command, then sync):\n", repeat);
    std::printf("%-9s %8s %8s %8s %9s %8s %13s\n", "", "run s", "sync s", "total s", "MB/s",
                "cpu s", "peak RSS MiB");
    double throughput[3] = {};
    for (int step = 0; step < 3; ++step) {
        std::vector<double> run, sync, total, cpu, rss;
        for (const Timing& t : timings[step]) {
            run.push_back(t.run);
            sync.push_back(t.sync);
            total.push_back(t.run + t.sync);
            cpu.push_back(t.cpu);
            rss.push_back(t.maxRssMiB);
        }
        throughput[step] = static_cast<double>(bytes) / 1e6 / Median(total);
        std::printf("%-9s %8.2f %8.2f %8.2f %9.1f %8.2f %13.1f\n", names[step], Median(run),
                    Median(sync), Median(total), throughput[step], Median(cpu), Median(rss));
    }
    std::printf("\nthroughput ours/cp     %.2f\n", throughput[0] / throughput[1]);
    std::printf("throughput ours/ffmpeg %.2f\n", throughput[0] / throughput[2]);
    return 0;
}
