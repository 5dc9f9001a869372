#include "dv/PictureDecoder.h"

#include <algorithm>
#include <cstring>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include "avi/AviReader.h"
#include "platform/Platform.h"

namespace qv {

namespace {

// Offsets in the copy of the "strh" chunk (8-byte chunk header included).
constexpr size_t kStrhType = 8;
constexpr size_t kStrhHandler = 12;
constexpr size_t kStrhSuggestedBufferSize = 44;
// Offsets in the BITMAPINFOHEADER.
constexpr size_t kBiSize = 0;
constexpr size_t kBiWidth = 4;
constexpr size_t kBiHeight = 8;
constexpr size_t kBiPlanes = 12;
constexpr size_t kBiBitCount = 14;
constexpr size_t kBiCompression = 16;
constexpr size_t kBiSizeImage = 20;

constexpr FourCC kFccVids = fcc::vids;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Driver names compare without regard to case; an empty name matches only an
// empty one.
bool SameDriverName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool LowerEqual(FourCC a, FourCC b) {
    for (int i = 0; i < 4; ++i) {
        if (LowerAscii(static_cast<char>(a >> (8 * i))) != LowerAscii(static_cast<char>(b >> (8 * i)))) {
            return false;
        }
    }
    return true;
}

bool IsDvHandler(FourCC handler) {
    return handler == kFccDvsd || handler == kFccDVSD || handler == kFccCdvc || handler == kFccCDVC;
}

// A decoder of type "vidc" is found under that type in any case, and under the
// type of a video stream, which names video decoders too.
bool TypeMatches(FourCC wanted, FourCC codecType) {
    return LowerEqual(wanted, codecType) || wanted == kFccVids;
}

// Copies at most size bytes of source into a zeroed target: a short chunk (a
// 40-byte BITMAPINFOHEADER where 44 bytes are kept) is never read beyond its end.
void CopyPrefix(uint8_t* target, size_t size, ByteSpan source) {
    std::memset(target, 0, size);
    const size_t n = std::min(size, source.size());
    if (n > 0) {
        std::memcpy(target, source.data(), n);
    }
}

}  // namespace

std::vector<DvCodecInfo> InstalledDvCodecs() {
    std::vector<DvCodecInfo> result;
    void* opaque = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&opaque)) {
        if (codec->id != AV_CODEC_ID_DVVIDEO || av_codec_is_decoder(codec) == 0) {
            continue;
        }
        DvCodecInfo info;
        info.driverName = codec->name;
        info.name = codec->name;
        info.description = codec->long_name != nullptr ? codec->long_name : "";
        result.push_back(std::move(info));
    }
    return result;
}

CodecList FillCodecList(const std::string& currentSetting) {
    CodecList list;
    list.texts.push_back("default codec");
    list.driverNames.push_back("");
    for (const DvCodecInfo& info : InstalledDvCodecs()) {
        // A decoder that cannot be found by its name again cannot be opened, and
        // one for other frames than these is of no use here.
        if (avcodec_find_decoder_by_name(info.driverName.c_str()) == nullptr ||
            !IsDvHandler(info.handler)) {
            continue;
        }
        if (SameDriverName(info.driverName, currentSetting)) {
            list.selection = static_cast<int>(list.texts.size());
        }
        list.driverNames.push_back(info.driverName);
        list.texts.push_back(info.name + " " + info.description);
    }
    return list;
}

DrawSource ComputeDrawSource(int pictureWidth, int pictureHeight, int cropMargin, bool oneField,
                             const PictureRect& target) {
    // 64-bit: a margin or size taken from anywhere cannot overflow here.
    const int64_t w = pictureWidth;
    const int64_t h = pictureHeight;
    const int64_t m = cropMargin;
    int64_t viewWidth = w;
    int64_t viewHeight = h;
    int64_t x = m;
    int64_t y = m;
    int64_t width = w - 2 * m;
    int64_t height = h - 2 * m;
    if (oneField) {
        // Two picture lines side by side per view row; the left half is a field.
        viewWidth = w * 2;
        viewHeight = h / 2;
        y = m / 2;
        height = h / 2 - 2 * (m / 2);
    }
    DrawSource result;
    result.target = target;
    result.valid = w > 0 && h > 0 && x >= 0 && y >= 0 && width > 0 && height > 0 &&
                   x + width <= viewWidth && y + height <= viewHeight;
    if (result.valid) {
        result.viewWidth = static_cast<int>(viewWidth);
        result.viewHeight = static_cast<int>(viewHeight);
        result.source = PictureRect{static_cast<int>(x), static_cast<int>(y), static_cast<int>(width),
                             static_cast<int>(height)};
    }
    return result;
}

PictureDecoder::PictureDecoder(std::string codecSetting) : codecSetting_(std::move(codecSetting)) {}

PictureDecoder::~PictureDecoder() { Detach(); }

void PictureDecoder::Detach() {
    stream_ = nullptr;
    fileName_.clear();
    streamIndex_ = -1;
    width_ = 0;
    height_ = 0;
    std::memset(header_, 0, sizeof header_);
    std::memset(format_, 0, sizeof format_);
    std::memset(identityHeader_, 0, sizeof identityHeader_);
    std::memset(identityFormat_, 0, sizeof identityFormat_);
    keyType_ = 0;
    keyHandler_ = 0;
    refCache_.Close();
    CloseCodec();
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    av_buffer_unref(&frameBuffer_);
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    av_freep(&scratch_);
    scratchSize_ = 0;
}

void PictureDecoder::CloseCodec() {
    avcodec_free_context(&codec_);
    codecDriver_.clear();
}

bool PictureDecoder::Attach(const std::string& fileName, AviStream* stream, int cropMargin,
                            int streamIndex) {
    uint8_t header[kHeaderCopySize] = {};
    uint8_t identityFormat[kFormatSize] = {};
    if (stream != nullptr) {
        CopyPrefix(header, sizeof header, stream->Header());
        CopyPrefix(identityFormat, sizeof identityFormat, stream->Format());
    }
    // The same file, stream number and stream description as before: the same
    // stream, even when a new reader of that file holds it at another address.
    const bool current = stream != nullptr && stream_ != nullptr && codec_ != nullptr &&
                         SameFileName(fileName, fileName_) && streamIndex == streamIndex_ &&
                         std::memcmp(header, identityHeader_, sizeof header) == 0 &&
                         std::memcmp(identityFormat, identityFormat_, sizeof identityFormat) == 0;
    fileName_ = fileName;
    stream_ = stream;
    if (current) {
        return true;
    }
    streamIndex_ = streamIndex;
    width_ = 0;
    height_ = 0;
    if (stream == nullptr) {
        return false;
    }

    std::memcpy(header_, header, sizeof header_);
    std::memcpy(identityHeader_, header, sizeof identityHeader_);
    std::memcpy(identityFormat_, identityFormat, sizeof identityFormat_);
    std::memset(format_, 0, sizeof format_);
    const FourCC streamType = Le32(header_ + kStrhType);
    const FourCC streamHandler = Le32(header_ + kStrhHandler);

    if (stream->IsInterleaved()) {
        // Type-1 DV carries no picture format: the buffer size tells the system.
        const bool pal = Le32(header_ + kStrhSuggestedBufferSize) >= kMaxDvFrameSize;
        Put32(format_ + kBiSize, 40);
        Put32(format_ + kBiWidth, 720);
        Put32(format_ + kBiHeight, pal ? 576 : 480);
        Put16(format_ + kBiPlanes, 1);
        Put16(format_ + kBiBitCount, 24);
        Put32(format_ + kBiSizeImage, pal ? kMaxDvFrameSize : kMinDvFrameSize);
        Put32(format_ + kBiCompression, streamHandler);
    } else if (stream->GetVideoFormat().has_value()) {
        std::memcpy(format_, identityFormat, sizeof format_);
    }
    width_ = static_cast<int32_t>(Le32(format_ + kBiWidth));
    height_ = static_cast<int32_t>(Le32(format_ + kBiHeight));
    cropMargin_ = cropMargin;

    if (codec_ != nullptr && streamType == keyType_ && streamHandler == keyHandler_) {
        return true;
    }
    CloseCodec();
    keyType_ = streamType;
    keyHandler_ = streamHandler;
    const FourCC remembered = Le32(format_ + kBiCompression);

    if (!OpenNamedCodec()) {
        // Located by the stream's type and handler, then by the DV handlers.
        Put32(format_ + kBiCompression, remembered);
        handler_ = streamHandler;
        if (!LocateCodec(streamType, streamHandler) && !LocateCodec(kFccVIDC, streamHandler)) {
            for (const auto& [type, handler] : {std::pair{streamType, kFccDVSD},
                                                std::pair{kFccVIDC, kFccCDVC}}) {
                Put32(format_ + kBiCompression, handler);
                Put32(header_ + kStrhHandler, handler);
                handler_ = handler;
                if (LocateCodec(type, handler)) {
                    break;
                }
            }
        }
    }
    return codec_ != nullptr;
}

bool PictureDecoder::OpenNamedCodec() {
    for (const DvCodecInfo& info : InstalledDvCodecs()) {
        if (!SameDriverName(info.driverName, codecSetting_)) {
            continue;
        }
        // The first decoder of that name settles it, whether it opens or not.
        const AVCodec* codec = avcodec_find_decoder_by_name(info.driverName.c_str());
        if (codec == nullptr) {
            return false;
        }
        const FourCC saved = Le32(format_ + kBiCompression);
        handler_ = info.handler;
        Put32(format_ + kBiCompression, info.handler);
        if (OpenCodec(codec, info)) {
            return true;
        }
        Put32(format_ + kBiCompression, saved);
        return false;
    }
    return false;
}

bool PictureDecoder::LocateCodec(FourCC type, FourCC handler) {
    for (const DvCodecInfo& info : InstalledDvCodecs()) {
        if (!TypeMatches(type, info.type) || !IsDvHandler(handler)) {
            continue;
        }
        const AVCodec* codec = avcodec_find_decoder_by_name(info.driverName.c_str());
        if (codec != nullptr && OpenCodec(codec, info)) {
            return true;
        }
    }
    return false;
}

bool PictureDecoder::OpenCodec(const AVCodec* codec, const DvCodecInfo& info) {
    // The decoder takes DV frames only: the input format must say so.
    if (!IsDvHandler(Le32(format_ + kBiCompression))) {
        return false;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (context == nullptr) {
        return false;
    }
    // Slice threads: frame threads hand out each picture one packet late, so a
    // single frame decoded on its own would come back as the one before it.
    context->thread_count = 0;
    context->thread_type = FF_THREAD_SLICE;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return false;
    }
    codec_ = context;
    codecDriver_ = info.driverName;
    ++codecOpenCount_;
    return true;
}

bool PictureDecoder::EnsureFrameBuffer() {
    if (frameBuffer_ == nullptr) {
        // Zeroed: the padding after a frame must hold zeros for the decoder.
        frameBuffer_ = av_buffer_allocz(kMaxDvFrameSize + AV_INPUT_BUFFER_PADDING_SIZE);
        return frameBuffer_ != nullptr;
    }
    // The decoder lets go of each packet once decoded, so this normally keeps
    // the buffer; should it still hold one, the frame goes to a new buffer.
    return av_buffer_make_writable(&frameBuffer_) >= 0;
}

bool PictureDecoder::DecodeFrame(int frame, PackedDib& picture) {
    picture.Clear();
    if (stream_ == nullptr || !EnsureFrameBuffer()) {
        return false;
    }
    uint8_t* data = frameBuffer_->data;
    int count = 0;
    stream_->Read(frame, 1, nullptr, data, kMaxDvFrameSize, &count);
    count = std::clamp(count, 0, kMaxDvFrameSize);

    if (IsRefChunk(data, count, kDecoderRefChunkMaxSize)) {
        uint32_t position = 0;
        std::string name;
        if (ParseRefChunk(data, count, &position, &name, kDecoderRefChunkMaxSize)) {
            if (refCache_.Follow(name)) {
                // The frame's data begins 8 bytes after its chunk header.
                const int64_t got =
                    refCache_.file.ReadAt(int64_t{position} + 8, data, kMaxDvFrameSize);
                count = got > 0 ? static_cast<int>(got) : 0;
            }
        }
    }
    if (count < kMinDvFrameSize) {
        return false;
    }
    return Decode(static_cast<size_t>(count), picture);
}

bool PictureDecoder::DecodeData(const uint8_t* data, size_t size, PackedDib& picture) {
    picture.Clear();
    if (data == nullptr || size == 0 || !EnsureFrameBuffer()) {
        return false;
    }
    const size_t count = std::min(size, static_cast<size_t>(kMaxDvFrameSize));
    std::memcpy(frameBuffer_->data, data, count);
    return Decode(count, picture);
}

bool PictureDecoder::PrepareDraw(int frame, const PictureRect& target, bool oneField, PackedDib& picture,
                                 DrawSource& source) {
    source = DrawSource{};
    if (codec_ == nullptr || stream_ == nullptr || !DecodeFrame(frame, picture)) {
        return false;
    }
    source = ComputeDrawSource(picture.Width(), picture.Height(), cropMargin_, oneField, target);
    return source.valid;
}

bool PictureDecoder::Decode(size_t size, PackedDib& picture) {
    // With no decoder open every way of finding one has failed already.
    if (codec_ == nullptr || size == 0) {
        return false;
    }
    Put32(format_ + kBiCompression, handler_);
    if (frame_ == nullptr && (frame_ = av_frame_alloc()) == nullptr) {
        return false;
    }
    if (packet_ == nullptr && (packet_ = av_packet_alloc()) == nullptr) {
        return false;
    }

    uint8_t* data = frameBuffer_->data;
    std::memset(data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    // The packet shares the frame buffer rather than having it copied.
    packet_->buf = av_buffer_ref(frameBuffer_);
    if (packet_->buf == nullptr) {
        return false;
    }
    packet_->data = data;
    packet_->size = static_cast<int>(size);
    int result = avcodec_send_packet(codec_, packet_);
    av_packet_unref(packet_);
    if (result >= 0) {
        result = avcodec_receive_frame(codec_, frame_);
    }
    if (result < 0) {
        // A frame that does not decode leaves nothing behind for the next one.
        avcodec_flush_buffers(codec_);
        return false;
    }

    bool ok = false;
    const int width = frame_->width;
    const int height = frame_->height;
    // DV pictures are far smaller; the bound keeps the sizes below well in range.
    if (width > 0 && height > 0 && width <= 8192 && height <= 8192) {
        scaler_ = sws_getCachedContext(scaler_, width, height,
                                       static_cast<AVPixelFormat>(frame_->format), width, height,
                                       AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        // The scaler writes top-down rows into a buffer of its liking (aligned
        // rows, slack at the end): at widths that are not a multiple of 16 it
        // writes past the end of a row, which a bottom-up target (negative
        // stride) would not survive. The rows are turned over while copying.
        const size_t rowBytes = static_cast<size_t>(width) * 3;
        const size_t stride = (rowBytes + 63) / 64 * 64;
        const size_t need = stride * static_cast<size_t>(height) + stride + 256;
        if (scaler_ != nullptr && scratchSize_ < need) {
            av_freep(&scratch_);
            scratchSize_ = 0;
            scratch_ = static_cast<uint8_t*>(av_malloc(need));
            if (scratch_ != nullptr) {
                scratchSize_ = need;
            }
        }
        if (scaler_ != nullptr && scratch_ != nullptr) {
            uint8_t* planes[4] = {scratch_, nullptr, nullptr, nullptr};
            const int strides[4] = {static_cast<int>(stride), 0, 0, 0};
            if (sws_scale(scaler_, frame_->data, frame_->linesize, 0, height, planes, strides) ==
                height) {
                picture.Reset24(width, height);
                uint8_t* bits = picture.Bits();
                const size_t dibStride = picture.Stride();
                for (int y = 0; y < height; ++y) {
                    uint8_t* row = bits + dibStride * static_cast<size_t>(height - 1 - y);
                    std::memcpy(row, scratch_ + stride * static_cast<size_t>(y), rowBytes);
                    std::memset(row + rowBytes, 0, dibStride - rowBytes);
                }
                ok = true;
            }
        }
    }
    av_frame_unref(frame_);
    if (!ok) {
        picture.Clear();
    }
    return ok;
}

}  // namespace qv
