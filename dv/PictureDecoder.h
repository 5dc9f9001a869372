#pragma once
// Pictures of DV frames: finds and opens a DV decoder for an AVI stream, reads a
// frame (following "REF " chunks), decodes it into a 24-bit bottom-up BGR
// PackedDib, and works out which part of the picture a drawing shows.
//
// The decoders are libavcodec's decoders for DV video. Each one stands for an
// installed decompressor with driver name = the decoder's name, description =
// its long name, codec type "vidc" and handler "dvsd"; it accepts frames whose
// compression is "dvsd", "DVSD", "cdvc" or "CDVC". libswscale turns its
// pictures into BGR.
//
// Each user owns its own decoder; one thread uses it. The drawing itself lives
// with the windows, which take DrawSource from here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "avi/Riff.h"
#include "dv/Datestamp.h"
#include "dv/PackedDib.h"

struct AVBufferRef;
struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace qv {

class AviStream;

// Frames that can be decoded: one DV frame of the 525/60 or 625/50 system.
constexpr int kMinDvFrameSize = 120000;
constexpr int kMaxDvFrameSize = 144000;
// Video chunks of 1..1023 bytes beginning with "REF " are followed into their
// data file (the datestamp reader stops at 511).
constexpr int kDecoderRefChunkMaxSize = 1023;

constexpr FourCC kFccDvsd = MakeFourCC("dvsd");
constexpr FourCC kFccDVSD = MakeFourCC("DVSD");
constexpr FourCC kFccCdvc = MakeFourCC("cdvc");
constexpr FourCC kFccCDVC = MakeFourCC("CDVC");
constexpr FourCC kFccVidc = MakeFourCC("vidc");
constexpr FourCC kFccVIDC = MakeFourCC("VIDC");

// An installed DV decoder as the options dialog lists it.
struct DvCodecInfo {
    std::string driverName;   // stored in the settings ("dvvideo")
    std::string name;         // short name
    std::string description;  // long name
    FourCC type = kFccVidc;
    FourCC handler = kFccDvsd;
};
// The installed DV decoders, in the order libavcodec lists them.
std::vector<DvCodecInfo> InstalledDvCodecs();

// The options dialog's codec list: entry 0 is "default codec" with driver name
// "" (the setting for "let the program choose"), then each installed DV decoder
// as "<name> <description>". selection is the entry whose driver name equals the
// setting without regard to case, else 0. texts and driverNames run in step.
struct CodecList {
    std::vector<std::string> texts;
    std::vector<std::string> driverNames;
    int selection = 0;
};
CodecList FillCodecList(const std::string& currentSetting);

struct PictureRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PictureRect&, const PictureRect&) = default;
};

// What a drawing of a picture shows. The picture is seen as a view of
// viewWidth x viewHeight pixels: the picture itself, or in one-field mode a
// bitmap twice as wide and half as high, each view row being two stored rows
// side by side (view row k = stored rows 2k and 2k+1, row length 2 x Stride()).
// Only the left half of such a row lies inside the source, so one field is
// drawn: stored rows 0, 2, 4, ... The source rectangle is in view pixels,
// measured from the view's top edge (the cut is the same at both edges); it is
// scaled into target. valid is false when the crop leaves nothing to draw.
struct DrawSource {
    int viewWidth = 0;
    int viewHeight = 0;
    PictureRect source;
    PictureRect target;
    bool valid = false;
};
// Crop margin m: without oneField the source is (m, m, w - 2m, h - 2m); with it
// (m, m/2, w - 2m, h/2 - 2 (m/2)) in the 2w x h/2 view. Divisions truncate.
DrawSource ComputeDrawSource(int pictureWidth, int pictureHeight, int cropMargin, bool oneField,
                             const PictureRect& target);

class PictureDecoder {
public:
    // codecSetting: the driver name of the decoder to prefer (the "Codec"
    // setting); empty lets the decoder be located by the stream's handler.
    explicit PictureDecoder(std::string codecSetting = {});
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // Takes effect at the next change of decoder.
    void SetCodecSetting(std::string codecSetting) { codecSetting_ = std::move(codecSetting); }

    // Makes stream (stream number streamIndex of the file fileName) current and
    // has a decoder ready; true when one is open. A null stream only drops the
    // current one (false); the decoder stays open for the next stream.
    //
    // The stream is not owned: call Detach (or Attach with null) before the
    // reader that owns it is destroyed. Whether a stream is "the current one" is
    // decided by the file name, the stream index and the stream's header and
    // format bytes, never by its address, which a new reader may reuse.
    bool Attach(const std::string& fileName, AviStream* stream, int cropMargin,
                int streamIndex = 0);
    // Drops the stream and releases the decoder, the scaler, the referenced data
    // file and the buffers.
    void Detach();

    // Reads a frame of the current stream and decodes it into picture (a 24-bit
    // bottom-up BGR picture of the frame's size; its storage is reused). False,
    // with picture empty, when there is no stream or decoder, the frame cannot be
    // read, is shorter than kMinDvFrameSize or does not decode.
    bool DecodeFrame(int frame, PackedDib& picture);
    // The same for frame bytes the caller has read; at most kMaxDvFrameSize of
    // them are used.
    bool DecodeData(const uint8_t* data, size_t size, PackedDib& picture);

    // DrawFrame's preparation: the picture of frame and the part of it to draw
    // into target with this decoder's crop margin. False when nothing can be
    // drawn (no decoder, no stream, no picture, nothing left after the crop); the
    // caller then fills target with grey RGB(160,160,160).
    bool PrepareDraw(int frame, const PictureRect& target, bool oneField, PackedDib& picture,
                     DrawSource& source);

    bool IsAttached() const { return stream_ != nullptr; }
    bool IsCodecOpen() const { return codec_ != nullptr; }
    const std::string& FileName() const { return fileName_; }
    int StreamIndex() const { return streamIndex_; }
    int CropMargin() const { return cropMargin_; }
    // From the input format (biWidth, biHeight); 0 when detached.
    int Width() const { return width_; }
    int Height() const { return height_; }
    // The compression the frames are handed over with: the open decoder's handler
    // or the stream's, as the choice of decoder settled it.
    FourCC Handler() const { return handler_; }
    // Driver name of the open decoder; empty when none.
    const std::string& CodecDriverName() const { return codecDriver_; }
    // How many times a decoder has been opened: a new stream of the same type and
    // handler keeps the open one.
    int CodecOpenCount() const { return codecOpenCount_; }

    // The 44-byte input format (a BITMAPINFOHEADER and 4 more bytes) and the
    // 64-byte copy of the stream's "strh" chunk, as Attach built them.
    static constexpr size_t kFormatSize = 44;
    static constexpr size_t kHeaderCopySize = 64;
    const uint8_t* InputFormat() const { return format_; }
    const uint8_t* HeaderCopy() const { return header_; }

private:
    bool OpenNamedCodec();
    bool LocateCodec(FourCC type, FourCC handler);
    bool OpenCodec(const AVCodec* codec, const DvCodecInfo& info);
    void CloseCodec();
    bool Decode(size_t size, PackedDib& picture);
    bool EnsureFrameBuffer();

    std::string codecSetting_;

    int cropMargin_ = 0;
    FourCC handler_ = 0;
    uint8_t header_[kHeaderCopySize] = {};
    uint8_t format_[kFormatSize] = {};
    // The current stream's "strh" and "strf" bytes as read, before any change:
    // with the file name and stream index they tell whether a stream is the
    // current one.
    uint8_t identityHeader_[kHeaderCopySize] = {};
    uint8_t identityFormat_[kFormatSize] = {};
    AviStream* stream_ = nullptr;
    std::string fileName_;
    int streamIndex_ = -1;
    RefFileCache refCache_;
    int width_ = 0;
    int height_ = 0;
    // The stream the decoder was chosen for: its type and handler.
    FourCC keyType_ = 0;
    FourCC keyHandler_ = 0;

    // The open decoder and what it was made from; the frame and packet it
    // decodes through, the scaler and its output, all kept between frames.
    AVCodecContext* codec_ = nullptr;
    std::string codecDriver_;
    int codecOpenCount_ = 0;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVBufferRef* frameBuffer_ = nullptr;  // kMaxDvFrameSize + padding bytes
    SwsContext* scaler_ = nullptr;
    uint8_t* scratch_ = nullptr;  // top-down BGR rows from the scaler
    size_t scratchSize_ = 0;
};

}  // namespace qv
