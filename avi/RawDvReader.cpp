#include "avi/RawDvReader.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include "avi/RawDvWriter.h"

namespace qv {

double RawDvStream::FramesPerSecond() const {
    return owner_.FramesPerSecond();
}

uint32_t RawDvStream::UnitSize() const {
    return static_cast<uint32_t>(owner_.system_.frameBytes);
}

int RawDvStream::Length() const {
    return owner_.frames_;
}

int64_t RawDvStream::ChunkSize(int unit) {
    return unit >= 0 && unit < owner_.frames_ ? owner_.system_.frameBytes : -1;
}

bool RawDvStream::Locate(int unit, ChunkPlace* place) {
    const int64_t size = ChunkSize(unit);
    const int64_t position = static_cast<int64_t>(unit) * size;
    if (size < 0 || !owner_.FrameStartsAt(position)) {
        return false;
    }
    place->file = &owner_.file_;
    place->position = position;
    place->size = size;
    return true;
}

bool RawDvStream::Read(int firstUnit, int unitCount, int* unitsRead, void* buffer, int bufferSize,
                       int* bytesRead) {
    int units = 0;
    int64_t bytes = 0;
    const int64_t size = owner_.system_.frameBytes;
    auto* out = static_cast<uint8_t*>(buffer);
    if (firstUnit >= 0 && unitCount > 0 && buffer != nullptr) {
        const int last = static_cast<int>(
            std::min<int64_t>(static_cast<int64_t>(firstUnit) + unitCount, owner_.frames_));
        for (int f = firstUnit; f < last && bytes < bufferSize; ++f) {
            // A whole frame, cut to the buffer (the first bytes of a frame are read
            // for its packs).
            const int64_t want = std::min<int64_t>(size, bufferSize - bytes);
            const int64_t position = static_cast<int64_t>(f) * size;
            // A frame that does not begin with a header block of the file's system is
            // no frame of it: the frames changed size there, or bytes were lost.
            uint8_t* frame = out + bytes;
            if (owner_.file_.ReadAt(position, frame, want) != want ||
                (want >= 4 ? !IsDifFrameHeader(frame) || IsDif625(frame) != owner_.system_.is625
                           : !owner_.FrameStartsAt(position))) {
                break;
            }
            ++units;
            bytes += want;
        }
    }
    if (unitsRead != nullptr) {
        *unitsRead = units;
    }
    if (bytesRead != nullptr) {
        *bytesRead = static_cast<int>(bytes);
    }
    return bytes > 0;
}

AviStream* RawDvReader::Stream(int index) {
    return index == 0 && stream_ ? stream_.get() : nullptr;
}

double RawDvReader::FramesPerSecond() const {
    return system_.frameBytes == 0
               ? 0.0
               : static_cast<double>(system_.rateNumerator) / system_.rateDenominator;
}

bool RawDvReader::FrameStartsAt(int64_t position) {
    uint8_t id[4];
    return file_.ReadAt(position, id, 4) == 4 && IsDifFrameHeader(id) &&
           IsDif625(id) == system_.is625;
}

int RawDvStream::ReadError() const {
    return owner_.ReadError();
}

bool RawDvReader::Open(const std::string& fileName) {
    Close();
    fileName_ = fileName;
    openError_ = 0;
    if (!file_.OpenRead(fileName, File::Access::Sequential)) {
        openError_ = file_.LastError();
        return false;
    }
    uint8_t head[kDifProfileBytes];
    const int64_t size = file_.Size();
    if (size < 0) {
        openError_ = errno;
    }
    if (file_.ReadAt(0, head, sizeof head) == static_cast<int64_t>(sizeof head)) {
        system_ = DifSystemOf(head, sizeof head, &refusal_);
    } else {
        refusal_ = "not an AVI, raw DV or QuickTime file";
    }
    if (system_.frameBytes == 0 || size < 0 || file_.ReadError() != 0) {
        openError_ = openError_ != 0 ? openError_ : file_.ReadError();
        file_.Close();
        return false;
    }
    const int64_t whole = size / system_.frameBytes;
    if (whole > INT_MAX) {
        refusal_ = "raw DV of more frames than this program counts";
        file_.Close();
        return false;
    }
    frames_ = static_cast<int>(whole);
    partialFrame_ = size % system_.frameBytes != 0;
    // Frames of the other system (525/60 and 625/50 captures joined) put every later
    // frame out of step: the last whole frame then does not begin where it should.
    // Refused at once rather than read as frames that are not there; a change the last
    // frame does not show is caught by the check of each frame read.
    if (frames_ > 1 && !FrameStartsAt((whole - 1) * system_.frameBytes)) {
        if (file_.ReadError() != 0) {  // not read: nothing is known of its frames
            openError_ = file_.ReadError();
            file_.Close();
            frames_ = 0;
            return false;
        }
        refusal_ =
            "raw DV whose frames change size (525/60 and 625/50 frames joined, or bytes "
            "lost), which this program does not read";
        file_.Close();
        frames_ = 0;
        return false;
    }

    stream_ = std::make_unique<RawDvStream>(*this);
    // strh: fccType, fccHandler, dwFlags, wPriority, wLanguage, dwInitialFrames,
    // dwScale, dwRate, dwStart, dwLength, dwSuggestedBufferSize, dwQuality,
    // dwSampleSize, rcFrame.
    std::vector<uint8_t>& h = stream_->header_;
    h.assign(8 + 56, 0);
    Put32(h, 0, fcc::strh);
    Put32(h, 4, 56);
    Put32(h, 8, fcc::iavs);
    Put32(h, 12, MakeFourCC("dvsd"));
    Put32(h, 8 + 20, static_cast<uint32_t>(system_.rateDenominator));
    Put32(h, 8 + 24, static_cast<uint32_t>(system_.rateNumerator));
    Put32(h, 8 + 32, static_cast<uint32_t>(frames_));
    Put32(h, 8 + 36, static_cast<uint32_t>(system_.frameBytes));
    Put32(h, 8 + 40, 0xFFFFFFFFu);
    Put32(h, 8 + 52, 720u | (system_.is625 ? 576u : 480u) << 16);  // right, bottom
    return true;
}

void RawDvReader::Close() {
    file_.Close();
    stream_.reset();
    frames_ = 0;
    partialFrame_ = false;
}

std::unique_ptr<AviWriter> RawDvReader::CreateWriter(const std::string& destinationName,
                                                     const WriterOptions& options) {
    (void)options;
    return CreateRawDvWriter(*this, destinationName);
}

}  // namespace qv
