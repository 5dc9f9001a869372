#pragma once
// Decoded pictures as Qt images, for everything that draws them: the picture
// strip, the clip sheet on screen and on paper. A decoded picture or a cached
// one is a 24-bit bottom-up PackedDib; these turn it into an image with its
// first line at the top and back, and draw a frame the way the decoder says
// (crop margin, one field), smoothly scaled.

#include <QImage>
#include <QRect>

#include "dv/PackedDib.h"
#include "dv/PictureDecoder.h"

class QPainter;

namespace qv {

// The grey of a picture that cannot be drawn.
inline constexpr QRgb kNoPictureGrey = 0xffa0a0a0;  // RGB(160,160,160)

// The part of a decoded picture that source names, as an image with its first
// line at the top. In one-field mode the view is stored rows 0, 2, 4, ... of
// the picture (the left half of each double-width view row). Null when the
// picture is not 24-bit or does not hold its rows.
QImage ViewOf(const PackedDib& picture, const DrawSource& source, bool oneField);

// A 24-bit bottom-up picture of an image's pixels.
PackedDib DibOf(const QImage& image);

// The image a 24-bit picture holds, top line first; null for anything else.
QImage ImageOf(const PackedDib& dib);

// Draws frame of the decoder's stream into target: the crop margin cut off, one
// field when asked, scaled smoothly. False when nothing was drawn (no stream,
// no picture, nothing left after the crop); the caller fills target grey then.
bool DrawFrame(QPainter& painter, PictureDecoder& decoder, int frame, const QRect& target,
               bool oneField);

// The picture of frame at width x height: DrawFrame into a picture of that
// size, grey where it drew nothing. Empty for a size below 1 x 1.
PackedDib RenderFrame(PictureDecoder& decoder, int frame, int width, int height, bool oneField);

}  // namespace qv
