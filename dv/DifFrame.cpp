#include "dv/DifFrame.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace qv {

namespace {

// Where each audio block's samples go: the first sample of DIF sequence i, audio
// block j (the 16-bit sample index in the interleaved stereo buffer); the samples
// after it follow at a stride of 90 (525/60) or 108 (625/50). The first half of
// the sequences carries the left channel, the second the right.
constexpr uint8_t kShuffle525[10][9] = {
    {0, 30, 60, 20, 50, 80, 10, 40, 70}, {6, 36, 66, 26, 56, 86, 16, 46, 76},
    {12, 42, 72, 2, 32, 62, 22, 52, 82}, {18, 48, 78, 8, 38, 68, 28, 58, 88},
    {24, 54, 84, 14, 44, 74, 4, 34, 64}, {1, 31, 61, 21, 51, 81, 11, 41, 71},
    {7, 37, 67, 27, 57, 87, 17, 47, 77}, {13, 43, 73, 3, 33, 63, 23, 53, 83},
    {19, 49, 79, 9, 39, 69, 29, 59, 89}, {25, 55, 85, 15, 45, 75, 5, 35, 65},
};
constexpr uint8_t kShuffle625[12][9] = {
    {0, 36, 72, 26, 62, 98, 16, 52, 88},  {6, 42, 78, 32, 68, 104, 22, 58, 94},
    {12, 48, 84, 2, 38, 74, 28, 64, 100}, {18, 54, 90, 8, 44, 80, 34, 70, 106},
    {24, 60, 96, 14, 50, 86, 4, 40, 76},  {30, 66, 102, 20, 56, 92, 10, 46, 82},
    {1, 37, 73, 27, 63, 99, 17, 53, 89},  {7, 43, 79, 33, 69, 105, 23, 59, 95},
    {13, 49, 85, 3, 39, 75, 29, 65, 101}, {19, 55, 91, 9, 45, 81, 35, 71, 107},
    {25, 61, 97, 15, 51, 87, 5, 41, 77},  {31, 67, 103, 21, 57, 93, 11, 47, 83},
};

constexpr int kSampleRates[3] = {48000, 44100, 32000};
// The fewest sample frames a frame holds at each rate; the pack adds 0..63 to it.
constexpr int kMinSamples525[3] = {1580, 1452, 1053};
constexpr int kMinSamples625[3] = {1896, 1742, 1264};

constexpr uint8_t kAauxSourcePack = 0x50;
constexpr uint8_t kVauxSourcePack = 0x60;
constexpr int kAudioBlock = 6;  // the first audio block of a DIF sequence

// Eight bytes as one little-endian word, wherever they lie.
uint64_t Load64Le(const uint8_t* p) {
    uint64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap64(v);
    }
    return v;
}

// Whether the 72 sample bytes of an audio block may hold the error code: a 16-bit
// sample 0x8000 (bytes 0x80 0x00 at an even offset), and for 12-bit sound any byte
// 0x80 (the high byte of a 12-bit 0x800). Eight bytes are tested at a time; a block
// of sound almost never holds one, and then its samples need no look.
bool MayHoldErrorCode(const uint8_t* samples, bool twelveBit) {
    constexpr uint64_t kOnes16 = 0x0001000100010001;
    constexpr uint64_t kHigh16 = 0x8000800080008000;
    constexpr uint64_t kOnes8 = 0x0101010101010101;
    constexpr uint64_t kHigh8 = 0x8080808080808080;
    for (int w = 0; w < 9; ++w) {
        const uint64_t x = Load64Le(samples + 8 * w);
        // A lane equal to the pattern becomes zero; (v - 1) & ~v & high flags a zero lane.
        const uint64_t v = twelveBit ? x ^ kHigh8 : x ^ 0x0080008000800080;
        const uint64_t zero =
            twelveBit ? (v - kOnes8) & ~v & kHigh8 : (v - kOnes16) & ~v & kHigh16;
        if (zero != 0) {
            return true;
        }
    }
    return false;
}

// The AAUX source pack: in the first audio block of odd sequences and the fourth of
// even ones, 3 bytes into the block. Only the first ten sequences are searched,
// as the common demuxers do, so that both systems find the same pack.
const uint8_t* AudioSourcePack(const uint8_t* frame, size_t size) {
    for (int c = 0; c < 10; ++c) {
        const size_t at =
            static_cast<size_t>(c) * kDifSequenceBytes +
            static_cast<size_t>(kAudioBlock + (c % 2 != 0 ? 0 : 3 * 16)) * kDifBlockBytes + 3;
        if (at + 5 <= size && frame[at] == kAauxSourcePack) {
            return frame + at;
        }
    }
    return nullptr;
}

// A 12-bit nonlinear sample widened to 16 bits (the segments of IEC 61834-4).
uint16_t Widen12(uint16_t sample) {
    if (sample >= 0x800) {
        sample |= 0xF000;
    }
    uint16_t shift = (sample & 0xF00) >> 8;
    if (shift < 0x2 || shift > 0xD) {
        return sample;
    }
    if (shift < 0x8) {
        --shift;
        return static_cast<uint16_t>((sample - 256 * shift) << shift);
    }
    shift = static_cast<uint16_t>(0xE - shift);
    return static_cast<uint16_t>(((sample + (256 * shift + 1)) << shift) - 1);
}

}  // namespace

bool IsDifFrameHeader(const uint8_t* b) {
    // ID: section type 0 (header), sequence 0, channel 0 (FSC), block 0; then the
    // header's reserved bits (DSF aside).
    return (b[0] & 0xE0) == 0 && (b[1] & 0xF8) == 0 && b[2] == 0 && (b[3] & 0x7F) == 0x3F;
}

DifSystem DifSystemOf(const uint8_t* frame, size_t size, std::string* why) {
    DifSystem system;
    if (size < static_cast<size_t>(kDifProfileBytes) || !IsDifFrameHeader(frame)) {
        *why = "not an AVI, raw DV or QuickTime file";
        return system;
    }
    // The VAUX source pack (block 5, 48 bytes in) names the video format in its
    // signal type; files without one are taken for 25 Mbit/s DV by their system.
    const uint8_t* pack = frame + 5 * kDifBlockBytes + 48;
    const int signalType = pack[0] == kVauxSourcePack ? pack[3] & 0x1F : 0;
    const bool is625 = IsDif625(frame);
    if (signalType == 0x04) {
        *why = "DV50 (50 Mbit/s) video, which this program does not read (it reads 25 Mbit/s DV)";
        return system;
    }
    if (signalType == 0x14 || signalType == 0x15 || signalType == 0x18) {
        *why =
            "DVCPRO HD (100 Mbit/s) video, which this program does not read (it reads 25 Mbit/s "
            "DV)";
        return system;
    }
    if (signalType != 0 && !(signalType == 1 && is625)) {
        *why = "DV of an unknown video format (signal type " + std::to_string(signalType) +
               "), which this program does not read";
        return system;
    }
    system.is625 = is625;
    system.frameBytes = is625 ? kDv625FrameBytes : kDv525FrameBytes;
    system.rateNumerator = is625 ? 25 : 30000;
    system.rateDenominator = is625 ? 1 : 1001;
    return system;
}

bool DifAudioFormatOf(const uint8_t* frame, size_t size, bool is625, DifAudioFormat* format) {
    *format = DifAudioFormat{};
    const uint8_t* pack = AudioSourcePack(frame, size);
    if (pack == nullptr) {
        return false;
    }
    const int extra = pack[1] & 0x3F;         // AF SIZE: samples beyond the minimum
    const int stereoMode = pack[3] & 0x1F;    // STYPE: 0 two channels, 2 four, 3 eight
    const int rate = (pack[4] >> 3) & 0x07;   // SMP: 0 48 kHz, 1 44.1 kHz, 2 32 kHz
    const int quantization = pack[4] & 0x07;  // QU: 0 16-bit linear, 1 12-bit nonlinear
    if (rate > 2 || stereoMode > 3 || stereoMode == 1 || quantization > 1) {
        return false;
    }
    format->sampleRate = kSampleRates[rate];
    format->twelveBit = quantization == 1;
    // Stereo pairs; 12-bit 32 kHz sound has a second pair in the second half of the
    // sequences. Pairs beyond two are never filled in a 25 Mbit/s frame.
    format->pairs = stereoMode == 0 ? (format->twelveBit && rate == 2 ? 2 : 1) : 2;
    format->samples = (is625 ? kMinSamples625 : kMinSamples525)[rate] + extra;
    return true;
}

bool DecodeDifAudio(const uint8_t* frame, size_t size, bool is625, DifAudioFormat* format,
                    std::vector<uint8_t> (&pcm)[2]) {
    pcm[0].clear();
    pcm[1].clear();
    const size_t frameBytes = static_cast<size_t>(is625 ? kDv625FrameBytes : kDv525FrameBytes);
    if (size < frameBytes || !DifAudioFormatOf(frame, size, is625, format)) {
        return false;
    }
    const int sequences = is625 ? 12 : 10;
    const int stride = is625 ? 108 : 90;
    const int half = sequences / 2;
    const int bytes = format->samples * 4;  // 16-bit stereo
    for (int p = 0; p < format->pairs; ++p) {
        // Sample places no block fills (a pack claiming more samples than the blocks
        // hold) stay silent.
        pcm[p].assign(static_cast<size_t>(bytes), 0);
    }
    uint8_t* out = pcm[0].data();
    for (int i = 0; i < sequences; ++i) {
        const uint8_t* sequence = frame + static_cast<size_t>(i) * kDifSequenceBytes;
        if (format->twelveBit && i == half) {
            if (format->pairs < 2) {
                break;  // the second half holds the second pair only
            }
            out = pcm[1].data();
        }
        for (int j = 0; j < 9; ++j) {
            // Audio block j of the sequence: after the 6 header, subcode and VAUX blocks,
            // one in every 16 (15 video blocks follow each).
            const uint8_t* b =
                sequence + static_cast<size_t>(kAudioBlock + 16 * j) * kDifBlockBytes;
            const auto shuffle = [&](int row) {
                return is625 ? kShuffle625[row][j] : kShuffle525[row][j];
            };
            // Bytes 8..79 of the block hold the samples, big-endian.
            for (int d = 8; d < kDifBlockBytes; d += 2) {
                if (!format->twelveBit) {
                    const int of = shuffle(i) + (d - 8) / 2 * stride;
                    if (of * 2 >= bytes) {
                        continue;
                    }
                    uint8_t hi = b[d];
                    const uint8_t lo = b[d + 1];
                    if (hi == 0x80 && lo == 0x00) {
                        hi = 0;  // 0x8000: the error code, heard as silence
                    }
                    out[of * 2] = lo;
                    out[of * 2 + 1] = hi;
                    continue;
                }
                // Two 12-bit samples in three bytes: left, right, and their low nibbles.
                // b[d + 2] may be the first byte of the next block when a place is
                // skipped below (the step then stays 2, as the common demuxers read it).
                uint16_t left = static_cast<uint16_t>(b[d] << 4 | b[d + 2] >> 4);
                uint16_t right = static_cast<uint16_t>(b[d + 1] << 4 | (b[d + 2] & 0x0F));
                left = left == 0x800 ? 0 : Widen12(left);
                right = right == 0x800 ? 0 : Widen12(right);
                const int of = shuffle(i % half) + (d - 8) / 3 * stride;
                if (of * 2 >= bytes) {
                    continue;
                }
                out[of * 2] = static_cast<uint8_t>(left);
                out[of * 2 + 1] = static_cast<uint8_t>(left >> 8);
                const int ofRight = shuffle(i % half + half) + (d - 8) / 3 * stride;
                if (ofRight * 2 < bytes) {
                    out[ofRight * 2] = static_cast<uint8_t>(right);
                    out[ofRight * 2 + 1] = static_cast<uint8_t>(right >> 8);
                }
                ++d;
            }
        }
    }
    return true;
}

int CountDifAudioErrors(const uint8_t* frame, size_t size, bool is625,
                        const DifAudioFormat& format) {
    const size_t frameBytes = static_cast<size_t>(is625 ? kDv625FrameBytes : kDv525FrameBytes);
    if (size < frameBytes || format.samples <= 0) {
        return 0;
    }
    const int sequences = is625 ? 12 : 10;
    const int stride = is625 ? 108 : 90;
    const int half = sequences / 2;
    // The sample places as DecodeDifAudio fills them: only those below format.samples
    // hold sound, the rest of a block is padding.
    int errors = 0;
    for (int i = 0; i < sequences; ++i) {
        if (format.twelveBit && i == half && format.pairs < 2) {
            break;
        }
        const uint8_t* sequence = frame + static_cast<size_t>(i) * kDifSequenceBytes;
        for (int j = 0; j < 9; ++j) {
            const uint8_t* b =
                sequence + static_cast<size_t>(kAudioBlock + 16 * j) * kDifBlockBytes;
            if (!MayHoldErrorCode(b + 8, format.twelveBit)) {
                continue;
            }
            const auto shuffle = [&](int row) {
                return is625 ? kShuffle625[row][j] : kShuffle525[row][j];
            };
            if (!format.twelveBit) {
                for (int d = 8; d < kDifBlockBytes; d += 2) {
                    // The bytes first: an error code is rare, its place seldom needed.
                    if (b[d] == 0x80 && b[d + 1] == 0x00 &&
                        shuffle(i) + (d - 8) / 2 * stride < format.samples * 2) {
                        ++errors;
                    }
                }
                continue;
            }
            // Two 12-bit samples in three bytes: left, right, and their low nibbles.
            for (int d = 8; d + 2 < kDifBlockBytes; d += 3) {
                const int left = b[d] << 4 | b[d + 2] >> 4;
                const int right = b[d + 1] << 4 | (b[d + 2] & 0x0F);
                const int place = (d - 8) / 3 * stride;
                if (left == 0x800 && shuffle(i % half) + place < format.samples * 2) {
                    ++errors;
                }
                if (right == 0x800 && shuffle(i % half + half) + place < format.samples * 2) {
                    ++errors;
                }
            }
        }
    }
    return errors;
}

}  // namespace qv
