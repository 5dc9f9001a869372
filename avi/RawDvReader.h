#pragma once
// The raw DV reader: DIF frames one after another with no index. The first frame's
// header block gives the frame size and rate; frame n lies at n times that size, so
// opening costs two reads whatever the file's length. The file is one interleaved
// ("iavs") stream, as in a type-1 AVI: every frame holds its own sound.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "dv/DifFrame.h"
#include "platform/File.h"

namespace qv {

class RawDvReader;

class RawDvStream final : public AviStream {
  public:
    explicit RawDvStream(RawDvReader& owner) : owner_(owner) {}

    ByteSpan Header() const override { return header_; }
    ByteSpan Format() const override { return {}; }
    double FramesPerSecond() const override;
    uint32_t UnitSize() const override;
    int Length() const override;
    bool Read(int firstUnit, int unitCount, int* unitsRead, void* buffer, int bufferSize,
              int* bytesRead) override;
    FourCC Type() const override { return fcc::iavs; }
    bool Locate(int unit, ChunkPlace* place) override;
    int64_t ChunkSize(int unit) override;
    int ReadError() const override;

  private:
    friend class RawDvReader;

    RawDvReader& owner_;
    std::vector<uint8_t> header_;  // a "strh" chunk describing the frames, for the AVI users
};

class RawDvReader final : public AviReader {
  public:
    RawDvReader() = default;
    ~RawDvReader() override { Close(); }

    std::string Kind() const override { return "dv"; }
    AviStream* Stream(int index) override;
    int StreamCount() const override { return file_.IsOpen() ? 1 : 0; }
    int FrameCount() const override { return frames_; }
    std::string FileName() const override { return fileName_; }
    bool Open(const std::string& fileName) override;
    void Close() override;
    double FramesPerSecond() const override;
    bool EndsWithPartialFrame() const override { return partialFrame_; }
    using AviReader::CreateWriter;
    // A raw DV file of the frames written.
    std::unique_ptr<AviWriter> CreateWriter(const std::string& destinationName,
                                            const WriterOptions& options) override;

    int ReadError() const override { return file_.ReadError(); }
    // Why Open refused the file (a phrase to follow its name); empty when it did not.
    const std::string& Refusal() const { return refusal_; }
    // The system's error that made Open fail, or 0 when it refused the file's content.
    int OpenError() const { return openError_; }
    const DifSystem& System() const { return system_; }
    File& SourceFile() { return file_; }

  private:
    friend class RawDvStream;

    // Whether frame's bytes at position begin with a header block of the file's system.
    bool FrameStartsAt(int64_t position);

    std::string fileName_;
    std::string refusal_;
    int openError_ = 0;
    File file_;
    DifSystem system_;
    int frames_ = 0;
    bool partialFrame_ = false;
    std::unique_ptr<RawDvStream> stream_;
};

}  // namespace qv
