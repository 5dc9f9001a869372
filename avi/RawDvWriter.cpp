#include "avi/RawDvWriter.h"

#include <cerrno>

#include "dv/DifFrame.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"

namespace qv {

namespace {

// A range copied in pieces of this size at most, so that progress and cancelling
// keep their pace and a failure is told close to where it happened.
constexpr int64_t kCopyPiece = int64_t{64} << 20;

}  // namespace

std::unique_ptr<AviWriter> CreateRawDvWriter(AviReader& source,
                                             const std::string& destinationName) {
    auto writer = std::make_unique<RawDvWriter>(destinationName);
    if (!writer->Open(source.FileName())) {
        return nullptr;
    }
    return writer;
}

RawDvWriter::RawDvWriter(const std::string& destinationName)
    : destinationName_(destinationName), temporaryName_(TemporaryNameFor(destinationName)) {}

RawDvWriter::~RawDvWriter() {
    if (!finished_) {
        Abandon();
    }
}

void RawDvWriter::Abandon() {
    if (file_.IsOpen()) {
        file_.Close();
        RemoveFile(temporaryName_);
    }
    finished_ = true;
}

bool RawDvWriter::Open(const std::string& sourceName) {
    // Nothing is ever written onto the file being copied.
    if (SameFile(destinationName_, sourceName)) {
        return false;
    }
    for (int i = 1; SameFile(temporaryName_, sourceName); ++i) {
        temporaryName_ = destinationName_ + "." + std::to_string(i) + ".part";
    }
    // A leftover of a copy that was killed goes; the destination stays.
    RemoveFile(temporaryName_);
    return file_.CreateNew(temporaryName_);
}

bool RawDvWriter::Accepts(const uint8_t* id, int64_t size) {
    // Raw DV is told into frames by their size alone: only whole frames of one system.
    const auto refuse = [&](const std::string& why) {
        refusal_ = "the scene's frame " + std::to_string(frames_ + 1) + " " + why;
        return false;
    };
    if (!IsDifFrameHeader(id)) {
        return refuse("begins with no DV header block; raw DV holds whole DV frames only");
    }
    const bool is625 = IsDif625(id);
    const int bytes = is625 ? kDv625FrameBytes : kDv525FrameBytes;
    const std::string system = is625 ? "625/50" : "525/60";
    if (size != bytes) {
        return refuse("is " + std::to_string(size) + " bytes, not the " + std::to_string(bytes) +
                      " of a " + system + " DV frame; raw DV holds whole DV frames only");
    }
    if (systemBytes_ != 0 && bytes != systemBytes_) {
        return refuse("is " + system +
                      " DV among frames of the other system; a raw DV file holds frames of one "
                      "system only");
    }
    systemBytes_ = bytes;
    ++frames_;
    return true;
}

ChunkCopy RawDvWriter::CopyPending() {
    while (pendingBytes_ > 0) {
        const int64_t n = std::min(pendingBytes_, kCopyPiece);
        bool sourceFailed = false;
        const int64_t written = file_.WriteAtCopying(position_, {nullptr, 0}, *pendingFile_,
                                                     pendingFrom_, n, {nullptr, 0}, &sourceFailed);
        if (written != n) {
            failed_ = true;  // a file with a hole is never finished
            pendingBytes_ = 0;
            return sourceFailed ? ChunkCopy::ReadFailed : ChunkCopy::WriteFailed;
        }
        position_ += n;
        pendingFrom_ += n;
        pendingBytes_ -= n;
    }
    return ChunkCopy::Done;
}

bool RawDvWriter::WriteChunk(int stream, const void* data, int64_t size, int units) {
    if (finished_ || failed_ || stream < 0 || size < 0 || units < 0) {
        return false;
    }
    if (stream != 0) {
        return true;  // an AVI source's separate sound: the frames carry it already
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (size < 4 || !Accepts(bytes, size) || CopyPending() != ChunkCopy::Done) {
        return false;
    }
    if (file_.WriteAt(position_, bytes, size) != size) {
        failed_ = true;
        return false;
    }
    position_ += size;
    return true;
}

ChunkCopy RawDvWriter::CopyChunk(int stream, File& source, int64_t position, int64_t size,
                                 int units) {
    if (finished_ || failed_ || stream < 0 || size < 0 || units < 0 || position < 0) {
        return ChunkCopy::WriteFailed;
    }
    if (stream != 0) {
        return ChunkCopy::Done;
    }
    // The frame is checked where it lies: the copy does not pass through here.
    uint8_t id[4];
    if (source.ReadAt(position, id, 4) != 4) {
        return ChunkCopy::ReadFailed;
    }
    if (!Accepts(id, size)) {
        return ChunkCopy::WriteFailed;
    }
    if (pendingBytes_ > 0 &&
        (pendingFile_ != &source || pendingFrom_ + pendingBytes_ != position)) {
        if (const ChunkCopy c = CopyPending(); c != ChunkCopy::Done) {
            return c;
        }
    }
    if (pendingBytes_ == 0) {
        pendingFile_ = &source;
        pendingFrom_ = position;
    }
    pendingBytes_ += size;
    return pendingBytes_ >= kCopyPiece ? CopyPending() : ChunkCopy::Done;
}

bool RawDvWriter::FlushBuffers() {
    return CopyPending() == ChunkCopy::Done && file_.StartWriteback();
}

bool RawDvWriter::Finish(int64_t modificationTime) {
    if (finished_) {
        return false;
    }
    bool ok = CopyPending() == ChunkCopy::Done && !failed_ && position_ > 0 && file_.Flush();
    file_.Close();
    ok = PutInPlace(ok, temporaryName_, destinationName_, modificationTime, &error_, &timeError_);
    finished_ = true;
    return ok;
}

}  // namespace qv
