#pragma once
// Writing a type-2 OpenDML AVI ("vids" DV video, "auds" PCM) from a source whose
// frames carry their own sound (raw DV): every frame given is written as the video
// chunk, and the samples of its audio blocks as one audio chunk a stereo pair.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "avi/RiffAviWriter.h"
#include "dv/DifFrame.h"

namespace qv {

class DvAviWriter final : public AviWriter {
  public:
    DvAviWriter(const std::string& destinationName, const WriterOptions& options);

    // Takes the system and the sound's format from source's frame options.firstFrame
    // (or the first of the frames after it that has sound) and creates the file.
    bool Open(AviReader& source, int firstFrame);

    bool WriteChunk(int stream, const void* data, int64_t size, int units) override;
    ChunkCopy CopyChunk(int stream, File& source, int64_t position, int64_t size,
                        int units) override;
    bool FlushBuffers() override { return inner_.FlushBuffers(); }
    bool Finish(int64_t modificationTime) override { return inner_.Finish(modificationTime); }
    std::string TemporaryName() const override { return inner_.TemporaryName(); }
    int LastError() const override { return inner_.LastError(); }
    int TimeError() const override { return inner_.TimeError(); }

  private:
    RiffAviWriter inner_;
    DifSystem system_;
    int pairs_ = 0;               // audio streams written, one a stereo pair
    std::vector<uint8_t> frame_;  // a frame copied from a file passes through here
    std::vector<uint8_t> pcm_[2];
};

// The DV system of a scene's first frame, and (wantSound) the sound of it or of the
// frames of the second after it; firstApt the first frame's APT byte. False when the
// first frame is no 25 Mbit/s DV frame. frame is the buffer the frames are read into.
bool SceneDvFormat(AviStream& video, int firstFrame, bool wantSound, DifSystem* system,
                   DifAudioFormat* sound, uint8_t* firstApt, std::vector<uint8_t>& frame);

// The layout of a type-2 DV AVI of system's frames with one 16-bit PCM stream of
// each of sound's formats: "avih", "dmlh", and per stream "strh" and "strf".
AviLayout DvAviLayout(const std::string& sourceName, const DifSystem& system,
                      const std::vector<AudioFormat>& sound);

}  // namespace qv
