#pragma once
// The parts of a DV DIF frame the program reads without decoding the picture: the
// header block that starts every frame (its system: 525/60 or 625/50), the video
// source pack that tells 25 Mbit/s DV from DV50 and DVCPRO HD, and the PCM
// samples carried in the audio blocks.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

constexpr int kDifBlockBytes = 80;
constexpr int kDifSequenceBytes = 150 * kDifBlockBytes;   // one DIF sequence
constexpr int kDv525FrameBytes = 10 * kDifSequenceBytes;  // 120,000
constexpr int kDv625FrameBytes = 12 * kDifSequenceBytes;  // 144,000
// What the system and the video source pack need: the header, subcode and VAUX blocks.
constexpr int kDifProfileBytes = 6 * kDifBlockBytes;

// Whether the 80 bytes at block begin a DV frame: a header block (section type 0) of
// DIF sequence 0, channel 0, block number 0.
bool IsDifFrameHeader(const uint8_t* block);
// The system the header block names: true for 625/50 (DSF bit set), false for 525/60.
inline bool IsDif625(const uint8_t* block) {
    return (block[3] & 0x80) != 0;
}

struct DifSystem {
    bool is625 = false;
    int frameBytes = 0;
    int rateNumerator = 0;  // frames per second = rateNumerator / rateDenominator
    int rateDenominator = 1;
};

// The system of the frame whose first kDifProfileBytes are at frame, or an empty
// frameBytes with why set: not DV at all, or a DV format other than 25 Mbit/s SD
// (named, so that the user learns what the file holds).
DifSystem DifSystemOf(const uint8_t* frame, size_t size, std::string* why);

// The audio of one frame as the AAUX source pack describes it.
struct DifAudioFormat {
    int sampleRate = 0;  // 48000, 44100 or 32000
    int pairs = 0;       // stereo pairs: 2 for 12-bit 32 kHz four-channel sound
    bool twelveBit = false;
    int samples = 0;  // sample frames in this frame
};

// False when the frame carries no usable audio source pack (no sound for it).
bool DifAudioFormatOf(const uint8_t* frame, size_t size, bool is625, DifAudioFormat* format);

// Decodes the samples of frame's audio blocks into one 16-bit little-endian stereo
// buffer per pair (pcm[0], pcm[1]), format.samples sample frames each: the 16-bit
// samples as they are, the 12-bit ones widened, error codes as silence. False (pcm
// left empty) when the frame has no audio. size must be the whole frame.
bool DecodeDifAudio(const uint8_t* frame, size_t size, bool is625, DifAudioFormat* format,
                    std::vector<uint8_t> (&pcm)[2]);

// The samples of frame's audio blocks that carry the error code (0x8000 for 16-bit
// sound, 0x800 for 12-bit), counting the places format.samples fills. size must be
// the whole frame.
int CountDifAudioErrors(const uint8_t* frame, size_t size, bool is625,
                        const DifAudioFormat& format);

}  // namespace qv
