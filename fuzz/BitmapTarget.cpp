#include <cstdint>
#include <vector>

#include "dv/BitmapImage.h"
#include "dv/PackedDib.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"

namespace qvfuzz {

int FuzzBitmap(const uint8_t* data, size_t size) {
    if (size < 5) {
        return 0;
    }
    const bool evenField = (data[0] & 1) != 0;
    const int v = static_cast<int16_t>(data[1] | data[2] << 8);
    const int h = static_cast<int16_t>(data[3] | data[4] << 8);
    const qv::PackedDib original(std::vector<uint8_t>(data + 5, data + size));

    (void)qv::BmpFileBytes(original);
    qv::PackedDib dib = original;
    qv::KeepOneField(dib, evenField);
    Check(dib.Size() == original.Size(), "keeping one field changed the block's size");
    const bool held = dib.Bits() != nullptr;
    qv::CropEdges(dib, v, h);
    if (held) {
        Check(dib.Bits() != nullptr, "cropping lost the pixels");
        Check(dib.Width() >= 1 && dib.Width() <= original.Width() && dib.Height() >= 1 &&
                  dib.Height() <= original.Height(),
              "cropping grew the picture");
    }
    if (auto file = qv::BmpFileBytes(dib)) {
        Check(file->size() >= 14 + qv::PackedDib::kInfoHeaderSize, "a bitmap file without headers");
    }
    return 0;
}

}  // namespace qvfuzz
