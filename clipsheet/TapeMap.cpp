#include "clipsheet/TapeMap.h"

#include <QFont>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <map>

namespace qv {

namespace {

// The map's few shapes, drawn once for pictures and once for SVG from one layout.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void Rect(int x, int y, int w, int h, QRgb color) = 0;
    virtual void Text(int x, int y, const std::string& text, int size, bool bold) = 0;
};

class PainterCanvas final : public Canvas {
public:
    explicit PainterCanvas(QPainter& p) : p_(p) {}
    void Rect(int x, int y, int w, int h, QRgb color) override {
        p_.fillRect(x, y, w, h, QColor::fromRgba(color));
    }
    void Text(int x, int y, const std::string& text, int size, bool bold) override {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(size);
        font.setBold(bold);
        p_.setFont(font);
        p_.setPen(Qt::black);
        p_.drawText(x, y, QString::fromStdString(text));
    }

private:
    QPainter& p_;
};

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

class SvgCanvas final : public Canvas {
public:
    std::string out;
    void Rect(int x, int y, int w, int h, QRgb color) override {
        char buffer[128];
        std::snprintf(buffer, sizeof buffer,
                      "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#%06x\"/>\n", x,
                      y, w, h, color & 0xFFFFFFu);
        out += buffer;
    }
    void Text(int x, int y, const std::string& text, int size, bool bold) override {
        out += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
               "\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"" + std::to_string(size) +
               "\"" + (bold ? " font-weight=\"bold\"" : "") + ">" + Escaped(text) + "</text>\n";
    }
};

void Draw(Canvas& canvas, const std::vector<TapeMapFile>& files) {
    const int width = kTapeMapWidth;
    canvas.Rect(0, 0, width, TapeMapHeight(files), 0xffffffff);
    for (size_t r = 0; r < files.size(); ++r) {
        const TapeMapFile& file = files[r];
        const int top = static_cast<int>(r) * kTapeMapRowHeight + kTapeMapMargin;
        const int band = top + kTapeMapBandTop;
        int damaged = 0;
        for (const Scene* s : file.scenes) {
            damaged += s->health.damagedFrames;
        }
        const std::string title =
            file.name + " \u2014 " + std::to_string(file.scenes.size()) +
            (file.scenes.size() == 1 ? " scene, " : " scenes, ") + FormatFrameTime(file.frames) +
            (damaged > 0 ? ", " + std::to_string(damaged) + " damaged frames" : ", no damage");
        canvas.Text(kTapeMapMargin, top + 14, title, 13, true);
        // A frame's mark is at least one pixel wide.
        const int frameWidth =
            std::max(1, (width - 2 * kTapeMapMargin) / std::max(file.frames, 1));
        for (size_t i = 0; i < file.scenes.size(); ++i) {
            const Scene& s = *file.scenes[i];
            const int x0 = TapeMapX(file, s.firstFrame);
            const int x1 = TapeMapX(file, s.firstFrame + s.frameCount);
            canvas.Rect(x0, band, std::max(1, x1 - x0), kTapeMapBandHeight, kTapeMapBands[i % 2]);
            canvas.Rect(x0, band, 1, kTapeMapBandHeight, 0xff606060);  // where it begins
            if (x1 - x0 >= 60) {
                canvas.Text(x0 + 3, band + 11, FormatFrameTime(s.firstFrame), 9, false);
            }
            if (s.start == SceneStart::kRecordingStart || s.start == SceneStart::kTimecode ||
                s.start == SceneStart::kFormat) {
                canvas.Rect(x0, band + kTapeMapBandHeight + 2, 2, 10,
                            s.start == SceneStart::kRecordingStart ? kTapeMapRecordingStart
                            : s.start == SceneStart::kTimecode   ? kTapeMapTimecodeBreak
                                                                  : 0xff909090);
            }
            for (const FrameDamage& d : s.health.frames) {
                const int x = TapeMapX(file, d.frame);
                const float lost = d.LostShare();
                if (lost > 0) {
                    const int h = std::max(2, static_cast<int>(lost * kTapeMapBandHeight + 0.5f));
                    canvas.Rect(x, band + kTapeMapBandHeight - h, frameWidth, h,
                                kTapeMapVideoDamage);
                }
                if (d.audioErrors > 0) {
                    canvas.Rect(x, band, frameWidth, kTapeMapBandHeight / 4, kTapeMapAudioDamage);
                }
            }
        }
    }
}

}  // namespace

std::vector<TapeMapFile> TapeMapFiles(const SceneList& scenes) {
    std::vector<TapeMapFile> files;
    std::map<std::string, size_t> index;
    for (const Scene& s : scenes) {
        auto [it, added] = index.emplace(s.sourceFile, files.size());
        if (added) {
            files.push_back(TapeMapFile{s.sourceFile, 0, {}});
        }
        TapeMapFile& f = files[it->second];
        f.scenes.push_back(&s);
        f.frames = std::max(f.frames, s.firstFrame + s.frameCount);
    }
    for (TapeMapFile& f : files) {
        std::stable_sort(f.scenes.begin(), f.scenes.end(),
                         [](const Scene* a, const Scene* b) { return a->firstFrame < b->firstFrame; });
    }
    return files;
}

void DrawTapeMap(QPainter& painter, const std::vector<TapeMapFile>& files) {
    PainterCanvas canvas(painter);
    Draw(canvas, files);
}

QImage TapeMapImage(const std::vector<TapeMapFile>& files) {
    QImage image(kTapeMapWidth, TapeMapHeight(files), QImage::Format_RGB32);
    QPainter painter(&image);
    DrawTapeMap(painter, files);
    return image;
}

std::string TapeMapSvg(const std::vector<TapeMapFile>& files) {
    SvgCanvas canvas;
    Draw(canvas, files);
    const std::string w = std::to_string(kTapeMapWidth), h = std::to_string(TapeMapHeight(files));
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
           "\" viewBox=\"0 0 " + w + " " + h + "\">\n" + canvas.out + "</svg>\n";
}

}  // namespace qv
