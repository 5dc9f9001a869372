#include "avi/MovWriter.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>

#include "avi/DvAviWriter.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"

namespace qv {

namespace {

constexpr int kIoBufferBytes = 1 << 20;

int WriteOut(void* opaque, uint8_t* data, int size) {
    auto* w = static_cast<MovWriter*>(opaque);
    if (w->file.WriteAt(w->outputPosition, data, size) != size) {
        w->writeFailed = true;
        return AVERROR(EIO);
    }
    w->outputPosition += size;
    return size;
}

int64_t SeekOut(void* opaque, int64_t offset, int whence) {
    auto* w = static_cast<MovWriter*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return w->file.Size();
        case SEEK_SET:
            w->outputPosition = offset;
            return offset;
        case SEEK_CUR:
            w->outputPosition += offset;
            return w->outputPosition;
        case SEEK_END:
            w->outputPosition = w->file.Size() + offset;
            return w->outputPosition;
        default:
            return -1;
    }
}

}  // namespace

std::unique_ptr<AviWriter> CreateMovWriter(AviReader& source, const std::string& destinationName,
                                           int firstFrame) {
    auto writer = std::make_unique<MovWriter>(destinationName);
    if (!writer->Open(source, firstFrame)) {
        return nullptr;
    }
    return writer;
}

MovWriter::MovWriter(const std::string& destinationName)
    : destinationName_(destinationName), temporaryName_(TemporaryNameFor(destinationName)) {}

MovWriter::~MovWriter() {
    if (!finished_) {
        Abandon();
    }
}

void MovWriter::Abandon() {
    if (context_ != nullptr) {
        avformat_free_context(context_);
        context_ = nullptr;
    }
    if (io_ != nullptr) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (file.IsOpen()) {
        file.Close();
        RemoveFile(temporaryName_);
    }
    finished_ = true;
}

bool MovWriter::Open(AviReader& source, int firstFrame) {
    AviStream* video = source.Stream(0);
    if (video == nullptr || SameFile(destinationName_, source.FileName())) {
        return false;
    }
    // The system from the scene's first frame, and the sound from it or the frames after.
    DifAudioFormat sound;
    soundFromFrames_ = source.StreamCount() == 1;
    uint8_t apt = 0;
    if (!SceneDvFormat(*video, firstFrame, soundFromFrames_, &system_, &sound, &apt, frame_)) {
        return false;
    }
    const bool apt411 = (apt & 0x07) != 0;  // APT: 4:1:1 sampling (DVCPRO) in 625/50
    std::vector<AudioFormat> pcm;
    if (soundFromFrames_) {
        for (int p = 0; p < sound.pairs; ++p) {
            AudioFormat a;
            a.formatTag = 1;
            a.channels = 2;
            a.samplesPerSec = static_cast<uint32_t>(sound.sampleRate);
            a.blockAlign = 4;
            a.bitsPerSample = 16;
            pcm.push_back(a);
        }
    } else {
        for (int i = 1; i < source.StreamCount(); ++i) {
            const auto a = source.Stream(i)->GetAudioFormat();
            if (!a || a->formatTag != 1 || a->bitsPerSample != 16 || a->channels == 0 ||
                a->samplesPerSec == 0) {
                return false;  // only 16-bit PCM goes into the track as it is
            }
            pcm.push_back(*a);
        }
    }
    tracks_ = static_cast<int>(pcm.size());
    unitsWritten_.assign(static_cast<size_t>(1 + tracks_), 0);

    for (int i = 1; SameFile(temporaryName_, source.FileName()); ++i) {
        temporaryName_ = destinationName_ + "." + std::to_string(i) + ".part";
    }
    RemoveFile(temporaryName_);
    if (!file.CreateNew(temporaryName_) ||
        avformat_alloc_output_context2(&context_, nullptr, "mov", nullptr) < 0) {
        Abandon();
        return false;
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    io_ = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, WriteOut, SeekOut)
                 : nullptr;
    if (io_ == nullptr) {
        av_free(buffer);
        Abandon();
        return false;
    }
    io_->seekable = AVIO_SEEKABLE_NORMAL;
    context_->pb = io_;
    context_->flags |= AVFMT_FLAG_CUSTOM_IO;

    AVStream* vs = avformat_new_stream(context_, nullptr);
    if (vs == nullptr) {
        Abandon();
        return false;
    }
    vs->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    vs->codecpar->codec_id = AV_CODEC_ID_DVVIDEO;
    vs->codecpar->width = 720;
    vs->codecpar->height = system_.is625 ? 576 : 480;
    // The muxer names the DV flavour by the sampling: 4:2:0 for 625/50 DV, 4:1:1 else.
    vs->codecpar->format = system_.is625 && !apt411 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
    vs->time_base = AVRational{system_.rateDenominator, system_.rateNumerator};
    vs->avg_frame_rate = AVRational{system_.rateNumerator, system_.rateDenominator};
    for (const AudioFormat& a : pcm) {
        AVStream* as = avformat_new_stream(context_, nullptr);
        if (as == nullptr) {
            Abandon();
            return false;
        }
        as->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        as->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
        as->codecpar->sample_rate = static_cast<int>(a.samplesPerSec);
        av_channel_layout_default(&as->codecpar->ch_layout, a.channels);
        as->codecpar->bits_per_coded_sample = 16;
        as->codecpar->block_align = a.blockAlign;
        as->time_base = AVRational{1, static_cast<int>(a.samplesPerSec)};
    }
    if (avformat_write_header(context_, nullptr) < 0 || writeFailed) {
        Abandon();
        return false;
    }
    return true;
}

bool MovWriter::WritePacket(int track, const uint8_t* data, int64_t size, int64_t pts,
                            int64_t duration) {
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || size > INT32_MAX ||
        av_new_packet(packet, static_cast<int>(size)) < 0) {
        av_packet_free(&packet);
        return false;
    }
    std::copy_n(data, size, packet->data);
    packet->stream_index = track;
    packet->pts = pts;
    packet->dts = pts;
    packet->duration = duration;
    packet->flags |= AV_PKT_FLAG_KEY;
    AVStream* st = context_->streams[track];
    const AVRational given = track == 0 ? AVRational{system_.rateDenominator, system_.rateNumerator}
                                        : AVRational{1, st->codecpar->sample_rate};
    av_packet_rescale_ts(packet, given, st->time_base);
    const bool ok = av_interleaved_write_frame(context_, packet) >= 0 && !writeFailed;
    av_packet_free(&packet);
    if (!ok) {
        failed_ = true;
    }
    return ok;
}

bool MovWriter::WriteChunk(int stream, const void* data, int64_t size, int units) {
    if (finished_ || failed_ || stream < 0 || stream > tracks_ || size < 0 || units < 0) {
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    auto& done = unitsWritten_[static_cast<size_t>(stream)];
    if (stream != 0) {
        if (soundFromFrames_ || size == 0) {
            return true;
        }
        const bool ok = WritePacket(stream, bytes, size, done, units);
        done += units;
        return ok;
    }
    if (size != system_.frameBytes || !IsDifFrameHeader(bytes) ||
        IsDif625(bytes) != system_.is625 || !WritePacket(0, bytes, size, done, 1)) {
        return false;
    }
    ++done;
    DifAudioFormat sound;
    if (!soundFromFrames_ || tracks_ == 0 ||
        !DecodeDifAudio(bytes, static_cast<size_t>(size), system_.is625, &sound, pcm_)) {
        return true;
    }
    for (int p = 0; p < std::min(tracks_, sound.pairs); ++p) {
        auto& samples = unitsWritten_[static_cast<size_t>(1 + p)];
        if (!WritePacket(1 + p, pcm_[p].data(), static_cast<int64_t>(pcm_[p].size()), samples,
                         sound.samples)) {
            return false;
        }
        samples += sound.samples;
    }
    return true;
}

ChunkCopy MovWriter::CopyChunk(int stream, File& source, int64_t position, int64_t size,
                               int units) {
    if (size < 0 || size > (int64_t{16} << 20)) {
        return ChunkCopy::WriteFailed;
    }
    // The muxer takes packets in memory: the frame passes through here.
    frame_.resize(static_cast<size_t>(size));
    if (source.ReadAt(position, frame_.data(), size) != size) {
        return ChunkCopy::ReadFailed;
    }
    return WriteChunk(stream, frame_.data(), size, units) ? ChunkCopy::Done
                                                          : ChunkCopy::WriteFailed;
}

bool MovWriter::Finish(int64_t modificationTime) {
    if (finished_ || context_ == nullptr) {
        return false;
    }
    bool ok = !failed_ && av_write_trailer(context_) >= 0;
    avio_flush(io_);
    ok = ok && !writeFailed && file.Flush();
    avformat_free_context(context_);
    context_ = nullptr;
    av_freep(&io_->buffer);
    avio_context_free(&io_);
    file.Close();
    ok = PutInPlace(ok, temporaryName_, destinationName_, modificationTime, &error_, &timeError_);
    finished_ = true;
    return ok;
}

}  // namespace qv
