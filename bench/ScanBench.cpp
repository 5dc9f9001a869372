// How few frames the datestamp scan reads, and how fast it is, compared with
// reading the datestamp of every frame.
//
// Writes a sparse OpenDML type-2 PAL DV AVI of one hour (90,000 frames, about
// 13.7 GB, of which only the headers, the indexes and every frame's first 512
// bytes take disk space) holding 20 recordings with clock jumps between them,
// then in one run times
//   (a) qv::ScanFileDatestamps, the galloping search, and
//   (b) the exhaustive pass: the first 512 bytes of every frame read through the
//       same reader, decoded by this program, and split into scenes by the same
//       2-second rule,
// counting the frames each reads, and checks that both find the scenes that
// were recorded. A third row runs the exhaustive pass with the program's own
// qv::ReadFrameDatestamp: what one probe of the scan costs, times every frame.
// The file is removed at the end.
//
// usage: bench_scan [folder] [--repeat N] [--cold]
//   folder    where the temporary file goes (default $TMPDIR, else /tmp)
//   --repeat  runs of each step (default 5; the median is reported)
//   --cold    also time with the page cache dropped before each step (root only)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "bench/BenchAvi.h"
#include "bench/BenchUtil.h"
#include "dv/Datestamp.h"
#include "dv/DatestampScan.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"

namespace {

using qvbench::Civil;
using qvbench::kHeadBytes;
using qvbench::Median;

constexpr int kFrames = 90000;  // one hour at 25 fps
constexpr double kRate = 25.0;

// One recording on the tape: its length, the camcorder's clock at its first
// frame, and how far into that second the first frame lies (0..24 frames).
struct Recording {
    int frames;
    Civil start;
    int phase;
};

// A holiday tape: pauses of a few seconds, jumps of hours and days, a recording
// over midnight, the clock reset to 2000-01-01 by a battery change (a jump back
// of three years), and set back for a new time zone (a jump back of 45 minutes).
// The lengths add up to kFrames.
const Recording kRecordings[] = {
    {3010, {2003, 7, 19, 10, 12, 3}, 7},
    {812, {2003, 7, 19, 10, 31, 47}, 0},
    {7537, {2003, 7, 19, 14, 5, 10}, 12},
    {260, {2003, 7, 19, 14, 10, 29}, 3},     // 18 s after the last one ended
    {11250, {2003, 7, 19, 23, 58, 30}, 20},  // ends 00:06:00 the next day
    {1875, {2003, 7, 21, 9, 0, 0}, 0},
    {4020, {2003, 7, 21, 9, 1, 24}, 5},      // 9 s pause
    {95, {2003, 7, 21, 12, 40, 55}, 24},     // under 4 seconds
    {6600, {2003, 7, 22, 8, 15, 0}, 1},
    {2210, {2003, 7, 22, 8, 19, 34}, 0},     // 10 s pause
    {9015, {2000, 1, 1, 0, 0, 0}, 0},        // the clock reset
    {450, {2000, 1, 1, 0, 6, 21}, 0},
    {5175, {2003, 7, 23, 16, 2, 40}, 16},    // the clock set again
    {1340, {2003, 7, 23, 15, 20, 31}, 0},    // an hour back: a new time zone
    {8120, {2003, 7, 25, 11, 11, 11}, 9},
    {3333, {2003, 7, 25, 11, 16, 50}, 13},   // 14 s pause
    {612, {2003, 7, 26, 19, 45, 0}, 2},
    {10400, {2003, 7, 27, 6, 0, 7}, 18},
    {2746, {2003, 7, 28, 21, 30, 30}, 0},
    {11140, {2003, 8, 2, 13, 0, 0}, 11},
};
constexpr int kRecordingCount = static_cast<int>(sizeof kRecordings / sizeof kRecordings[0]);

// A scene as found: first frame, frame count, and the recording time of the first
// frame (calendar time from the program, zone-less seconds from this one).
struct Found {
    int first = 0;
    int count = 0;
    int64_t datestamp = 0;
};

// The generated truth, and the recording time of every frame.
struct Tape {
    std::vector<Found> scenes;       // datestamp as zone-less seconds
    std::vector<int64_t> frameTime;  // zone-less seconds of each frame
};

Tape MakeTape() {
    Tape tape;
    int first = 0;
    for (const Recording& r : kRecordings) {
        const int64_t start = qvbench::SecondsFromCivil(r.start);
        tape.scenes.push_back({first, r.frames, start});
        for (int k = 0; k < r.frames; ++k) {
            tape.frameTime.push_back(start + (r.phase + k) / 25);
        }
        first += r.frames;
    }
    return tape;
}

// Two recordings whose clocks run in step with the frame count could pass for
// one: the search may skip a short recording in between. The table is checked.
bool RecordingsDistinct(const Tape& tape) {
    for (int i = 0; i < kRecordingCount; ++i) {
        for (int j = i + 1; j < kRecordingCount; ++j) {
            const Found& a = tape.scenes[static_cast<size_t>(i)];
            const Found& b = tape.scenes[static_cast<size_t>(j)];
            const double offsetA = static_cast<double>(a.datestamp) - a.first / kRate;
            const double offsetB = static_cast<double>(b.datestamp) - b.first / kRate;
            if (std::abs(offsetA - offsetB) < 6) {
                std::fprintf(stderr, "recordings %d and %d keep the same clock\n", i + 1, j + 1);
                return false;
            }
        }
    }
    return true;
}

// Writes the sparse file: headers, indexes, and for every frame its video chunk
// header and the first 512 bytes of its data. Returns the plan; fileSize 0 on failure.
qvbench::Type2Plan WriteSparseCapture(const std::string& path, const Tape& tape) {
    qvbench::Type2Plan plan = qvbench::PlanType2(kFrames);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        return {};
    }
    bool ok = qvbench::WriteSparseLayout(fd, plan);
    uint8_t chunk[8 + kHeadBytes];
    qvbench::ChunkHeader(chunk, "00dc", qvbench::kVideoSize);
    for (int k = 0; ok && k < kFrames; ++k) {
        qvbench::MakeDvHead(chunk + 8,
                            qvbench::CivilFromSeconds(tape.frameTime[static_cast<size_t>(k)]));
        ok = qvbench::PWriteAll(fd, chunk, sizeof chunk, plan.pairAt[static_cast<size_t>(k)]);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        std::perror(path.c_str());
        return {};
    }
    return plan;
}

// Passes everything to the real reader and counts the reads of the video stream.
class CountingStream : public qv::AviStream {
public:
    explicit CountingStream(qv::AviStream& inner) : inner_(inner) {}

    qv::ByteSpan Header() const override { return inner_.Header(); }
    qv::ByteSpan Format() const override { return inner_.Format(); }
    std::optional<qv::VideoFormat> GetVideoFormat() const override {
        return inner_.GetVideoFormat();
    }
    double FramesPerSecond() const override { return inner_.FramesPerSecond(); }
    uint32_t UnitSize() const override { return inner_.UnitSize(); }
    int Length() const override { return inner_.Length(); }
    bool Read(int firstUnit, int unitCount, int* unitsRead, void* buffer, int bufferSize,
              int* bytesRead) override {
        ++reads;
        return inner_.Read(firstUnit, unitCount, unitsRead, buffer, bufferSize, bytesRead);
    }
    qv::FourCC Type() const override { return inner_.Type(); }
    int64_t ChunkSize(int unit) override { return inner_.ChunkSize(unit); }

    int64_t reads = 0;

private:
    qv::AviStream& inner_;
};

class CountingReader : public qv::AviReader {
public:
    explicit CountingReader(std::unique_ptr<qv::AviReader> inner)
        : inner_(std::move(inner)), video_(*inner_->Stream(0)) {}

    std::string Kind() const override { return inner_->Kind(); }
    qv::AviStream* Stream(int index) override {
        return index == 0 ? &video_ : inner_->Stream(index);
    }
    int StreamCount() const override { return inner_->StreamCount(); }
    int FrameCount() const override { return inner_->FrameCount(); }
    std::string FileName() const override { return inner_->FileName(); }
    bool Open(const std::string&) override { return false; }  // stays on its one file
    double FramesPerSecond() const override { return inner_->FramesPerSecond(); }
    using qv::AviReader::CreateWriter;
    std::unique_ptr<qv::AviWriter> CreateWriter(const std::string& destinationName,
                                                const qv::WriterOptions& options) override {
        return inner_->CreateWriter(destinationName, options);
    }

    CountingStream& Video() { return video_; }

private:
    std::unique_ptr<qv::AviReader> inner_;
    CountingStream video_;
};

// Answers every question with its first button, and remembers that one was asked.
class QuietQuestions : public qv::Questions {
public:
    qv::Answer Ask(const std::string& text, qv::Buttons, const std::string&) override {
        std::fprintf(stderr, "asked: %s\n", text.c_str());
        asked = true;
        return qv::Answer::Ok;
    }
    bool asked = false;
};

// The recording time in a frame's first 512 bytes, as zone-less seconds; 0 when
// the frame holds none. Same packs and digits as a camcorder writes them.
int64_t PlainDatestamp(const uint8_t* f) {
    auto bcd = [](uint8_t byte, uint8_t tensMask) { return ((byte & tensMask) >> 4) * 10 + (byte & 0x0F); };
    const int day = bcd(f[460], 0x30);      // recording date pack (0x62) at 458
    const int month = bcd(f[461], 0x10);
    const int year = bcd(f[462], 0xF0);
    const int second = bcd(f[465], 0x70);   // recording time pack (0x63) at 463
    const int minute = bcd(f[466], 0x70);
    const int hour = bcd(f[467], 0x30);
    if (second > 59 || minute > 59 || hour > 23 || month < 1 || month > 12 || day < 1) {
        return 0;
    }
    return qvbench::SecondsFromCivil({year >= 95 ? 1900 + year : 2000 + year, month, day, hour,
                                      minute, second});
}

// The exhaustive pass: every frame's datestamp, and a new scene wherever a frame's
// time is more than 2 seconds from what the scene's first frame and the frame
// count make it. datestampOf reads frame k's datestamp.
template <typename DatestampOf>
std::vector<Found> ExhaustiveScenes(int frames, DatestampOf datestampOf) {
    std::vector<Found> scenes;
    int b = 0;
    int64_t db = 0;
    for (int k = 0; k < frames; ++k) {
        const int64_t d = datestampOf(k);
        if (k > 0) {
            const int64_t expected =
                qv::IsUndated(db) ? 0 : db + static_cast<int64_t>(static_cast<double>(k - b) / kRate);
            if (std::llabs(d - expected) <= 2) {
                continue;
            }
            scenes.push_back({b, k - b, qv::IsUndated(db) ? 0 : db});
        }
        b = k;
        db = d;
    }
    if (frames > 0) {
        scenes.push_back({b, frames - b, qv::IsUndated(db) ? 0 : db});
    }
    return scenes;
}

// What the program should find: the generated recordings, times as calendar time.
std::vector<Found> ExpectedScenes(const Tape& tape) {
    std::vector<Found> scenes = tape.scenes;
    for (Found& s : scenes) {
        const Civil c = qvbench::CivilFromSeconds(s.datestamp);
        s.datestamp = qv::LocalTimeToCalendar(c.year, c.month, c.day, c.hour, c.minute, c.second);
    }
    return scenes;
}

bool SameScenes(const char* what, const std::vector<Found>& got, const std::vector<Found>& want) {
    bool same = got.size() == want.size();
    for (size_t i = 0; same && i < got.size(); ++i) {
        same = got[i].first == want[i].first && got[i].count == want[i].count &&
               got[i].datestamp == want[i].datestamp;
    }
    if (!same) {
        std::printf("\n*** MISMATCH: %s found %zu scenes, %zu were recorded ***\n", what,
                    got.size(), want.size());
        for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
            auto show = [](const std::vector<Found>& v, size_t j) {
                if (j < v.size()) {
                    std::printf("  %6d +%6d @%11lld", v[j].first, v[j].count,
                                static_cast<long long>(v[j].datestamp));
                } else {
                    std::printf("  %28s", "-");
                }
            };
            std::printf("  %2zu found", i + 1);
            show(got, i);
            std::printf("   recorded");
            show(want, i);
            std::printf("\n");
        }
    }
    return same;
}

// Bytes this process has made the kernel fetch from the disk ("read_bytes" of
// /proc/self/io): page cache hits and holes of the sparse file do not count.
int64_t DiskReadBytes() {
    std::ifstream io("/proc/self/io");
    for (std::string line; std::getline(io, line);) {
        if (line.rfind("read_bytes:", 0) == 0) {
            return std::atoll(line.c_str() + 11);
        }
    }
    return 0;
}

struct Step {
    std::vector<double> ms;
    std::vector<double> diskBytes;
    int64_t framesRead = 0;
    std::vector<Found> scenes;
};

}  // namespace

int main(int argc, char** argv) {
    const auto options = qvbench::ParseOptions(argc, argv, 5, true);
    if (!options) {
        return 2;
    }
    const auto& [folder, repeat, cold] = *options;
    const std::string path = folder + "/qv-bench-scan-" + std::to_string(::getpid()) + ".avi";

    const Tape tape = MakeTape();
    if (!RecordingsDistinct(tape)) {
        return 1;
    }
    const auto g0 = std::chrono::steady_clock::now();
    const qvbench::Type2Plan plan = WriteSparseCapture(path, tape);
    const auto g1 = std::chrono::steady_clock::now();
    if (plan.fileSize == 0) {
        ::unlink(path.c_str());
        return 1;
    }
    struct stat st {};
    ::stat(path.c_str(), &st);
    int shortest = kFrames;
    int longest = 0;
    for (const Recording& r : kRecordings) {
        shortest = std::min(shortest, r.frames);
        longest = std::max(longest, r.frames);
    }
    std::printf("file: %s (written in %.1f s)\n", path.c_str(), qvbench::Seconds(g1 - g0));
    std::printf("  OpenDML type-2 PAL DV, %d frames in %zu RIFF segments, %.2f GB (%.1f MB on disk)\n",
                kFrames, plan.segments.size(), static_cast<double>(plan.fileSize) / 1e9,
                static_cast<double>(st.st_blocks) * 512 / 1e6);
    std::printf("  %d recordings of %d..%d frames, the clock jumping between them\n\n",
                kRecordingCount, shortest, longest);

    // The open is the same for both passes and not part of either figure.
    std::vector<double> openMs;
    std::unique_ptr<qv::AviReader> opened;
    for (int r = 0; r < repeat; ++r) {
        opened.reset();
        const auto t0 = std::chrono::steady_clock::now();
        opened = qv::OpenAviFile(path);
        const auto t1 = std::chrono::steady_clock::now();
        openMs.push_back(qvbench::Seconds(t1 - t0) * 1e3);
        if (!opened || opened->FrameCount() != kFrames || opened->Stream(0) == nullptr) {
            std::fprintf(stderr, "%s: cannot be opened as written\n", path.c_str());
            ::unlink(path.c_str());
            return 1;
        }
    }
    auto counting = std::make_unique<CountingReader>(std::move(opened));
    CountingStream& video = counting->Video();
    std::unique_ptr<qv::AviReader> reader = std::move(counting);

    const std::vector<Found> expected = ExpectedScenes(tape);
    QuietQuestions questions;
    int status = 0;

    // scan: the program's search; plain: every frame read and decoded here;
    // ours: every frame through qv::ReadFrameDatestamp.
    auto measure = [&](bool dropCaches, Step& scan, Step& plain, Step& ours) {
        for (int r = 0; r < repeat; ++r) {
            if (dropCaches) {
                qvbench::DropCaches();
            }
            qv::SceneList scenes;
            qv::SilentProgress progress;
            uint32_t previewTick = qv::TickCount();
            int64_t probes = 0;
            qv::DatestampScanContext context{.sourceReader = reader,
                                             .scenes = scenes,
                                             .questions = questions,
                                             .progress = progress,
                                             .skipNoDatestamp = false,
                                             .lastPreviewTick = &previewTick,
                                             .onProbe = [&](int) { ++probes; }};
            int64_t framesDone = 0;
            video.reads = 0;
            const int64_t disk0 = DiskReadBytes();
            const auto t0 = std::chrono::steady_clock::now();
            const int result = qv::ScanFileDatestamps(context, path, framesDone);
            const auto t1 = std::chrono::steady_clock::now();
            scan.diskBytes.push_back(static_cast<double>(DiskReadBytes() - disk0));
            if (result != 0 || framesDone != kFrames || reader.get() == nullptr ||
                dynamic_cast<CountingReader*>(reader.get()) == nullptr) {
                std::fprintf(stderr, "the scan failed or did not use the reader given to it\n");
                return false;
            }
            // Every read is the first frame of a scene or a probe.
            if (video.reads != probes + scenes.Count()) {
                std::printf("note: %lld reads, but %lld probes and %d scene starts\n",
                            static_cast<long long>(video.reads), static_cast<long long>(probes),
                            scenes.Count());
            }
            scan.ms.push_back(qvbench::Seconds(t1 - t0) * 1e3);
            scan.framesRead = video.reads;
            scan.scenes.clear();
            for (const qv::Scene& s : scenes) {
                scan.scenes.push_back({s.firstFrame, s.frameCount, s.datestamp});
            }

            if (dropCaches) {
                qvbench::DropCaches();
            }
            video.reads = 0;
            uint8_t head[kHeadBytes];
            const int64_t disk2 = DiskReadBytes();
            const auto t2 = std::chrono::steady_clock::now();
            plain.scenes = ExhaustiveScenes(kFrames, [&](int k) -> int64_t {
                int count = 0;
                video.Read(k, 1, nullptr, head, kHeadBytes, &count);
                return count == kHeadBytes ? PlainDatestamp(head) : 0;
            });
            const auto t3 = std::chrono::steady_clock::now();
            plain.diskBytes.push_back(static_cast<double>(DiskReadBytes() - disk2));
            plain.ms.push_back(qvbench::Seconds(t3 - t2) * 1e3);
            plain.framesRead = video.reads;

            if (dropCaches) {
                qvbench::DropCaches();
            }
            video.reads = 0;
            qv::RefFileCache cache;
            const int64_t disk4 = DiskReadBytes();
            const auto t4 = std::chrono::steady_clock::now();
            ours.scenes = ExhaustiveScenes(kFrames, [&](int k) -> int64_t {
                return qv::ReadFrameDatestamp(video, k, cache, nullptr, &questions);
            });
            const auto t5 = std::chrono::steady_clock::now();
            ours.diskBytes.push_back(static_cast<double>(DiskReadBytes() - disk4));
            ours.ms.push_back(qvbench::Seconds(t5 - t4) * 1e3);
            ours.framesRead = video.reads;
        }
        return true;
    };

    auto report = [&](const char* cache, const Step& scan, const Step& plain, const Step& ours) {
        std::printf("median of %d runs, page cache %s:\n", repeat, cache);
        std::printf("  %-38s %11s %10s %13s\n", "", "frames read", "ms", "MB from disk");
        std::printf("  %-38s %11lld %10.3f %13.2f\n", "scan (qv::ScanFileDatestamps)",
                    static_cast<long long>(scan.framesRead), Median(scan.ms),
                    Median(scan.diskBytes) / 1e6);
        std::printf("  %-38s %11lld %10.3f %13.2f\n", "every frame: read 512 bytes, decode",
                    static_cast<long long>(plain.framesRead), Median(plain.ms),
                    Median(plain.diskBytes) / 1e6);
        std::printf("  %-38s %11lld %10.3f %13.2f\n", "every frame: qv::ReadFrameDatestamp",
                    static_cast<long long>(ours.framesRead), Median(ours.ms),
                    Median(ours.diskBytes) / 1e6);
        std::printf("  exhaustive/scan: %.1fx the frames read, %.1fx the time "
                    "(aim: 100x and 20x)\n",
                    static_cast<double>(plain.framesRead) / static_cast<double>(scan.framesRead),
                    Median(plain.ms) / Median(scan.ms));
        std::printf("  per frame read: scan %.2f us, exhaustive %.2f us, "
                    "ReadFrameDatestamp %.2f us\n\n",
                    Median(scan.ms) * 1e3 / static_cast<double>(scan.framesRead),
                    Median(plain.ms) * 1e3 / static_cast<double>(plain.framesRead),
                    Median(ours.ms) * 1e3 / static_cast<double>(ours.framesRead));
    };
    auto check = [&](const Step& scan, const Step& plain, const Step& ours) {
        // The exhaustive pass keeps zone-less times; the program's are calendar time.
        bool same = SameScenes("the scan", scan.scenes, expected);
        same = SameScenes("the exhaustive pass", plain.scenes, tape.scenes) && same;
        same = SameScenes("the exhaustive pass with ReadFrameDatestamp", ours.scenes, expected) && same;
        return same;
    };

    Step scan, plain, ours;
    if (!measure(false, scan, plain, ours)) {
        status = 1;
    } else {
        std::printf("open (qv::OpenAviFile, once for both passes, in neither figure): %.3f ms\n\n",
                    Median(openMs));
        report("warm", scan, plain, ours);
        if (!check(scan, plain, ours)) {
            status = 1;
        }
        if (cold) {
            Step coldScan, coldPlain, coldOurs;
            if (!measure(true, coldScan, coldPlain, coldOurs)) {
                status = 1;
            } else {
                report("dropped before every step", coldScan, coldPlain, coldOurs);
                if (!check(coldScan, coldPlain, coldOurs)) {
                    status = 1;
                }
            }
        }
        if (status == 0) {
            std::printf("scenes: the scan and the exhaustive pass both found the %d recordings "
                        "(first frame, length, recording time)\n",
                        kRecordingCount);
        }
    }
    if (questions.asked) {
        status = 1;
    }
    reader.reset();
    ::unlink(path.c_str());
    return status;
}
