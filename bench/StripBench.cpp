// How long the picture strip takes to show a newly selected scene, and how fast
// one frame is decoded compared with ffmpeg.
//
// Makes a PAL DV AVI of 2500 frames (100 s, 720x576, 4:2:0, 48 kHz stereo
// audio) with the ffmpeg program from its test pattern, then in one run times
//   (a) selecting a scene: ShowScene on a strip of the size the main window
//       gives it, up to the end of the paint that shows the five pictures, with
//       the picture cache empty and the file's pages dropped from the page cache
//       before each scene: once through the strip's one-shot timer (what the user
//       waits for) and once calling DrawNow right after ShowScene (the work), for
//       a strip opening the file and for a strip that has it open already;
//   (b) PictureDecoder::DecodeFrame of single frames (warm) against ffmpeg
//       decoding the same frame: the whole ffmpeg run for one frame after a
//       seek, and ffmpeg's time per frame over 200 frames less its start-up.
// The file is removed at the end.
//
// usage: bench_strip [folder] [--repeat N] [--cold]
//   folder    where the file goes (default $TMPDIR, else /tmp); needs 400 MB
//   --repeat  scenes / ffmpeg runs per row (default 10; the median is reported)
//   --cold    in (a) also drop the whole page cache before each scene (root
//             only), so that the program's own libraries are read again too

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "bench/BenchUtil.h"
#include "dv/PackedDib.h"
#include "dv/PictureDecoder.h"
#include "progress/PictureStrip.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 2500;
// The strip's size in the main window: the picture frame (498 x 74 dialog
// units, about 750 x 120 pixels) and the label row above it.
constexpr int kStripWidth = 750;
constexpr int kStripHeight = 120 + qv::PictureStrip::kLabelHeight;
constexpr int kDecodeFrames = 200;  // frames decoded by each decode row

double Ms(Clock::duration d) { return qvbench::Milliseconds(d); }
using qvbench::Median;
using qvbench::RunQuiet;

// Wall time of a program run in milliseconds; negative when it failed.
double TimeRun(const std::vector<std::string>& args) {
    const auto t0 = Clock::now();
    const bool ok = RunQuiet(args);
    const double ms = Ms(Clock::now() - t0);
    return ok ? ms : -1.0;
}

// Drops the file's pages from the page cache, so that the next read comes from
// the disk (or the host's cache, on a virtual machine).
bool gDropAll = false;

void DropPages(const std::string& file) {
    if (gDropAll) {
        sync();
        const int drop = ::open("/proc/sys/vm/drop_caches", O_WRONLY);
        if (drop >= 0) {
            const ssize_t n = ::write(drop, "3", 1);
            static_cast<void>(n);
            ::close(drop);
        }
    }
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd >= 0) {
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// Reads the whole file once, so that its pages are in the page cache.
void WarmPages(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd >= 0) {
        std::vector<char> buffer(size_t{1} << 20);
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }
}

// A strip that notes when each paint ends.
class TimedStrip : public qv::PictureStrip {
  public:
    using PictureStrip::PictureStrip;
    int paints = 0;
    Clock::time_point lastPaint;

  protected:
    void paintEvent(QPaintEvent* event) override {
        PictureStrip::paintEvent(event);
        lastPaint = Clock::now();
        ++paints;
    }
};

// Lets the event loop run for about ms milliseconds.
void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(1000);
    }
}

struct Scene {
    int first;
    int last;
};

// One selection: the cache is emptied and, when cold, the file's pages dropped
// first (else read into the page cache).
// viaTimer waits for the one-shot timer and the paint; otherwise DrawNow is
// called right after ShowScene. Returns the milliseconds from ShowScene to the
// end of the paint, or a negative value when the strip drew nothing new.
double Select(TimedStrip& strip, const std::string& file, const Scene& scene, bool viaTimer,
              bool cold, double* showMs) {
    strip.Cache().Clear();
    if (cold) {
        DropPages(file);
    } else {
        WarmPages(file);
    }
    const int renders = strip.RenderCount();
    const int paints = strip.paints;
    const auto t0 = Clock::now();
    strip.ShowScene(file, scene.first, scene.last);
    const auto t1 = Clock::now();
    if (viaTimer) {
        QElapsedTimer guard;
        guard.start();
        // DrawNow renders the five pictures and then paints at once; a paint
        // before that (an expose) is not the one waited for.
        while ((strip.RenderCount() - renders < qv::PictureStrip::kPictureCount ||
                strip.paints == paints) &&
               guard.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
    } else {
        strip.DrawNow();
    }
    if (showMs != nullptr) {
        *showMs = Ms(t1 - t0);
    }
    if (strip.paints == paints || strip.RenderCount() - renders != qv::PictureStrip::kPictureCount) {
        return -1.0;
    }
    return Ms(strip.lastPaint - t0);
}

struct SelectRow {
    const char* name;
    bool freshStrip;
    bool viaTimer;
    bool cold;
    std::vector<double> total;
    std::vector<double> show;
};

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    std::string folder;
    int repeat = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--cold") == 0) {
            gDropAll = true;
        } else {
            folder = argv[i];
        }
    }
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    QApplication app(argc, argv);

    const std::string file = folder + "/bench_strip_" + std::to_string(getpid()) + ".avi";
    std::printf("making %s: %d frames of PAL DV with ffmpeg...\n", file.c_str(), kFrames);
    const std::string seconds = std::to_string(kFrames / 25);
    if (!RunQuiet({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
              "testsrc=size=720x576:rate=25", "-f", "lavfi", "-i",
              "sine=frequency=440:sample_rate=48000", "-t", seconds, "-c:v", "dvvideo",
              "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le", "-ac", "2", file})) {
        std::fprintf(stderr, "ffmpeg could not make the file\n");
        std::remove(file.c_str());
        return 1;
    }

    {
        auto reader = qv::OpenAviFile(file);
        if (reader == nullptr || reader->Stream(0) == nullptr ||
            reader->Stream(0)->Length() != kFrames) {
            std::fprintf(stderr, "the file does not open as %d video frames\n", kFrames);
            std::remove(file.c_str());
            return 1;
        }
    }

    // (a) Selecting a scene. Scenes of 3 to 40 s spread over the file.
    std::vector<Scene> scenes;
    for (int i = 0; i < repeat; ++i) {
        const int length = 75 + (i * 211) % 925;
        const int first = (i * 977 + 13) % (kFrames - length);
        scenes.push_back({first, first + length - 1});
    }
    QWidget window;
    window.resize(kStripWidth + 40, 2 * kStripHeight + 60);
    std::unique_ptr<TimedStrip> shared;
    // The fresh strips and the kept one lie apart, so that one's going does not
    // expose the other.
    auto newStrip = [&window](int y) {
        auto strip = std::make_unique<TimedStrip>(&window, std::string());
        strip->setGeometry(20, y, kStripWidth, kStripHeight);
        strip->show();
        return strip;
    };
    window.show();
    Settle(200);
    // A warm-up selection that is not counted: the first decoder open and the
    // first use of the fonts cost more than any later one.
    {
        auto strip = newStrip(20);
        Settle(100);
        Select(*strip, file, Scene{0, 100}, false, true, nullptr);
    }

    std::vector<SelectRow> rows = {
        {"new strip, via timer (file opened)", true, true, true, {}, {}},
        {"new strip, DrawNow (file opened)", true, false, true, {}, {}},
        {"open strip, via timer", false, true, true, {}, {}},
        {"open strip, DrawNow", false, false, true, {}, {}},
        {"open strip, DrawNow, file's pages warm", false, false, false, {}, {}},
    };
    bool failed = false;
    for (const Scene& scene : scenes) {
        for (SelectRow& row : rows) {
            std::unique_ptr<TimedStrip> fresh;
            TimedStrip* strip = nullptr;
            if (row.freshStrip) {
                fresh = newStrip(20);
                Settle(100);  // the first paint and its repaint timer are over
                strip = fresh.get();
            } else {
                if (shared == nullptr) {
                    shared = newStrip(kStripHeight + 40);
                    Settle(100);
                    shared->ShowScene(file, 0, 10);
                    shared->DrawNow();
                    Settle(100);
                }
                strip = shared.get();
            }
            double show = 0.0;
            const double ms = Select(*strip, file, scene, row.viaTimer, row.cold, &show);
            if (ms < 0.0) {
                std::fprintf(stderr, "*** %s: scene %d..%d drew no five new pictures ***\n",
                             row.name, scene.first, scene.last);
                failed = true;
                continue;
            }
            row.total.push_back(ms);
            row.show.push_back(show);
            Settle(80);  // any repaint timer runs out before the next row
        }
    }
    std::printf("\n(a) selecting a scene, cold (cache cleared, %s dropped), strip %dx%d, "
                "median of %d scenes\n",
                gDropAll ? "whole page cache" : "file's pages", kStripWidth, kStripHeight, repeat);
    std::printf("  %-40s %10s %10s %10s %10s\n", "", "median ms", "min ms", "max ms",
                "ShowScene");
    for (const SelectRow& row : rows) {
        std::printf("  %-40s %10.1f %10.1f %10.1f %10.2f\n", row.name, Median(row.total),
                    row.total.empty() ? 0.0 : *std::min_element(row.total.begin(), row.total.end()),
                    row.total.empty() ? 0.0 : *std::max_element(row.total.begin(), row.total.end()),
                    Median(row.show));
    }
    const double newTimer = Median(rows[0].total);
    const double newWork = Median(rows[1].total);
    const double openTimer = Median(rows[2].total);
    const double openWork = Median(rows[3].total);
    std::printf("  timer and event loop share: %.1f ms (new strip), %.1f ms (open strip); the "
                "timer is %d ms\n",
                newTimer - newWork, openTimer - openWork, qv::PictureStrip::kSceneChangeDelay);
    std::printf("  aim <= 150 ms: user-visible %.1f ms (%s), work %.1f ms (%s)\n", newTimer,
                newTimer <= 150.0 ? "met" : "NOT met", newWork, newWork <= 150.0 ? "met" : "NOT met");
    shared.reset();

    // (b) One frame's decode, warm.
    WarmPages(file);
    std::vector<int> decodeFrames;
    for (int i = 0; i < kDecodeFrames; ++i) {
        decodeFrames.push_back((i * 613 + 7) % kFrames);
    }
    std::vector<double> decodeMs;
    {
        auto reader = qv::OpenAviFile(file);
        qv::PictureDecoder decoder;
        if (reader == nullptr || !decoder.Attach(file, reader->Stream(0), 0)) {
            std::fprintf(stderr, "no decoder for the file\n");
            std::remove(file.c_str());
            return 1;
        }
        qv::PackedDib picture;
        decoder.DecodeFrame(0, picture);  // warm-up
        for (int f : decodeFrames) {
            const auto t0 = Clock::now();
            const bool ok = decoder.DecodeFrame(f, picture);
            const double ms = Ms(Clock::now() - t0);
            if (!ok || picture.Width() != 720 || picture.Height() != 576) {
                std::fprintf(stderr, "*** frame %d did not decode to 720x576 ***\n", f);
                failed = true;
                continue;
            }
            decodeMs.push_back(ms);
        }
        decoder.Detach();
    }
    const double ours = Median(decodeMs);

    // ffmpeg: a whole run for one frame after a seek, and 200 frames against 1
    // from the start (its start-up taken out), as it decodes (planar 4:2:0) and
    // converting to BGR as our decoder does.
    std::vector<double> single;
    std::vector<double> one;
    std::vector<double> many;
    std::vector<double> oneBgr;
    std::vector<double> manyBgr;
    const std::string frames = std::to_string(kDecodeFrames);
    for (int i = 0; i < repeat; ++i) {
        char at[32];
        std::snprintf(at, sizeof at, "%.2f", decodeFrames[static_cast<size_t>(i)] / 25.0);
        single.push_back(
            TimeRun({"ffmpeg", "-v", "error", "-ss", at, "-i", file, "-frames:v", "1", "-f", "null",
                     "-"}));
        one.push_back(TimeRun(
            {"ffmpeg", "-v", "error", "-i", file, "-frames:v", "1", "-an", "-f", "null", "-"}));
        many.push_back(TimeRun(
            {"ffmpeg", "-v", "error", "-i", file, "-frames:v", frames, "-an", "-f", "null", "-"}));
        oneBgr.push_back(TimeRun({"ffmpeg", "-v", "error", "-i", file, "-frames:v", "1", "-an",
                                  "-pix_fmt", "bgr24", "-f", "null", "-"}));
        manyBgr.push_back(TimeRun({"ffmpeg", "-v", "error", "-i", file, "-frames:v", frames, "-an",
                                   "-pix_fmt", "bgr24", "-f", "null", "-"}));
    }
    for (const auto* v : {&single, &one, &many, &oneBgr, &manyBgr}) {
        if (std::any_of(v->begin(), v->end(), [](double x) { return x < 0.0; })) {
            std::fprintf(stderr, "*** an ffmpeg run failed ***\n");
            failed = true;
        }
    }
    const double ffSingle = Median(single);
    const double perFrame = (Median(many) - Median(one)) / (kDecodeFrames - 1);
    const double perFrameBgr = (Median(manyBgr) - Median(oneBgr)) / (kDecodeFrames - 1);
    std::printf("\n(b) one PAL DV frame decoded to a picture, warm\n");
    std::printf("  %-52s %10s %10s\n", "", "ms", "ours/it");
    std::printf("  %-52s %10.2f\n", "PictureDecoder::DecodeFrame (read, decode, to BGR)", ours);
    std::printf("  %-52s %10.2f %10.3f\n", "ffmpeg run: -ss T, 1 frame (start-up included)",
                ffSingle, ours / ffSingle);
    std::printf("  %-52s %10.2f\n", "ffmpeg run: 1 frame from the start", Median(one));
    std::printf("  %-52s %10.3f %10.2f\n", "ffmpeg per frame (200 - 1 frames, / 199)", perFrame,
                ours / perFrame);
    std::printf("  %-52s %10.3f %10.2f\n", "ffmpeg per frame, -pix_fmt bgr24", perFrameBgr,
                ours / perFrameBgr);
    std::printf("  five pictures' decodes: %.1f ms of the strip's work\n",
                ours * qv::PictureStrip::kPictureCount);

    std::remove(file.c_str());
    return failed ? 1 : 0;
}
