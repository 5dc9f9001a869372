#pragma once
// The map of a tape: one timeline for each input file, a band for each scene with
// its start time, the damaged frames as marks as high as the share of the picture
// lost, and the recording starts, timecode breaks and format changes that began
// scenes as ticks below. Drawn onto a QPainter (pictures) or written as SVG.

#include <QPainter>

#include <string>
#include <vector>

#include "app/SceneList.h"

namespace qv {

// One timeline: the scenes of a file in frame order.
struct TapeMapFile {
    std::string name;
    int32_t frames = 0;  // where the file's last scene ends
    std::vector<const Scene*> scenes;
};

// The files of scenes in the order their scenes come (the input list's order).
std::vector<TapeMapFile> TapeMapFiles(const SceneList& scenes);

constexpr int kTapeMapWidth = 1200;
constexpr int kTapeMapMargin = 16;
constexpr int kTapeMapRowHeight = 96;   // one file: its name, the band, the ticks
constexpr int kTapeMapBandTop = 24;     // from the row's top
constexpr int kTapeMapBandHeight = 48;
constexpr QRgb kTapeMapBands[2] = {0xffcfe3f7, 0xffd8efd0};  // scenes alternate
constexpr QRgb kTapeMapVideoDamage = 0xffd62728;             // from the band's foot up
constexpr QRgb kTapeMapAudioDamage = 0xffff8c00;             // from the band's top down
constexpr QRgb kTapeMapRecordingStart = 0xff1f4fbf;
constexpr QRgb kTapeMapTimecodeBreak = 0xff000000;

// Where frame of file lies across the map.
inline int TapeMapX(const TapeMapFile& file, int32_t frame) {
    const int span = kTapeMapWidth - 2 * kTapeMapMargin;
    return kTapeMapMargin +
           (file.frames > 0 ? static_cast<int>(int64_t{frame} * span / file.frames) : 0);
}
inline int TapeMapHeight(const std::vector<TapeMapFile>& files) {
    return static_cast<int>(files.size()) * kTapeMapRowHeight + kTapeMapMargin;
}

void DrawTapeMap(QPainter& painter, const std::vector<TapeMapFile>& files);
QImage TapeMapImage(const std::vector<TapeMapFile>& files);
// The same picture as an SVG document.
std::string TapeMapSvg(const std::vector<TapeMapFile>& files);

}  // namespace qv
