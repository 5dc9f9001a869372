#pragma once
// The scene list as a tab-separated text file: a header line of the six column
// titles, then one line per scene; every line ends with CR LF.

#include <string>

#include "app/SceneList.h"

namespace qv {

// The whole text of the file.
std::string SceneListText(const SceneList& scenes);

// Writes the file, replacing any file of that name. False when it cannot be
// opened (openFailed set) or written completely.
bool WriteSceneListFile(const std::string& path, const SceneList& scenes, bool* openFailed);

}  // namespace qv
