// How fast scenes are copied and files split, against cp of the same bytes, for
// each kind of AVI a capture comes in.
//
// Writes a type-2 PAL DV AVI of 14,500 frames (about 2.2 GB, OpenDML, three
// recordings of 4500, 5000 and 5000 frames, a video and an audio chunk a frame),
// and has ffmpeg encode raw DV of three recordings of the same lengths, from which
//   - ffmpeg wraps it in a type-2 OpenDML AVI (as `ffmpeg -i tape.dv -c copy`),
//   - ffmpeg wraps its first 260 s in a type-2 AVI 1.0 with "idx1",
//   - dvgrab makes a type-1 OpenDML AVI,
// and ffmpeg remuxes the first file (its sound then in chunks of 4096 and 3584
// bytes, two a frame: the layout that is copied chunk by chunk); then, for every one of them, times in pairs (ours, cp, then cp, ours, ...):
//   scene  quorvandel-cli copy of all frames but the first 200 and the last 500,
//          against cp of a file of exactly as many bytes as our copy has;
//   split  quorvandel-cli split of the whole file into its recordings, against cp
//          of the file.
// Each step is a child process followed by sync, both counted; CPU and system
// time and peak memory come from wait4. Our outputs are checked (frames, kind, a
// few frames' bytes) so that a copy that did nothing cannot look fast. With
// --cold the same pairs run again with the page cache dropped before every step.
// Every file is removed at the end.
//
// usage: bench_split [folder] [--repeat N] [--cold]
//   folder    where the files go (default $TMPDIR, else /tmp); needs about 18 GB
//   --repeat  pairs of each job (default 5; the median is reported)
//   --cold    cold pairs as well (root only)

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
using qvbench::MedianOf;
using qvbench::Timing;

constexpr int kFrames = 14500;
constexpr int kSecondStart = 4500;  // the recordings' first frames
constexpr int kThirdStart = 9500;
constexpr int kHead = 200;          // frames left out of the scene at the start
constexpr int kTail = 500;          // and at the end

Civil TimeOf(int k) {
    // Three recordings an hour apart, each second by second from its start.
    const int recording = k < kSecondStart ? 0 : k < kThirdStart ? 1 : 2;
    const int first = recording == 0 ? 0 : recording == 1 ? kSecondStart : kThirdStart;
    const int s = (k - first) / 25;
    return Civil{2004, 6, 12, 14 + recording, s / 60 % 60, s % 60};
}

bool WriteOwnAvi(const std::string& path) {
    const qvbench::Type2Plan plan = qvbench::PlanType2(kFrames);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        return false;
    }
    qvbench::SequentialWriter out(fd);
    qvbench::DvContent content(TimeOf);
    qvbench::PutType2(
        plan, [&](int k) { return std::pair(content.Video(k), content.Audio(k)); }, out);
    bool ok = out.Flush();
    ok = ::close(fd) == 0 && ok;
    return ok && qvbench::FileSize(path) == static_cast<int64_t>(plan.fileSize);
}

// Raw DV of the three recordings as ffmpeg encodes them (the sound in the frames,
// dated by creation_time), and from it ffmpeg's and dvgrab's AVI files: those tools
// take only DV that they can parse whole.
std::string ToolScript(const std::string& folder) {
    std::string script = "cd '" + folder + "' && rm -f frames.dv";
    const int seconds[3] = {kSecondStart / 25, (kThirdStart - kSecondStart) / 25,
                            (kFrames - kThirdStart) / 25};
    for (int r = 0; r < 3; ++r) {
        script += " && ffmpeg -nostdin -v error -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi"
                  " -i sine=sample_rate=48000 -t " + std::to_string(seconds[r]) +
                  " -c:v dvvideo -pix_fmt yuv420p -ac 2 -metadata creation_time=2004-06-12T1" +
                  std::to_string(4 + r) + ":00:00 -f dv - >> frames.dv";
    }
    return script +
           " && ffmpeg -nostdin -v error -i frames.dv -c copy -y ffmpeg.avi"
           " && ffmpeg -nostdin -v error -i frames.dv -t 260 -c copy -y ffmpeg-avi1.avi"
           " && ffmpeg -nostdin -v error -i own.avi -c copy -y remux.avi"
           " && timeout -k 5 300 dvgrab -I frames.dv -format dv1 -opendml -size 0 dvgrab-"
           " </dev/null; rm -f frames.dv";
}

// The first size bytes of source in a file of their own, really on the disk.
bool WritePrefix(const std::string& source, int64_t size, const std::string& path) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<uint8_t> block(qvbench::kIoBlock);
    bool ok = in >= 0 && out >= 0;
    for (int64_t at = 0; ok && at < size;) {
        const auto n = static_cast<size_t>(std::min<int64_t>(size - at, block.size()));
        ok = ::pread(in, block.data(), n, at) == static_cast<ssize_t>(n) &&
             qvbench::PWriteAll(out, block.data(), n, static_cast<uint64_t>(at));
        at += static_cast<int64_t>(n);
    }
    if (in >= 0) {
        ::close(in);
    }
    ok = out >= 0 && ::fsync(out) == 0 && ::close(out) == 0 && ok;
    return ok;
}

// Frames first..first+count-1 of source, as copied: the count, the kind, and a
// few frames' bytes.
bool CheckCopy(const std::string& path, const std::string& source, int first, int count) {
    const std::unique_ptr<qv::AviReader> out = qv::OpenAviFile(path);
    const std::unique_ptr<qv::AviReader> in = qv::OpenAviFile(source);
    if (!out || !in || out->FrameCount() != count || out->Kind() != in->Kind() ||
        out->StreamCount() != in->StreamCount()) {
        std::fprintf(stderr, "%s: not the %d frames of %s\n", path.c_str(), count,
                     source.c_str());
        return false;
    }
    std::vector<uint8_t> a(1 << 20);
    std::vector<uint8_t> b(1 << 20);
    for (int k : {0, count / 3, count / 2, count - 1}) {
        int na = 0;
        int nb = 0;
        out->Stream(0)->Read(k, 1, nullptr, a.data(), static_cast<int>(a.size()), &na);
        in->Stream(0)->Read(first + k, 1, nullptr, b.data(), static_cast<int>(b.size()), &nb);
        if (na <= 0 || na != nb || !std::equal(a.begin(), a.begin() + na, b.begin())) {
            std::fprintf(stderr, "%s: frame %d differs from the source's\n", path.c_str(), k);
            return false;
        }
    }
    return true;
}

// The split wrote scenes files holding all of the source's frames between them.
bool CheckSplit(const std::string& folder, const std::string& source, int scenes) {
    const std::vector<std::string> files = qvbench::FilesIn(folder);
    const std::unique_ptr<qv::AviReader> in = qv::OpenAviFile(source);
    int frames = 0;
    for (const std::string& f : files) {
        const std::unique_ptr<qv::AviReader> out = qv::OpenAviFile(f);
        frames += out && in && out->Kind() == in->Kind() ? out->FrameCount() : 0;
    }
    if (!in || static_cast<int>(files.size()) != scenes || frames != in->FrameCount()) {
        std::fprintf(stderr, "%s: %zu files of %d frames, expected %d of %d\n", source.c_str(),
                     files.size(), frames, scenes, in ? in->FrameCount() : -1);
        return false;
    }
    return true;
}

struct Source {
    std::string name;
    std::string path;
    int scenes = 0;    // recordings the split finds
    std::string kind;  // the reader's, "compat." left off
    int streams = 0;
    int frames = 0;
};

struct Row {
    std::string what;
    std::vector<Timing> ours, cp;
    double gigabytes = 0;  // what cp copies
};

std::vector<std::string> CliCopy(const Source& s, const std::string& out) {
    return {QV_CLI_PATH, "copy",  s.path, "--first", std::to_string(kHead), "--count",
            std::to_string(s.frames - kHead - kTail), out, "--yes"};
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = qvbench::ParseOptions(argc, argv, 5, true);
    if (!options) {
        return 2;
    }
    const auto& [folder, repeat, cold] = *options;
    const std::string work = folder + "/qv-bench-split-" + std::to_string(::getpid());
    const std::string outDir = work + "/out";
    if (::mkdir(work.c_str(), 0755) != 0 || ::mkdir(outDir.c_str(), 0755) != 0) {
        std::perror(work.c_str());
        return 1;
    }
    // QV_BENCH_KEEP=1 keeps the sources, for looking into a figure.
    auto removeAll = [&] {
        if (std::getenv("QV_BENCH_KEEP") != nullptr) {
            return;
        }
        qvbench::EmptyFolder(outDir);
        ::rmdir(outDir.c_str());
        qvbench::EmptyFolder(work);
        ::rmdir(work.c_str());
    };

    const auto g0 = std::chrono::steady_clock::now();
    const std::string own = work + "/own.avi";
    // The frames each tool keeps are taken from its file: dvgrab leaves out some.
    std::vector<Source> sources = {
        {"type-2 OpenDML (this benchmark's)", own, 3, "odml-avi2", 2},
        {"type-2 OpenDML (ffmpeg from raw DV)", work + "/ffmpeg.avi", 3, "odml-avi2", 2},
        {"type-2 AVI 1.0 (ffmpeg from raw DV)", work + "/ffmpeg-avi1.avi", 2, "avi1", 2},
        {"type-1 OpenDML (dvgrab from raw DV)", work + "/dvgrab-001.avi", 3, "odml-avi2", 1},
        {"type-2 OpenDML (ffmpeg remux of AVI)", work + "/remux.avi", 3, "odml-avi2", 2}};
    bool made = WriteOwnAvi(own) && qvbench::RunQuiet({"sh", "-c", ToolScript(work)});
    for (Source& s : sources) {
        const std::unique_ptr<qv::AviReader> in = qv::OpenAviFile(s.path);
        std::string kind = in ? in->Kind() : "(unreadable)";
        if (kind == "compat.odml-avi2") {
            kind = "odml-avi2";  // "idx1" kept for the first segment
        }
        s.frames = in ? in->FrameCount() : 0;
        if (!in || kind != s.kind || s.frames < kHead + kTail + 1000 ||
            in->StreamCount() != s.streams) {
            std::fprintf(stderr, "%s: %s, %d frames\n", s.path.c_str(), kind.c_str(), s.frames);
            made = false;
        }
    }
    if (!made) {
        std::fprintf(stderr, "the sources could not be made (ffmpeg and dvgrab are needed)\n");
        removeAll();
        return 1;
    }
    ::sync();
    std::printf("sources (made and synced in %.1f s):\n", qvbench::Seconds(
                                                             std::chrono::steady_clock::now() - g0));
    for (const Source& s : sources) {
        std::printf("  %-38s %6d frames  %.3f GB\n", s.name.c_str(), s.frames,
                    static_cast<double>(qvbench::FileSize(s.path)) / 1e9);
    }

    // The reference files for the scene copies: as many bytes as our copy holds.
    std::vector<std::string> prefixes;
    for (const Source& s : sources) {
        const std::string out = outDir + "/scene.avi";
        Timing t = qvbench::RunTimed(CliCopy(s, out), true);
        const int64_t size = qvbench::FileSize(out);
        ::unlink(out.c_str());
        prefixes.push_back(s.path + ".bytes");
        if (!t.ok || size <= 0 || !WritePrefix(s.path, size, prefixes.back())) {
            std::fprintf(stderr, "%s: the reference could not be made\n", s.path.c_str());
            removeAll();
            return 1;
        }
    }

    std::vector<Row> rows;
    bool allChecked = true;
    for (const bool dropped : {false, true}) {
        if (dropped && !cold) {
            break;
        }
        for (size_t i = 0; allChecked && i < sources.size(); ++i) {
            const Source& s = sources[i];
            for (const bool split : {false, true}) {
                const std::string cpFrom = split ? s.path : prefixes[i];
                const std::string cpTo = outDir + "/copy.bin";
                const std::string ours = outDir + "/scene.avi";
                const std::vector<std::string> commands[2] = {
                    split ? std::vector<std::string>{QV_CLI_PATH, "split", s.path, "--output",
                                                     outDir + "/s", "--yes"}
                          : CliCopy(s, ours),
                    {"cp", cpFrom, cpTo}};
                Row row;
                row.what = std::string(split ? "split  " : "scene  ") + s.name +
                           (dropped ? ", cold" : ", warm");
                row.gigabytes = static_cast<double>(qvbench::FileSize(cpFrom)) / 1e9;
                std::vector<std::vector<Timing>> timings(2);
                allChecked = qvbench::RunRounds(repeat, timings, [&](const std::string&, int step,
                                                                     Timing& t) {
                    qvbench::EmptyFolder(outDir);
                    ::sync();
                    if (dropped) {
                        qvbench::DropCaches();
                    }
                    t = qvbench::RunTimed(commands[step], true);
                    bool checked = t.ok;
                    if (checked && step == 1) {
                        checked = qvbench::FileSize(cpTo) == qvbench::FileSize(cpFrom);
                    } else if (checked) {
                        checked = split ? CheckSplit(outDir, s.path, s.scenes)
                                        : CheckCopy(ours, s.path, kHead,
                                                    s.frames - kHead - kTail);
                    }
                    if (!checked) {
                        std::fprintf(stderr, "%s: %s did not check out\n", row.what.c_str(),
                                     step == 0 ? "ours" : "cp");
                    }
                    return checked;
                });
                qvbench::EmptyFolder(outDir);
                row.ours = std::move(timings[0]);
                row.cp = std::move(timings[1]);
                std::printf("%s: ours %.2f s, cp %.2f s\n", row.what.c_str(),
                            MedianOf(row.ours, [](const Timing& t) { return t.run + t.sync; }),
                            MedianOf(row.cp, [](const Timing& t) { return t.run + t.sync; }));
                std::fflush(stdout);
                rows.push_back(std::move(row));
            }
        }
    }
    removeAll();
    if (!allChecked) {
        return 1;
    }

    std::printf("\nmedian of %d pairs (time = the command, then sync; sys = system time per GB "
                "that cp copies):\n",
                repeat);
    std::printf("%-50s %6s %6s %6s %7s %7s %5s %7s %7s %5s %5s\n", "", "ours s", "cp s",
                "speed", "sys/GB", "cp", "x", "kern/GB", "cp", "x", "MiB");
    for (const Row& r : rows) {
        const auto total = [](const Timing& t) { return t.run + t.sync; };
        const auto sys = [](const Timing& t) { return t.sys; };
        const double ours = MedianOf(r.ours, total);
        const double cp = MedianOf(r.cp, total);
        const double oursSys = MedianOf(r.ours, sys) / r.gigabytes;
        const double cpSys = MedianOf(r.cp, sys) / r.gigabytes;
        const auto kernel = [](const Timing& t) { return t.kernel; };
        const double oursKernel = MedianOf(r.ours, kernel) / r.gigabytes;
        const double cpKernel = MedianOf(r.cp, kernel) / r.gigabytes;
        std::printf("%-50s %6.2f %6.2f %6.2f %7.3f %7.3f %5.2f %7.3f %7.3f %5.2f %5.1f\n",
                    r.what.c_str(), ours, cp, cp / ours, oursSys, cpSys,
                    cpSys > 0 ? oursSys / cpSys : 0.0, oursKernel, cpKernel,
                    cpKernel > 0 ? oursKernel / cpKernel : 0.0,
                    MedianOf(r.ours, [](const Timing& t) { return t.maxRssMiB; }));
    }
    std::printf("\nspeed: cp's time over ours (1.00: as fast as cp); sys/GB: the command's own "
                "system time; kern/GB: the whole machine's kernel time over the command and "
                "its sync (writeback by the kernel's threads included); x: ours over cp's; "
                "MiB: our peak memory\n");
    return 0;
}
