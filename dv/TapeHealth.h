#pragma once
// Damage in the frames of a DV capture, found without decoding the picture: video
// blocks whose status field tells the player concealed or could not read them,
// audio samples carrying the error code, frames repeated on a dropout and frames
// with no DIF data at all.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/SceneHealth.h"
#include "dv/DifFrame.h"

namespace qv {

// Counts the damage of one frame as the scan reads frames in file order; keeps the
// sound format of the last frame that named one, for frames whose pack was lost.
class FrameDamageCounter {
public:
    // The damage of frame number index, size bytes at frame; previous holds the
    // frame read before it (previousSize bytes, 0 for none). Flags 0 and no counts:
    // the frame is whole.
    FrameDamage Count(int32_t index, const uint8_t* frame, size_t size,
                      const uint8_t* previous, size_t previousSize);

    // Whether a frame counted so far named its sound format, and the last one named:
    // the audio errors of a frame without one are counted in it.
    bool KnowsSound() const { return haveAudio_; }
    const DifAudioFormat& Sound() const { return audio_; }

private:
    DifAudioFormat audio_;
    bool haveAudio_ = false;
};

// The damage of a scene in words: "5 damaged frames: 480 concealed blocks, 10 audio
// errors, 1 repeated, 1 empty; longest run 3 frames at 00:01:15" (the run's time
// from the file's start); "no damage" for a whole scene.
std::string DamageText(const SceneHealth& health);

inline bool IsDamaged(const FrameDamage& d) {
    return d.flags & (FrameDamage::kRepeated | FrameDamage::kEmpty) ||
           d.concealedBlocks != 0 || d.audioErrors != 0;
}

}  // namespace qv
