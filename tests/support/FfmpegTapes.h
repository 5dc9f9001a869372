#pragma once
// Tapes made of ffmpeg's DV: recordings with chosen creation times, timecodes, aspect
// and audio rate, put one after the other as a camcorder records them, with the
// recording-start marks ffmpeg cannot set edited into the bytes.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dv/DifFrame.h"
#include "support/Ffmpeg.h"

namespace qvtest {

// A recording as ffmpeg's DV muxer writes it: its creation time becomes the frames'
// datestamp (none without one), its timecode runs on from the given start.
struct Segment {
    int frames = 0;
    const char* recorded = nullptr;  // "2004-07-14T10:00:00Z"; nullptr: no datestamps
    const char* timecode = "00:00:00:00";
    bool recordingStart = false;  // set by hand: ffmpeg never marks a recording's start
    bool wide = false;
    int sampleRate = 48000;
    bool ntsc = false;
};

// The segment's frames, made once per process for each ffmpeg command.
inline const std::vector<std::vector<uint8_t>>& SegmentFrames(const Segment& s) {
    static TempDir dir;
    static std::map<std::string, std::vector<std::vector<uint8_t>>> made;
    const TvSystem& sys = s.ntsc ? kNtsc : kPal;
    // Half a frame more than asked, so that rounding never loses the last one.
    const double seconds = (s.frames + 0.5) * sys.rateDen / sys.rateNum;
    const std::string path = dir.Path("segment" + std::to_string(made.size()) + ".dv");
    const std::string command =
        "ffmpeg -v error -y -nostdin -f lavfi -i testsrc=size=" + std::to_string(sys.width) + "x" +
        std::to_string(sys.height) + ":rate=" + std::to_string(sys.rateNum) + "/" +
        std::to_string(sys.rateDen) + " -f lavfi -i sine=sample_rate=" +
        std::to_string(s.sampleRate) + " -t " + std::to_string(seconds) + " -c:v dvvideo -pix_fmt " +
        sys.pixelFormat + (s.wide ? " -aspect 16:9" : "") + " -c:a pcm_s16le -ac 2 -ar " +
        std::to_string(s.sampleRate) + " -timecode '" + s.timecode + "'" +
        (s.recorded ? std::string(" -metadata creation_time=") + s.recorded : std::string()) +
        " -f dv ";
    auto it = made.find(command);
    if (it == made.end()) {
        const ShellResult r = RunShell(command + Quote(path) + " 2>&1");
        EXPECT_EQ(r.status, 0) << command << "\n" << r.output;
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        std::vector<std::vector<uint8_t>> frames;
        for (size_t at = 0; at + static_cast<size_t>(sys.frameSize) <= bytes.size();
             at += static_cast<size_t>(sys.frameSize)) {
            frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                bytes.begin() + static_cast<std::ptrdiff_t>(at) + sys.frameSize);
        }
        it = made.emplace(command, std::move(frames)).first;
    }
    EXPECT_EQ(static_cast<int>(it->second.size()), s.frames) << command;
    return it->second;
}

// REC ST cleared (0: a recording starts here) in the source-control packs of every DIF
// sequence: VAUX 0x61 (block 5 pack 10 in even sequences, block 3 pack 1 in odd ones)
// and AAUX 0x51 (audio block 4 in even sequences, 1 in odd ones), PC2 bit 7.
inline void MarkRecordingStart(std::vector<uint8_t>& frame) {
    for (size_t seq = 0; (seq + 1) * qv::kDifSequenceBytes <= frame.size(); ++seq) {
        const size_t base = seq * qv::kDifSequenceBytes;
        const size_t vaux = base + (seq % 2 == 0 ? 5 * 80 + 3 + 50 : 3 * 80 + 3 + 5);
        const size_t aaux = base + (6 + 16 * (seq % 2 == 0 ? 4 : 1)) * 80 + 3;
        for (const auto& [at, id] : {std::pair{vaux, uint8_t{0x61}}, std::pair{aaux, uint8_t{0x51}}}) {
            if (frame[at] == id) {
                frame[at + 2] &= 0x7F;
            }
        }
    }
}

inline std::vector<std::vector<uint8_t>> TapeOf(const std::vector<Segment>& segments) {
    std::vector<std::vector<uint8_t>> tape;
    for (const Segment& s : segments) {
        const auto& frames = SegmentFrames(s);
        const size_t first = tape.size();
        tape.insert(tape.end(), frames.begin(), frames.end());
        if (s.recordingStart && tape.size() > first) {
            MarkRecordingStart(tape[first]);
        }
    }
    return tape;
}

}  // namespace qvtest
