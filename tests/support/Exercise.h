#pragma once
// Uses everything a reader offers, on files that may be damaged in any way: none may
// crash, hang or make the reader touch memory outside its buffers (the sanitizer build
// checks the latter).

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "support/AviFixture.h"
#include "support/ReadUnits.h"

namespace qvtest {

// Whether part is the start of whole[from, ...).
inline bool IsPrefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole,
                     size_t from = 0) {
    return part.empty() ||
           (from <= whole.size() && part.size() <= whole.size() - from &&
            std::equal(part.begin(), part.end(), whole.begin() + static_cast<ptrdiff_t>(from)));
}

// What the fixture wrote: every frame's video, and the audio of all frames in one run.
struct Written {
    std::vector<FixtureFrame> frames;
    std::vector<uint8_t> audio;
};

inline Written WrittenOf(std::vector<FixtureFrame> frames) {
    Written w;
    for (const auto& f : frames) {
        w.audio.insert(w.audio.end(), f.audio.begin(), f.audio.end());
    }
    w.frames = std::move(frames);
    return w;
}

// Units worth trying in a stream of length units: all of a short stream, a spread of a
// long one (a damaged audio index may claim billions of units), and the ones just outside.
inline std::vector<int> UnitsToTry(int length) {
    std::vector<int> units = {-1, 0, 1, length - 1, length, length + 1};
    for (int u = 2; length <= 200 && u < length - 1; ++u) {
        units.push_back(u);
    }
    for (int k = 1; length > 200 && k < 40; ++k) {
        units.push_back(static_cast<int>(static_cast<int64_t>(length) * k / 40));
    }
    return units;
}

// Uses everything the reader offers. When what was written is given (the file was only
// cut short, so every index entry that survived is right), whatever comes back must be
// the start of what was written there.
inline void Exercise(qv::AviReader& reader, const Written* written = nullptr) {
    (void)reader.Kind();
    (void)reader.FramesPerSecond();
    (void)reader.Describe();
    EXPECT_GE(reader.FrameCount(), 0);
    EXPECT_EQ(reader.Stream(-1), nullptr);
    EXPECT_EQ(reader.Stream(reader.StreamCount()), nullptr);
    for (int s = 0; s < reader.StreamCount(); ++s) {
        qv::AviStream* stream = reader.Stream(s);
        ASSERT_NE(stream, nullptr);
        (void)stream->Header();
        (void)stream->Format();
        (void)stream->GetVideoFormat();
        (void)stream->GetAudioFormat();
        (void)stream->FramesPerSecond();
        (void)stream->UnitSize();
        const int length = stream->Length();
        EXPECT_GE(length, 0);
        for (int unit : UnitsToTry(length)) {
            (void)stream->ChunkSize(unit);
            ReadResult one = ReadUnits(*stream, unit, 1, 2000);
            ReadResult run = ReadUnits(*stream, unit, 500, 997);
            (void)ReadUnits(*stream, unit, 3, 5);
            if (written == nullptr || unit < 0) {
                continue;
            }
            if (s == 0 && unit < static_cast<int>(written->frames.size())) {
                const auto& video = written->frames[static_cast<size_t>(unit)].video;
                EXPECT_TRUE(IsPrefix(one.bytes, video)) << "frame " << unit;
            } else if (s == 1) {
                const size_t from = static_cast<size_t>(unit) * 4;  // 4-byte sample frames
                EXPECT_TRUE(IsPrefix(one.bytes, written->audio, from)) << "sample " << unit;
                EXPECT_TRUE(IsPrefix(run.bytes, written->audio, from)) << "sample " << unit;
            }
        }
    }
}

// Expects the reader to hold the video of frames, one frame each, and the audio of audio
// (of frames when not given), read in one request that asks for more.
inline void ExpectFramesAndAudio(
    qv::AviReader& reader, const std::vector<FixtureFrame>& frames,
    const std::optional<std::vector<FixtureFrame>>& audio = std::nullopt) {
    ASSERT_EQ(reader.FrameCount(), static_cast<int>(frames.size())) << reader.Describe();
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(ReadUnits(*reader.Stream(0), static_cast<int>(i), 1, kPalFrameSize + 1000).bytes,
                  frames[i].video)
            << "frame " << i;
    }
    const std::vector<uint8_t> written = WrittenOf(audio.value_or(frames)).audio;
    if (reader.StreamCount() > 1 || !written.empty()) {
        ASSERT_NE(reader.Stream(1), nullptr);
        EXPECT_EQ(ReadUnits(*reader.Stream(1), 0, reader.Stream(1)->Length() + 1, 1 << 20).bytes,
                  written);
    }
}

// Writes bytes to path and opens it with the program's reader, expecting both to work.
inline std::unique_ptr<qv::AviReader> WriteAndOpen(const std::string& path,
                                                   const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(WriteFileBytes(path, bytes)) << path;
    auto reader = qv::OpenAviFile(path);
    EXPECT_NE(reader, nullptr) << path;
    return reader;
}

}  // namespace qvtest
