#pragma once
// A device-independent bitmap in one block: the header (a 40-byte
// BITMAPINFOHEADER, or an older 12-byte BITMAPCOREHEADER recognised by its size
// field), the colour table, then the pixel rows bottom-up (stored row 0 is the
// bottom picture line), each row padded to a multiple of 4 bytes. Decoded
// pictures are 24-bit BGR without a colour table.
//
// A plain value: copies copy the block. Accessors read the header through
// bounds-checked fields, so a short or empty block gives 0 / null, never a read
// outside it.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "avi/Riff.h"

namespace qv {

class PackedDib {
public:
    static constexpr size_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
    static constexpr size_t kCoreHeaderSize = 12;  // BITMAPCOREHEADER

    PackedDib() = default;
    // Takes a whole block as it stands (header, colour table, bits).
    explicit PackedDib(std::vector<uint8_t> block) : block_(std::move(block)) {}

    // Bytes per stored row of a picture: rows are padded to 4 bytes.
    static size_t StrideFor(int width, int bitCount) {
        if (width <= 0 || bitCount <= 0) {
            return 0;
        }
        return (static_cast<size_t>(width) * static_cast<size_t>(bitCount) + 31) / 32 * 4;
    }

    // Makes this a 24-bit picture of width x height (both > 0) with a 40-byte
    // header and no colour table. The storage is reused when it is large enough,
    // so a caller that decodes into the same object does not allocate per frame.
    // The pixel bytes are left as they were (new bytes are zero).
    void Reset24(int width, int height) {
        const size_t stride = StrideFor(width, 24);
        const size_t imageSize = stride * static_cast<size_t>(height > 0 ? height : 0);
        block_.resize(kInfoHeaderSize + imageSize);
        uint8_t* h = block_.data();
        Put32(h + 0, kInfoHeaderSize);                     // biSize
        Put32(h + 4, static_cast<uint32_t>(width));        // biWidth
        Put32(h + 8, static_cast<uint32_t>(height));       // biHeight: positive = bottom-up
        Put16(h + 12, 1);                                  // biPlanes
        Put16(h + 14, 24);                                 // biBitCount
        Put32(h + 16, 0);                                  // biCompression: BI_RGB
        Put32(h + 20, static_cast<uint32_t>(imageSize));   // biSizeImage
        for (size_t offset = 24; offset < kInfoHeaderSize; offset += 4) {
            Put32(h + offset, 0);  // resolution and colour counts
        }
    }
    static PackedDib Make24(int width, int height) {
        PackedDib dib;
        dib.Reset24(width, height);
        return dib;
    }

    // Empties the block, keeping its storage for the next Reset24.
    void Clear() { block_.clear(); }
    bool Empty() const { return block_.empty(); }

    const std::vector<uint8_t>& Block() const { return block_; }
    const uint8_t* Data() const { return block_.data(); }
    size_t Size() const { return block_.size(); }

    uint32_t HeaderSize() const { return Field32(Span(), 0); }
    bool IsCoreHeader() const { return HeaderSize() == kCoreHeaderSize; }
    int Width() const {
        return IsCoreHeader() ? static_cast<int16_t>(Field16(Span(), 4))
                              : static_cast<int32_t>(Field32(Span(), 4));
    }
    int Height() const {
        return IsCoreHeader() ? static_cast<int16_t>(Field16(Span(), 6))
                              : static_cast<int32_t>(Field32(Span(), 8));
    }
    int BitCount() const { return Field16(Span(), IsCoreHeader() ? 10 : 14); }
    uint32_t Compression() const { return IsCoreHeader() ? 0 : Field32(Span(), 16); }

    // Colours in the table: biClrUsed when not 0, else 2, 16 or 256 for 1, 4 and
    // 8 bits per pixel, 0 otherwise (a core header: by the bit count alone).
    uint32_t ColorCount() const {
        if (!IsCoreHeader()) {
            if (const uint32_t used = Field32(Span(), 32); used != 0) {
                return used;
            }
        }
        switch (BitCount()) {
        case 1: return 2;
        case 4: return 16;
        case 8: return 256;
        default: return 0;
        }
    }
    // RGBQUAD entries, or RGBTRIPLE entries after a core header.
    uint64_t ColorTableSize() const {
        return uint64_t{ColorCount()} * (IsCoreHeader() ? 3 : 4);
    }
    uint64_t BitsOffset() const { return uint64_t{HeaderSize()} + ColorTableSize(); }
    size_t Stride() const { return StrideFor(Width(), BitCount()); }

    // The pixel rows; null when the block does not hold them all.
    uint8_t* Bits() { return HoldsBits() ? block_.data() + BitsOffset() : nullptr; }
    const uint8_t* Bits() const { return HoldsBits() ? block_.data() + BitsOffset() : nullptr; }

    // Stored row i (0 = the bottom picture line); null when out of range.
    uint8_t* Row(int i) {
        uint8_t* bits = Bits();
        return bits != nullptr && i >= 0 && i < Height() ? bits + Stride() * static_cast<size_t>(i)
                                                         : nullptr;
    }
    const uint8_t* Row(int i) const {
        const uint8_t* bits = Bits();
        return bits != nullptr && i >= 0 && i < Height() ? bits + Stride() * static_cast<size_t>(i)
                                                         : nullptr;
    }
    // Picture line y counted from the top, as it is seen.
    uint8_t* Line(int y) { return Row(Height() - 1 - y); }
    const uint8_t* Line(int y) const { return Row(Height() - 1 - y); }

    friend bool operator==(const PackedDib&, const PackedDib&) = default;

private:
    ByteSpan Span() const { return ByteSpan(block_.data(), block_.size()); }

    // The header is known and every stored row lies inside the block.
    bool HoldsBits() const {
        const uint32_t headerSize = HeaderSize();
        if ((headerSize != kInfoHeaderSize && headerSize != kCoreHeaderSize) || Width() <= 0 ||
            Height() <= 0 || BitCount() <= 0) {
            return false;
        }
        const uint64_t offset = BitsOffset();
        if (offset > block_.size()) {
            return false;
        }
        // Divided rather than multiplied: header values may be anything.
        return static_cast<uint64_t>(Height()) <= (block_.size() - offset) / Stride();
    }

    static void Put16(uint8_t* p, uint16_t v) {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
    static void Put32(uint8_t* p, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            p[i] = static_cast<uint8_t>(v >> (8 * i));
        }
    }

    std::vector<uint8_t> block_;
};

}  // namespace qv
