#pragma once
// Set-up several tests share: fixture AVI files of given video chunks, scene lists of
// given scenes, things made once per test program, and the program-wide frame rate.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/SceneList.h"
#include "support/AviFixture.h"

namespace qvtest {

// Writes a fixture AVI holding the given video chunks (no audio) to path.
inline bool WriteVideoAvi(const std::string& path, const FixtureOptions& options,
                          std::vector<std::vector<uint8_t>> video) {
    std::vector<FixtureFrame> frames;
    frames.reserve(video.size());
    for (auto& v : video) {
        frames.push_back(FixtureFrame{std::move(v), {}});
    }
    return WriteFixtureAvi(path, options, frames);
}

// chunk cut or padded with zeros to size bytes.
inline std::vector<uint8_t> Sized(std::vector<uint8_t> chunk, size_t size) {
    chunk.resize(size, 0);
    return chunk;
}

// One T for the whole test program, made at the first use (pictures slow to encode).
template <class T>
const T& Once() {
    static const T made;
    return made;
}

// The program-wide frame rate set for a test's time, and the one before it restored.
class ScopedFrameRate {
  public:
    explicit ScopedFrameRate(float rate) : saved_(qv::framesPerSecond) {
        qv::framesPerSecond = rate;
    }
    ~ScopedFrameRate() { qv::framesPerSecond = saved_; }
    ScopedFrameRate(const ScopedFrameRate&) = delete;
    ScopedFrameRate& operator=(const ScopedFrameRate&) = delete;

  private:
    float saved_;
};

// A list of the given scenes, in their order.
inline qv::SceneList ListOf(const std::vector<qv::Scene>& scenes) {
    qv::SceneList list;
    for (const qv::Scene& s : scenes) {
        list.Append(s);
    }
    return list;
}

// A scene of frames [first, first + count) of source, with the name suffix given.
inline qv::Scene SceneOf(const std::string& source, int first, int count,
                         const std::string& nameSuffix = {}) {
    qv::Scene s;
    s.sourceFile = source;
    s.firstFrame = first;
    s.frameCount = count;
    s.nameSuffix = nameSuffix;
    return s;
}

}  // namespace qvtest
