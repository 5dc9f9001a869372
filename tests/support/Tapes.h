#pragma once
// Captured tapes for tests of whole commands: each file is a run of stretches, a
// stretch being frames recorded without interruption from a given wall-clock time
// on (or frames without any). Frames are 512 bytes, all the datestamp scan reads;
// their bytes come from a seed, so equal seeds make the same recording.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "support/AviFixture.h"

namespace qvtest {

struct Stretch {
    int frames = 0;
    std::optional<DvTime> start;  // nothing: frames without datestamp
    uint32_t firstSeed = 0;       // seed of the stretch's first frame; 0: go on from the last
};

constexpr int kTapeFrameBytes = 512;

inline std::chrono::sys_seconds WallClock(const DvTime& t) {
    using namespace std::chrono;
    return sys_days{year{t.year} / t.month / t.day} + hours{t.hour} + minutes{t.minute} +
           seconds{t.second};
}

// t + seconds, carried through days, months and years.
inline DvTime Plus(const DvTime& t, int64_t seconds) {
    using namespace std::chrono;
    const sys_seconds when = WallClock(t) + std::chrono::seconds{seconds};
    const sys_days day = floor<days>(when);
    const year_month_day ymd{day};
    const hh_mm_ss hms{when - day};
    return DvTime{static_cast<int>(ymd.year()),
                  static_cast<int>(unsigned{ymd.month()}),
                  static_cast<int>(unsigned{ymd.day()}),
                  static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count())};
}

// The recorded wall-clock time taken as UTC, minus the zone's offset then.
inline int64_t Instant(const DvTime& t, int utcOffsetSeconds = 0) {
    return WallClock(t).time_since_epoch().count() - utcOffsetSeconds;
}

inline std::vector<uint8_t> TapeFrame(bool pal, std::optional<DvTime> time, uint32_t seed) {
    std::vector<uint8_t> frame(kTapeFrameBytes);
    uint32_t v = seed * 2654435761u + 977u;
    for (uint8_t& byte : frame) {
        v = v * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(v >> 16);
    }
    frame[0] = 0x1F;  // header DIF block of sequence 0
    frame[1] = 0x07;
    frame[2] = 0x00;
    frame[3] = pal ? 0xBF : 0x3F;
    SetDvTime(frame, time);
    return frame;
}

// The frames of a tape; type-2 frames get the audio MakeFrames gives frame i of a file.
inline std::vector<FixtureFrame> TapeFrames(const FixtureOptions& options,
                                            const std::vector<Stretch>& stretches) {
    int total = 0;
    for (const Stretch& s : stretches) {
        total += s.frames;
    }
    std::vector<FixtureFrame> frames = MakePatternFrames(options, total, 0);
    size_t i = 0;
    uint32_t seed = 1;
    for (const Stretch& s : stretches) {
        seed = s.firstSeed != 0 ? s.firstSeed : seed;
        for (int j = 0; j < s.frames; ++j, ++i, ++seed) {
            std::optional<DvTime> time;
            if (s.start) {
                time = Plus(*s.start, options.pal ? j / 25 : int64_t{j} * 1001 / 30000);
            }
            frames[i].video = TapeFrame(options.pal, time, seed);
        }
    }
    return frames;
}

inline std::vector<FixtureFrame> WriteTape(const std::string& path, const FixtureOptions& options,
                                           const std::vector<Stretch>& stretches) {
    std::vector<FixtureFrame> frames = TapeFrames(options, stretches);
    EXPECT_TRUE(WriteFixtureAvi(path, options, frames)) << path;
    return frames;
}

// What a written scene file holds: every video chunk, and all audio in one run.
struct FileContent {
    int frames = -1;  // -1: the file cannot be opened
    std::vector<std::vector<uint8_t>> video;
    std::vector<uint8_t> audio;
};

// The content that frames [first, first + count) of a tape make.
inline FileContent ContentOf(const std::vector<FixtureFrame>& frames, int first, int count) {
    FileContent c;
    c.frames = count;
    for (int i = first; i < first + count; ++i) {
        c.video.push_back(frames[static_cast<size_t>(i)].video);
        const auto& a = frames[static_cast<size_t>(i)].audio;
        c.audio.insert(c.audio.end(), a.begin(), a.end());
    }
    return c;
}

// The content of a written file, read back through the program's reader.
inline FileContent ReadContent(const std::string& path) {
    FileContent c;
    std::unique_ptr<qv::AviReader> reader = qv::OpenAviFile(path);
    if (!reader || reader->StreamCount() == 0) {
        return c;
    }
    qv::AviStream* video = reader->Stream(0);
    c.frames = video->Length();
    for (int f = 0; f < c.frames; ++f) {
        const int size = static_cast<int>(std::max<int64_t>(video->ChunkSize(f), 0));
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        int got = 0;
        if (size > 0) {
            video->Read(f, 1, nullptr, bytes.data(), size, &got);
        }
        bytes.resize(static_cast<size_t>(got));
        c.video.push_back(std::move(bytes));
    }
    if (qv::AviStream* audio = reader->StreamCount() > 1 ? reader->Stream(1) : nullptr) {
        constexpr int kRun = 4000;
        std::vector<uint8_t> buffer(kRun * 8);
        for (int u = 0; u < audio->Length(); u += kRun) {
            int got = 0;
            audio->Read(u, std::min(kRun, audio->Length() - u), nullptr, buffer.data(),
                        static_cast<int>(buffer.size()), &got);
            c.audio.insert(c.audio.end(), buffer.begin(), buffer.begin() + got);
        }
    }
    return c;
}

inline bool operator==(const FileContent& a, const FileContent& b) {
    return a.frames == b.frames && a.video == b.video && a.audio == b.audio;
}

inline std::ostream& operator<<(std::ostream& out, const FileContent& c) {
    return out << "{" << c.frames << " frames, " << c.audio.size() << " audio bytes}";
}

}  // namespace qvtest
