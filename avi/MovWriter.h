#pragma once
// Writing QuickTime through libavformat's muxer: one DV video track and the PCM
// sound, packets copied as they are given. The sound is the source's own: its PCM
// streams, or for a source whose frames carry their sound (raw DV, type-1 AVI) the
// samples of the frames' audio blocks. The muxer writes through a File, so that the
// temporary name, the flush and the rename are those of every other writer.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "dv/DifFrame.h"
#include "platform/File.h"

struct AVFormatContext;
struct AVIOContext;

namespace qv {

class MovWriter final : public AviWriter {
  public:
    explicit MovWriter(const std::string& destinationName);
    ~MovWriter() override;

    bool Open(AviReader& source, int firstFrame);

    bool WriteChunk(int stream, const void* data, int64_t size, int units) override;
    ChunkCopy CopyChunk(int stream, File& source, int64_t position, int64_t size,
                        int units) override;
    bool Finish(int64_t modificationTime) override;
    std::string TemporaryName() const override { return temporaryName_; }
    int LastError() const override { return error_ != 0 ? error_ : file.LastError(); }
    int TimeError() const override { return timeError_; }

    // The muxer's output: positioned writes into file.
    int64_t outputPosition = 0;
    bool writeFailed = false;
    File file;

  private:
    bool WritePacket(int track, const uint8_t* data, int64_t size, int64_t pts, int64_t duration);
    void Abandon();

    std::string destinationName_;
    std::string temporaryName_;
    AVFormatContext* context_ = nullptr;
    AVIOContext* io_ = nullptr;
    DifSystem system_;
    bool soundFromFrames_ = false;       // the audio blocks give the sound, not the streams
    int tracks_ = 0;                     // sound tracks after the video
    std::vector<int64_t> unitsWritten_;  // per track: frames, then sample frames
    std::vector<uint8_t> frame_;
    std::vector<uint8_t> pcm_[2];
    bool finished_ = false;
    int error_ = 0;      // the system's error of a failure outside the file's writes
    int timeError_ = 0;  // of setting the modification time
    bool failed_ = false;
};

// A QuickTime writer for source's frames; null when the file cannot be created or
// the source's streams cannot be put into one.
std::unique_ptr<AviWriter> CreateMovWriter(AviReader& source, const std::string& destinationName,
                                           int firstFrame);

}  // namespace qv
