#pragma once
// Writing raw DV: the frames of stream 0 one after another, nothing else (the sound
// is inside every frame). Frames copied from one file at following positions are
// gathered into one range and copied inside the kernel in one go.

#include <cstdint>
#include <memory>
#include <string>

#include "avi/AviReader.h"
#include "platform/File.h"

namespace qv {

class RawDvWriter final : public AviWriter {
  public:
    explicit RawDvWriter(const std::string& destinationName);
    ~RawDvWriter() override;

    // Creates the temporary file; false when it cannot be, or when the destination is
    // the source itself.
    bool Open(const std::string& sourceName);

    bool WriteChunk(int stream, const void* data, int64_t size, int units) override;
    ChunkCopy CopyChunk(int stream, File& source, int64_t position, int64_t size,
                        int units) override;
    bool FlushBuffers() override;
    bool Finish(int64_t modificationTime) override;
    std::string TemporaryName() const override { return temporaryName_; }
    int LastError() const override { return error_ != 0 ? error_ : file_.LastError(); }
    std::string Refusal() const override { return refusal_; }
    int TimeError() const override { return timeError_; }

  private:
    // Whether a frame of size bytes whose first bytes are id belongs in this file: a
    // whole DV frame of the system of the first one.
    bool Accepts(const uint8_t* id, int64_t size);
    ChunkCopy CopyPending();
    void Abandon();

    File file_;
    std::string destinationName_;
    std::string temporaryName_;
    int64_t position_ = 0;
    int systemBytes_ = 0;  // the frame size of the first frame; 0 before it
    int64_t frames_ = 0;   // accepted so far
    std::string refusal_;
    bool failed_ = false;
    bool finished_ = false;
    int error_ = 0;      // the system's error of a failure outside the file's writes
    int timeError_ = 0;  // of setting the modification time
    // The source range waiting to be copied: [pendingFrom, pendingFrom + pendingBytes).
    File* pendingFile_ = nullptr;
    int64_t pendingFrom_ = 0;
    int64_t pendingBytes_ = 0;
};

// A raw DV writer for frames of source; null when the file cannot be created.
std::unique_ptr<AviWriter> CreateRawDvWriter(AviReader& source, const std::string& destinationName);

}  // namespace qv
