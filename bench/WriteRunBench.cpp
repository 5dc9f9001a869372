// What the size of the copy buffer does to a write run: throughput and peak
// memory with the buffer at a quarter of the physical memory (the program's
// choice), at 256 MiB and at 64 MiB, against cp of the same bytes.
//
// Writes a type-2 PAL DV AVI of 28,000 frames (about 4.25 GB, OpenDML with four
// RIFF segments, every byte really on the disk) holding 7 recordings of 10 s to
// 8 min, and a second file of exactly the recordings' chunk bytes for cp. Each
// step is a child process:
//   (a) qv::MainWindowModel with a windowless view and questions that are
//       answered without asking: AddInput, ScanDatestamps, then WriteRun of all
//       7 scenes into a folder of their own (no source is deleted), once per
//       buffer size, and
//   (b) cp of the file of chunk bytes,
// each followed by sync, with the sync counted; the peak resident memory of the
// child comes from wait4. A first round warms up and is not counted. The outputs
// are checked (frame and sample counts, the first and last frame of every scene
// against the source, cp's size) so that a run that wrote nothing cannot look
// fast. Every file is removed at the end.
//
// usage: bench_write_run [folder] [--repeat N] [--cold]
//   folder    where the files go (default $TMPDIR, else /tmp); needs about 13 GB
//   --repeat  runs of each step (default 3; the median is reported)
//   --cold    drop the page cache before every step (root only)

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainView.h"
#include "app/MainWindowModel.h"
#include "avi/AviReader.h"
#include "bench/BenchAvi.h"
#include "bench/BenchUtil.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Questions.h"

namespace {

using qvbench::Civil;
using qvbench::kAudioSize;
using qvbench::kFramePair;
using qvbench::kSamplesPerFrame;
using qvbench::kVideoSize;
using qvbench::MedianOf;
using qvbench::Seconds;
using qvbench::SequentialWriter;
using qvbench::Timing;
constexpr uint64_t kMiB = uint64_t{1} << 20;

struct Recording {
    int frames;
    Civil start;
};

// Seven recordings of a spring day; the longest (8 min, 1.82 GB) is larger than
// both fixed buffers, so they copy it in several batches. 28,000 frames in all.
const Recording kRecordings[] = {
    {1500, {2004, 5, 1, 10, 0, 0}},
    {7500, {2004, 5, 1, 10, 14, 12}},
    {250, {2004, 5, 1, 11, 2, 40}},
    {12000, {2004, 5, 1, 13, 30, 5}},
    {3000, {2004, 5, 1, 15, 45, 51}},
    {750, {2004, 5, 1, 16, 0, 0}},
    {3000, {2004, 5, 1, 18, 22, 17}},
};
constexpr int kRecordingCount = static_cast<int>(sizeof kRecordings / sizeof kRecordings[0]);

int TotalFrames() {
    int n = 0;
    for (const Recording& r : kRecordings) {
        n += r.frames;
    }
    return n;
}

// Frame content: pattern bytes that differ from frame to frame, with the DV
// header, subcode and VAUX blocks (and so the recording time) in the first 512.
class Content {
public:
    Content() : video_(kVideoSize) {}
    const uint8_t* Video(int k, const Civil& time) {
        std::memcpy(video_.data(), pool_.At(k, kVideoSize), kVideoSize);
        qvbench::MakeDvHead(video_.data(), time);
        return video_.data();
    }
    const uint8_t* Audio(int k) const { return pool_.At(k + 7, kAudioSize); }

private:
    qvbench::PatternPool pool_;
    std::vector<uint8_t> video_;
};

// Writes the source front to back, and beside it a file of every frame's chunks
// (all of them belong to a scene): what cp copies. False on failure.
bool WriteSource(const std::string& path, const std::string& chunkBytesPath,
                 const qvbench::Type2Plan& plan) {
    std::vector<Civil> frameTime;
    for (const Recording& r : kRecordings) {
        const int64_t start = qvbench::SecondsFromCivil(r.start);
        for (int k = 0; k < r.frames; ++k) {
            frameTime.push_back(qvbench::CivilFromSeconds(start + k / 25));
        }
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int chunkFd = ::open(chunkBytesPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || chunkFd < 0) {
        std::perror(fd < 0 ? path.c_str() : chunkBytesPath.c_str());
        if (fd >= 0) {
            ::close(fd);
        }
        if (chunkFd >= 0) {
            ::close(chunkFd);
        }
        return false;
    }
    bool ok = true;
    {
        SequentialWriter out(fd);
        SequentialWriter chunks(chunkFd);
        Content content;
        qvbench::PutType2(
            plan,
            [&](int k) {
                const uint8_t* video = content.Video(k, frameTime[static_cast<size_t>(k)]);
                return std::pair(video, content.Audio(k));
            },
            out, &chunks);
        ok = out.Flush() && chunks.Flush();
    }
    struct stat st {};
    ok = ok && ::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) == plan.fileSize;
    ok = ::close(fd) == 0 && ok;
    ok = ::close(chunkFd) == 0 && ok;
    if (!ok) {
        std::perror(path.c_str());
    }
    return ok;
}

// Answers whatever a write run asks without asking anyone: OK, Yes. Every text is
// kept; a run that ends well says "completed successfully!" and nothing else.
class AutoQuestions : public qv::Questions {
public:
    qv::Answer Ask(const std::string& text, qv::Buttons buttons, const std::string&) override {
        told.push_back(text);
        switch (buttons) {
            case qv::Buttons::Ok:
            case qv::Buttons::OkCancel:
                return qv::Answer::Ok;
            case qv::Buttons::YesNo:
            case qv::Buttons::YesNoDefaultNo:
            case qv::Buttons::YesYesForAllAbort:
                return qv::Answer::Yes;
        }
        return qv::Answer::Ok;
    }
    std::vector<std::string> told;
};

// The child's side of one write run: scan, then write every scene into outFolder
// with the given buffer (0: the program's own choice). Reports on fd, one line
// "ok runSeconds syncSeconds scannedScenes", then one line per scene
// "firstFrame frameCount outputName". Returns the exit status.
int WriteRunChild(const std::string& source, const std::string& outFolder, uint64_t bufferBytes,
                  int fd) {
    AutoQuestions questions;
    qv::HeadlessView view;
    qv::MainWindowModel model(questions, view, nullptr);
    model.outputPath = outFolder + "/scenes.avi";
    model.copyBufferBytes = bufferBytes;
    if (!model.AddInput(source) || !model.ScanDatestamps(false)) {
        std::fprintf(stderr, "the scan of %s failed\n", source.c_str());
        return 1;
    }
    const int scanned = model.scenes.Count();
    // The recorded scenes, whatever the scan found (it is checked by the parent):
    // the run measures writing, on the same scenes every time.
    model.scenes.Clear();
    int first = 0;
    for (const Recording& r : kRecordings) {
        qv::Scene s;
        s.sourceFile = source;
        s.write = 1;
        s.firstFrame = first;
        s.frameCount = r.frames;
        s.datestamp = qv::LocalTimeToCalendar(r.start.year, r.start.month, r.start.day,
                                              r.start.hour, r.start.minute, r.start.second);
        model.scenes.Append(s);
        first += r.frames;
    }
    model.NameOutputs();

    ::sync();  // nothing of earlier steps is left to write
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = model.WriteRun(false);
    const auto t1 = std::chrono::steady_clock::now();
    ::sync();
    const auto t2 = std::chrono::steady_clock::now();
    bool quiet = questions.told.size() == 1 && questions.told[0] == "completed successfully!";
    if (!quiet) {
        for (const std::string& text : questions.told) {
            std::fprintf(stderr, "write run said: %s\n", text.c_str());
        }
    }
    std::ostringstream report;
    report << (ok && quiet ? 1 : 0) << ' ' << Seconds(t1 - t0) << ' ' << Seconds(t2 - t1) << ' '
           << scanned << '\n';
    for (const qv::Scene& s : model.scenes) {
        report << s.firstFrame << ' ' << s.frameCount << ' ' << s.outputName << '\n';
    }
    const std::string text = report.str();
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            return 1;
        }
        done += static_cast<size_t>(n);
    }
    return ok && quiet ? 0 : 1;
}

struct SceneOut {
    int first = 0;
    int count = 0;
    std::string name;
};

// Runs one write run in a child process. scenes receives what it wrote.
Timing RunWriteRun(const std::string& source, const std::string& outFolder, uint64_t bufferBytes,
                   std::vector<SceneOut>& scenes, int& scanned) {
    Timing t;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        std::perror("pipe");
        return t;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        const int status = WriteRunChild(source, outFolder, bufferBytes, pipeFds[1]);
        ::close(pipeFds[1]);
        std::fflush(stderr);
        ::_exit(status);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        std::perror("fork");
        ::close(pipeFds[0]);
        return t;
    }
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    const bool exited = qvbench::WaitChild(pid, t, &status);

    std::istringstream in(text);
    int ok = 0;
    in >> ok >> t.run >> t.sync >> scanned;
    scenes.clear();
    for (SceneOut s; in >> s.first >> s.count && in.get() == ' ' && std::getline(in, s.name);) {
        scenes.push_back(s);
    }
    t.ok = exited && ok == 1;
    if (!t.ok) {
        std::fprintf(stderr, "the write run failed (status %d)\n", status);
    }
    return t;
}

// Every scene's output holds the scene: kind, frame and sample counts, and its
// first and last frame equal to the source's. Nothing else is in the folder.
bool CheckOutputs(const std::string& source, const std::string& outFolder,
                  const std::vector<SceneOut>& scenes) {
    if (static_cast<int>(scenes.size()) != kRecordingCount ||
        qvbench::FilesIn(outFolder).size() != scenes.size()) {
        std::fprintf(stderr, "%zu scenes reported, %zu files written, %d expected\n",
                     scenes.size(), qvbench::FilesIn(outFolder).size(), kRecordingCount);
        return false;
    }
    std::unique_ptr<qv::AviReader> in = qv::OpenAviFile(source);
    if (!in) {
        return false;
    }
    std::vector<uint8_t> a(kVideoSize);
    std::vector<uint8_t> b(kVideoSize);
    int first = 0;
    for (size_t i = 0; i < scenes.size(); ++i) {
        const SceneOut& s = scenes[i];
        std::unique_ptr<qv::AviReader> out = qv::OpenAviFile(s.name);
        const int frames = kRecordings[i].frames;
        if (!out || s.first != first || s.count != frames || out->Kind() != in->Kind() ||
            out->StreamCount() != 2 || out->FrameCount() != frames ||
            out->Stream(1)->Length() != frames * static_cast<int>(kSamplesPerFrame)) {
            std::fprintf(stderr, "%s: not the scene of frames %d..%d\n", s.name.c_str(), first,
                         first + frames - 1);
            return false;
        }
        for (int k : {0, frames - 1}) {
            int na = 0;
            int nb = 0;
            out->Stream(0)->Read(k, 1, nullptr, a.data(), static_cast<int>(a.size()), &na);
            in->Stream(0)->Read(first + k, 1, nullptr, b.data(), static_cast<int>(b.size()), &nb);
            if (na != static_cast<int>(kVideoSize) || na != nb || a != b) {
                std::fprintf(stderr, "%s: frame %d differs from the source's\n", s.name.c_str(), k);
                return false;
            }
        }
        first += frames;
    }
    return true;
}

double ResidentMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atof(line.c_str() + 6) / 1024;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = qvbench::ParseOptions(argc, argv, 3, true);
    if (!options) {
        return 2;
    }
    const auto& [folder, repeat, cold] = *options;
    const int frames = TotalFrames();
    const qvbench::Type2Plan plan = qvbench::PlanType2(frames);
    const uint64_t chunkBytes = static_cast<uint64_t>(frames) * kFramePair;
    struct statvfs fs {};
    const uint64_t needed = plan.fileSize + 2 * chunkBytes + (uint64_t{512} << 20);
    if (::statvfs(folder.c_str(), &fs) == 0 &&
        static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize < needed) {
        std::fprintf(stderr, "%s: %.1f GB free, %.1f GB needed\n", folder.c_str(),
                     static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize) / 1e9,
                     static_cast<double>(needed) / 1e9);
        return 1;
    }

    const std::string stem = folder + "/qv-bench-write-run-" + std::to_string(::getpid());
    const std::string source = stem + "-source.avi";
    const std::string chunkFile = stem + "-chunks.bin";
    const std::string outFolder = stem + "-out";
    auto removeAll = [&] {
        qvbench::EmptyFolder(outFolder);
        ::rmdir(outFolder.c_str());
        ::unlink(source.c_str());
        ::unlink(chunkFile.c_str());
    };
    if (::mkdir(outFolder.c_str(), 0755) != 0) {
        std::perror(outFolder.c_str());
        return 1;
    }

    const auto g0 = std::chrono::steady_clock::now();
    if (!WriteSource(source, chunkFile, plan)) {
        removeAll();
        return 1;
    }
    ::sync();
    const auto g1 = std::chrono::steady_clock::now();
    const uint64_t quarter = qv::PhysicalMemory() / 4;
    std::printf("source: %s\n", source.c_str());
    std::printf("  OpenDML type-2 PAL DV, %d frames in %zu RIFF segments, %.3f GB "
                "(written and synced in %.1f s)\n",
                frames, plan.segments.size(), static_cast<double>(plan.fileSize) / 1e9,
                Seconds(g1 - g0));
    int shortest = frames;
    int longest = 0;
    for (const Recording& r : kRecordings) {
        shortest = std::min(shortest, r.frames);
        longest = std::max(longest, r.frames);
    }
    std::printf("scenes: %d recordings of %d..%d frames, %llu bytes of chunks (%.3f GB); "
                "cp copies a file of exactly those bytes\n",
                kRecordingCount, shortest, longest, static_cast<unsigned long long>(chunkBytes),
                static_cast<double>(chunkBytes) / 1e9);
    std::printf("physical memory %.2f GiB, a quarter %.2f GiB; this process %.1f MiB resident "
                "before each fork (counted in every child's peak)\n",
                static_cast<double>(qv::PhysicalMemory()) / (1 << 30),
                static_cast<double>(quarter) / (1 << 30), ResidentMiB());
    std::printf("page cache: %s\n\n",
                cold ? "dropped before every step" : "warm (the inputs were just written)");

    struct Config {
        const char* name;
        uint64_t bufferBytes;  // 0: the program's choice; ~0: cp
    };
    const Config configs[] = {
        {"quarter", 0},
        {"256 MiB", 256 * kMiB},
        {"64 MiB", 64 * kMiB},
        {"cp", ~uint64_t{0}},
    };
    constexpr int kSteps = static_cast<int>(sizeof configs / sizeof configs[0]);
    std::vector<std::vector<Timing>> timings(kSteps);
    int scanned = 0;
    const bool allChecked = qvbench::RunRounds(repeat, timings, [&](const std::string& label,
                                                                    int step, Timing& t) {
        qvbench::EmptyFolder(outFolder);
        ::sync();
        if (cold) {
            qvbench::DropCaches();
        }
        const Config& c = configs[step];
        bool checked = false;
        if (c.bufferBytes == ~uint64_t{0}) {
            const std::string out = outFolder + "/cp.bin";
            t = qvbench::RunTimed({"cp", chunkFile, out});
            checked = t.ok && qvbench::FileSize(out) == static_cast<int64_t>(chunkBytes);
        } else {
            std::vector<SceneOut> scenes;
            t = RunWriteRun(source, outFolder, c.bufferBytes, scenes, scanned);
            checked = t.ok && CheckOutputs(source, outFolder, scenes);
        }
        std::printf("%-7s %-8s %6.2f s + sync %5.2f s  cpu %5.2f s (sys %5.2f)  "
                    "faults %7.0f  peak RSS %7.1f MiB%s\n",
                    label.c_str(), c.name, t.run, t.sync, t.cpu, t.sys, t.faults, t.maxRssMiB,
                    checked ? "" : "  CHECK FAILED");
        qvbench::EmptyFolder(outFolder);
        return checked;
    });
    removeAll();
    if (!allChecked) {
        return 1;
    }

    struct Summary {
        double run, sync, total, cpu, sys, faults, rss, throughput;
    };
    Summary summary[kSteps] = {};
    for (int step = 0; step < kSteps; ++step) {
        const std::vector<Timing>& ts = timings[static_cast<size_t>(step)];
        const double total = MedianOf(ts, [](const Timing& t) { return t.run + t.sync; });
        summary[step] = {MedianOf(ts, [](const Timing& t) { return t.run; }),
                         MedianOf(ts, [](const Timing& t) { return t.sync; }),
                         total,
                         MedianOf(ts, [](const Timing& t) { return t.cpu; }),
                         MedianOf(ts, [](const Timing& t) { return t.sys; }),
                         MedianOf(ts, [](const Timing& t) { return t.faults; }),
                         MedianOf(ts, [](const Timing& t) { return t.maxRssMiB; }),
                         static_cast<double>(chunkBytes) / 1e6 / total};
    }
    std::printf("\nmedian of %d runs (time = the write run or cp, then sync):\n", repeat);
    std::printf("%-9s %7s %7s %8s %8s %7s %7s %9s %13s %6s\n", "buffer", "run s", "sync s",
                "total s", "MB/s", "cpu s", "sys s", "faults", "peak RSS MiB", "vs cp");
    for (int step = 0; step < kSteps; ++step) {
        const Summary& m = summary[step];
        std::printf("%-9s %7.2f %7.2f %8.2f %8.1f %7.2f %7.2f %9.0f %13.1f %6.2f\n",
                    configs[step].name, m.run, m.sync, m.total, m.throughput, m.cpu, m.sys,
                    m.faults, m.rss, m.throughput / summary[kSteps - 1].throughput);
    }
    if (scanned != kRecordingCount) {
        std::printf("\n*** the datestamp scan found %d scenes in the source, %d were recorded; "
                    "the runs wrote the recorded scenes ***\n",
                    scanned, kRecordingCount);
    }
    return 0;
}
