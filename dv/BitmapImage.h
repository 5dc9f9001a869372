#pragma once
// Edits of a decoded still picture before it is saved as a bitmap file, and
// the file's bytes. The picture is a PackedDib with a 40-byte header.

#include <cstdint>
#include <optional>
#include <vector>

#include "dv/PackedDib.h"

namespace qv {

// Replaces every other stored row by the truncated mean of its neighbours,
// keeping one field: evenField replaces stored rows 2, 4, 6, ..., otherwise
// stored rows 1, 3, 5, ... The first and last stored rows are never replaced.
// Rows are walked at their stored (padded) length.
void KeepOneField(PackedDib& dib, bool evenField);

// Drops v lines at the top and bottom and h pixels at each side, h rounded up
// to even so 24-bit rows stay a multiple of 4 bytes when the width is. Values
// are clamped: negative ones count as 0, and at least one row and column stay.
void CropEdges(PackedDib& dib, int v, int h);

// The bytes of a .bmp file holding the picture: the 14-byte file header, then
// the header, colour table and pixels. Nothing for a header that is not the
// 40-byte form or a block too short for its pixels.
std::optional<std::vector<uint8_t>> BmpFileBytes(const PackedDib& dib);

}  // namespace qv
