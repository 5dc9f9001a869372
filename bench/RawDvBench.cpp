// Raw DV: opening a one-hour file, and splitting a raw file into raw DV scenes and
// into type-2 AVI scenes, against cp of the same bytes, warm and cold in one run.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "avi/AviReader.h"

namespace {

using qvbench::MedianOf;
using qvbench::Seconds;
using qvbench::Timing;

constexpr int kFrameBytes = 144000;  // 625/50
constexpr int kHourFrames = 90000;
constexpr int kSplitFrames = 10000;  // 1.44 GB: two recordings of 5000 frames

uint8_t Bcd(int v) {
    return static_cast<uint8_t>(v / 10 << 4 | v % 10);
}

// A 625/50 frame: its header block, pattern bytes, an AAUX source pack in every DIF
// sequence (48 kHz 16-bit, 1920 samples) so that the sound is decoded, and the
// recording date and time packs of second s of a day (day 14 or 15).
std::vector<uint8_t> Frame(int index, int day, int s) {
    std::vector<uint8_t> f(kFrameBytes);
    uint32_t v = static_cast<uint32_t>(index) * 2654435761u + 977u;
    for (uint8_t& b : f) {
        v = v * 1103515245u + 12345u;
        b = static_cast<uint8_t>(v >> 16);
    }
    const uint8_t header[] = {0x1F, 0x07, 0x00, 0xBF};
    std::memcpy(f.data(), header, 4);
    f[448] = 0x60;  // VAUX source pack: signal type 0, 25 Mbit/s
    f[451] = 0xE0;
    for (int c = 0; c < 12; ++c) {
        uint8_t* pack = f.data() + c * 12000 + (6 + (c % 2 != 0 ? 0 : 48)) * 80 + 3;
        const uint8_t aaux[] = {0x50, 0xD0 | 24, 0x00, 0xC0, 0xC0};  // 1896 + 24 samples
        std::memcpy(pack, aaux, 5);
    }
    const uint8_t date[] = {0x62, 0xFF, static_cast<uint8_t>(0xC0 | Bcd(day)), 0xE7, 0x04};
    const uint8_t clock[] = {0x63, 0xFF, static_cast<uint8_t>(0x80 | Bcd(s % 60)),
                             static_cast<uint8_t>(0x80 | Bcd(s / 60 % 60)),
                             static_cast<uint8_t>(0xC0 | Bcd(s / 3600))};
    std::memcpy(f.data() + 458, date, 5);
    std::memcpy(f.data() + 463, clock, 5);
    return f;
}

// Opening: a sparse hour of 90,000 frames (12.96 GB) whose first and last frames
// have their header blocks. Each open is checked before it counts.
bool BenchOpen(const std::string& path, int repeat, bool cold) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    const std::vector<uint8_t> frame = Frame(0, 14, 0);
    bool ok = fd >= 0 && ::ftruncate(fd, int64_t{kHourFrames} * kFrameBytes) == 0 &&
              ::pwrite(fd, frame.data(), 480, 0) == 480 &&
              ::pwrite(fd, frame.data(), 480, int64_t{kHourFrames - 1} * kFrameBytes) == 480;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    for (const bool dropped : {false, true}) {
        if (dropped && !cold) {
            continue;
        }
        std::vector<double> ms;
        for (int r = 0; r < std::max(repeat, 5) * 4; ++r) {
            if (dropped) {
                ::sync();
                qvbench::DropCaches();
            }
            const auto t0 = std::chrono::steady_clock::now();
            const std::unique_ptr<qv::AviReader> reader = qv::OpenAviFile(path);
            const auto t1 = std::chrono::steady_clock::now();
            if (!reader || reader->FrameCount() != kHourFrames || reader->Kind() != "dv") {
                std::fprintf(stderr, "%s: not opened as an hour of raw DV\n", path.c_str());
                return false;
            }
            ms.push_back(qvbench::Milliseconds(t1 - t0));
        }
        std::printf(
            "open of one hour (%d frames, %.2f GB sparse), %s: median %.3f ms of %zu "
            "opens (max %.3f ms)\n",
            kHourFrames, static_cast<double>(kHourFrames) * kFrameBytes / 1e9,
            dropped ? "page cache dropped" : "warm", qvbench::Median(ms), ms.size(),
            *std::max_element(ms.begin(), ms.end()));
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
    // The outputs are named by the recording times read as UTC.
    ::setenv("TZ", "UTC", 1);
    const std::string stem = folder + "/qv-bench-rawdv-" + std::to_string(::getpid());
    const std::string hour = stem + "-hour.dv";
    const std::string source = stem + "-tape.dv";
    const std::string mov = stem + "-tape.mov";
    const std::string dvOut = stem + "-out.dv", aviOut = stem + "-out.avi", cpOut = stem + "-cp.dv";
    const std::string movAviOut = stem + "-mov.avi";
    auto outputsOf = [&](const std::string& base) {
        const size_t dot = base.rfind('.');
        const std::string ext = base.substr(dot);
        const std::string b = base.substr(0, dot);
        return std::vector<std::string>{b + "'20040714 00.00.00" + ext,
                                        b + "'20040715 00.00.00" + ext};
    };
    auto removeAll = [&] {
        for (const std::string& p : {hour, source, cpOut, mov}) {
            ::unlink(p.c_str());
        }
        for (const std::string& base : {dvOut, aviOut, movAviOut}) {
            for (const std::string& p : outputsOf(base)) {
                ::unlink(p.c_str());
            }
        }
    };
    if (!BenchOpen(hour, repeat, cold)) {
        removeAll();
        return 1;
    }
    ::unlink(hour.c_str());

    // The tape: two recordings on two days, each 200 s long.
    {
        std::FILE* f = std::fopen(source.c_str(), "wb");
        bool ok = f != nullptr;
        for (int i = 0; ok && i < kSplitFrames; ++i) {
            const int k = i % (kSplitFrames / 2);
            const std::vector<uint8_t> frame = Frame(i, i < kSplitFrames / 2 ? 14 : 15, k / 25);
            ok = std::fwrite(frame.data(), 1, frame.size(), f) == frame.size();
        }
        if (f == nullptr || std::fclose(f) != 0 || !ok) {
            std::fprintf(stderr, "cannot write %s\n", source.c_str());
            removeAll();
            return 1;
        }
        // The same tape as QuickTime, as users get it from Mac capture programs.
        if (!qvbench::RunQuiet({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source, "-c",
                                "copy", "-f", "mov", mov})) {
            std::fprintf(stderr, "ffmpeg cannot make %s\n", mov.c_str());
            removeAll();
            return 1;
        }
        ::sync();
    }
    const int64_t bytes = int64_t{kSplitFrames} * kFrameBytes;
    std::printf("\nsplit source: %d frames of 625/50 raw DV, %.3f GB, two recordings\n",
                kSplitFrames, static_cast<double>(bytes) / 1e9);

    constexpr int kSteps = 4;
    constexpr int kCp = 2;
    const char* names[kSteps] = {"split to .dv", "split to .avi", "cp", "mov to .avi"};
    const std::vector<std::string> commands[kSteps] = {
        {QV_CLI_PATH, "split", source, "--output", dvOut, "--yes"},
        {QV_CLI_PATH, "split", source, "--output", aviOut, "--yes"},
        {"cp", source, cpOut},
        {QV_CLI_PATH, "split", mov, "--output", movAviOut, "--yes"},
    };
    const std::string bases[kSteps] = {dvOut, aviOut, cpOut, movAviOut};
    auto check = [&](int step) {
        if (step == kCp) {
            return qvbench::FileSize(cpOut) == bytes;
        }
        int frames = 0;
        for (const std::string& p : outputsOf(bases[step])) {
            const auto reader = qv::OpenAviFile(p);
            if (!reader || reader->Kind() != (step == 0 ? "dv" : "compat.odml-avi2") ||
                (step != 0 && reader->StreamCount() != 2)) {
                std::fprintf(stderr, "%s: not written as asked\n", p.c_str());
                return false;
            }
            frames += reader->FrameCount();
        }
        return frames == kSplitFrames;
    };
    auto removeOutputs = [&](int step) {
        if (step == kCp) {
            ::unlink(cpOut.c_str());
            return;
        }
        for (const std::string& p : outputsOf(bases[step])) {
            ::unlink(p.c_str());
        }
    };

    bool allChecked = true;
    for (const bool dropped : {false, true}) {
        if (dropped && !cold) {
            continue;
        }
        std::printf("\npage cache: %s\n", dropped ? "dropped before every step" : "warm");
        std::vector<std::vector<Timing>> timings(kSteps);
        allChecked =
            qvbench::RunRounds(repeat, timings, [&](const std::string& label, int step, Timing& t) {
                ::sync();
                if (dropped) {
                    qvbench::DropCaches();
                }
                t = qvbench::RunTimed(commands[step]);
                const bool checked = t.ok && check(step);
                std::printf(
                    "%-7s %-13s %6.2f s + sync %5.2f s  cpu %5.2f s  peak RSS %6.1f MiB%s\n",
                    label.c_str(), names[step], t.run, t.sync, t.cpu, t.maxRssMiB,
                    checked ? "" : "  CHECK FAILED");
                removeOutputs(step);
                return checked;
            });
        if (!allChecked) {
            break;
        }
        std::printf("median of %d rounds:\n%-13s %8s %8s %9s %13s\n", repeat, "", "total s", "MB/s",
                    "ratio/cp", "peak RSS MiB");
        double mbs[kSteps] = {};
        for (const int step : {kCp, 0, 1, 3}) {
            const auto& ts = timings[static_cast<size_t>(step)];
            const double total = MedianOf(ts, [](const Timing& t) { return t.run + t.sync; });
            mbs[step] = static_cast<double>(bytes) / 1e6 / total;
            std::printf("%-13s %8.2f %8.1f %9.2f %13.1f\n", names[step], total, mbs[step],
                        mbs[step] / mbs[kCp],
                        MedianOf(ts, [](const Timing& t) { return t.maxRssMiB; }));
        }
    }
    removeAll();
    return allChecked ? 0 : 1;
}
