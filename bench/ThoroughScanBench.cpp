// The thorough scan of a one-hour capture against cat reading the same file, cold and
// warm in one run, with the default scan beside them.
//
// Writes a type-2 PAL DV AVI (OpenDML, RIFF segments of 7000 frames) whose every byte
// is on the disk, not a sparse file: the thorough scan reads every frame, and a hole
// would cost it nothing. The tape holds ten recordings, one hour of clock apart, each
// frame with its recording date and time. Then each step runs as a child process, its
// output thrown away, timed with its CPU time (user + system, from wait4):
//   cat      cat FILE > /dev/null
//   thorough quorvandel-cli scan --thorough FILE
//   default  quorvandel-cli scan FILE
// Before the timing, both scans are checked to find the ten recordings.
//
// usage: bench_thorough_scan [folder] [--repeat N] [--cold] [--minutes M]
//   folder     where the temporary file goes (default $TMPDIR, else /tmp)
//   --repeat   rounds of the three steps after a warm-up round (default 3; medians)
//   --cold     also time with the page cache dropped before each step (root only)
//   --minutes  length of the capture (default 60: 90,000 frames, 13.7 GB)

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchAvi.h"
#include "bench/BenchUtil.h"

namespace {

using qvbench::Timing;

constexpr int kRecordings = 10;

// Counts the scenes quorvandel-cli lists for the file (one "firstFrame" per scene).
int ScenesFound(const std::string& args) {
    const std::string command = std::string("'") + QV_CLI_PATH + "' scan --json " + args;
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr) {
        return -1;
    }
    int scenes = 0;
    char line[4096];
    while (std::fgets(line, sizeof line, out) != nullptr) {
        scenes += std::strstr(line, "\"firstFrame\"") != nullptr ? 1 : 0;
    }
    return ::pclose(out) == 0 ? scenes : -1;
}

bool WriteCapture(const std::string& path, int frames) {
    const qvbench::Type2Plan plan = qvbench::PlanType2(frames);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        return false;
    }
    // Pattern bytes stand for the pictures and the sound; the frame's first 512 bytes
    // hold its DIF headers and its recording time.
    std::vector<uint8_t> video(qvbench::kVideoSize), audio(qvbench::kAudioSize);
    for (size_t i = 0; i < video.size(); ++i) {
        video[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    const int perRecording = (frames + kRecordings - 1) / kRecordings;
    const int64_t start = qvbench::SecondsFromCivil({2004, 7, 14, 10, 0, 0});
    bool ok = true;
    {
        qvbench::SequentialWriter out(fd);
        qvbench::PutType2(
            plan,
            [&](int k) {
                const int64_t time = start + 3600 * (k / perRecording) + (k % perRecording) / 25;
                qvbench::MakeDvHead(video.data(), qvbench::CivilFromSeconds(time));
                return std::pair<const uint8_t*, const uint8_t*>(video.data(), audio.data());
            },
            out);
        ok = out.Flush();
    }
    ok = ::close(fd) == 0 && ok && qvbench::FileSize(path) == static_cast<int64_t>(plan.fileSize);
    if (!ok) {
        std::perror(path.c_str());
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int minutes = 60;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) {
            minutes = std::max(1, std::atoi(argv[++i]));
        } else {
            rest.push_back(argv[i]);
        }
    }
    const auto options =
        qvbench::ParseOptions(static_cast<int>(rest.size()), rest.data(), 3, true);
    if (!options) {
        return 2;
    }
    const auto& [folder, repeat, cold] = *options;
    const std::string path = folder + "/qv-bench-thorough-" + std::to_string(::getpid()) + ".avi";
    const int frames = minutes * 60 * 25;
    const auto g0 = std::chrono::steady_clock::now();
    if (!WriteCapture(path, frames)) {
        ::unlink(path.c_str());
        return 1;
    }
    const double gb = static_cast<double>(qvbench::FileSize(path)) / 1e9;
    std::printf("file: %s, %d frames, %.2f GB, written in %.1f s\n", path.c_str(), frames, gb,
                qvbench::Seconds(std::chrono::steady_clock::now() - g0));
    const int thoroughScenes = ScenesFound("--thorough '" + path + "'");
    const int defaultScenes = ScenesFound("'" + path + "'");
    std::printf("scenes found: thorough %d, default %d (recorded: %d)\n", thoroughScenes,
                defaultScenes, kRecordings);
    int status = thoroughScenes == kRecordings && defaultScenes == kRecordings ? 0 : 1;

    const char* names[] = {"cat FILE > /dev/null", "scan --thorough", "scan (default)"};
    const std::string cli = std::string("'") + QV_CLI_PATH + "'";
    const std::string commands[] = {"cat '" + path + "' > /dev/null",
                                    cli + " scan --thorough '" + path + "' > /dev/null",
                                    cli + " scan '" + path + "' > /dev/null"};
    for (const bool dropCaches : {false, true}) {
        if (status != 0 || (dropCaches && !cold)) {
            break;
        }
        std::vector<std::vector<Timing>> kept(3);
        const bool ok = qvbench::RunRounds(repeat, kept, [&](const std::string&, int i, Timing& t) {
            if (dropCaches && !qvbench::DropCaches()) {
                return false;
            }
            t = qvbench::RunTimed({"sh", "-c", commands[i]});
            return t.ok;
        });
        if (!ok) {
            status = 1;
            break;
        }
        std::printf("\npage cache %s, median of %d rounds:\n",
                    dropCaches ? "dropped before every step" : "warm", repeat);
        std::printf("  %-22s %9s %9s %11s %12s %14s\n", "", "s", "GB/s", "CPU s", "CPU s/GB",
                    "speed vs cat");
        const double catSeconds = qvbench::MedianOf(kept[0], [](const Timing& t) { return t.run; });
        for (size_t i = 0; i < 3; ++i) {
            const double s = qvbench::MedianOf(kept[i], [](const Timing& t) { return t.run; });
            const double cpu = qvbench::MedianOf(kept[i], [](const Timing& t) { return t.cpu; });
            std::printf("  %-22s %9.2f %9.2f %11.2f %12.3f %14.2f\n", names[i], s, gb / s, cpu,
                        cpu / gb, catSeconds / s);
        }
    }
    ::unlink(path.c_str());
    return status;
}
