// How long the clip sheet takes to show its pictures, and to decode the whole
// sheet ahead, against decoding the same frames alone; and quorvandel-cli
// sheet against taking the same pictures with one ffmpeg run each.
//
// Makes PAL DV AVI files with the ffmpeg program from its test pattern, then
// in one run times
//   (a) opening the clip sheet window (1000 x 700) over 500 scenes of 3 frames
//       (1500 pictures, 3 per scene) with an empty picture cache, ticking its
//       timer until every picture in the client area is drawn ("visible"), and
//       on until every picture of the sheet is in the cache ("whole sheet");
//       the longest tick (the timer's work, without the paint that follows
//       it) is reported too. The reference decodes the same frames
//       with PictureDecoder::DecodeFrame alone, nothing scaled or drawn;
//   (b) quorvandel-cli sheet of a capture with --secs-per-pic (30 pictures of
//       the one undated scene, printed into a PDF) against one
//       "ffmpeg -ss T -i FILE -frames:v 1 out.png" per picture, the way users
//       take such pictures without the program.
// The files are removed at the end.
//
// usage: bench_clipsheet [folder] [--repeat N] [--minutes M]
//   folder     where the files go (default $TMPDIR, else /tmp); needs about
//              220 MB plus 216 MB per minute of (b)
//   --repeat   runs of each row (default 3; the median is reported)
//   --minutes  length of the capture of (b) (default 2; 60 is an hour, 13 GB)

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "bench/BenchUtil.h"
#include "clipsheet/ClipSheetWindow.h"
#include "dv/PackedDib.h"
#include "dv/PictureDecoder.h"
#include "progress/PictureCache.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kScenes = 500;
constexpr int kFramesPerScene = 3;
constexpr int kSheetPictures = 30;

double Ms(Clock::duration d) { return qvbench::Milliseconds(d); }
using qvbench::Median;
using qvbench::RunQuiet;

bool MakeCapture(const std::string& path, int frames) {
    return RunQuiet({"ffmpeg", "-y", "-loglevel", "error", "-f", "lavfi", "-i",
                "testsrc=size=720x576:rate=25", "-frames:v", std::to_string(frames), "-c:v",
                "dvvideo", "-pix_fmt", "yuv420p", "-f", "avi", path});
}

struct SheetRun {
    double shownMs = 0;  // constructed, shown and laid out, no picture yet
    double visibleMs = 0;
    double wholeMs = 0;
    double longestTickMs = 0;
    std::vector<double> tickMs;
    int visible = 0;
    int ticks = 0;
    std::vector<int> visibleFrames;
};

SheetRun OpenSheet(qv::SceneList& scenes) {
    SheetRun run;
    qv::PictureCache cache(0);
    const auto t0 = Clock::now();
    qv::ClipSheetWindow window(scenes, nullptr, cache, "", nullptr);
    window.Timer().stop();  // ticked here back to back: the time is the work's
    window.resize(1000, 700);
    window.show();
    QCoreApplication::processEvents();
    run.shownMs = Ms(Clock::now() - t0);
    const qv::SheetRect client = window.Layout().clientRect;
    auto inClient = [&](const qv::ClipCell& c) {
        return c.rect.top >= client.top && c.rect.top < client.bottom;
    };
    bool visibleDone = false;
    for (int guard = 0; guard < 100000; ++guard) {
        const auto tick = Clock::now();
        window.Tick();
        run.tickMs.push_back(Ms(Clock::now() - tick));
        run.longestTickMs = std::max(run.longestTickMs, run.tickMs.back());
        QCoreApplication::processEvents();  // the paint that shows what the tick drew
        ++run.ticks;
        bool visible = true;
        bool all = true;
        for (const qv::ClipCell& c : window.Layout().cells) {
            all = all && c.available != 0;
            visible = visible && (!inClient(c) || c.available != 0);
        }
        if (visible && !visibleDone) {
            visibleDone = true;
            run.visibleMs = Ms(Clock::now() - t0);
            for (const qv::ClipCell& c : window.Layout().cells) {
                if (inClient(c)) {
                    run.visibleFrames.push_back(c.frame);
                }
            }
            run.visible = static_cast<int>(run.visibleFrames.size());
        }
        if (all) {
            break;
        }
    }
    run.wholeMs = Ms(Clock::now() - t0);
    return run;
}

double DecodeAlone(const std::string& file, const std::vector<int>& frames) {
    const auto t0 = Clock::now();
    auto reader = qv::OpenAviFile(file);
    qv::PictureDecoder decoder;
    decoder.Attach(file, reader != nullptr ? reader->Stream(0) : nullptr, 10);
    qv::PackedDib picture;
    int decoded = 0;
    for (int f : frames) {
        decoded += decoder.DecodeFrame(f, picture) ? 1 : 0;
    }
    decoder.Detach();
    if (decoded != static_cast<int>(frames.size())) {
        std::fprintf(stderr, "only %d of %zu frames decoded\n", decoded, frames.size());
    }
    return Ms(Clock::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    int repeat = 3;
    int minutes = 2;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--minutes" && i + 1 < argc) {
            minutes = std::max(1, std::atoi(argv[++i]));
        } else {
            folder = a;
        }
    }
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    qv::framesPerSecond = 25.0f;

    // (a) the window.
    const std::string sheetFile = folder + "/bench_clipsheet_500.avi";
    if (!MakeCapture(sheetFile, kScenes * kFramesPerScene)) {
        std::fprintf(stderr, "ffmpeg could not make %s\n", sheetFile.c_str());
        return 1;
    }
    qv::SceneList scenes;
    for (int i = 0; i < kScenes; ++i) {
        qv::Scene s;
        s.sourceFile = sheetFile;
        s.outputName = folder + "/scenes'" + std::to_string(i) + ".avi";
        s.firstFrame = i * kFramesPerScene;
        s.frameCount = kFramesPerScene;
        s.write = 1;
        scenes.Append(s);
    }
    std::vector<int> allFrames;
    for (int f = 0; f < kScenes * kFramesPerScene; ++f) {
        allFrames.push_back(f);
    }
    std::vector<double> shownMs, visibleMs, wholeMs, longest, typical, decodeVisible, decodeAll;
    int over = 0;
    int visible = 0;
    int ticks = 0;
    for (int r = 0; r < repeat; ++r) {
        const SheetRun run = OpenSheet(scenes);
        shownMs.push_back(run.shownMs);
        visibleMs.push_back(run.visibleMs);
        wholeMs.push_back(run.wholeMs);
        longest.push_back(run.longestTickMs);
        typical.push_back(Median(run.tickMs));
        over = static_cast<int>(std::count_if(run.tickMs.begin(), run.tickMs.end(),
                                              [](double ms) { return ms > 120.0; }));
        visible = run.visible;
        ticks = run.ticks;
        decodeVisible.push_back(DecodeAlone(sheetFile, run.visibleFrames));
        decodeAll.push_back(DecodeAlone(sheetFile, allFrames));
    }
    std::printf("clip sheet, %d scenes, %d pictures, window 1000 x 700, %d runs (medians)\n",
                kScenes, kScenes * kFramesPerScene, repeat);
    std::printf("%-34s %10s %12s %8s\n", "", "sheet ms", "decode ms", "ratio");
    std::printf("%-34s %10.1f\n", "window shown, no picture yet", Median(shownMs));
    std::printf("%-34s %10.1f %12.1f %8.2f\n",
                ("visible pictures drawn (" + std::to_string(visible) + ")").c_str(),
                Median(visibleMs), Median(decodeVisible),
                Median(visibleMs) / std::max(0.001, Median(decodeVisible)));
    std::printf("%-34s %10.1f %12.1f %8.2f\n", "whole sheet in the cache", Median(wholeMs),
                Median(decodeAll), Median(wholeMs) / std::max(0.001, Median(decodeAll)));
    std::printf("ticks: %d, median %.1f ms, longest %.1f ms, %d over 120 ms (last run)\n\n", ticks,
                Median(typical), Median(longest), over);
    std::remove(sheetFile.c_str());

    // (b) the command line against ffmpeg.
    const int frames = minutes * 60 * 25;
    const std::string capture = folder + "/bench_clipsheet_capture.avi";
    if (!MakeCapture(capture, frames)) {
        std::fprintf(stderr, "ffmpeg could not make %s\n", capture.c_str());
        return 1;
    }
    const int secsPerPic = (frames + kSheetPictures * 25 - 1) / (kSheetPictures * 25);
    const int perPicture = secsPerPic * 25;
    const int pictures = (frames + perPicture - 1) / perPicture;
    std::vector<int> sheetFrames;
    const double step = (frames - 1.0) / (pictures - 1);
    for (int j = 0; j < pictures; ++j) {
        sheetFrames.push_back(static_cast<int>(j * step + 0.5));
    }
    const std::string pdf = folder + "/bench_clipsheet.pdf";
    const std::string png = folder + "/bench_clipsheet.png";
    const std::string settings = folder + "/bench_clipsheet.reg";
    ::setenv("QUORVANDEL_SETTINGS", settings.c_str(), 1);
    std::vector<double> cliMs, ffmpegMs;
    for (int r = 0; r < repeat; ++r) {
        auto t0 = Clock::now();
        const bool ok = RunQuiet({QV_CLI_PATH, "sheet", capture, "-o", pdf, "--pics-per-scene", "0",
                             "--secs-per-pic", std::to_string(secsPerPic)});
        cliMs.push_back(Ms(Clock::now() - t0));
        if (!ok) {
            std::fprintf(stderr, "quorvandel-cli sheet failed\n");
            return 1;
        }
        t0 = Clock::now();
        for (int f : sheetFrames) {
            char at[32];
            std::snprintf(at, sizeof at, "%.2f", f / 25.0);
            if (!RunQuiet({"ffmpeg", "-y", "-loglevel", "error", "-ss", at, "-i", capture, "-frames:v",
                      "1", png})) {
                std::fprintf(stderr, "ffmpeg failed at %s s\n", at);
                return 1;
            }
        }
        ffmpegMs.push_back(Ms(Clock::now() - t0));
    }
    std::printf("quorvandel-cli sheet of a %d-minute capture, %d pictures, %d runs (medians)\n",
                minutes, pictures, repeat);
    std::printf("%-34s %10.1f\n", "quorvandel-cli sheet ms", Median(cliMs));
    std::printf("%-34s %10.1f\n", "ffmpeg -ss T -frames:v 1 each, ms", Median(ffmpegMs));
    std::printf("%-34s %10.2f\n", "ratio sheet / ffmpeg", Median(cliMs) / Median(ffmpegMs));
    std::remove(capture.c_str());
    std::remove(pdf.c_str());
    std::remove(png.c_str());
    std::remove(settings.c_str());
    return 0;
}
