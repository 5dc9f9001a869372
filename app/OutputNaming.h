#pragma once
// Output names: the output path with the scene's recording time, or a counter for
// scenes without one, after an apostrophe: scenes'20000412 18.03.09.avi, scenes'#0001.avi.

#include <string>

#include "app/SceneList.h"

namespace qv {

// Names every scene from outputPath. Unscanned records take their source path.
// Returns whether writing can start: the list holds scenes and none is unscanned.
bool NameOutputs(SceneList& scenes, const std::string& outputPath);

// The still picture's name for a scene: basePath cut at its first apostrophe
// in the name, then "'", the scene's name suffix and basePath's extension.
std::string StillPictureName(const std::string& basePath, const std::string& nameSuffix);

}  // namespace qv
