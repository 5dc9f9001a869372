#include "avi/QuickTimeReader.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <climits>

#include "avi/MovWriter.h"

namespace qv {

namespace {

const char kNotDvQuickTime[] =
    "a QuickTime file that is not DV: only a DV video track and PCM sound are read";


// A "strh" chunk: fccType, fccHandler, dwScale, dwRate, dwLength, dwSuggestedBufferSize,
// dwQuality, dwSampleSize (offsets of its data, 8 bytes in).
std::vector<uint8_t> StreamHeader(FourCC type, FourCC handler, uint32_t scale, uint32_t rate,
                                  uint32_t length, uint32_t bufferSize, uint32_t sampleSize) {
    std::vector<uint8_t> h(8 + 56, 0);
    Put32(h, 0, fcc::strh);
    Put32(h, 4, 56);
    Put32(h, 8 + 0, type);
    Put32(h, 8 + 4, handler);
    Put32(h, 8 + 20, scale);
    Put32(h, 8 + 24, rate);
    Put32(h, 8 + 32, length);
    Put32(h, 8 + 36, bufferSize);
    Put32(h, 8 + 40, 0xFFFFFFFFu);
    Put32(h, 8 + 44, sampleSize);
    return h;
}

// The closer of the demuxer when the reader is done with it.
struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};

}  // namespace

std::optional<VideoFormat> QuickTimeStream::GetVideoFormat() const {
    if (type_ != fcc::vids) {
        return std::nullopt;
    }
    return VideoFormat{720, owner_.system_.is625 ? 576 : 480};
}

std::optional<AudioFormat> QuickTimeStream::GetAudioFormat() const {
    if (type_ != fcc::auds) {
        return std::nullopt;
    }
    AudioFormat a;
    a.formatTag = 1;  // PCM
    a.channels = static_cast<uint16_t>(channels_);
    a.samplesPerSec = static_cast<uint32_t>(sampleRate_);
    a.blockAlign = static_cast<uint16_t>(unitSize_);
    a.avgBytesPerSec = a.samplesPerSec * a.blockAlign;
    a.bitsPerSample = 16;
    return a;
}

int QuickTimeStream::FindPlace(int64_t unit) const {
    auto it = std::upper_bound(places_.begin(), places_.end(), unit,
                               [](int64_t u, const SamplePlace& p) { return u < p.firstUnit; });
    if (it == places_.begin()) {
        return -1;
    }
    --it;
    const int64_t units = type_ == fcc::vids ? 1 : it->size / std::max<uint32_t>(unitSize_, 1);
    return unit < it->firstUnit + units ? static_cast<int>(it - places_.begin()) : -1;
}

int64_t QuickTimeStream::ChunkSize(int unit) {
    if (type_ != fcc::vids) {
        const int i = FindPlace(unit);
        return i < 0 ? -1 : places_[static_cast<size_t>(i)].size;
    }
    return unit >= 0 && unit < units_ ? places_[static_cast<size_t>(unit)].size : -1;
}

bool QuickTimeStream::Locate(int unit, ChunkPlace* place) {
    if (type_ != fcc::vids || unit < 0 || unit >= units_) {
        return false;
    }
    const SamplePlace& p = places_[static_cast<size_t>(unit)];
    uint8_t id[4];
    // The frame is checked where the index says it lies, as Read checks it.
    if (owner_.file_.ReadAt(p.position, id, 4) != 4 || !IsDifFrameHeader(id) ||
        IsDif625(id) != owner_.system_.is625) {
        return false;
    }
    place->file = &owner_.file_;
    place->position = p.position;
    place->size = p.size;
    return true;
}

bool QuickTimeStream::Read(int firstUnit, int unitCount, int* unitsRead, void* buffer,
                           int bufferSize, int* bytesRead) {
    int units = 0;
    int64_t bytes = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    File& file = owner_.file_;
    while (unitCount > 0 && bytes < bufferSize && out != nullptr && firstUnit >= 0 &&
           firstUnit < units_) {
        if (type_ == fcc::vids) {
            // A whole frame, cut to the buffer, checked to begin a DV frame.
            const SamplePlace& p = places_[static_cast<size_t>(firstUnit)];
            const int64_t want = std::min<int64_t>(p.size, bufferSize - bytes);
            if (file.ReadAt(p.position, out + bytes, want) != want ||
                (want >= 4 && (!IsDifFrameHeader(out + bytes) ||
                               IsDif625(out + bytes) != owner_.system_.is625))) {
                break;
            }
            bytes += want;
            ++units;
            ++firstUnit;
            --unitCount;
            continue;
        }
        // A run of whole sample frames inside one entry.
        const int i = FindPlace(firstUnit);
        if (i < 0) {
            break;
        }
        const SamplePlace& p = places_[static_cast<size_t>(i)];
        const int64_t skip = (firstUnit - p.firstUnit) * unitSize_;
        const int64_t fit = (bufferSize - bytes) / unitSize_;
        const int64_t n = std::min<int64_t>({(p.size - skip) / unitSize_, unitCount, fit});
        if (n <= 0 || file.ReadAt(p.position + skip, out + bytes, n * unitSize_) != n * unitSize_) {
            break;
        }
        if (bigEndian_) {
            for (int64_t k = 0; k < n * unitSize_; k += 2) {
                std::swap(out[bytes + k], out[bytes + k + 1]);
            }
        }
        bytes += n * unitSize_;
        units += static_cast<int>(n);
        firstUnit += static_cast<int>(n);
        unitCount -= static_cast<int>(n);
    }
    if (unitsRead != nullptr) {
        *unitsRead = units;
    }
    if (bytesRead != nullptr) {
        *bytesRead = static_cast<int>(bytes);
    }
    return bytes > 0;
}

AviStream* QuickTimeReader::Stream(int index) {
    return index >= 0 && index < StreamCount() ? streams_[static_cast<size_t>(index)].get()
                                               : nullptr;
}

void QuickTimeReader::Close() {
    file_.Close();
    streams_.clear();
}

std::unique_ptr<AviWriter> QuickTimeReader::CreateWriter(const std::string& destinationName,
                                                         const WriterOptions& options) {
    return CreateMovWriter(*this, destinationName, options.firstFrame);
}

int QuickTimeStream::ReadError() const {
    return owner_.ReadError();
}

bool QuickTimeReader::Open(const std::string& fileName) {
    Close();
    fileName_ = fileName;
    refusal_.clear();
    openError_ = 0;
    // Copies and scans read the frames in order: the kernel reads ahead.
    if (!file_.OpenRead(fileName, File::Access::Sequential)) {
        openError_ = file_.LastError();
        return false;
    }
    AVFormatContext* raw = nullptr;
    if (const int opened =
            avformat_open_input(&raw, fileName.c_str(), av_find_input_format("mov"), nullptr);
        opened < 0) {
        // FFmpeg gives a system's error as its negative: that one is told, not damage.
        if (-opened > 0 && -opened < 4096) {
            openError_ = -opened;
        }
        refusal_ = "a QuickTime file that cannot be read (damaged or cut short)";
        file_.Close();
        return false;
    }
    std::unique_ptr<AVFormatContext, FormatCloser> context(raw);
    AVStream* video = nullptr;
    std::vector<AVStream*> audio;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* st = context->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && par->codec_id == AV_CODEC_ID_DVVIDEO &&
            video == nullptr) {
            video = st;
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO &&
                   (par->codec_id == AV_CODEC_ID_PCM_S16LE ||
                    par->codec_id == AV_CODEC_ID_PCM_S16BE) &&
                   par->ch_layout.nb_channels > 0 && par->ch_layout.nb_channels <= 8 &&
                   par->sample_rate > 0) {
            audio.push_back(st);
        } else if (par->codec_type != AVMEDIA_TYPE_DATA) {
            // Another video or a sound that is not PCM: the copy could not hold it.
            refusal_ = kNotDvQuickTime;
            file_.Close();
            return false;
        }
    }
    if (video == nullptr) {
        refusal_ = kNotDvQuickTime;
        file_.Close();
        return false;
    }

    auto vs = std::make_unique<QuickTimeStream>(*this, fcc::vids);
    const int count = avformat_index_get_entries_count(video);
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(video, i);
        if (e == nullptr || e->pos < 0 || e->size <= 0) {
            break;
        }
        vs->places_.push_back({e->pos, e->size, i});
    }
    if (vs->places_.empty() || vs->places_.size() > INT_MAX) {
        refusal_ = "a QuickTime file without DV frames";
        file_.Close();
        return false;
    }
    uint8_t head[kDifProfileBytes];
    if (file_.ReadAt(vs->places_[0].position, head, sizeof head) !=
        static_cast<int64_t>(sizeof head)) {
        refusal_ = "a QuickTime file whose first DV frame cannot be read";
        openError_ = file_.ReadError();
        file_.Close();
        return false;
    }
    system_ = DifSystemOf(head, sizeof head, &refusal_);
    if (system_.frameBytes == 0) {
        file_.Close();
        return false;
    }
    // Every frame is one whole DV frame of the first one's system: anything else would
    // be copied into files no reader takes.
    for (const SamplePlace& p : vs->places_) {
        if (p.size != system_.frameBytes) {
            refusal_ =
                "a QuickTime file whose DV frames change size (525/60 and 625/50 joined), "
                "which this program does not read";
            file_.Close();
            return false;
        }
    }
    vs->units_ = static_cast<int>(vs->places_.size());
    vs->unitSize_ = static_cast<uint32_t>(system_.frameBytes);
    vs->unitsPerSecond_ = static_cast<double>(system_.rateNumerator) / system_.rateDenominator;
    vs->header_ =
        StreamHeader(fcc::vids, MakeFourCC("dvsd"), static_cast<uint32_t>(system_.rateDenominator),
                     static_cast<uint32_t>(system_.rateNumerator),
                     static_cast<uint32_t>(vs->units_), vs->unitSize_, 0);
    vs->format_.assign(40, 0);
    Put32(vs->format_, 0, 40);  // biSize, biWidth, biHeight, biPlanes, biBitCount, biCompression
    Put32(vs->format_, 4, 720);
    Put32(vs->format_, 8, system_.is625 ? 576 : 480);
    Put16(vs->format_, 12, 1);
    Put16(vs->format_, 14, 24);
    Put32(vs->format_, 16, MakeFourCC("dvsd"));
    Put32(vs->format_, 20, vs->unitSize_);
    streams_.push_back(std::move(vs));

    for (AVStream* st : audio) {
        auto as = std::make_unique<QuickTimeStream>(*this, fcc::auds);
        const AVCodecParameters* par = st->codecpar;
        as->channels_ = par->ch_layout.nb_channels;
        as->sampleRate_ = par->sample_rate;
        as->unitSize_ = static_cast<uint32_t>(2 * as->channels_);
        as->bigEndian_ = par->codec_id == AV_CODEC_ID_PCM_S16BE;
        as->unitsPerSecond_ = par->sample_rate;
        int64_t next = 0;
        const int n = avformat_index_get_entries_count(st);
        for (int i = 0; i < n; ++i) {
            const AVIndexEntry* e = avformat_index_get_entry(st, i);
            // Entries follow each other in time; their units are counted from the
            // bytes, so that a gap or overlap in the tables cannot misplace them.
            if (e == nullptr || e->pos < 0 || e->size <= 0 || e->size % as->unitSize_ != 0) {
                break;
            }
            as->places_.push_back({e->pos, e->size, next});
            next += e->size / as->unitSize_;
        }
        if (next > INT_MAX) {
            refusal_ = "a QuickTime file of more sound than this program counts";
            Close();
            return false;
        }
        as->units_ = static_cast<int>(next);
        as->header_ = StreamHeader(fcc::auds, 0, 1, static_cast<uint32_t>(as->sampleRate_),
                                   static_cast<uint32_t>(next), 0, as->unitSize_);
        as->format_.assign(18, 0);  // WAVEFORMATEX
        Put16(as->format_, 0, 1);
        Put16(as->format_, 2, static_cast<uint16_t>(as->channels_));
        Put32(as->format_, 4, static_cast<uint32_t>(as->sampleRate_));
        Put32(as->format_, 8, static_cast<uint32_t>(as->sampleRate_) * as->unitSize_);
        Put16(as->format_, 12, static_cast<uint16_t>(as->unitSize_));
        Put16(as->format_, 14, 16);
        streams_.push_back(std::move(as));
    }
    return true;
}

}  // namespace qv
