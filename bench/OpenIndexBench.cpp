// How much opening a long capture costs compared with just reading its index.
//
// Writes a sparse OpenDML type-2 PAL DV AVI of one hour (90,000 frames, about
// 13.7 GB, of which only the headers and indexes take disk space), then in one
// run times
//   (a) qv::OpenAviFile on it, which walks the chunk tree and loads every index
//       entry of both streams, and
//   (b) a plain pread of exactly the byte ranges that the walk needs: the
//       header lists, the RIFF/LIST headers of every segment and every standard
//       index chunk,
// and reports their ratio together with the memory the open reader keeps per
// indexed frame. The file is removed at the end.
//
// usage: bench_open_index [folder] [--repeat N] [--cold]
//   folder    where the temporary file goes (default $TMPDIR, else /tmp)
//   --cold    also time with the page cache dropped before each run (root only)

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "avi/RiffAviReader.h"

namespace {

constexpr int kFrames = 90000;           // one hour at 25 fps
constexpr int kFramesPerSegment = 7000;  // 7000 x 151696 bytes: each RIFF stays below 1 GiB
constexpr uint32_t kVideoSize = 144000;  // one PAL DV frame
constexpr uint32_t kSamplesPerFrame = 1920;  // 48 kHz at 25 fps
constexpr uint32_t kAudioSize = kSamplesPerFrame * 4;  // stereo 16-bit
constexpr uint32_t kSuperIndexCapacity = 256;  // entries reserved in each "indx"

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

// A run of bytes that the open has to read.
struct Range {
    uint64_t position;
    uint32_t size;
    int stream;  // the standard index of this stream, or -1 for headers
};

struct Layout {
    uint64_t fileSize = 0;
    int segments = 0;
    std::vector<Range> reads;  // in file order
    uint64_t indexBytes = 0;   // total of reads
    // Where frame k's video data must come out: for spot checks of the reader.
    std::vector<uint64_t> videoDataAt;
};

bool PWriteAll(int fd, const std::vector<uint8_t>& bytes, uint64_t position) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                             static_cast<off_t>(position + done));
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the file and returns what the open will read; fileSize 0 on failure.
Layout WriteSparseAvi(const std::string& path) {
    Layout layout;
    const int segments = (kFrames + kFramesPerSegment - 1) / kFramesPerSegment;
    layout.segments = segments;
    const uint64_t framePair = 8 + kVideoSize + 8 + kAudioSize;  // 00dc + 01wb chunks

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
    layout.reads.push_back({0, static_cast<uint32_t>(head.Size()), -1});

    // --- Segments: [RIFF AVIX] LIST movi, frame chunks (left as holes), ix00, ix01.
    uint64_t at = head.Size();  // the first "movi" list follows the header list
    uint64_t firstRiffEnd = 0;
    std::vector<std::pair<uint64_t, Bytes>> indexChunks;
    for (int seg = 0; seg < segments; ++seg) {
        const int first = seg * kFramesPerSegment;
        const int count = std::min(kFramesPerSegment, kFrames - first);
        const uint64_t riffAt = at;
        Bytes lists;
        size_t riffSizeAt = 0;
        if (seg > 0) {
            riffSizeAt = lists.BeginList("RIFF", "AVIX");
        }
        const uint64_t moviAt = at + lists.Size();  // the "LIST" of the movi list
        const size_t moviSizeAt = lists.BeginList("LIST", "movi");
        const uint64_t dataStart = at + lists.Size();
        for (int k = 0; k < count; ++k) {
            layout.videoDataAt.push_back(dataStart + static_cast<uint64_t>(k) * framePair + 8);
        }
        uint64_t indexAt = dataStart + static_cast<uint64_t>(count) * framePair;
        for (int s = 0; s < 2; ++s) {
            const bool video = s == 0;
            Bytes ix;
            const size_t ixSize = ix.Begin(video ? "ix00" : "ix01");
            ix.U16(2);                       // wLongsPerEntry
            ix.U8(0);                        // bIndexSubType
            ix.U8(1);                        // bIndexType: AVI_INDEX_OF_CHUNKS
            ix.U32(static_cast<uint32_t>(count));  // nEntriesInUse
            ix.Fcc(video ? "00dc" : "01wb"); // dwChunkId
            ix.U64(moviAt);                  // qwBaseOffset
            ix.U32(0);                       // dwReserved3
            for (int k = 0; k < count; ++k) {
                const uint64_t data = dataStart + static_cast<uint64_t>(k) * framePair + 8 +
                                      (video ? 0 : 8 + kVideoSize);
                ix.U32(static_cast<uint32_t>(data - moviAt));  // dwOffset: past the chunk header
                ix.U32(video ? kVideoSize : kAudioSize);      // dwSize: key frames
            }
            ix.End(ixSize);
            // This segment's entry in the stream's super index.
            const size_t e = superEntries[s] + static_cast<size_t>(seg) * 16;
            head.Patch64(e, indexAt);                                   // qwOffset
            head.Patch32(e + 8, static_cast<uint32_t>(ix.Size()));      // dwSize: whole chunk
            head.Patch32(e + 12, static_cast<uint32_t>(count) *
                                     (video ? 1 : kSamplesPerFrame));  // dwDuration
            layout.reads.push_back({indexAt, static_cast<uint32_t>(ix.Size()), s});
            const uint64_t size = ix.Size();
            indexChunks.emplace_back(indexAt, std::move(ix));
            indexAt += size;
        }
        const uint64_t end = indexAt;
        lists.Patch32(moviSizeAt, static_cast<uint32_t>(end - (moviAt + 8)));
        if (seg > 0) {
            lists.Patch32(riffSizeAt, static_cast<uint32_t>(end - (riffAt + 8)));
        } else {
            firstRiffEnd = end;
        }
        // The walk reads the list headers (12 bytes each) of every segment.
        layout.reads.push_back({riffAt, static_cast<uint32_t>(lists.Size()), -1});
        indexChunks.emplace_back(riffAt, std::move(lists));
        at = end;
    }
    head.Patch32(riffSize, static_cast<uint32_t>(firstRiffEnd - 8));
    layout.fileSize = at;

    std::sort(layout.reads.begin(), layout.reads.end(),
              [](const Range& a, const Range& b) { return a.position < b.position; });
    for (const Range& r : layout.reads) {
        layout.indexBytes += r.size;
    }

    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        return {};
    }
    bool ok = ::ftruncate(fd, static_cast<off_t>(layout.fileSize)) == 0 &&
              PWriteAll(fd, head.Data(), 0);
    for (const auto& [position, bytes] : indexChunks) {
        ok = ok && PWriteAll(fd, bytes.Data(), position);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        std::perror(path.c_str());
        return {};
    }
    return layout;
}

double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

size_t HeapInUse() {
    struct mallinfo2 m = ::mallinfo2();
    return m.uordblks + m.hblkhd;  // small blocks in use + mmapped blocks
}

bool DropCaches() {
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    return static_cast<bool>(drop.flush());
}

// The reader as users see it, checked against the layout: a timing of a reader
// that read nothing would mean nothing.
bool CheckReader(qv::AviReader& reader, const Layout& layout) {
    auto* riff = dynamic_cast<qv::RiffAviReader*>(&reader);
    if (riff == nullptr || reader.Kind() != "odml-avi2" || reader.StreamCount() != 2 ||
        reader.FrameCount() != kFrames || reader.Stream(1)->Length() != kFrames * 1920) {
        std::fprintf(stderr, "reader disagrees: kind %s, %d streams, %d frames\n",
                     reader.Kind().c_str(), reader.StreamCount(), reader.FrameCount());
        return false;
    }
    const auto& entries = riff->RiffStream(0)->Entries();
    for (int k : {0, kFramesPerSegment - 1, kFramesPerSegment, kFrames / 2, kFrames - 1}) {
        const auto i = static_cast<size_t>(k);
        if (entries[i].position != layout.videoDataAt[i] || entries[i].size != kVideoSize) {
            std::fprintf(stderr, "frame %d indexed at %llu, written at %llu\n", k,
                         static_cast<unsigned long long>(entries[i].position),
                         static_cast<unsigned long long>(layout.videoDataAt[i]));
            return false;
        }
    }
    return true;
}

// Reads every range once with pread, as a program that knew the layout would.
// With entries given, also turns the standard indexes into in-memory entries in
// arrays sized up front: the least that holding the index in memory costs.
// The bytes are this program's own, so they are not checked as a reader must.
bool PlainRead(const std::string& path, const Layout& layout, std::vector<uint8_t>& buffer,
               std::vector<qv::IndexEntry>* entries) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (entries != nullptr) {
        entries[0].reserve(kFrames);
        entries[1].reserve(kFrames);
    }
    bool ok = true;
    for (const Range& r : layout.reads) {
        buffer.resize(std::max<size_t>(buffer.size(), r.size));
        ok = ok && ::pread(fd, buffer.data(), r.size, static_cast<off_t>(r.position)) ==
                       static_cast<ssize_t>(r.size);
        if (!ok || entries == nullptr || r.stream < 0) {
            continue;
        }
        const uint8_t* ix = buffer.data();
        const uint32_t count = qv::Le32(ix + 12);   // nEntriesInUse
        const uint64_t base = qv::Le64(ix + 20);    // qwBaseOffset
        std::vector<qv::IndexEntry>& out = entries[r.stream];
        for (uint32_t k = 0; k < count && 32 + (k + 1) * 8 <= r.size; ++k) {
            const uint8_t* e = ix + 32 + k * 8;
            const uint32_t size = qv::Le32(e + 4) & 0x7FFFFFFFu;  // dwSize without key flag
            // Video: one frame per chunk; audio: 4-byte sample frames.
            const int first =
                out.empty() ? 0
                            : out.back().firstUnit +
                                  static_cast<int>(r.stream == 0 ? 1 : out.back().size / 4);
            out.push_back({base + qv::Le32(e), size, first});  // dwOffset
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    int repeat = 5;
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
    const std::string path =
        folder + "/qv-bench-open-index-" + std::to_string(::getpid()) + ".avi";

    const Layout layout = WriteSparseAvi(path);
    if (layout.fileSize == 0) {
        ::unlink(path.c_str());
        return 1;
    }
    struct stat st {};
    ::stat(path.c_str(), &st);
    std::printf("file: %s\n", path.c_str());
    std::printf("  OpenDML type-2 PAL DV, %d frames in %d RIFF segments, %.2f GB (%.1f MB on disk)\n",
                kFrames, layout.segments, static_cast<double>(layout.fileSize) / 1e9,
                static_cast<double>(st.st_blocks) * 512 / 1e6);
    std::printf("  bytes the open must read: %llu in %zu ranges\n\n",
                static_cast<unsigned long long>(layout.indexBytes), layout.reads.size());

    int status = 0;
    auto measure = [&](bool dropCaches, std::vector<double>& openMs, std::vector<double>& readMs,
                       std::vector<double>& storeMs, size_t* retained) {
        std::vector<uint8_t> buffer;
        for (int r = 0; r < repeat; ++r) {
            if (dropCaches) {
                DropCaches();
            }
            const size_t before = HeapInUse();
            auto t0 = std::chrono::steady_clock::now();
            std::unique_ptr<qv::AviReader> reader = qv::OpenAviFile(path);
            auto t1 = std::chrono::steady_clock::now();
            if (!reader || !CheckReader(*reader, layout)) {
                status = 1;
                return false;
            }
            *retained = HeapInUse() - before;
            openMs.push_back(Milliseconds(t1 - t0));
            reader.reset();

            if (dropCaches) {
                DropCaches();
            }
            auto t2 = std::chrono::steady_clock::now();
            bool ok = PlainRead(path, layout, buffer, nullptr);
            auto t3 = std::chrono::steady_clock::now();

            if (dropCaches) {
                DropCaches();
            }
            std::vector<qv::IndexEntry> entries[2];
            auto t4 = std::chrono::steady_clock::now();
            ok = PlainRead(path, layout, buffer, entries) && ok;
            auto t5 = std::chrono::steady_clock::now();
            if (!ok || entries[0].size() != kFrames || entries[1].size() != kFrames) {
                std::fprintf(stderr, "plain read failed\n");
                status = 1;
                return false;
            }
            readMs.push_back(Milliseconds(t3 - t2));
            storeMs.push_back(Milliseconds(t5 - t4));
        }
        return true;
    };
    auto report = [&](const char* label, const std::vector<double>& openMs,
                      const std::vector<double>& readMs, const std::vector<double>& storeMs) {
        const double open = Median(openMs);
        const double read = Median(readMs);
        const double store = Median(storeMs);
        std::printf("%-10s %9.3f %9.3f %9.3f %11.2f %11.2f\n", label, open, read, store,
                    open / read, open / store);
    };

    std::vector<double> openWarm, readWarm, storeWarm;
    size_t retained = 0;
    if (measure(false, openWarm, readWarm, storeWarm, &retained)) {
        std::printf("median of %d runs, ms:\n", repeat);
        std::printf("%-10s %9s %9s %9s %11s %11s\n", "cache", "open", "read", "read+store",
                    "open/read", "open/store");
        report("warm", openWarm, readWarm, storeWarm);
        if (cold) {
            std::vector<double> openCold, readCold, storeCold;
            size_t ignored = 0;
            if (::geteuid() != 0) {
                std::printf("cold       (needs root to drop the page cache)\n");
            } else if (measure(true, openCold, readCold, storeCold, &ignored)) {
                report("cold", openCold, readCold, storeCold);
            }
        }
        std::printf("\nreader memory after open: %zu bytes = %.1f bytes per frame "
                    "(one video and one audio entry of %zu bytes each)\n",
                    retained, static_cast<double>(retained) / kFrames, sizeof(qv::IndexEntry));
    }
    ::unlink(path.c_str());
    return status;
}
