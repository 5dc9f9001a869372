// What the tape's damage costs beyond the thorough scan, for a one-hour PAL tape
// (90,000 frames, 60 scenes) in one run:
//   (a) counting: FrameDamageCounter over 90,000 frames in memory, against copying
//       the same bytes once (memcpy, the least any look at every byte costs);
//   (b) the report: the tape map as PNG (drawn and encoded) and as SVG, with every
//       tenth frame damaged (9,000 marks) and with every frame damaged (90,000),
//       against encoding a blank picture of the map's size as PNG.
// usage: bench_tape_health [--repeat N]   (default 3; the median is reported)

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "app/SceneList.h"
#include "clipsheet/TapeMap.h"
#include "dv/TapeHealth.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFrames = 90000;
constexpr int kScenes = 60;

// A 625/50 frame as a worn tape gives it: header, video blocks with their IDs,
// every seventh one with an error status; seed tells frames apart in the subcode.
std::vector<uint8_t> Frame(int seed) {
    std::vector<uint8_t> f(qv::kDv625FrameBytes, 0x55);
    const uint8_t header[] = {0x1F, 0x07, 0x00, 0xBF};
    std::memcpy(f.data(), header, 4);
    f[100] = static_cast<uint8_t>(seed);
    for (int s = 0; s < 12; ++s) {
        for (int b = 0; b < 150; ++b) {
            uint8_t* block = f.data() + s * 12000 + b * 80;
            if (b >= 7 && (b - 6) % 16 != 0) {
                block[0] = 0x90;
                block[3] = b % 7 == 0 ? 0xF0 : 0x00;
            }
        }
    }
    return f;
}

qv::SceneList Tape(int every) {
    qv::SceneList scenes;
    for (int i = 0; i < kScenes; ++i) {
        qv::Scene s;
        s.sourceFile = "/captures/tape.avi";
        s.firstFrame = i * (kFrames / kScenes);
        s.frameCount = kFrames / kScenes;
        s.start = i % 3 == 0 ? qv::SceneStart::kDatestamp : qv::SceneStart::kRecordingStart;
        s.health.counted = true;
        for (int f = s.firstFrame; f < s.firstFrame + s.frameCount; f += every) {
            s.health.Add({.frame = f,
                          .concealedBlocks = static_cast<uint16_t>(f % 1620),
                          .audioErrors = static_cast<uint16_t>(f % 5 == 0 ? 30 : 0),
                          .flags = qv::FrameDamage::k625});
        }
        scenes.Append(s);
    }
    return scenes;
}

size_t PngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return static_cast<size_t>(bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    qv::framesPerSecond = 25.0f;

    const std::vector<uint8_t> a = Frame(1), b = Frame(2);
    std::vector<uint8_t> copy(a.size());
    std::vector<double> count, memcpyTimes;
    size_t concealed = 0;
    for (int r = 0; r < repeat; ++r) {
        qv::FrameDamageCounter counter;
        auto t0 = Clock::now();
        for (int f = 0; f < kFrames; ++f) {
            const auto& now = f % 2 ? b : a;
            const auto& before = f % 2 ? a : b;
            concealed += counter.Count(f, now.data(), now.size(), before.data(), before.size())
                             .concealedBlocks;
        }
        count.push_back(qvbench::Seconds(Clock::now() - t0));
        t0 = Clock::now();
        for (int f = 0; f < kFrames; ++f) {
            std::memcpy(copy.data(), (f % 2 ? b : a).data(), a.size());
        }
        memcpyTimes.push_back(qvbench::Seconds(Clock::now() - t0));
    }
    const double c = qvbench::Median(count), m = qvbench::Median(memcpyTimes);
    std::printf("counting 90,000 frames: %.3f s; memcpy of the same bytes: %.3f s; ratio %.2f"
                " (%zu blocks)\n", c, m, c / m, concealed);

    for (int every : {10, 1}) {
        const qv::SceneList scenes = Tape(every);
        std::vector<double> png, svg, blank;
        size_t bytes = 0;
        for (int r = 0; r < repeat; ++r) {
            auto t0 = Clock::now();
            const auto files = qv::TapeMapFiles(scenes);
            bytes = PngBytes(qv::TapeMapImage(files));
            png.push_back(qvbench::Seconds(Clock::now() - t0));
            t0 = Clock::now();
            bytes += qv::TapeMapSvg(files).size();
            svg.push_back(qvbench::Seconds(Clock::now() - t0));
            t0 = Clock::now();
            QImage empty(qv::kTapeMapWidth, qv::TapeMapHeight(files), QImage::Format_RGB32);
            empty.fill(Qt::white);
            bytes += PngBytes(empty);
            blank.push_back(qvbench::Seconds(Clock::now() - t0));
        }
        const double p = qvbench::Median(png), s = qvbench::Median(svg),
                     e = qvbench::Median(blank);
        std::printf("map, every %s frame damaged: PNG %.3f s, SVG %.3f s; blank PNG %.4f s; "
                    "PNG/blank %.1f (%zu bytes)\n",
                    every == 1 ? "" : "tenth", p, s, e, p / e, bytes);
    }
    return 0;
}
