#include "app/SceneList.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"

namespace qv {

float framesPerSecond = 25.0f;

const char* SceneStartName(SceneStart start) {
    switch (start) {
        case SceneStart::kDatestamp:
            return "datestamp";
        case SceneStart::kRecordingStart:
            return "recording-start";
        case SceneStart::kTimecode:
            return "timecode";
        case SceneStart::kFormat:
            return "format";
        default:
            return "file";
    }
}

bool AdoptFramesPerSecond(double rate) {
    if (!(rate > 0.0) || rate > 1000.0) {
        return false;
    }
    framesPerSecond = static_cast<float>(rate);
    return true;
}

std::string FormatFrameTime(int32_t frames, float rate) {
    char text[64];
    // Below 0.5 fps the nominal rate would be 0: plain frame numbers then.
    if (!(rate >= 0.5f)) {
        std::snprintf(text, sizeof text, "%d", frames);
        return text;
    }
    const auto nominal = static_cast<int64_t>(rate + 0.5);
    // Real frames counted as frames of the nominal rate (29.97 fps as 30).
    const double factor = 1.0 + (static_cast<double>(nominal) - rate) / static_cast<double>(nominal);
    const auto n = static_cast<int64_t>(std::fabs(static_cast<double>(frames)) * factor);
    std::snprintf(text, sizeof text, "%s%02lld:%02lld:%02lld", frames < 0 ? "-" : "",
                  static_cast<long long>(n / (nominal * 60)),
                  static_cast<long long>((n / nominal) % 60), static_cast<long long>(n % nominal));
    return text;
}

std::string SceneColumnText(const Scene* scene, int column, int* width) {
    struct Column {
        const char* title;
        int width;
    };
    static constexpr Column kColumns[kSceneColumns] = {
        {"Filename", 213}, {"write?", 50},     {"Length", 68},
        {"Datestamp", 118}, {"orig. file", 190}, {"orig. pos", 63},
    };
    const bool known = column >= 0 && column < kSceneColumns;
    if (width != nullptr) {
        *width = known ? kColumns[column].width : 5;
        return known ? kColumns[column].title : "?";
    }
    if (!known || scene == nullptr) {
        return "?";
    }
    switch (column) {
        case 0:
            return scene->outputName;
        case 1:
            return scene->write != 0 ? "YES" : "no";
        case 2:
            return FormatFrameTime(scene->frameCount);
        case 3:
            return scene->datestamp != 0 ? FormatLocalTime(scene->datestamp, "%Y%m%d %H:%M:%S")
                                         : "n/a";
        case 4:
            return scene->sourceFile;
        default:
            return FormatFrameTime(scene->firstFrame);
    }
}

}  // namespace qv
