#pragma once
// The strip of five small pictures of the selected scene below the main
// window's scene list: its first frame, the frames at one quarter, half and
// three quarters of its length and its last frame, each with its time offset
// within the scene above it. Positions past the scene's end show grey without a
// label.
//
// The strip owns the decoder and the reader of the shown file and the cache of
// rendered pictures. It draws into an off-screen pixmap and shows that in one
// copy, from a one-shot timer: 100 ms after the shown file or frame range
// changes, 50 ms after each repaint while the window is not minimized, so a
// burst of changes or repaints draws once.

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "dv/PictureDecoder.h"
#include "progress/PictureCache.h"

namespace qv {

class PictureStrip : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPictureCount = 5;
    // Pixels above the pictures that hold the labels.
    static constexpr int kLabelHeight = 15;
    static constexpr int kCropMargin = 10;
    static constexpr int kSceneChangeDelay = 100;  // ms
    static constexpr int kRepaintDelay = 50;       // ms

    PictureStrip(QWidget* parent, const std::string& codecSetting);
    ~PictureStrip() override;

    // Takes the area of frame (a sibling in the same parent) for the pictures
    // and the kLabelHeight pixels above it for the labels.
    void PlaceOver(const QWidget* frame);

    // Shows frames firstFrame..lastFrame of stream 0 of file. A file not shown
    // before gets a new reader and decoder stream; drawing follows 100 ms later
    // when the file or the range changed.
    void ShowScene(const std::string& file, int firstFrame, int lastFrame);
    // Lets go of the shown file (decoder first, then its reader) and shows no
    // scene: grey pictures without labels, drawn 100 ms later.
    void ShowNone();
    // Whether a scene is shown (ShowScene since the last ShowNone).
    bool ShowsScene() const { return showing_; }

    // The frames the five pictures show for the current range; -1 for a grey
    // position past the scene's end, and for all five when no scene is shown.
    std::vector<int> Frames() const;
    // The five label texts: the offset of each frame within the scene, empty
    // for the grey positions.
    std::vector<std::string> Labels() const;

    // What the timer does: draws the strip now and stops the timer.
    void DrawNow();

    // The last drawing (null before the first), in widget coordinates.
    const QPixmap& Drawing() const { return buffer_; }
    // Where picture i lies in the widget: its cell less one pixel on the right
    // and bottom; the label is the kLabelHeight pixels above it.
    QRect PictureArea(int index) const;

    bool TimerActive() const { return timer_.isActive(); }
    int TimerInterval() const { return timer_.interval(); }
    // Pictures rendered since construction (cache misses).
    int RenderCount() const { return renderCount_; }
    PictureCache& Cache() { return cache_; }
    const PictureDecoder& Decoder() const { return decoder_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    float Step() const;
    int FrameAt(int index) const;
    // The picture of frame at width x height: the frame drawn one field with the
    // crop margin, or grey when it cannot be.
    PackedDib RenderFrame(int frame, int width, int height);
    void StartTimer(int milliseconds);

    PictureDecoder decoder_;
    std::unique_ptr<AviReader> reader_;
    PictureCache cache_;
    int firstFrame_ = 0;
    int lastFrame_ = 0;
    bool showing_ = false;
    QTimer timer_;
    QPixmap buffer_;
    bool drawing_ = false;  // the repaint is the strip's own
    int renderCount_ = 0;
};

}  // namespace qv
