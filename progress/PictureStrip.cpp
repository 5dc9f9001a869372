#include "progress/PictureStrip.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <utility>

#include "app/SceneList.h"
#include "platform/Platform.h"
#include "progress/PictureImages.h"

namespace qv {

namespace {

const QColor kGrey(kNoPictureGrey);

}  // namespace

PictureStrip::PictureStrip(QWidget* parent, const std::string& codecSetting)
    : QWidget(parent), decoder_(codecSetting), cache_(PictureCache::kStripBudget) {
    setObjectName(QStringLiteral("pictureStrip"));
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &PictureStrip::DrawNow);
}

PictureStrip::~PictureStrip() {
    // The decoder lets go of the stream before the reader that owns it goes.
    decoder_.Detach();
    reader_.reset();
}

void PictureStrip::PlaceOver(const QWidget* frame) {
    if (frame != nullptr) {
        setGeometry(frame->geometry().adjusted(0, -kLabelHeight, 0, 0));
        raise();
    }
}

void PictureStrip::ShowScene(const std::string& file, int firstFrame, int lastFrame) {
    bool replaced = false;
    if (reader_ == nullptr || !SameFile(reader_->FileName(), file)) {
        decoder_.Detach();
        reader_.reset();
        reader_ = OpenAviFile(file);
        AviStream* stream = reader_ != nullptr ? reader_->Stream(0) : nullptr;
        decoder_.Attach(file, stream, kCropMargin);
        replaced = true;
    }
    if (firstFrame != firstFrame_ || lastFrame != lastFrame_ || !showing_) {
        firstFrame_ = firstFrame;
        lastFrame_ = lastFrame;
        showing_ = true;
        StartTimer(kSceneChangeDelay);
    } else if (replaced) {
        StartTimer(kSceneChangeDelay);
    }
}

void PictureStrip::ShowNone() {
    decoder_.Detach();
    reader_.reset();
    if (showing_) {
        showing_ = false;
        StartTimer(kSceneChangeDelay);
    }
}

float PictureStrip::Step() const {
    float step = 1.0f;
    if (int64_t{lastFrame_} - firstFrame_ + 1 > 0) {
        step = static_cast<float>(int64_t{lastFrame_} - firstFrame_) * 0.25f;
        if (step < 1.0f) {
            step = 1.0f;
        }
    }
    return step;
}

int PictureStrip::FrameAt(int index) const {
    if (!showing_) {
        return -1;
    }
    const float position = static_cast<float>(index) * Step() + static_cast<float>(firstFrame_);
    const int frame = static_cast<int>(position);
    return frame > lastFrame_ ? -1 : frame;
}

std::vector<int> PictureStrip::Frames() const {
    std::vector<int> frames;
    for (int i = 0; i < kPictureCount; ++i) {
        frames.push_back(FrameAt(i));
    }
    return frames;
}

std::vector<std::string> PictureStrip::Labels() const {
    std::vector<std::string> labels;
    for (int frame : Frames()) {
        labels.push_back(frame >= 0 ? FormatFrameTime(frame - firstFrame_) : std::string());
    }
    return labels;
}

QRect PictureStrip::PictureArea(int index) const {
    // The pictures' frame: the widget less the label row.
    const int left = 0;
    const int top = kLabelHeight;
    const float cellWidth = static_cast<float>(width()) * 0.2f;
    const float rowHeight = static_cast<float>(height() - kLabelHeight);
    const int x0 =
        static_cast<int>(static_cast<float>(left) + static_cast<float>(index) * cellWidth);
    const int x1 =
        static_cast<int>(static_cast<float>(left) + static_cast<float>(index + 1) * cellWidth) - 1;
    const int y0 = top;
    const int y1 = static_cast<int>(static_cast<float>(top) + rowHeight) - 1;
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

PackedDib PictureStrip::RenderFrame(int frame, int width, int height) {
    ++renderCount_;
    return qv::RenderFrame(decoder_, frame, width, height, true);
}

void PictureStrip::DrawNow() {
    timer_.stop();
    if (width() <= 0 || height() <= kLabelHeight) {
        return;
    }
    QPixmap buffer(size());
    buffer.fill(Qt::black);
    {
        QPainter painter(&buffer);
        painter.setFont(font());
        const QFontMetrics metrics(font());
        const std::vector<int> frames = Frames();
        for (int i = 0; i < kPictureCount; ++i) {
            const QRect area = PictureArea(i);
            const int f = frames[static_cast<size_t>(i)];
            const int w = area.width();
            const int h = area.height();
            QImage image;
            if (w > 0 && h > 0) {
                CachedPicture* cached = cache_.Find(decoder_.FileName(), f, w, h);
                if (cached == nullptr) {
                    cached = cache_.Add(std::make_unique<CachedPicture>(decoder_.FileName(), f, w,
                                                                        h, RenderFrame(f, w, h)));
                }
                if (cached != nullptr) {
                    image = ImageOf(cached->bitmap);
                }
            }
            if (!image.isNull()) {
                painter.drawImage(area.topLeft(), image);
            } else {
                painter.fillRect(area, kGrey);
            }

            // The label: grey across its rectangle, the text centred on the
            // baseline 2 pixels above the picture.
            const QRect label(area.left(), area.top() - kLabelHeight, w, kLabelHeight);
            painter.fillRect(label, kGrey);
            if (f >= 0) {
                const QString text = QString::fromStdString(FormatFrameTime(f - firstFrame_));
                const int x = area.left() + w / 2 - metrics.horizontalAdvance(text) / 2;
                painter.save();
                painter.setClipRect(label);
                painter.setPen(Qt::black);
                painter.drawText(QPoint(x, area.top() - 2), text);
                painter.restore();
            }
        }
    }
    buffer_ = std::move(buffer);
    // One copy to the screen; this repaint is the strip's own and starts no timer.
    drawing_ = true;
    repaint();
    drawing_ = false;
}

void PictureStrip::StartTimer(int milliseconds) {
    timer_.start(milliseconds);
}

void PictureStrip::paintEvent(QPaintEvent* /*event*/) {
    if (!buffer_.isNull()) {
        QPainter painter(this);
        painter.drawPixmap(0, 0, buffer_);
    }
    if (!drawing_ && !window()->isMinimized()) {
        StartTimer(kRepaintDelay);
    }
}

}  // namespace qv
