#pragma once
// The scene list: runs of consecutive frames of the input files, one per row of
// the list view, with the texts the list view and the text export show.

#include <cstdint>
#include <string>
#include <vector>

#include "app/SceneHealth.h"

namespace qv {

// The mark a scan found at a scene's first frame.
enum class SceneStart : int32_t { kNone = -1, kFile, kDatestamp, kRecordingStart, kTimecode, kFormat };

// "file", "datestamp", "recording-start", "timecode", "format".
const char* SceneStartName(SceneStart start);

struct Scene {
    std::string outputName;      // full path the scene is written to
    std::string sourceFile;      // full path of the input file holding the scene
    std::string referencedFile;  // data file named by the first frame's "REF " chunk
    std::string nameSuffix;      // what output naming put after the apostrophe
    int32_t pendingWrite = 0;    // still to be dealt with by the running write
    int32_t write = 0;           // the user's write flag
    int32_t mark = 0;            // scratch mark of single operations
    int32_t wholeFile = 0;       // starts at frame 0 and ends at the source's last frame
    int32_t unscanned = 0;       // stands for a whole input file not split yet
    int32_t firstFrame = 0;
    int32_t frameCount = 0;
    int32_t datestamp = 0;       // recording time of the first frame; 0 = none
    SceneStart start = SceneStart::kFile;  // what began the scene
    SceneHealth health{};        // the thorough scan's count of damaged frames
};

class SceneList {
public:
    int Count() const { return static_cast<int>(scenes_.size()); }
    Scene& operator[](int i) { return scenes_.at(static_cast<size_t>(i)); }
    const Scene& operator[](int i) const { return scenes_.at(static_cast<size_t>(i)); }
    void SetSize(int n) { scenes_.resize(n > 0 ? static_cast<size_t>(n) : 0); }
    void Append(const Scene& scene) { scenes_.push_back(scene); }
    void Clear() { scenes_.clear(); }
    void RemoveAt(int i) { scenes_.erase(scenes_.begin() + i); }

    auto begin() { return scenes_.begin(); }
    auto end() { return scenes_.end(); }
    auto begin() const { return scenes_.begin(); }
    auto end() const { return scenes_.end(); }

private:
    std::vector<Scene> scenes_;
};

// The program-wide frame rate: set from every file probed or scanned, and used by
// every conversion between frames and time.
extern float framesPerSecond;
// Makes rate the program-wide rate when it is one a file can have (above 0, at most
// 1000); a file without a usable rate (empty, cut in its headers) leaves the rate as it
// was, so that times stay times.
bool AdoptFramesPerSecond(double rate);

// Frames as minutes:seconds:frames ("01:00:00" is 1500 frames at 25 fps).
std::string FormatFrameTime(int32_t frames, float rate);
inline std::string FormatFrameTime(int32_t frames) {
    return FormatFrameTime(frames, framesPerSecond);
}

constexpr int kSceneColumns = 6;
// With width given: the column's title, and its default width in pixels stored
// there. Without: the cell text of scene in that column.
std::string SceneColumnText(const Scene* scene, int column, int* width = nullptr);

}  // namespace qv
