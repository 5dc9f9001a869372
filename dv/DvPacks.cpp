#include "dv/DvPacks.h"

#include "dv/DifFrame.h"

namespace qv {

namespace {

constexpr uint8_t kTimecodePack = 0x13;
constexpr uint8_t kAudioSourceControlPack = 0x51;
constexpr uint8_t kVideoSourceControlPack = 0x61;

int Bcd(uint8_t byte, uint8_t tensMask) {
    return ((byte & tensMask) >> 4) * 10 + (byte & 0x0F);
}

// The 5-byte pack at offset when the frame holds it and it carries header id.
const uint8_t* PackAt(const uint8_t* frame, size_t size, size_t offset, uint8_t id) {
    return offset + 5 <= size && frame[offset] == id ? frame + offset : nullptr;
}

// A source-control pack lies in DIF sequence 0 and again in sequence 1, at places
// that differ between even and odd sequences; the first present is taken.
const uint8_t* SourceControlPack(const uint8_t* frame, size_t size, uint8_t id) {
    for (size_t sequence = 0; sequence < 2; ++sequence) {
        const size_t base = sequence * kDifSequenceBytes;
        size_t offset = 0;
        if (id == kVideoSourceControlPack) {
            // VAUX blocks 3..5 hold 15 packs of 5 bytes after their 3-byte ID; 0x61 is
            // pack 10 of block 5 in even sequences, pack 1 of block 3 in odd ones.
            offset = sequence == 0 ? 5 * kDifBlockBytes + 3 + 10 * 5 : 3 * kDifBlockBytes + 3 + 5;
        } else {
            // The audio blocks start at block 6, one every 16 blocks; their pack follows
            // the 3-byte ID. 0x51 is in audio block 4 of even sequences, 1 of odd ones.
            const size_t audioBlock = sequence == 0 ? 4 : 1;
            offset = (6 + 16 * audioBlock) * kDifBlockBytes + 3;
        }
        if (const uint8_t* pack = PackAt(frame, size, base + offset, id)) {
            return pack;
        }
    }
    return nullptr;
}

}  // namespace

DvFrameMarks DecodeFrameMarks(const uint8_t* frame, size_t size, DatestampMemo* memo) {
    DvFrameMarks marks;
    if (size >= 512) {
        marks.datestamp = memo != nullptr ? DecodeDatestamp(frame, *memo) : DecodeDatestamp(frame);
    }
    if (size >= kDifBlockBytes) {
        marks.is625 = IsDif625(frame);
    }
    // Video source control: PC2 = REC ST (1, 0 = recording start), 1, REC MODE (2), 1,
    // DISP (3: 000 4:3 full, 010 16:9 letterbox/full ... 111 16:9 squeezed).
    const uint8_t* vsc = SourceControlPack(frame, size, kVideoSourceControlPack);
    if (vsc != nullptr) {
        const int disp = vsc[2] & 0x07;
        marks.aspect = disp == 0x02 || disp == 0x07 ? 2 : 1;
        marks.recordingStart = (vsc[2] & 0x80) == 0;
    }
    // Audio source control: PC2 = REC ST (1, 0 = recording start), REC END (1), REC
    // MODE (3), INSERT CH (3).
    const uint8_t* asc = SourceControlPack(frame, size, kAudioSourceControlPack);
    if (asc != nullptr && (asc[2] & 0x80) == 0) {
        marks.recordingStart = true;
    }
    // Subcode blocks 1 and 2 hold six sync blocks each: 3-byte block ID, then per sync
    // block ID0, ID1, one reserved byte and a 5-byte pack. The first timecode pack counts.
    for (size_t block = 1; block <= 2 && !marks.timecode.valid; ++block) {
        for (size_t sync = 0; sync < 6; ++sync) {
            const size_t offset = block * kDifBlockBytes + 3 + sync * 8 + 3;
            const uint8_t* tc = PackAt(frame, size, offset, kTimecodePack);
            if (tc == nullptr) {
                continue;
            }
            // PC1 = CF, DF, frame tens (2), units; PC2..PC4 = seconds, minutes, hours
            // in BCD under flag bits. A tape position without timecode holds 0xFF.
            DvTimecode t;
            t.dropFrame = (tc[1] & 0x40) != 0;
            t.frames = Bcd(tc[1], 0x30);
            t.seconds = Bcd(tc[2], 0x70);
            t.minutes = Bcd(tc[3], 0x70);
            t.hours = Bcd(tc[4], 0x30);
            t.valid = t.frames < 30 && t.seconds < 60 && t.minutes < 60 && t.hours < 24;
            if (t.valid) {
                marks.timecode = t;
                break;
            }
        }
    }
    DifAudioFormat audio;
    if (DifAudioFormatOf(frame, size, marks.is625, &audio)) {
        marks.sampleRate = audio.sampleRate;
        marks.audioPairs = audio.pairs;
        marks.audioTwelveBit = audio.twelveBit;
    }
    return marks;
}

bool TimecodeFollows(const DvTimecode& previous, const DvTimecode& next, int framesPerSecond) {
    DvTimecode t = previous;
    if (++t.frames >= framesPerSecond) {
        t.frames = 0;
        if (++t.seconds == 60) {
            t.seconds = 0;
            if (++t.minutes == 60) {
                t.minutes = 0;
                t.hours = (t.hours + 1) % 24;
            }
            // Drop-frame timecode skips frames 0 and 1 of every minute but each tenth.
            if (previous.dropFrame && framesPerSecond == 30 && t.minutes % 10 != 0) {
                t.frames = 2;
            }
        }
    }
    return t.hours == next.hours && t.minutes == next.minutes && t.seconds == next.seconds &&
           t.frames == next.frames;
}

}  // namespace qv
