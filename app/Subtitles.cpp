#include "app/Subtitles.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "platform/FileSystem.h"
#include "platform/Platform.h"

namespace qv {

namespace {

// A SubRip time, "HH:MM:SS,mmm", of a frame's place.
std::string CueTime(int64_t frame, double fps) {
    const auto ms = static_cast<int64_t>(std::llround(static_cast<double>(frame) * 1000.0 / fps));
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld,%03lld",
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

bool IsTime(Datestamp d) {
    return d != 0 && d != -1;
}

}  // namespace

std::string DatecodeSubtitles(AviStream& video, double fps, RefFileCache& cache) {
    std::string text;
    if (!(fps > 0.0)) {
        return text;
    }
    int cues = 0;
    const int frames = video.Length();
    int first = 0;
    Datestamp current = frames > 0 ? ReadFrameDatestamp(video, 0, cache, nullptr, nullptr) : 0;
    for (int f = 1; f <= frames; ++f) {
        const Datestamp d = f < frames ? ReadFrameDatestamp(video, f, cache, nullptr, nullptr) : 0;
        if (f < frames && d == current) {
            continue;
        }
        if (IsTime(current)) {
            text += std::to_string(++cues) + "\r\n" + CueTime(first, fps) + " --> " +
                    CueTime(f, fps) + "\r\n" + FormatLocalTime(current, "%Y-%m-%d %H:%M:%S") +
                    "\r\n\r\n";
        }
        first = f;
        current = d;
    }
    return text;
}

std::string SubtitlePathOf(const std::string& videoPath) {
    PathParts parts = SplitPath(videoPath);
    return parts.drive + parts.folder + parts.name + ".srt";
}

bool WriteDatecodeSubtitles(const std::string& videoPath) {
    std::unique_ptr<AviReader> reader = OpenAviFile(videoPath);
    if (!reader || reader->StreamCount() == 0) {
        return false;
    }
    RefFileCache cache;
    const std::string text =
        DatecodeSubtitles(*reader->Stream(0), reader->FramesPerSecond(), cache);
    cache.Close();
    const std::string path = SubtitlePathOf(videoPath);
    const std::string temporary = path + ".part";
    // Binary mode: line ends are CR LF as written, on every platform.
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!(written && flushed && closed) || !ReplaceFile(temporary, path)) {
        RemoveFile(temporary);
        return false;
    }
    return true;
}

}  // namespace qv
