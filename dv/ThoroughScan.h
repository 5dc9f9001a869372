#pragma once
// Splitting input files into scenes by reading every frame once, in file order:
// scenes end where the recording time jumps, and, as chosen, at a recording-start
// mark, at a timecode that does not follow the frame before, or where the format
// (525/625, display aspect, audio) changes.

#include <cstdint>
#include <string>

#include "dv/DatestampScan.h"

namespace qv {

struct ThoroughSplits {
    bool recordingStarts = true;
    bool timecodeBreaks = true;
    bool formatChanges = true;
};

// Appends the scenes of fileName; framesDone grows by the frames covered. Returns
// as ScanFileDatestamps does (context.onProbe is not called).
int ScanFileThoroughly(DatestampScanContext& context, const ThoroughSplits& splits,
                       const std::string& fileName, int64_t& framesDone);

}  // namespace qv
