#include "dv/BitmapImage.h"

#include <algorithm>
#include <cstring>

namespace qv {
namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

// The pixel area of a picture whose pixels are whole bytes, or null.
uint8_t* PixelsOf(PackedDib& dib, size_t& bytesPerPixel) {
    if (dib.HeaderSize() != PackedDib::kInfoHeaderSize || dib.BitCount() % 8 != 0 ||
        dib.Compression() != 0) {
        return nullptr;
    }
    bytesPerPixel = static_cast<size_t>(dib.BitCount()) / 8;
    return dib.Bits();
}

}  // namespace

void KeepOneField(PackedDib& dib, bool evenField) {
    size_t p = 0;
    uint8_t* bits = PixelsOf(dib, p);
    if (bits == nullptr) {
        return;
    }
    // Rows are walked at their padded stride, which equals the packed length
    // for the usual widths and keeps other widths' rows aligned.
    const size_t length = p * static_cast<size_t>(dib.Width());
    const size_t stride = dib.Stride();
    const int height = dib.Height();
    for (int i = evenField ? 2 : 1; i < height - 1; i += 2) {
        uint8_t* row = bits + stride * static_cast<size_t>(i);
        const uint8_t* below = row - stride;
        const uint8_t* above = row + stride;
        for (size_t b = 0; b < length; ++b) {
            row[b] = static_cast<uint8_t>((below[b] + above[b]) / 2);
        }
    }
}

void CropEdges(PackedDib& dib, int v, int h) {
    size_t p = 0;
    uint8_t* bits = PixelsOf(dib, p);
    if (bits == nullptr) {
        return;
    }
    const int width = dib.Width();
    const int height = dib.Height();
    v = std::clamp(v, 0, (height - 1) / 2);
    h = std::max(h, 0);
    h += h % 2;
    // Largest even h that leaves a column: 2 * h < width.
    const int maxH = ((width - 1) / 2) / 2 * 2;
    h = std::min(h, maxH);
    if (v == 0 && h == 0) {
        return;
    }
    const int newWidth = width - 2 * h;
    const int newHeight = height - 2 * v;
    // The cropped rows keep the bitmap row padding, so the result is a valid
    // picture for any width.
    const size_t srcStride = dib.Stride();
    const size_t dstLength = p * static_cast<size_t>(newWidth);
    const size_t dstStride = PackedDib::StrideFor(newWidth, dib.BitCount());
    for (int row = 0; row < newHeight; ++row) {
        const uint8_t* src = bits + srcStride * static_cast<size_t>(row + v) + p * static_cast<size_t>(h);
        uint8_t* dst = bits + dstStride * static_cast<size_t>(row);
        // The source is always ahead of the destination; memmove for the overlap.
        std::memmove(dst, src, dstLength);
        std::memset(dst + dstLength, 0, dstStride - dstLength);
    }
    uint8_t* header = bits - dib.BitsOffset();
    Put32(header + 4, static_cast<uint32_t>(newWidth));   // biWidth
    Put32(header + 8, static_cast<uint32_t>(newHeight));  // biHeight
    Put32(header + 20, static_cast<uint32_t>(dstStride * static_cast<size_t>(newHeight)));  // biSizeImage
}

std::optional<std::vector<uint8_t>> BmpFileBytes(const PackedDib& dib) {
    if (dib.HeaderSize() != PackedDib::kInfoHeaderSize || dib.Bits() == nullptr) {
        return std::nullopt;
    }
    const uint64_t imageSize = uint64_t{dib.Stride()} * static_cast<uint64_t>(dib.Height());
    const uint64_t bitsOffset = dib.BitsOffset();
    if (bitsOffset + imageSize > dib.Size() || 14 + bitsOffset + imageSize > UINT32_MAX) {
        return std::nullopt;
    }
    std::vector<uint8_t> file(14 + bitsOffset + imageSize);
    Put16(file.data() + 0, 0x4D42);                                           // bfType "BM"
    Put32(file.data() + 2, static_cast<uint32_t>(file.size()));              // bfSize
    Put32(file.data() + 10, static_cast<uint32_t>(14 + bitsOffset));         // bfOffBits
    std::memcpy(file.data() + 14, dib.Data(), bitsOffset + imageSize);
    Put32(file.data() + 14 + 20, static_cast<uint32_t>(imageSize));          // biSizeImage
    return file;
}

}  // namespace qv
