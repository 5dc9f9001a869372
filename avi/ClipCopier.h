#pragma once
// Copies one scene - a run of frames of one source file - into an AVI file of
// its own, chunk for chunk with its audio, without decoding anything.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "avi/AviWriter.h"

namespace qv {

class Progress;
class Questions;

// Where one chunk of a frame lies in the copy buffer: its video, or the samples of
// one audio stream. A frame has one part for the video and one per audio stream.
struct CopyPart {
    int64_t offset = 0;
    int64_t bytes = 0;  // 0: no chunk for this frame (audio only)
    int units = 0;
    // A video chunk copied straight from the source file: its data position there
    // (the bytes are not in the buffer); -1 for parts in the buffer.
    int64_t sourcePosition = -1;
};

// The copy buffer of a write run: a quarter of the physical memory, at most 64 MiB.
// Larger batches were measured slower (page faults on first touch, and no writing
// while one huge batch is read) and only cost memory.
uint64_t DefaultCopyBufferBytes();

// The state that lives across the scenes of one write run.
class ClipCopier {
public:
    explicit ClipCopier(Questions& questions) : questions_(questions) {}

    // Writes scene into destinationName: 0 when complete, -1 otherwise (the user
    // was told why). framesDone advances by the scene's length once copying ran.
    int CopyScene(const std::string& destinationName, const Scene& scene, Progress& progress,
                  int& framesDone, int progressDivisor);

    // The source used last, kept open for the next scene of the same file.
    std::unique_ptr<AviReader> sourceReader;
    // The read-ahead buffer, owned by the caller.
    std::span<uint8_t> copyBuffer;
    bool yesForAll = false;
    bool ignoreAudioErrors = false;
    // Scenes written whose file could not be given the recording time (each was told).
    int timeErrors = 0;
    // Lower only in tests.
    uint32_t segmentLimit = kSegmentLimit;
    // Runs of chunks that lie in the source as the copy holds them are copied as one
    // range; off only in tests, which compare the copies made either way.
    bool copyRuns = true;

private:
    bool AbortRequested(Progress& progress);
    bool HoldsThisScene(const std::string& fileName, const Scene& scene);

    Questions& questions_;
    // The parts of the frames read and not yet written, frame after frame.
    std::vector<CopyPart> queue_;
    // The chunks of the run being copied as one range.
    std::vector<RunChunk> run_;
};

// The message for a file whose modification time could not be set.
std::string TimeFailure(const std::string& file, int error);

// Sample frames of audio that belong to video frames [first, first + count) at
// samplesPerFrame: each frame boundary at the nearest sample, so that scenes cut
// anywhere join without a sample dropped or repeated.
int64_t AudioUnitsOf(int64_t first, int64_t count, double samplesPerFrame);

// Where the audio of each video frame begins in one audio stream of a source. Audio
// stored one chunk per video frame (DV's own 1600 and 1602 samples in turn at NTSC) is
// cut where its chunks begin; other audio at the sample nearest to the frame's time,
// from the streams' exact rates. The last frame's audio ends where the stream ends
// (with the rounding, at most a frame's worth of samples past its time), so that the
// samples after the last frame's time are in the last scene.
class AudioSplit {
  public:
    AudioSplit(AviStream& video, AviStream& audio);

    int64_t UnitOf(int64_t frame) const;
    int64_t UnitsOf(int64_t first, int64_t count) const {
        return UnitOf(first + count) - UnitOf(first);
    }
    bool FollowsChunks() const { return followsChunks_; }

  private:
    int64_t Rounded(int64_t frame) const;

    AviStream* audio_;
    int64_t frames_ = 0;  // of the video
    int64_t end_ = 0;     // where the last frame's audio ends
    // samples per frame = num_ / den_ when both rates are known, else samplesPerFrame_
    uint64_t num_ = 0;
    uint64_t den_ = 0;
    double samplesPerFrame_ = 0.0;
    bool followsChunks_ = false;
};

}  // namespace qv
