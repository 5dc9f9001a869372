#pragma once
// The auxiliary packs of a DV frame that tell where a recording begins and what
// it holds: the source-control packs' recording-start mark (VAUX 0x61, AAUX 0x51),
// the subcode timecode (0x13), and the format (525/625, display aspect, audio).

#include <cstddef>
#include <cstdint>

#include "dv/Datestamp.h"

namespace qv {

struct DvTimecode {
    bool valid = false;
    bool dropFrame = false;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
};

// What the thorough scan compares between one frame and the next.
struct DvFrameMarks {
    Datestamp datestamp = 0;
    bool recordingStart = false;  // REC ST of VAUX 0x61 or AAUX 0x51 says "start"
    DvTimecode timecode;
    bool is625 = false;
    int aspect = 0;  // 0: no video source-control pack; 1: 4:3; 2: 16:9
    // 0 when the frame has no audio source pack.
    int sampleRate = 0;
    int audioPairs = 0;
    bool audioTwelveBit = false;
};

// The marks of a DV frame of size bytes; packs that lie beyond size, or do not carry
// their pack header, are left out. The memo, when given, spares converting the same
// recording time again.
DvFrameMarks DecodeFrameMarks(const uint8_t* frame, size_t size, DatestampMemo* memo = nullptr);

// Whether next is the timecode that follows previous at a rate of about
// framesPerSecond (25 or 30; 30 with the drop-frame rule when previous says so).
bool TimecodeFollows(const DvTimecode& previous, const DvTimecode& next, int framesPerSecond);

}  // namespace qv
