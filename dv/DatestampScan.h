#pragma once
// Splitting input files into scenes by the recording time in their frames: a
// galloping search followed by bisection finds where the time stops advancing
// with the frame count, reading a few dozen frames per scene.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/SceneList.h"
#include "avi/AviReader.h"

namespace qv {

class Progress;
class Questions;

// Everything the scan of one file works with; owned by the caller.
struct DatestampScanContext {
    std::unique_ptr<AviReader>& sourceReader;  // reused when it holds the file
    SceneList& scenes;                         // scenes are appended
    Questions& questions;
    Progress& progress;
    bool skipNoDatestamp = false;  // undated scenes are not marked for writing
    // Tick of the last preview, kept across files and scans.
    uint32_t* lastPreviewTick = nullptr;
    // Called with every frame probed after a scene's first; for tests.
    std::function<void(int frame)> onProbe;
};

// Appends the scenes of fileName; framesDone grows by the frames covered.
// 0: go on with the next file; -1: stop the scan (cancelled, or the user chose
// Cancel on a file that cannot be read).
int ScanFileDatestamps(DatestampScanContext& context, const std::string& fileName,
                       int64_t& framesDone);

// The video stream of fileName for a scan, through the context's reader (kept when it
// holds the file and met no read error); null when the file cannot be read, after
// asking the user, with result the scan's answer (0: next file, -1: stop).
AviStream* OpenForScan(DatestampScanContext& context, const std::string& fileName, int* result);
// A frame of fileName could not be read: the scenes appended after the first
// scenesBefore go, the reader is let go, and the user is asked as for a file that
// cannot be read. The scan's answer.
int FailedFileScan(DatestampScanContext& context, const std::string& fileName, int scenesBefore,
                   int error);

// The frame count of fileName (0 when it cannot be opened), its description when
// asked for; sets the program-wide frame rate.
int ProbeInputFile(const std::string& fileName, std::string* description);

// The scan treats datestamps within 2 seconds of 0 as no datestamp: 0, and -1
// for a time that could not be converted.
inline bool IsUndated(int64_t datestamp) {
    return datestamp >= -2 && datestamp <= 2;
}

}  // namespace qv
