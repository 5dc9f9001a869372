#pragma once
// Subtitles of a written scene: the recording date and time of every second, as
// a DV player shows the camcorder's data code, in a SubRip file beside the video.

#include <string>

#include "avi/AviReader.h"
#include "dv/Datestamp.h"

namespace qv {

// The SubRip text of stream's frames: one cue per run of frames that carry the same
// recording time (a second of it), timed by the frames' places at fps frames per
// second, showing that time as "%Y-%m-%d %H:%M:%S" in local time. Frames without a
// recording time get no cue. Lines end in CR LF.
std::string DatecodeSubtitles(AviStream& video, double fps, RefFileCache& cache);

// The subtitle file of a video file: its name with the extension ".srt".
std::string SubtitlePathOf(const std::string& videoPath);

// Writes the subtitles of videoPath beside it, under a temporary name renamed into
// place when complete. False when the video cannot be read or the file not written.
bool WriteDatecodeSubtitles(const std::string& videoPath);

}  // namespace qv
