#include "progress/PictureImages.h"

#include <QPainter>

#include <cstring>

namespace qv {

QImage ViewOf(const PackedDib& picture, const DrawSource& source, bool oneField) {
    const uint8_t* bits = picture.Bits();
    const auto stride = static_cast<qsizetype>(picture.Stride());
    if (bits == nullptr || picture.BitCount() != 24 || source.viewHeight <= 0 ||
        source.viewHeight > (oneField ? picture.Height() / 2 : picture.Height())) {
        return {};
    }
    // Stored rows run bottom-up: wrap them as they are, then turn the copy over.
    const QImage stored(bits, picture.Width(), source.viewHeight, oneField ? 2 * stride : stride,
                        QImage::Format_BGR888);
    return stored.mirrored(false, true);
}

PackedDib DibOf(const QImage& image) {
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    PackedDib dib = PackedDib::Make24(bgr.width(), bgr.height());
    const size_t rowBytes = static_cast<size_t>(bgr.width()) * 3;
    for (int y = 0; y < bgr.height(); ++y) {
        uint8_t* line = dib.Line(y);
        if (line != nullptr) {
            std::memcpy(line, bgr.constScanLine(y), rowBytes);
        }
    }
    return dib;
}

QImage ImageOf(const PackedDib& dib) {
    const uint8_t* bits = dib.Bits();
    if (bits == nullptr || dib.BitCount() != 24) {
        return {};
    }
    const QImage stored(bits, dib.Width(), dib.Height(), static_cast<qsizetype>(dib.Stride()),
                        QImage::Format_BGR888);
    return stored.mirrored(false, true);
}

bool DrawFrame(QPainter& painter, PictureDecoder& decoder, int frame, const QRect& target,
               bool oneField) {
    PackedDib picture;
    DrawSource source;
    if (!decoder.PrepareDraw(frame,
                             PictureRect{target.x(), target.y(), target.width(), target.height()},
                             oneField, picture, source)) {
        return false;
    }
    const QImage view = ViewOf(picture, source, oneField);
    if (view.isNull()) {
        return false;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(
        QRectF(source.target.x, source.target.y, source.target.width, source.target.height), view,
        QRectF(source.source.x, source.source.y, source.source.width, source.source.height));
    painter.restore();
    return true;
}

PackedDib RenderFrame(PictureDecoder& decoder, int frame, int width, int height, bool oneField) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(QColor(kNoPictureGrey));
    {
        QPainter painter(&image);
        DrawFrame(painter, decoder, frame, QRect(0, 0, width, height), oneField);
    }
    return DibOf(image);
}

}  // namespace qv
