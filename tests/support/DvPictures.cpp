#include "support/DvPictures.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace qvtest {

namespace {

uint8_t Clamp8(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// ITU-R BT.601, limited range: what a DV camcorder records.
uint8_t LumaOf(Rgb c) { return Clamp8(16 + 0.257 * c.r + 0.504 * c.g + 0.098 * c.b); }
uint8_t CbOf(Rgb c) { return Clamp8(128 - 0.148 * c.r - 0.291 * c.g + 0.439 * c.b); }
uint8_t CrOf(Rgb c) { return Clamp8(128 + 0.439 * c.r - 0.368 * c.g - 0.071 * c.b); }

}  // namespace

std::vector<uint8_t> EncodeDvPicture(bool pal, const std::function<Rgb(int x, int y)>& pixel) {
    std::vector<uint8_t> result;
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_DVVIDEO);
    if (encoder == nullptr) {
        return result;
    }
    AVCodecContext* context = avcodec_alloc_context3(encoder);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    const int width = 720;
    const int height = pal ? 576 : 480;
    // Chroma subsampling of the two DV25 systems: 2 x 2 and 4 x 1.
    const int chromaX = pal ? 2 : 4;
    const int chromaY = pal ? 2 : 1;
    if (context != nullptr && frame != nullptr && packet != nullptr) {
        context->width = width;
        context->height = height;
        context->pix_fmt = pal ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
        context->time_base = pal ? AVRational{1, 25} : AVRational{1001, 30000};
        frame->format = context->pix_fmt;
        frame->width = width;
        frame->height = height;
        if (avcodec_open2(context, encoder, nullptr) >= 0 && av_frame_get_buffer(frame, 0) >= 0) {
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const Rgb c = pixel(x, y);
                    frame->data[0][y * frame->linesize[0] + x] = LumaOf(c);
                    if (x % chromaX == 0 && y % chromaY == 0) {
                        const int cx = x / chromaX;
                        const int cy = y / chromaY;
                        frame->data[1][cy * frame->linesize[1] + cx] = CbOf(c);
                        frame->data[2][cy * frame->linesize[2] + cx] = CrOf(c);
                    }
                }
            }
            if (avcodec_send_frame(context, frame) >= 0 &&
                avcodec_receive_packet(context, packet) >= 0) {
                result.assign(packet->data, packet->data + packet->size);
            }
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return result;
}

std::vector<uint8_t> EncodeDvHalves(bool pal, Rgb top, Rgb bottom) {
    const int half = (pal ? 576 : 480) / 2;
    return EncodeDvPicture(pal, [&](int, int y) { return y < half ? top : bottom; });
}

}  // namespace qvtest
