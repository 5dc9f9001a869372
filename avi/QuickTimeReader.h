#pragma once
// The QuickTime reader: libavformat reads the file's atoms and sample tables, and
// its index gives where each DV video sample and each run of PCM samples lies;
// the samples themselves are read from the file here, byte for byte. Only files of
// one DV video track and PCM sound tracks are read (timecode tracks are passed by).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "dv/DifFrame.h"
#include "platform/File.h"

namespace qv {

class QuickTimeReader;

// Where one index entry's bytes lie and the first unit it holds.
struct SamplePlace {
    int64_t position = 0;
    int64_t size = 0;
    int64_t firstUnit = 0;
};

class QuickTimeStream final : public AviStream {
  public:
    QuickTimeStream(QuickTimeReader& owner, FourCC type) : owner_(owner), type_(type) {}

    ByteSpan Header() const override { return header_; }
    ByteSpan Format() const override { return format_; }
    std::optional<VideoFormat> GetVideoFormat() const override;
    std::optional<AudioFormat> GetAudioFormat() const override;
    double FramesPerSecond() const override { return unitsPerSecond_; }
    uint32_t UnitSize() const override { return unitSize_; }
    int Length() const override { return units_; }
    bool Read(int firstUnit, int unitCount, int* unitsRead, void* buffer, int bufferSize,
              int* bytesRead) override;
    FourCC Type() const override { return type_; }
    bool Locate(int unit, ChunkPlace* place) override;
    int64_t ChunkSize(int unit) override;
    int ReadError() const override;

  private:
    friend class QuickTimeReader;

    // The entry holding unit, or -1.
    int FindPlace(int64_t unit) const;

    QuickTimeReader& owner_;
    FourCC type_;
    std::vector<SamplePlace> places_;
    std::vector<uint8_t> header_;  // a "strh" chunk describing the stream, for the AVI users
    std::vector<uint8_t> format_;  // a BITMAPINFOHEADER or WAVEFORMATEX
    double unitsPerSecond_ = 0;
    uint32_t unitSize_ = 0;  // video: the frame size; audio: bytes of a sample frame
    int units_ = 0;
    bool bigEndian_ = false;  // 16-bit samples stored big-endian ("twos"): swapped when read
    int channels_ = 0;
    int sampleRate_ = 0;
};

class QuickTimeReader final : public AviReader {
  public:
    QuickTimeReader() = default;
    ~QuickTimeReader() override { Close(); }

    std::string Kind() const override { return "mov"; }
    AviStream* Stream(int index) override;
    int StreamCount() const override { return static_cast<int>(streams_.size()); }
    int FrameCount() const override { return streams_.empty() ? 0 : streams_[0]->Length(); }
    std::string FileName() const override { return fileName_; }
    bool Open(const std::string& fileName) override;
    void Close() override;
    double FramesPerSecond() const override {
        return streams_.empty() ? 0.0 : streams_[0]->FramesPerSecond();
    }
    using AviReader::CreateWriter;
    // A QuickTime file of the same tracks.
    std::unique_ptr<AviWriter> CreateWriter(const std::string& destinationName,
                                            const WriterOptions& options) override;

    int ReadError() const override { return file_.ReadError(); }
    // Why Open refused the file (a phrase to follow its name); empty when it did not.
    const std::string& Refusal() const { return refusal_; }
    // The system's error that made Open fail, or 0 when it refused the file's content.
    int OpenError() const { return openError_; }
    const DifSystem& System() const { return system_; }

  private:
    friend class QuickTimeStream;

    std::string fileName_;
    std::string refusal_;
    int openError_ = 0;
    File file_;
    DifSystem system_;
    std::vector<std::unique_ptr<QuickTimeStream>> streams_;
};

}  // namespace qv
