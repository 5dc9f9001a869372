#pragma once
// What the thorough scan found damaged in a scene: the frames the player could
// not read whole, and the totals the list, the report and the map show.

#include <cstdint>
#include <vector>

namespace qv {

// One damaged frame, kept compact: a one-hour tape with every frame damaged holds
// 90,000 of these.
struct FrameDamage {
    static constexpr uint8_t kRepeated = 1;  // the same bytes as the frame before
    static constexpr uint8_t kEmpty = 2;     // no DIF data at all (absent or zeroed)
    static constexpr uint8_t k625 = 4;       // 625/50: 1620 video blocks, else 1350

    int32_t frame = 0;            // in the source file
    uint16_t concealedBlocks = 0; // video blocks concealed, in error or missing
    uint16_t audioErrors = 0;     // audio samples carrying the error code
    uint8_t flags = 0;

    // How much of the picture was lost, 0..1: an empty or repeated frame is lost whole.
    float LostShare() const {
        if ((flags & (kRepeated | kEmpty)) != 0) {
            return 1.0f;
        }
        const float blocks = (flags & k625) != 0 ? 1620.0f : 1350.0f;
        return concealedBlocks >= blocks ? 1.0f : static_cast<float>(concealedBlocks) / blocks;
    }
};

struct SceneHealth {
    bool counted = false;  // the thorough scan looked at every frame of the scene
    int32_t damagedFrames = 0;
    int32_t concealedBlocks = 0;
    int32_t audioErrors = 0;
    int32_t repeatedFrames = 0;
    int32_t emptyFrames = 0;
    int32_t longestRun = 0;       // the most damaged frames in a row
    int32_t longestRunFirst = 0;  // where that run begins, in the source file
    std::vector<FrameDamage> frames;  // in frame order

    bool Damaged() const { return damagedFrames > 0; }

    // Counts one damaged frame; frames come in file order.
    void Add(const FrameDamage& d) {
        const bool follows = !frames.empty() && frames.back().frame + 1 == d.frame;
        runLength_ = follows ? runLength_ + 1 : 1;
        if (runLength_ > longestRun) {
            longestRun = runLength_;
            longestRunFirst = d.frame - runLength_ + 1;
        }
        ++damagedFrames;
        concealedBlocks += d.concealedBlocks;
        audioErrors += d.audioErrors;
        repeatedFrames += (d.flags & FrameDamage::kRepeated) != 0 ? 1 : 0;
        emptyFrames += (d.flags & FrameDamage::kEmpty) != 0 ? 1 : 0;
        frames.push_back(d);
    }

    // Keeps the frames in [first, end) when a scene is cut down, and counts again.
    void Keep(int32_t first, int32_t end) {
        std::vector<FrameDamage> all;
        all.swap(frames);
        const bool wasCounted = counted;
        *this = SceneHealth{};
        counted = wasCounted;
        for (const FrameDamage& d : all) {
            if (d.frame >= first && d.frame < end) {
                Add(d);
            }
        }
    }

private:
    int32_t runLength_ = 0;
};

}  // namespace qv
