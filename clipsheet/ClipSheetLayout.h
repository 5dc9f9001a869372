#pragma once
// The clip sheet's layout and drawing: every scene as one or more pictures in
// reading order, each with a time and the scene's file name under it, the
// pictures of one scene bracketed and underlined together, a red cross over
// the scenes not to be written. One layout per target: the window keeps one,
// every print job makes its own.
//
// Sizes are device pixels of the target, so the same arithmetic lays out a
// window and a printed page. Drawing goes through QPainter onto any paint
// device; with no painter PaintSheet only lays out (for measuring a print job
// before a page exists).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "clipsheet/ClipSheetSettings.h"
#include "dv/PictureDecoder.h"

class QFontMetrics;
class QPainter;
class QPaintDevice;
class QPagedPaintDevice;
class QString;

namespace qv {

class PictureCache;
class SceneList;

// A rectangle as the layout computes it: right and bottom lie just outside.
struct SheetRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    friend bool operator==(const SheetRect&, const SheetRect&) = default;
};

// One picture place on the sheet.
struct ClipCell {
    int timecodeBase = 0;  // added to frame numbers before they are shown as text
    int sceneIndex = 0;    // in the scene list
    int frame = 0;         // the source frame shown
    SheetRect rect;        // target coordinates at the last paint; also the hit area
    int available = 0;     // drawn, or known to be in the picture cache
    int pending = 0;       // still to be drawn by the timer
};

class ClipSheetLayout {
  public:
    static constexpr int kCropMargin = 10;
    // One timer tick of background work stops once it has run this long.
    static constexpr uint32_t kSliceMilliseconds = 100;

    // cache: the program's shared picture cache (window), or null (printing).
    // codecSetting: the decoder to prefer, as the program's settings name it.
    explicit ClipSheetLayout(PictureCache* cache, std::string codecSetting = {});
    ~ClipSheetLayout();
    ClipSheetLayout(const ClipSheetLayout&) = delete;
    ClipSheetLayout& operator=(const ClipSheetLayout&) = delete;

    // Lays out every cell and draws those that meet clip (target coordinates):
    // with wholeCells false every cell overlapping it at all, with true only
    // cells wholly inside it. Fonts are measured on device; painter (on device)
    // may be null, and then nothing is drawn or decoded. Returns 1.
    int PaintSheet(QPaintDevice& device, QPainter* painter, const SceneList& scenes,
                   const SheetRect& clip, bool wholeCells);

    // One timer tick: recomputes the visible cells after a scroll, draws the
    // pending pictures through painter (the window's client area), then decodes
    // ahead into the cache while it has room; each phase stops once the tick
    // has run kSliceMilliseconds. Returns the rectangles drawn.
    std::vector<SheetRect> PaintPending(QPainter& painter, const SceneList& scenes);

    // Makes path the file being decoded; the open one is kept when it is the
    // same file. Whether a reader is open.
    bool OpenSceneSource(const std::string& path);

    // The texts under cell k: its time ("position [length]" under a scene's
    // first picture, "position" under the others), and the scene's file name
    // without folder and extension (first picture only; else empty).
    std::string TimeText(const SceneList& scenes, size_t k) const;
    std::string NameText(const SceneList& scenes, size_t k) const;
    bool FirstOfScene(size_t k) const;
    bool LastOfScene(size_t k) const;

    // The last cell whose rectangle holds the point; -1 when none.
    int HitTest(int x, int y) const;

    // Pictures decoded since construction.
    int RenderCount() const { return renderCount_; }
    const PictureDecoder& Decoder() const { return decoder_; }
    // The first file that could not be read while pictures were drawn, with the
    // system's reason on a line of its own; empty when every read went well.
    std::string ReadFailure() const;

    // The first eight integers are copied as a block, the headline separately.
    ClipSheetSettings settings;
    int scrolled = 0;   // a scroll happened: the next tick recomputes the visible cells
    int printMode = 0;  // 1: only write = YES scenes, pictures decoded while painting
    int lastVisibleBottom = 0;  // sheet coordinate of the last drawn cell's bottom
    std::vector<ClipCell> cells;
    int pictureWidth = 0;
    int pictureHeight = 0;
    int rowGap = 0;
    int lineHeight = 0;
    int columnGap = 1;
    int leftMargin = 0;
    int scrollOffset = 0;  // sheet coordinate shown at the target's top edge
    int totalHeight = 0;
    int topMargin = 10;
    int textLines = 0;
    SheetRect clientRect;
    PictureCache* cache = nullptr;
    // The millisecond tick a tick's slices are measured with; TickCount unless
    // a test gives its own.
    std::function<uint32_t()> clock;

  private:
    void DrawCachedOrRender(QPainter& painter, const SceneList& scenes, ClipCell& cell);
    void DrawCross(QPainter& painter, const SheetRect& r) const;
    uint32_t Now() const;

    std::unique_ptr<AviReader> reader_;
    PictureDecoder decoder_;
    std::string readFailure_;
    int renderCount_ = 0;
};

// Prints the write = YES scenes of scenes with window's settings over as many
// pages of printer as they need: a row that does not fit wholly on a page starts
// the next page; a page on which nothing fits ends the job. Starts painting on
// printer only when there is a page to print. The number of pages printed; -1
// when printing could not start (a PDF file that cannot be written). readFailure
// (optional) receives the ReadFailure of the pictures printed.
int PrintSheet(QPagedPaintDevice& printer, const ClipSheetLayout& window, const SceneList& scenes,
               const std::string& codecSetting = {}, std::string* readFailure = nullptr);

// text as it fits width in metrics' font: whole, or shortened with an ellipsis. A
// text of several parts (a time and its length) loses whole parts, so that no time
// is cut in two.
QString FittedText(const QString& text, const QFontMetrics& metrics, int width);

}  // namespace qv
