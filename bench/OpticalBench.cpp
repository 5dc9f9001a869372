// How many frames the optical scene scan decodes, how long it takes and which
// hard cuts it finds, compared with ffmpeg's scene change filter (scdet), which
// decodes every frame.
//
// Has the ffmpeg program make a 10-minute PAL DV AVI (15,000 frames, 720x576
// 4:2:0 dvvideo, 48 kHz stereo PCM) of 14 scenes of 3 to 90 seconds, each a
// different textured test picture (most of them moving), joined by hard cuts at
// frame numbers known from the scene lengths. Then in one run:
//   (a) qv::ScanFileOptical at each sensitivity preset 0..4: time, frames
//       decoded, the cuts found, recall and precision against the known cuts;
//   (b) `ffmpeg -v error -i FILE -vf scdet=threshold=T,... -f null -`, the whole
//       run's wall time, and the cuts it reports, scored the same way.
// A found cut matches a known one when it lies within one frame of it (each
// known cut matched at most once). The file is removed at the end.
//
// usage: bench_optical [folder] [--repeat N]
//   folder    where the temporary files go (default $TMPDIR, else /tmp)
//   --repeat  runs of each step (default 1; the median time is reported)

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "bench/BenchUtil.h"
#include "dv/OpticalScan.h"
#include "platform/Progress.h"
#include "platform/Questions.h"

namespace {

using qvbench::Median;

constexpr int kFrames = 15000;  // 10 minutes at 25 fps
constexpr double kRate = 25.0;
// scdet's threshold (its default). Its score, in percent of the range, is the
// smaller of the mean absolute difference from the previous frame and that
// difference's change since the frame before, so a cut scores high while steady
// motion does not.
constexpr const char* kScdetThreshold = "10";

// One scene of the clip: its length in frames and the lavfi source that draws it
// (720x576, 25 fps; the scale, format and aspect are added for all).
struct Shot {
    int frames;
    const char* source;
};

// 3 to 90 seconds, cut at irregular places; neighbours never share a source.
// The random sources are seeded, so that every run makes the same clip.
// The lengths add up to kFrames.
const Shot kShots[] = {
    {1200, "testsrc2=s=720x576:r=25"},                                      // moving pattern
    {75, "smptebars=s=720x576:r=25,hue=h=90:s=1.4"},                        // 3 s
    {2250, "cellauto=s=720x576:r=25:rule=30:scroll=1:seed=1"},              // 90 s, scrolling
    {430, "mandelbrot=s=720x576:r=25:end_scale=0.05:end_pts=60"},          // zooming
    {913, "rgbtestsrc=s=720x576:r=25,scroll=h=0.003:v=0.002"},              // scrolling
    {1687, "life=s=720x576:r=25:mold=10:ratio=0.3:life_color=#FFD040:death_color=#2040A0:seed=3"},
    {111, "testsrc=s=720x576:r=25,hue=h=200"},                              // counter moves
    {2049, "pal100bars=s=720x576:r=25,scroll=h=-0.002"},                    // scrolling bars
    {562, "yuvtestsrc=s=720x576:r=25,rotate=a=t*0.2:fillcolor=#304050"},    // rotating
    {1333, "cellauto=s=720x576:r=25:rule=110:random_fill_ratio=0.5:scroll=1:seed=2,hue=h=120:s=3"},
    {88, "smptebars=s=720x576:r=25,negate"},                                // 3.5 s
    {1777, "testsrc2=s=720x576:r=25,hue=h=150:s=0.6,rotate=a=0.15*sin(t/3):fillcolor=#805020"},
    {905, "life=s=720x576:r=25:mold=25:ratio=0.5:life_color=#30FF60:death_color=#601010:seed=7"},
    {1620, "mandelbrot=s=720x576:r=25:start_x=-0.75:start_y=0.1:start_scale=2:end_scale=0.3:end_pts=70:inner=period"},
};
constexpr int kShotCount = static_cast<int>(sizeof kShots / sizeof kShots[0]);

// Runs a program, its standard output thrown away; false unless it exits with 0.
bool Run(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
        }
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The clip in one ffmpeg run: every scene a filter chain of its own, trimmed to
// its length, joined by the concat filter; silence for audio.
bool MakeClip(const std::string& file) {
    std::string graph;
    std::string inputs;
    for (int i = 0; i < kShotCount; ++i) {
        const std::string label = "[v" + std::to_string(i) + "]";
        graph += std::string(kShots[i].source) +
                 ",scale=720:576,format=yuv420p,setsar=16/15,trim=end_frame=" +
                 std::to_string(kShots[i].frames) + ",setpts=PTS-STARTPTS" + label + ";";
        inputs += label;
    }
    graph += inputs + "concat=n=" + std::to_string(kShotCount) + ":v=1:a=0[v]";
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", kFrames / kRate);
    return Run({"ffmpeg", "-v", "error", "-y", "-filter_complex", graph, "-f", "lavfi", "-i",
                "anullsrc=r=48000:cl=stereo", "-map", "[v]", "-map", "0:a", "-t", seconds,
                "-frames:v", std::to_string(kFrames), "-c:v", "dvvideo", "-pix_fmt", "yuv420p",
                "-s", "720x576", "-r", "25", "-c:a", "pcm_s16le", file});
}

// The known cuts: the first frame of every scene after the first.
std::vector<int> KnownCuts() {
    std::vector<int> cuts;
    int at = 0;
    for (int i = 0; i + 1 < kShotCount; ++i) {
        at += kShots[i].frames;
        cuts.push_back(at);
    }
    return cuts;
}

struct Score {
    int matched = 0;         // known cuts found within one frame
    std::vector<int> missed; // known cuts not found
    std::vector<int> extra;  // found cuts near no known one
};

// Each found cut takes the nearest unmatched known cut within one frame.
Score Compare(const std::vector<int>& found, const std::vector<int>& known) {
    Score score;
    std::vector<bool> taken(known.size(), false);
    for (int f : found) {
        int best = -1;
        for (size_t k = 0; k < known.size(); ++k) {
            if (!taken[k] && std::abs(known[k] - f) <= 1 &&
                (best < 0 || std::abs(known[k] - f) < std::abs(known[static_cast<size_t>(best)] - f))) {
                best = static_cast<int>(k);
            }
        }
        if (best >= 0) {
            taken[static_cast<size_t>(best)] = true;
            ++score.matched;
        } else {
            score.extra.push_back(f);
        }
    }
    for (size_t k = 0; k < known.size(); ++k) {
        if (!taken[k]) {
            score.missed.push_back(known[k]);
        }
    }
    return score;
}

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

struct Row {
    std::string name;
    std::vector<double> seconds;
    int64_t decodes = -1;  // -1: every frame (ffmpeg)
    std::vector<int> cuts;
    bool ok = true;
};

std::string List(const std::vector<int>& frames) {
    std::string s;
    for (int f : frames) {
        s += (s.empty() ? "" : " ") + std::to_string(f);
    }
    return s.empty() ? "-" : s;
}

// The cuts scdet reported: the pts_time of every frame the metadata filter
// printed (only frames that carry lavfi.scd.time are passed to it), as frames.
std::vector<int> ReadScdetCuts(const std::string& file) {
    std::vector<int> cuts;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find("pts_time:");
        if (line.rfind("frame:", 0) == 0 && at != std::string::npos) {
            cuts.push_back(static_cast<int>(std::lround(std::atof(line.c_str() + at + 9) * kRate)));
        }
    }
    return cuts;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = qvbench::ParseOptions(argc, argv, 1, true);
    if (!options) {
        return 2;
    }
    if (options->cold) {
        std::fprintf(stderr, "--cold is not supported by this benchmark\n");
        return 2;
    }
    const std::string& folder = options->folder;
    const int repeat = options->repeat;
    const std::string base = folder + "/qv-bench-optical-" + std::to_string(::getpid());
    const std::string file = base + ".avi";
    const std::string scdetOut = base + "-scdet.txt";

    int total = 0;
    int shortest = kFrames;
    int longest = 0;
    for (const Shot& s : kShots) {
        total += s.frames;
        shortest = std::min(shortest, s.frames);
        longest = std::max(longest, s.frames);
    }
    if (total != kFrames) {
        std::fprintf(stderr, "the scenes add up to %d frames, not %d\n", total, kFrames);
        return 1;
    }
    const std::vector<int> known = KnownCuts();

    std::printf("making %s: %d frames of PAL DV with ffmpeg...\n", file.c_str(), kFrames);
    std::fflush(stdout);
    const auto g0 = std::chrono::steady_clock::now();
    const bool made = MakeClip(file);
    const auto g1 = std::chrono::steady_clock::now();
    auto cleanUp = [&] {
        ::unlink(file.c_str());
        ::unlink(scdetOut.c_str());
    };
    if (!made) {
        std::fprintf(stderr, "ffmpeg could not make the file\n");
        cleanUp();
        return 1;
    }
    {
        auto reader = qv::OpenAviFile(file);
        const int frames = reader ? reader->FrameCount() : -1;
        if (frames != kFrames) {
            std::fprintf(stderr, "%s: %d frames, %d expected\n", file.c_str(), frames, kFrames);
            cleanUp();
            return 1;
        }
        std::printf("  %s, %d frames, %.2f GB, made in %.1f s\n", reader->Kind().c_str(), frames,
                    static_cast<double>(qvbench::FileSize(file)) / 1e9, qvbench::Seconds(g1 - g0));
    }
    std::printf("  %d scenes of %d..%d frames (%.1f..%.1f s); %zu hard cuts at frames:\n  %s\n\n",
                kShotCount, shortest, longest, shortest / kRate, longest / kRate, known.size(),
                List(known).c_str());

    int status = 0;
    QuietQuestions questions;
    std::vector<Row> rows;
    for (int sensitivity = 0; sensitivity < qv::kOpticalSensitivities; ++sensitivity) {
        Row row;
        row.name = "ours " + std::to_string(sensitivity) + " " + qv::SensitivityText(sensitivity);
        for (int r = 0; r < repeat; ++r) {
            qv::SceneList scenes;
            qv::SilentProgress progress;
            int64_t decoded = 0;
            int64_t framesDone = 0;
            qv::OpticalScanContext context{.scenes = scenes,
                                           .questions = questions,
                                           .progress = progress,
                                           .sensitivity = sensitivity,
                                           .codecSetting = {},
                                           .lastPreviewTick = nullptr,
                                           .framesDecoded = &decoded};
            const auto t0 = std::chrono::steady_clock::now();
            const int result = qv::ScanFileOptical(context, file, framesDone);
            const auto t1 = std::chrono::steady_clock::now();
            row.seconds.push_back(qvbench::Seconds(t1 - t0));
            row.decodes = decoded;
            row.ok = row.ok && result == 0 && framesDone == kFrames;
            row.cuts.clear();
            int next = 0;
            for (const qv::Scene& s : scenes) {
                if (s.firstFrame != next) {
                    row.ok = false;  // scenes must tile the file
                }
                if (s.firstFrame > 0) {
                    row.cuts.push_back(s.firstFrame);
                }
                next = s.firstFrame + s.frameCount;
            }
            row.ok = row.ok && next == kFrames;
        }
        rows.push_back(row);
    }
    {
        Row row;
        row.name = std::string("ffmpeg scdet=threshold=") + kScdetThreshold;
        for (int r = 0; r < repeat; ++r) {
            const std::string filter = std::string("scdet=threshold=") + kScdetThreshold +
                                       ",metadata=select:key=lavfi.scd.time,metadata=print:file=" +
                                       scdetOut;
            const auto t0 = std::chrono::steady_clock::now();
            row.ok = Run({"ffmpeg", "-v", "error", "-i", file, "-vf", filter, "-f", "null", "-"}) &&
                     row.ok;
            const auto t1 = std::chrono::steady_clock::now();
            row.seconds.push_back(qvbench::Seconds(t1 - t0));
            row.cuts = ReadScdetCuts(scdetOut);
            ::unlink(scdetOut.c_str());
        }
        rows.push_back(row);
    }

    std::printf("median of %d run(s), page cache warm (the file was just written):\n", repeat);
    std::printf("  %-44s %9s %8s %6s %7s %6s %9s\n", "", "seconds", "decoded", "cuts", "recall",
                "prec.", "ffmpeg/it");
    const double ffmpegSeconds = Median(rows.back().seconds);
    for (const Row& row : rows) {
        const Score score = Compare(row.cuts, known);
        const double recall = static_cast<double>(score.matched) / static_cast<double>(known.size());
        const double precision =
            row.cuts.empty() ? 0.0
                             : static_cast<double>(score.matched) / static_cast<double>(row.cuts.size());
        char decoded[32];
        if (row.decodes < 0) {
            std::snprintf(decoded, sizeof decoded, "all");
        } else {
            std::snprintf(decoded, sizeof decoded, "%lld", static_cast<long long>(row.decodes));
        }
        std::printf("  %-44s %9.2f %8s %6zu %6.0f%% %5.0f%% %8.1fx%s\n", row.name.c_str(),
                    Median(row.seconds), decoded, row.cuts.size(), recall * 100, precision * 100,
                    ffmpegSeconds / Median(row.seconds), row.ok ? "" : "  *** FAILED ***");
        if (!score.missed.empty()) {
            std::printf("  %-44s missed: %s\n", "", List(score.missed).c_str());
        }
        if (!score.extra.empty()) {
            std::printf("  %-44s extra:  %s\n", "", List(score.extra).c_str());
        }
        if (!row.ok) {
            status = 1;
        }
    }
    bool allFound = true;
    double worstRatio = 1e9;
    for (size_t i = 1; i <= 3; ++i) {  // "high" .. "low"
        allFound = allFound && Compare(rows[i].cuts, known).missed.empty();
        worstRatio = std::min(worstRatio, ffmpegSeconds / Median(rows[i].seconds));
    }
    std::printf("\nsensitivities 1..3 (high..low): every hard cut found: %s; time ffmpeg/ours at "
                "least %.1fx (aim: 5x)\n",
                allFound ? "yes" : "NO", worstRatio);
    if (questions.asked) {
        status = 1;
    }
    cleanUp();
    return status;
}
