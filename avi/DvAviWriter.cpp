#include "avi/DvAviWriter.h"

#include <algorithm>

namespace qv {

namespace {

constexpr uint32_t kAvifHasIndex = 0x10;        // AVIF_HASINDEX
constexpr uint32_t kAvifIsInterleaved = 0x100;  // AVIF_ISINTERLEAVED
constexpr uint32_t kMostSamples = 1944;         // sample frames of a 625/50 frame, at most
// Frames searched for sound when the scene's first frame has none (a second).
constexpr int kSoundSearchFrames = 30;


std::vector<uint8_t> Chunk(FourCC id, size_t dataBytes) {
    std::vector<uint8_t> chunk(8 + dataBytes, 0);
    Put32(chunk, 0, id);
    Put32(chunk, 4, static_cast<uint32_t>(dataBytes));
    return chunk;
}

// A "strh" chunk; offsets below are of its data (8 bytes in).
std::vector<uint8_t> StreamHeader(FourCC type, FourCC handler, uint32_t scale, uint32_t rate,
                                  uint32_t bufferSize, uint32_t sampleSize, uint16_t width,
                                  uint16_t height) {
    std::vector<uint8_t> h = Chunk(fcc::strh, 56);
    Put32(h, 8 + 0, type);          // fccType
    Put32(h, 8 + 4, handler);       // fccHandler
    Put32(h, 8 + 20, scale);        // dwScale
    Put32(h, 8 + 24, rate);         // dwRate
    Put32(h, 8 + 36, bufferSize);   // dwSuggestedBufferSize
    Put32(h, 8 + 40, 0xFFFFFFFFu);  // dwQuality: the default
    Put32(h, 8 + 44, sampleSize);   // dwSampleSize
    Put16(h, 8 + 52, width);        // rcFrame.right
    Put16(h, 8 + 54, height);       // rcFrame.bottom
    return h;
}

FourCC ChunkId(int number, const char (&suffix)[3]) {
    return static_cast<FourCC>('0' + number / 10 % 10) |
           static_cast<FourCC>('0' + number % 10) << 8 |
           static_cast<FourCC>(static_cast<uint8_t>(suffix[0])) << 16 |
           static_cast<FourCC>(static_cast<uint8_t>(suffix[1])) << 24;
}

}  // namespace

AviLayout DvAviLayout(const std::string& sourceName, const DifSystem& system,
                      const std::vector<AudioFormat>& sound) {
    const uint16_t width = 720;
    const uint16_t height = system.is625 ? 576 : 480;
    const auto frameBytes = static_cast<uint32_t>(system.frameBytes);
    AviLayout layout;
    layout.sourceName = sourceName;
    layout.legacyIndex = true;  // for the readers that know no OpenDML index
    // avih: dwMicroSecPerFrame, dwMaxBytesPerSec, dwPaddingGranularity, dwFlags,
    // dwTotalFrames, dwInitialFrames, dwStreams, dwSuggestedBufferSize, dwWidth, dwHeight.
    std::vector<uint8_t>& a = layout.mainHeader;
    a = Chunk(fcc::avih, 56);
    const double fps = static_cast<double>(system.rateNumerator) / system.rateDenominator;
    Put32(a, 8 + 0, static_cast<uint32_t>(1e6 / fps + 0.5));
    uint32_t soundBytes = 0;
    for (const AudioFormat& f : sound) {
        soundBytes += f.avgBytesPerSec;
    }
    Put32(a, 8 + 4, static_cast<uint32_t>(frameBytes * fps) + soundBytes);
    Put32(a, 8 + 12, kAvifHasIndex | kAvifIsInterleaved);
    Put32(a, 8 + 24, static_cast<uint32_t>(1 + sound.size()));
    Put32(a, 8 + 28, frameBytes);
    Put32(a, 8 + 32, width);
    Put32(a, 8 + 36, height);
    layout.odmlHeader = Chunk(fcc::dmlh, 248);

    AviLayout::Stream video;
    video.type = fcc::vids;
    video.chunkId = ChunkId(0, "dc");
    video.header =
        StreamHeader(fcc::vids, MakeFourCC("dvsd"), static_cast<uint32_t>(system.rateDenominator),
                     static_cast<uint32_t>(system.rateNumerator), frameBytes, 0, width, height);
    // BITMAPINFOHEADER: biSize, biWidth, biHeight, biPlanes, biBitCount, biCompression,
    // biSizeImage.
    video.format.assign(40, 0);
    Put32(video.format, 0, 40);
    Put32(video.format, 4, width);
    Put32(video.format, 8, height);
    Put16(video.format, 12, 1);
    Put16(video.format, 14, 24);
    Put32(video.format, 16, MakeFourCC("dvsd"));
    Put32(video.format, 20, frameBytes);
    layout.streams.push_back(std::move(video));

    for (size_t p = 0; p < sound.size(); ++p) {
        const AudioFormat& f = sound[p];
        AviLayout::Stream audio;
        audio.type = fcc::auds;
        audio.chunkId = ChunkId(static_cast<int>(1 + p), "wb");
        audio.header = StreamHeader(fcc::auds, 0, 1, f.samplesPerSec, kMostSamples * f.blockAlign,
                                    f.blockAlign, 0, 0);
        // WAVEFORMATEX: wFormatTag (PCM), nChannels, nSamplesPerSec, nAvgBytesPerSec,
        // nBlockAlign, wBitsPerSample, cbSize.
        audio.format.assign(18, 0);
        Put16(audio.format, 0, 1);
        Put16(audio.format, 2, f.channels);
        Put32(audio.format, 4, f.samplesPerSec);
        Put32(audio.format, 8, f.avgBytesPerSec);
        Put16(audio.format, 12, f.blockAlign);
        Put16(audio.format, 14, 16);
        layout.streams.push_back(std::move(audio));
    }
    return layout;
}

DvAviWriter::DvAviWriter(const std::string& destinationName, const WriterOptions& options)
    : inner_(destinationName, options) {}

bool SceneDvFormat(AviStream& video, int firstFrame, bool wantSound, DifSystem* system,
                   DifAudioFormat* sound, uint8_t* firstApt, std::vector<uint8_t>& frame) {
    bool haveSystem = false;
    const int last = std::min(video.Length(), firstFrame + kSoundSearchFrames);
    for (int f = std::max(firstFrame, 0); f < last; ++f) {
        const int64_t size = video.ChunkSize(f);
        if (size < kDifProfileBytes || size > kDv625FrameBytes) {
            return false;  // not a 25 Mbit/s DV frame
        }
        frame.resize(static_cast<size_t>(size));
        int got = 0;
        if (!video.Read(f, 1, nullptr, frame.data(), static_cast<int>(size), &got) ||
            got != size) {
            return false;
        }
        if (!haveSystem) {
            std::string why;
            *system = DifSystemOf(frame.data(), frame.size(), &why);
            if (system->frameBytes == 0) {
                return false;
            }
            *firstApt = frame[4];
            haveSystem = true;
        }
        if (!wantSound || DifAudioFormatOf(frame.data(), frame.size(), system->is625, sound)) {
            break;
        }
    }
    return haveSystem;
}

bool DvAviWriter::Open(AviReader& source, int firstFrame) {
    AviStream* video = source.Stream(0);
    DifAudioFormat sound;
    uint8_t apt = 0;
    if (video == nullptr ||
        !SceneDvFormat(*video, firstFrame, true, &system_, &sound, &apt, frame_)) {
        return false;
    }
    pairs_ = sound.pairs;
    AudioFormat pcm;
    pcm.formatTag = 1;
    pcm.channels = 2;
    pcm.samplesPerSec = static_cast<uint32_t>(sound.sampleRate);
    pcm.blockAlign = 4;
    pcm.avgBytesPerSec = pcm.samplesPerSec * 4;
    pcm.bitsPerSample = 16;
    return inner_.Open(DvAviLayout(source.FileName(), system_,
                                   std::vector<AudioFormat>(static_cast<size_t>(pairs_), pcm)));
}

bool DvAviWriter::WriteChunk(int stream, const void* data, int64_t size, int units) {
    if (stream != 0) {
        return true;  // the sound comes from the frames
    }
    const auto* frame = static_cast<const uint8_t*>(data);
    if (size != system_.frameBytes || !IsDifFrameHeader(frame) ||
        IsDif625(frame) != system_.is625 || !inner_.WriteChunk(0, data, size, units)) {
        return false;
    }
    DifAudioFormat sound;
    if (pairs_ == 0 ||
        !DecodeDifAudio(frame, static_cast<size_t>(size), system_.is625, &sound, pcm_)) {
        return true;  // a frame without sound: no audio chunk, as the demuxers see it
    }
    for (int p = 0; p < std::min(pairs_, sound.pairs); ++p) {
        if (!inner_.WriteChunk(1 + p, pcm_[p].data(), static_cast<int64_t>(pcm_[p].size()),
                               sound.samples)) {
            return false;
        }
    }
    return true;
}

ChunkCopy DvAviWriter::CopyChunk(int stream, File& source, int64_t position, int64_t size,
                                 int units) {
    if (stream != 0) {
        return ChunkCopy::Done;
    }
    if (size != system_.frameBytes) {
        return ChunkCopy::WriteFailed;
    }
    // The sound is read from the frame's bytes, so the frame passes through memory.
    frame_.resize(static_cast<size_t>(size));
    if (source.ReadAt(position, frame_.data(), size) != size) {
        return ChunkCopy::ReadFailed;
    }
    return WriteChunk(0, frame_.data(), size, units) ? ChunkCopy::Done : ChunkCopy::WriteFailed;
}

}  // namespace qv
