// The picture decoder on real DV pictures (encoded by libavcodec's dvvideo
// encoder) inside fixture AVI files of both types, on streams held in memory for
// the formats and the choice of decoder, and the drawing arithmetic.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "avi/AviReader.h"
#include "dv/PackedDib.h"
#include "dv/PictureDecoder.h"
#include "support/AviFixture.h"
#include "support/DvPictures.h"
#include "support/MemoryStream.h"
#include "support/SceneSetup.h"

namespace {

using qv::FourCC;
using qv::MakeFourCC;
using qv::PackedDib;
using qv::PictureDecoder;
using qv::PictureRect;
using qvtest::FixtureOptions;
using qvtest::Rgb;

constexpr Rgb kBlue{0x30, 0x60, 0xC0};
constexpr Rgb kRed{0xC0, 0x40, 0x20};
constexpr Rgb kGreen{0x40, 0xA0, 0x60};
constexpr Rgb kLight{0xE0, 0xE0, 0xE0};
constexpr Rgb kDark{0x20, 0x20, 0x20};

// DV keeps a flat colour to within a few steps of rounding.
constexpr int kTolerance = 8;

::testing::AssertionResult PixelIs(const uint8_t* bgr, Rgb want) {
    const int b = bgr[0], g = bgr[1], r = bgr[2];
    if (std::abs(r - want.r) <= kTolerance && std::abs(g - want.g) <= kTolerance &&
        std::abs(b - want.b) <= kTolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got RGB(" << r << "," << g << "," << b << "), want RGB(" << int{want.r} << ","
           << int{want.g} << "," << int{want.b} << ")";
}

// Picture line y (from the top), pixel x.
const uint8_t* PixelAt(const PackedDib& dib, int x, int y) { return dib.Line(y) + 3 * x; }

::testing::AssertionResult IsFlat(const PackedDib& dib, Rgb want) {
    const int w = dib.Width(), h = dib.Height();
    for (const auto& [x, y] : {std::pair{w / 2, h / 2}, std::pair{16, 16}, std::pair{w - 17, 16},
                               std::pair{16, h - 17}, std::pair{w - 17, h - 17}}) {
        if (auto r = PixelIs(PixelAt(dib, x, y), want); !r) {
            return r << " at (" << x << "," << y << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

using qvtest::PutLe32;
using FakeStream = qvtest::MemoryStream;

// A "strh" chunk (8-byte chunk header + 56 bytes) with the fields the decoder uses.
std::vector<uint8_t> StrhChunk(FourCC type, FourCC handler, uint32_t suggestedBufferSize) {
    std::vector<uint8_t> b(64, 0);
    std::memcpy(b.data(), "strh", 4);
    PutLe32(b, 4, 56);
    PutLe32(b, 8, type);
    PutLe32(b, 12, handler);
    PutLe32(b, 44, suggestedBufferSize);
    return b;
}

// A 40-byte BITMAPINFOHEADER, as ffmpeg and dvgrab write it.
std::vector<uint8_t> BitmapInfo(int width, int height, FourCC compression) {
    std::vector<uint8_t> b(40, 0);
    PutLe32(b, 0, 40);
    PutLe32(b, 4, static_cast<uint32_t>(width));
    PutLe32(b, 8, static_cast<uint32_t>(height));
    b[12] = 1;
    b[14] = 24;
    PutLe32(b, 16, compression);
    return b;
}

std::unique_ptr<FakeStream> Type1Stream(FourCC handler, uint32_t suggested,
                                        std::vector<std::vector<uint8_t>> frames = {}) {
    return std::make_unique<FakeStream>(std::move(frames), qv::fcc::iavs,
                                        StrhChunk(qv::fcc::iavs, handler, suggested),
                                        std::vector<uint8_t>(32, 0));
}
std::unique_ptr<FakeStream> Type2Stream(FourCC handler, FourCC compression, bool pal,
                                        std::vector<std::vector<uint8_t>> frames = {}) {
    return std::make_unique<FakeStream>(
        std::move(frames), qv::fcc::vids, StrhChunk(qv::fcc::vids, handler, pal ? 144000 : 120000),
        BitmapInfo(720, pal ? 576 : 480, compression));
}

// Real DV frames, encoded once for all tests.
struct Pictures {
    std::vector<uint8_t> palBlue = qvtest::EncodeDvColour(true, kBlue);
    std::vector<uint8_t> palRed = qvtest::EncodeDvColour(true, kRed);
    std::vector<uint8_t> palHalves = qvtest::EncodeDvHalves(true, kLight, kDark);
    std::vector<uint8_t> ntscGreen = qvtest::EncodeDvColour(false, kGreen);
    std::vector<uint8_t> ntscHalves = qvtest::EncodeDvHalves(false, kDark, kLight);
};

class PictureDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(P().palBlue.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        ASSERT_EQ(P().ntscGreen.size(), 120000u);
    }
    static const Pictures& P() { return qvtest::Once<Pictures>(); }

    // Writes a fixture AVI of the given video chunks; returns its path.
    std::string WriteAvi(const std::string& name, FixtureOptions options,
                         const std::vector<std::vector<uint8_t>>& video) {
        const std::string path = dir_.Path(name);
        EXPECT_TRUE(qvtest::WriteVideoAvi(path, options, video));
        return path;
    }
    std::string PalType2File() {
        return WriteAvi("pal2.avi", FixtureOptions{}, {P().palBlue, P().palRed, P().palHalves});
    }
    std::string NtscType1File() {
        return WriteAvi("ntsc1.avi", qvtest::Type1Options(false), {P().ntscGreen, P().ntscHalves});
    }

    // Decodes frame into picture_, which then shows a flat colour.
    ::testing::AssertionResult Shows(int frame, Rgb colour) {
        if (!decoder_.DecodeFrame(frame, picture_)) {
            return ::testing::AssertionFailure() << "frame " << frame << " gives no picture";
        }
        return IsFlat(picture_, colour);
    }
    // Attaches the decoder to the first stream of reader with a margin of 10.
    bool Attach(const std::unique_ptr<qv::AviReader>& reader) {
        return reader && decoder_.Attach(reader->FileName(), reader->Stream(0), 10);
    }

    qvtest::TempDir dir_;
    PictureDecoder decoder_;
    PackedDib picture_;
};
TEST(PackedDibTest, RowsArePaddedToFourBytesAndStoredBottomUp) {
    PackedDib dib = PackedDib::Make24(5, 3);
    EXPECT_EQ(std::make_tuple(dib.Width(), dib.Height(), dib.BitCount()), std::make_tuple(5, 3, 24));
    // 15 bytes of pixels a row, padded to 16.
    EXPECT_EQ(std::tuple(dib.HeaderSize(), dib.Stride(), dib.Size()), std::tuple(40u, 16u, 88u));
    EXPECT_EQ(qv::Le32(dib.Data() + 20), 48u);  // biSizeImage
    EXPECT_TRUE(dib.Bits() == dib.Data() + 40 && dib.Row(0) == dib.Bits());
    EXPECT_EQ(dib.Line(0), dib.Row(2));  // the top line is stored last
    EXPECT_TRUE(dib.Row(3) == nullptr && dib.Row(-1) == nullptr);

    // Reusing the block for another size rewrites the header.
    dib.Reset24(720, 576);
    EXPECT_EQ(std::tuple(dib.Size(), dib.Stride()), std::tuple(40u + 1244160, 2160u));
}

TEST_F(PictureDecoderTest, KnownColoursComeBackAt720x576And720x480StoredBottomUp) {
    auto pal = qv::OpenAviFile(PalType2File());
    auto ntsc = qv::OpenAviFile(NtscType1File());
    ASSERT_TRUE(Attach(pal));
    EXPECT_EQ(std::make_pair(decoder_.Width(), decoder_.Height()), std::make_pair(720, 576));
    ASSERT_TRUE(Shows(0, kBlue));
    EXPECT_EQ(std::make_tuple(picture_.Width(), picture_.Height(), picture_.BitCount()),
              std::make_tuple(720, 576, 24));
    // Each frame decodes to its own picture, without lag.
    const PackedDib first = picture_;
    EXPECT_TRUE(Shows(1, kRed));
    EXPECT_TRUE(Shows(0, kBlue));
    EXPECT_EQ(picture_, first);
    ASSERT_TRUE(decoder_.DecodeFrame(2, picture_));  // light above dark
    EXPECT_TRUE(PixelIs(picture_.Row(0) + 3 * 360, kDark));    // first stored row: bottom
    EXPECT_TRUE(PixelIs(picture_.Row(575) + 3 * 360, kLight));  // last stored row: top

    // Drawing decodes the frame and crops it by the margin Attach was given.
    qv::DrawSource source;
    const PictureRect target{0, 0, 180, 144};
    ASSERT_TRUE(decoder_.PrepareDraw(0, target, true, picture_, source));
    EXPECT_TRUE(IsFlat(picture_, kBlue));
    EXPECT_EQ(std::tie(source.source, source.viewWidth, source.target),
              std::tuple(PictureRect{10, 5, 700, 278}, 1440, target));
    EXPECT_FALSE(decoder_.PrepareDraw(7, target, false, picture_, source));  // no such frame

    ASSERT_TRUE(Attach(ntsc));
    EXPECT_EQ(std::make_pair(decoder_.Width(), decoder_.Height()), std::make_pair(720, 480));
    ASSERT_TRUE(Shows(0, kGreen));
    EXPECT_EQ(std::make_pair(picture_.Width(), picture_.Height()), std::make_pair(720, 480));
    ASSERT_TRUE(decoder_.DecodeFrame(1, picture_));  // dark above light
    EXPECT_TRUE(PixelIs(picture_.Row(0) + 3 * 100, kLight));
    EXPECT_TRUE(PixelIs(picture_.Row(479) + 3 * 100, kDark));

    // The bytes of a frame the caller read itself; anything past a frame is unused.
    std::vector<uint8_t> longer = P().palRed;
    longer.resize(200000, 0xAB);
    ASSERT_TRUE(decoder_.DecodeData(longer.data(), longer.size(), picture_));
    EXPECT_TRUE(IsFlat(picture_, kRed));
    decoder_.Detach();
    EXPECT_FALSE(decoder_.PrepareDraw(0, target, true, picture_, source));  // nothing attached
}

// Frames 0 to 5 are "REF " chunks, frames 6 on of sizes around the DV frame size.
TEST_F(PictureDecoderTest, ReferenceChunksAreFollowedAndFramesOutsideTheDvSizesGiveNoPicture) {
    const std::string dataPath = PalType2File();
    const std::vector<uint8_t> data = qvtest::ReadFileBytes(dataPath);
    const auto frame0 = static_cast<uint32_t>(qvtest::FindFourCC(data, "00dc", 0, 0));
    const size_t frame1 = qvtest::FindFourCC(data, "00dc", 0, 1);
    ASSERT_NE(frame1, qvtest::kNotFound);
    const auto refRed = qvtest::MakeRefChunk(static_cast<uint32_t>(frame1), dataPath);
    const auto& ntsc = P().ntscGreen;
    std::vector<uint8_t> shortFrame(ntsc.begin(), ntsc.begin() + 119999);
    auto reader = qv::OpenAviFile(WriteAvi(
        "refs.avi", FixtureOptions{},
        {refRed,
         // Up to 1023 bytes a chunk beginning with "REF " is a reference.
         qvtest::Sized(qvtest::MakeRefChunk(frame0, dataPath), 1023),
         qvtest::Sized(qvtest::MakeRefChunk(frame0, dataPath), 1024),
         qvtest::MakeRefChunk(static_cast<uint32_t>(data.size()), dataPath),  // beyond its end
         qvtest::MakeRefChunk(0, dir_.Path("missing.avi")),
         refRed,
         ntsc,
         shortFrame,
         {},
         std::vector<uint8_t>(400, 0)}));
    ASSERT_TRUE(Attach(reader));
    EXPECT_TRUE(Shows(0, kRed));
    EXPECT_TRUE(Shows(1, kBlue));
    EXPECT_FALSE(decoder_.DecodeFrame(2, picture_));  // 1024 bytes: a frame too short
    EXPECT_FALSE(decoder_.DecodeFrame(3, picture_));
    EXPECT_FALSE(decoder_.DecodeFrame(4, picture_));  // the data file cannot be opened
    // The missing file's name is remembered; the data file opens again after it.
    EXPECT_TRUE(Shows(5, kRed));

    EXPECT_TRUE(Shows(6, kGreen));                    // exactly 120000 bytes
    EXPECT_FALSE(decoder_.DecodeFrame(7, picture_));  // 119999 bytes
    EXPECT_TRUE(picture_.Empty());
    for (int frame : {8, 9, 99, -1}) {  // empty, 400 bytes, no such frame
        EXPECT_FALSE(decoder_.DecodeFrame(frame, picture_)) << frame;
    }
    EXPECT_FALSE(decoder_.DecodeData(shortFrame.data(), shortFrame.size(), picture_));
    EXPECT_FALSE(decoder_.DecodeData(ntsc.data(), 0, picture_));
    // A failed frame leaves nothing behind for the next one.
    EXPECT_TRUE(Shows(6, kGreen));
}

// A type-1 stream's format is made up from its handler and suggested buffer size; short
// format and header chunks are copied only as far as they go.
TEST_F(PictureDecoderTest, Type1FormatIsBuiltFromTheSuggestedBufferSize) {
    auto pal = Type1Stream(MakeFourCC("dvsd"), 144000, {P().palBlue});
    ASSERT_TRUE(decoder_.Attach("a.avi", pal.get(), 10));
    // 720 x 576, 1 plane of 24 bits, the stream's handler, its buffer size, zeros.
    std::vector<uint8_t> want = BitmapInfo(720, 576, MakeFourCC("dvsd"));
    PutLe32(want, 20, 144000);
    want.resize(PictureDecoder::kFormatSize, 0);
    const uint8_t* f = decoder_.InputFormat();
    EXPECT_EQ(std::vector<uint8_t>(f, f + PictureDecoder::kFormatSize), want);

    auto ntsc = Type1Stream(MakeFourCC("dvsd"), 143999);
    ASSERT_TRUE(decoder_.Attach("b.avi", ntsc.get(), 10));
    EXPECT_EQ(std::make_pair(decoder_.Width(), decoder_.Height()), std::make_pair(720, 480));
    EXPECT_EQ(qv::Le32(decoder_.InputFormat() + 20), 120000u);

    // A 40-byte format and a 30-byte "strh" chunk, held in buffers of exactly
    // that size: the 44- and 64-byte copies end in zeros.
    std::vector<uint8_t> strh = StrhChunk(qv::fcc::vids, MakeFourCC("dvsd"), 144000);
    strh.resize(30);
    FakeStream stream({P().palBlue}, qv::fcc::vids, strh, BitmapInfo(720, 576, MakeFourCC("dvsd")));
    ASSERT_TRUE(decoder_.Attach("a.avi", &stream, 10));
    EXPECT_EQ(decoder_.Height(), 576);
    const uint8_t* format = decoder_.InputFormat();
    const uint8_t* header = decoder_.HeaderCopy();
    EXPECT_EQ(std::vector<uint8_t>(format + 40, format + PictureDecoder::kFormatSize),
              std::vector<uint8_t>(PictureDecoder::kFormatSize - 40, 0));
    EXPECT_EQ(std::vector<uint8_t>(header + 30, header + PictureDecoder::kHeaderCopySize),
              std::vector<uint8_t>(PictureDecoder::kHeaderCopySize - 30, 0));
    EXPECT_TRUE(decoder_.DecodeFrame(0, picture_));

    // No "strh" and no usable format: nothing to go by but the DV handlers.
    FakeStream bare({P().palRed}, qv::fcc::vids, {}, std::vector<uint8_t>(8, 0xFF));
    ASSERT_TRUE(decoder_.Attach("b.avi", &bare, 10));
    EXPECT_EQ(std::make_pair(decoder_.Width(), decoder_.Height()), std::make_pair(0, 0));
    EXPECT_TRUE(Shows(0, kRed));
}

TEST_F(PictureDecoderTest, AttachKeepsTheDecoderForStreamsOfTheSameTypeAndHandler) {
    auto pal = Type2Stream(MakeFourCC("dvsd"), MakeFourCC("dvsd"), true, {P().palBlue});
    auto ntsc = Type2Stream(MakeFourCC("dvsd"), MakeFourCC("dvsd"), false, {P().ntscGreen});
    auto other = Type1Stream(MakeFourCC("dvsd"), 144000, {P().palRed});
    ASSERT_TRUE(decoder_.Attach("a.avi", pal.get(), 10));
    EXPECT_EQ(decoder_.CodecOpenCount(), 1);
    ASSERT_TRUE(decoder_.Attach("a.avi", pal.get(), 10));
    EXPECT_EQ(decoder_.CodecOpenCount(), 1);

    // Same type and handler, another format: the decoder stays, the format is new.
    ASSERT_TRUE(decoder_.Attach("b.avi", ntsc.get(), 10));
    EXPECT_EQ(std::pair(decoder_.CodecOpenCount(), decoder_.Height()), std::pair(1, 480));
    EXPECT_TRUE(Shows(0, kGreen));

    // Another type: a decoder chosen afresh.
    ASSERT_TRUE(decoder_.Attach("c.avi", other.get(), 10));
    EXPECT_EQ(decoder_.CodecOpenCount(), 2);

    // No stream: nothing current and no picture, but the decoder stays open.
    EXPECT_FALSE(decoder_.Attach("d.avi", nullptr, 10));
    EXPECT_EQ(std::tuple(decoder_.IsAttached(), decoder_.IsCodecOpen(), decoder_.Width()),
              std::tuple(false, true, 0));
    EXPECT_FALSE(decoder_.DecodeFrame(0, picture_));
    ASSERT_TRUE(decoder_.Attach("c.avi", other.get(), 10));
    EXPECT_EQ(decoder_.CodecOpenCount(), 2);
    EXPECT_TRUE(Shows(0, kRed));

    decoder_.Detach();
    EXPECT_FALSE(decoder_.IsAttached());
    EXPECT_FALSE(decoder_.IsCodecOpen());
    // A detached decoder has no picture size.
    EXPECT_EQ(std::make_pair(decoder_.Width(), decoder_.Height()), std::make_pair(0, 0));
    EXPECT_FALSE(decoder_.DecodeFrame(0, picture_));
    ASSERT_TRUE(decoder_.Attach("c.avi", other.get(), 10));
    EXPECT_EQ(decoder_.CodecOpenCount(), 3);
    decoder_.Detach();
}

}  // namespace
