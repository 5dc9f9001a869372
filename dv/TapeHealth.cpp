#include "dv/TapeHealth.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "app/SceneList.h"

namespace qv {

namespace {

constexpr int kFirstVideoBlock = 7;  // after header, 2 subcode, 3 VAUX and 1 audio block
constexpr uint8_t kVideoSection = 4; // SCT of a video block's ID
// A repeated frame has the same header and subcode (its timecode) as the frame before;
// these bytes differ between any two frames of a running tape, so comparing them first
// keeps the whole-frame comparison to the rare frames that may be repeats.
constexpr size_t kSubcodeEnd = 3 * kDifBlockBytes;

bool AllZero(const uint8_t* bytes, size_t size) {
    return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; });
}

}  // namespace

FrameDamage FrameDamageCounter::Count(int32_t index, const uint8_t* frame, size_t size,
                                      const uint8_t* previous, size_t previousSize) {
    FrameDamage d;
    d.frame = index;
    if (size == 0 || AllZero(frame, size)) {
        d.flags = FrameDamage::kEmpty;
        return d;
    }
    if (previousSize == size && size > kSubcodeEnd &&
        std::memcmp(frame, previous, kSubcodeEnd) == 0 &&
        std::memcmp(frame + kSubcodeEnd, previous + kSubcodeEnd, size - kSubcodeEnd) == 0) {
        d.flags = FrameDamage::kRepeated;
        return d;
    }
    // The system by the header block; a frame that lost its header is taken for the
    // system its size fits.
    const bool is625 = size >= 4 && IsDifFrameHeader(frame)
                           ? IsDif625(frame)
                           : size > static_cast<size_t>(kDv525FrameBytes);
    d.flags = is625 ? FrameDamage::k625 : 0;
    const int sequences = is625 ? 12 : 10;
    int concealed = 0;
    const bool whole = size >= static_cast<size_t>(sequences) * kDifSequenceBytes;
    for (int s = 0; s < sequences; ++s) {
        for (int group = 0; group < 9; ++group) {
            const size_t first = static_cast<size_t>(s) * kDifSequenceBytes +
                                 static_cast<size_t>(kFirstVideoBlock + 16 * group) * kDifBlockBytes;
            for (int k = 0; k < 15; ++k) {
                const size_t at = first + static_cast<size_t>(k) * kDifBlockBytes;
                if (!whole && at + kDifBlockBytes > size) {
                    ++concealed;  // cut off: the frame is shorter than its system
                    continue;
                }
                // ID byte 0: SCT in the top three bits; byte 3: STA (high nibble), the
                // block's status: 0 read whole, else concealed or in error. A block
                // with another section's ID is not video at all.
                const uint8_t* b = frame + at;
                // Both bytes in one load: byte 0 in the low, byte 3 in the high byte.
                uint32_t id = 0;
                std::memcpy(&id, b, sizeof id);
                if constexpr (std::endian::native == std::endian::big) {
                    id = __builtin_bswap32(id);
                }
                concealed += static_cast<int>((id & 0xF00000E0u) != uint32_t{kVideoSection} << 5);
            }
        }
    }
    d.concealedBlocks = static_cast<uint16_t>(concealed);
    DifAudioFormat format;
    if (DifAudioFormatOf(frame, size, is625, &format)) {
        audio_ = format;
        haveAudio_ = true;
    }
    if (haveAudio_) {
        d.audioErrors = static_cast<uint16_t>(
            std::min(CountDifAudioErrors(frame, size, is625, audio_), 0xFFFF));
    }
    return d;
}

std::string DamageText(const SceneHealth& h) {
    if (!h.Damaged()) {
        return "no damage";
    }
    const auto count = [](int n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string parts;
    const auto add = [&](int n, const std::string& text) {
        if (n > 0) {
            parts += (parts.empty() ? "" : ", ") + text;
        }
    };
    add(h.concealedBlocks, count(h.concealedBlocks, "concealed block", "concealed blocks"));
    add(h.audioErrors, count(h.audioErrors, "audio error", "audio errors"));
    add(h.repeatedFrames, std::to_string(h.repeatedFrames) + " repeated");
    add(h.emptyFrames, std::to_string(h.emptyFrames) + " empty");
    return count(h.damagedFrames, "damaged frame", "damaged frames") + ": " + parts +
           "; longest run " + count(h.longestRun, "frame", "frames") + " at " +
           FormatFrameTime(h.longestRunFirst);
}

}  // namespace qv
