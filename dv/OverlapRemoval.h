#pragma once
// Removing the duplicates that overlapping captures of one tape leave in the scene
// list: a scene that lies within another scene's time span is deleted, and a pair
// that overlaps partly is cut where the recording second changes, so that the later
// scene begins with the first frame of a second and the earlier one ends just before.

#include <memory>
#include <string>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "dv/Datestamp.h"

namespace qv {

class Questions;

// What the overlap removal works with; owned by the caller.
struct OverlapContext {
    std::unique_ptr<AviReader>& sourceReader;  // reused when it holds the file asked for
    Questions& questions;
};

// Asks once, when any scenes overlap, whether to remove the overlaps; on Yes deletes
// and trims until nothing more can be changed. Only dated scenes are compared, and a
// pair is changed only when both scenes hold the same recording (identical frames),
// never two camcorders that recorded the same event. Every scene's mark is cleared.
// True when scenes were deleted or trimmed: the caller then names the outputs again
// (NameOutputs) and refreshes every row of the list view. False: the list is as it was.
bool RemoveOverlaps(OverlapContext& context, SceneList& scenes);

// The first frame of the recording second that frame n of fileName belongs to, or -1
// when that second's start is not in the file (it begins at frame 0, the times jump,
// frame n is undated, or the file cannot be opened: sourceReader is then null).
// second (optional) receives that second's datestamp, 0 when none was found.
int FindSecondStart(OverlapContext& context, const std::string& fileName, int n, Datestamp* second);

// The first frame of second t, found by a galloping search over the frames after
// first up to last (first itself is never probed; undated frames count as earlier
// than t), or -1.
int FindFrameOfTime(OverlapContext& context, const std::string& fileName, int first, int last,
                    Datestamp t);

}  // namespace qv
