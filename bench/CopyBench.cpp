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
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "avi/AviReader.h"
#include "bench/BenchAvi.h"
#include "bench/BenchUtil.h"

#ifndef QV_CLI_PATH
#error "QV_CLI_PATH must name the quorvandel-cli binary"
#endif

namespace {

using qvbench::Civil;
using qvbench::kAudioSize;
using qvbench::kFramePair;
using qvbench::kFramesPerSegment;
using qvbench::kIoBlock;
using qvbench::kSamplesPerFrame;
using qvbench::kVideoSize;
using qvbench::MedianOf;
using qvbench::Seconds;
using qvbench::SequentialWriter;
using qvbench::Timing;

constexpr int kFrames = 14500;                 // 9 min 40 s at 25 fps
constexpr int kSceneFirst = 200;
constexpr int kSceneCount = 13800;             // crosses the first segment boundary

// Writes the file front to back and returns its plan; fileSize 0 on failure.
qvbench::Type2Plan WriteAvi(const std::string& path) {
    qvbench::Type2Plan plan = qvbench::PlanType2(kFrames);

    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        return {};
    }
    SequentialWriter out(fd);
    qvbench::DvContent content([](int k) {
        // Recorded 2004-06-12 14:mm:ss, the time moving with the frame number.
        return Civil{2004, 6, 12, 14, (k / 1500) % 60, (k / 25) % 60};
    });
    qvbench::PutType2(
        plan, [&](int k) { return std::pair(content.Video(k), content.Audio(k)); }, out);
    bool ok = out.Flush();
    struct stat st {};
    ok = ok && ::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) == plan.fileSize;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        std::perror(path.c_str());
        return {};
    }
    return plan;
}

// Copies the scene's chunks, segment by segment, into a file of their own: the
// same number of bytes that the copy moves, for cp.
bool WriteSceneBytes(const std::string& source, const qvbench::Type2Plan& plan,
                     const std::string& path, uint64_t* total) {
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
        uint64_t position = plan.pairAt[static_cast<size_t>(f)];
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
    const auto options = qvbench::ParseOptions(argc, argv, 3, true);
    if (!options) {
        return 2;
    }
    const auto& [folder, repeat, cold] = *options;
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
    const qvbench::Type2Plan plan = WriteAvi(source);
    uint64_t bytes = 0;
    if (plan.fileSize == 0 || !WriteSceneBytes(source, plan, sceneBytes, &bytes)) {
        removeAll();
        return 1;
    }
    ::sync();
    auto g1 = std::chrono::steady_clock::now();
    std::printf("source: %s\n", source.c_str());
    std::printf("  OpenDML type-2 PAL DV, %d frames in %zu RIFF segments, %.3f GB "
                "(written and synced in %.1f s)\n",
                kFrames, plan.segments.size(), static_cast<double>(plan.fileSize) / 1e9,
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

    std::vector<std::vector<Timing>> timings(3);
    const bool allChecked = qvbench::RunRounds(repeat, timings, [&](const std::string& label,
                                                                    int step, Timing& t) {
        ::sync();  // the previous step's writes are not this one's
        if (cold) {
            qvbench::DropCaches();
        }
        t = qvbench::RunTimed(commands[step]);
        bool checked = t.ok;
        if (checked && step == 1) {
            checked = qvbench::FileSize(outputs[1]) == static_cast<int64_t>(bytes);
        } else if (checked) {
            checked = CheckAvi(outputs[step], source, step == 0);
        }
        std::printf("%-7s %-9s %6.2f s + sync %5.2f s  cpu %5.2f s  peak RSS %6.1f MiB  "
                    "output %.3f GB%s\n",
                    label.c_str(), names[step], t.run, t.sync, t.cpu, t.maxRssMiB,
                    static_cast<double>(qvbench::FileSize(outputs[step])) / 1e9,
                    checked ? "" : "  CHECK FAILED");
        ::unlink(outputs[step].c_str());
        return checked;
    });
    removeAll();
    if (!allChecked) {
        return 1;
    }

    std::printf("\nmedian of %d runs (time = the command, then sync):\n", repeat);
    std::printf("%-9s %8s %8s %8s %9s %8s %13s\n", "", "run s", "sync s", "total s", "MB/s",
                "cpu s", "peak RSS MiB");
    double throughput[3] = {};
    for (int step = 0; step < 3; ++step) {
        const std::vector<Timing>& ts = timings[static_cast<size_t>(step)];
        const double total = MedianOf(ts, [](const Timing& t) { return t.run + t.sync; });
        throughput[step] = static_cast<double>(bytes) / 1e6 / total;
        std::printf("%-9s %8.2f %8.2f %8.2f %9.1f %8.2f %13.1f\n", names[step],
                    MedianOf(ts, [](const Timing& t) { return t.run; }),
                    MedianOf(ts, [](const Timing& t) { return t.sync; }), total, throughput[step],
                    MedianOf(ts, [](const Timing& t) { return t.cpu; }),
                    MedianOf(ts, [](const Timing& t) { return t.maxRssMiB; }));
    }
    std::printf("\nthroughput ours/cp     %.2f\n", throughput[0] / throughput[1]);
    std::printf("throughput ours/ffmpeg %.2f\n", throughput[0] / throughput[2]);
    return 0;
}
