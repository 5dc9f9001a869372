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
// indexed frame. Then the same hour as an unfinished capture that wrote no index
// at all (its super indexes empty), so that the open finds every chunk by walking
// the "movi" data, timed against a plain pread of each chunk header the walk
// visits. The files are removed at the end.
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
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "avi/RiffAviReader.h"
#include "bench/BenchAvi.h"
#include "bench/BenchUtil.h"

namespace {

using qvbench::kFramesPerSegment;
using qvbench::kVideoSize;
using qvbench::Median;
using qvbench::Milliseconds;

constexpr int kFrames = 90000;  // one hour at 25 fps

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

// Writes the file and returns what the open will read; fileSize 0 on failure.
Layout WriteSparseAvi(const std::string& path) {
    const qvbench::Type2Plan plan = qvbench::PlanType2(kFrames);
    Layout layout;
    layout.segments = static_cast<int>(plan.segments.size());
    layout.fileSize = plan.fileSize;
    for (uint64_t pairAt : plan.pairAt) {
        layout.videoDataAt.push_back(pairAt + 8);  // past the "00dc" chunk header
    }
    // The header list, then per segment the index chunks and the list headers
    // (12 bytes each) before its frames.
    layout.reads.push_back({0, static_cast<uint32_t>(plan.head.Size()), -1});
    for (const auto& part : plan.segments) {
        uint64_t indexAt = part.indexAt;
        for (int s = 0; s < 2; ++s) {
            const auto size = static_cast<uint32_t>(part.index[s].Size());
            layout.reads.push_back({indexAt, size, s});
            indexAt += size;
        }
        layout.reads.push_back({part.listsAt, static_cast<uint32_t>(part.lists.Size()), -1});
    }

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
    // Only the headers and indexes: the frames are left as holes.
    bool ok = qvbench::WriteSparseLayout(fd, plan);
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        std::perror(path.c_str());
        return {};
    }
    return layout;
}

// The same hour with its chunk headers written and its super indexes empty, as a
// capture that stopped before it wrote them leaves it. Returns the 8-byte chunk
// headers the walk has to read, in file order (besides the ranges of Layout).
std::vector<uint64_t> WriteUnindexedAvi(const std::string& path) {
    qvbench::Type2Plan plan = qvbench::PlanType2(kFrames);
    std::vector<uint8_t> head = plan.head.Data();
    // nEntriesInUse of both super indexes: 12 bytes into each "indx" chunk.
    for (size_t at = 0, found = 0; at + 16 <= head.size() && found < 2; ++at) {
        if (std::memcmp(head.data() + at, "indx", 4) == 0) {
            std::memset(head.data() + at + 12, 0, 4);
            ++found;
        }
    }
    std::vector<uint64_t> headers;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        return {};
    }
    bool ok = qvbench::WriteSparseLayout(fd, plan) &&
              qvbench::PWriteAll(fd, head.data(), head.size(), 0);
    uint8_t chunk[8];
    for (const uint64_t pairAt : plan.pairAt) {
        qvbench::ChunkHeader(chunk, "00dc", kVideoSize);
        ok = ok && qvbench::PWriteAll(fd, chunk, 8, pairAt);
        qvbench::ChunkHeader(chunk, "01wb", qvbench::kAudioSize);
        ok = ok && qvbench::PWriteAll(fd, chunk, 8, pairAt + 8 + kVideoSize);
        headers.push_back(pairAt);
        headers.push_back(pairAt + 8 + kVideoSize);
    }
    for (const auto& part : plan.segments) {
        headers.push_back(part.indexAt);                          // "ix00"
        headers.push_back(part.indexAt + part.index[0].Size());  // "ix01"
    }
    std::sort(headers.begin(), headers.end());
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        std::perror(path.c_str());
        return {};
    }
    return headers;
}

// The reference for the walk: the header ranges, then 8 bytes at each chunk header.
bool PlainHeaderRead(const std::string& path, const Layout& layout,
                     const std::vector<uint64_t>& headers, std::vector<uint8_t>& buffer) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    bool ok = true;
    for (const Range& r : layout.reads) {
        if (r.stream < 0) {
            buffer.resize(std::max<size_t>(buffer.size(), r.size));
            ok = ok && ::pread(fd, buffer.data(), r.size, static_cast<off_t>(r.position)) ==
                           static_cast<ssize_t>(r.size);
        }
    }
    uint8_t chunk[8];
    uint64_t sum = 0;
    for (const uint64_t at : headers) {
        ok = ok && ::pread(fd, chunk, 8, static_cast<off_t>(at)) == 8;
        sum += qv::Le32(chunk + 4);  // ckSize: used, as the walk uses it
    }
    ::close(fd);
    return ok && sum > 0;
}

size_t HeapInUse() {
    struct mallinfo2 m = ::mallinfo2();
    return m.uordblks + m.hblkhd;  // small blocks in use + mmapped blocks
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
    // Without root, --cold is reported in the table rather than refused.
    const auto options = qvbench::ParseOptions(argc, argv, 5, false);
    if (!options) {
        return 2;
    }
    const auto& [folder, repeat, cold] = *options;
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
                qvbench::DropCaches();
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
                qvbench::DropCaches();
            }
            auto t2 = std::chrono::steady_clock::now();
            bool ok = PlainRead(path, layout, buffer, nullptr);
            auto t3 = std::chrono::steady_clock::now();

            if (dropCaches) {
                qvbench::DropCaches();
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
    if (status != 0) {
        return status;
    }

    // The unfinished capture: no index at all.
    const std::vector<uint64_t> headers = WriteUnindexedAvi(path);
    if (headers.empty()) {
        ::unlink(path.c_str());
        return 1;
    }
    std::printf("\nunfinished capture without any index: %zu chunk headers to walk\n",
                headers.size());
    auto measureWalk = [&](bool dropCaches, std::vector<double>& openMs,
                           std::vector<double>& readMs) {
        std::vector<uint8_t> buffer;
        for (int r = 0; r < repeat; ++r) {
            if (dropCaches) {
                qvbench::DropCaches();
            }
            auto t0 = std::chrono::steady_clock::now();
            std::unique_ptr<qv::AviReader> reader = qv::OpenAviFile(path);
            auto t1 = std::chrono::steady_clock::now();
            if (!reader || !reader->IndexRebuilt() || !CheckReader(*reader, layout)) {
                status = 1;
                return false;
            }
            reader.reset();
            if (dropCaches) {
                qvbench::DropCaches();
            }
            auto t2 = std::chrono::steady_clock::now();
            const bool ok = PlainHeaderRead(path, layout, headers, buffer);
            auto t3 = std::chrono::steady_clock::now();
            if (!ok) {
                std::fprintf(stderr, "plain header read failed\n");
                status = 1;
                return false;
            }
            openMs.push_back(Milliseconds(t1 - t0));
            readMs.push_back(Milliseconds(t3 - t2));
        }
        return true;
    };
    auto reportWalk = [](const char* label, const std::vector<double>& openMs,
                         const std::vector<double>& readMs) {
        const double open = Median(openMs);
        const double read = Median(readMs);
        std::printf("%-10s %9.3f %9.3f %11.2f\n", label, open, read, open / read);
    };
    std::vector<double> walkWarm, headerWarm;
    if (measureWalk(false, walkWarm, headerWarm)) {
        std::printf("median of %d runs, ms:\n", repeat);
        std::printf("%-10s %9s %9s %11s\n", "cache", "open", "headers", "open/headers");
        reportWalk("warm", walkWarm, headerWarm);
        if (cold && ::geteuid() == 0) {
            std::vector<double> walkCold, headerCold;
            if (measureWalk(true, walkCold, headerCold)) {
                reportWalk("cold", walkCold, headerCold);
            }
        }
    }
    ::unlink(path.c_str());
    return status;
}
