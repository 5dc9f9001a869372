// Still-picture edits and the bitmap file bytes, on pictures made in memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dv/BitmapImage.h"
#include "dv/PackedDib.h"
#include "support/AviFixture.h"

namespace qv {
namespace {

using qvtest::GetLe32;

// Every byte of stored row i is 10 * i (mod 256), so moved rows are recognisable.
PackedDib RowNumbered(int width, int height) {
    PackedDib dib = PackedDib::Make24(width, height);
    for (int i = 0; i < height; ++i) {
        std::fill_n(dib.Row(i), dib.Stride(), static_cast<uint8_t>(10 * i));
    }
    return dib;
}

TEST(BitmapImageTest, FileBytesOfAPalPicture) {
    const auto file = BmpFileBytes(RowNumbered(720, 576));
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(file->size(), 1244214u);
    EXPECT_EQ(std::string(file->begin(), file->begin() + 2), "BM");
    EXPECT_EQ((std::vector<uint32_t>{GetLe32(*file, 2), GetLe32(*file, 6), GetLe32(*file, 10),
                                     GetLe32(*file, 14), GetLe32(*file, 34)}),
              (std::vector<uint32_t>{1244214, 0, 54, 40, 1244214 - 54}));
    // Rows stay bottom-up: the first stored row follows the headers.
    EXPECT_EQ((*file)[54], 0);
    EXPECT_EQ((*file)[54 + 2160], 10);
    EXPECT_EQ(file->back(), static_cast<uint8_t>(10 * 575));
}

TEST(BitmapImageTest, KeepOneFieldReplacesAlternateInnerRows) {
    for (const bool even : {true, false}) {
        // Row i holds i * i, so a replaced row differs from what it held.
        PackedDib dib = PackedDib::Make24(4, 8);
        for (int i = 0; i < 8; ++i) {
            std::fill_n(dib.Row(i), dib.Stride(), static_cast<uint8_t>(i * i));
        }
        KeepOneField(dib, even);
        for (int i = 0; i < 8; ++i) {
            const bool replaced = i > 0 && i < 7 && (i % 2 == (even ? 0 : 1));
            const int expected = replaced ? ((i - 1) * (i - 1) + (i + 1) * (i + 1)) / 2 : i * i;
            EXPECT_EQ(dib.Row(i)[0] + dib.Row(i)[11], 2 * expected) << i << " even " << even;
        }
    }
}

TEST(BitmapImageTest, CropEdgesRoundsTheSideMarginUpToEvenAndClamps) {
    PackedDib dib = RowNumbered(720, 576);
    for (int i = 0; i < 576; ++i) {
        for (int x = 0; x < 720; ++x) {
            dib.Row(i)[3 * x] = static_cast<uint8_t>(x);
        }
    }
    CropEdges(dib, 3, 3);
    EXPECT_EQ(std::pair(dib.Width(), dib.Height()), std::pair(712, 570));
    // Pixel 4 of stored row 3.
    EXPECT_EQ(std::pair(dib.Row(0)[0], dib.Row(0)[1]), std::pair(uint8_t{4}, uint8_t{30}));
    EXPECT_EQ(dib.Row(569)[1], static_cast<uint8_t>(10 * 572));
    EXPECT_EQ(BmpFileBytes(dib).value_or(std::vector<uint8_t>{}).size(), 54u + 712u * 3u * 570u);

    // Values outside the picture are clamped.
    struct Case { int v, h, width, height; };
    for (const Case c : {Case{-5, -5, 720, 576}, Case{1000, 1000, 4, 2}, Case{100, 101, 516, 376}}) {
        PackedDib clamped = RowNumbered(720, 576);
        CropEdges(clamped, c.v, c.h);
        EXPECT_EQ(std::pair(clamped.Width(), clamped.Height()), std::pair(c.width, c.height)) << c.v;
    }
}

// Every byte of a cropped picture, for widths whose rows are padded by 0 to 3 bytes
// and margins on one side, the other or both: each pixel is the one that lay inside
// the margins, each row's padding is zero (the rows move up in place, each ahead of
// the row it is read from).
TEST(BitmapImageTest, CropEdgesKeepsEveryInnerPixelAndZeroesEveryRowsPadding) {
    const auto value = [](int x, int y, int c) { return static_cast<uint8_t>(x * 7 + y * 31 + c); };
    for (const int width : {5, 6, 7, 8, 33}) {
        for (const auto& [v, h] : {std::pair{0, 2}, std::pair{1, 0}, std::pair{2, 2}}) {
            SCOPED_TRACE(std::to_string(width) + " wide, margins " + std::to_string(v) + " " +
                         std::to_string(h));
            const int height = 7;
            PackedDib dib = PackedDib::Make24(width, height);
            for (int y = 0; y < height; ++y) {
                std::fill_n(dib.Row(y), dib.Stride(), uint8_t{0xAB});  // the padding too
                for (int x = 0; x < width; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        dib.Row(y)[3 * x + c] = value(x, y, c);
                    }
                }
            }
            CropEdges(dib, v, h);
            ASSERT_EQ(std::pair(dib.Width(), dib.Height()),
                      std::pair(width - 2 * h, height - 2 * v));
            ASSERT_EQ(dib.Stride(), static_cast<size_t>((3 * dib.Width() + 3) / 4 * 4));
            for (int y = 0; y < dib.Height(); ++y) {
                for (int x = 0; x < dib.Width(); ++x) {
                    for (int c = 0; c < 3; ++c) {
                        ASSERT_EQ(dib.Row(y)[3 * x + c], value(x + h, y + v, c))
                            << "pixel " << x << " of row " << y;
                    }
                }
                for (size_t b = 3 * static_cast<size_t>(dib.Width()); b < dib.Stride(); ++b) {
                    ASSERT_EQ(dib.Row(y)[b], 0) << "padding of row " << y;
                }
            }
        }
    }
}

}  // namespace
}  // namespace qv
