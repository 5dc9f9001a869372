#include "app/OutputNaming.h"

#include <cstdio>
#include <unordered_set>

#include "platform/Platform.h"

namespace qv {

namespace {

// Output names collide ignoring letter case everywhere: outputs often go to
// drives whose file systems ignore it.
std::string Folded(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

std::string Counter(int counter) {
    char text[32];
    std::snprintf(text, sizeof text, "#%04d", counter);
    return text;
}

}  // namespace

std::string StillPictureName(const std::string& basePath, const std::string& nameSuffix) {
    PathParts parts = SplitPath(basePath);
    // A base picked from an earlier picture names the same base again.
    const size_t apostrophe = parts.name.find('\'');
    if (apostrophe != std::string::npos) {
        parts.name.resize(apostrophe);
    }
    return parts.drive + parts.folder + parts.name + "'" + nameSuffix + parts.extension;
}

bool NameOutputs(SceneList& scenes, const std::string& outputPath) {
    PathParts parts = SplitPath(outputPath);
    // A path picked from an earlier output file names the same base again.
    const size_t apostrophe = parts.name.find('\'');
    if (apostrophe != std::string::npos) {
        parts.name.resize(apostrophe);
    }
    const std::string base = parts.drive + parts.folder + parts.name + "'";
    const std::string extension = parts.extension.empty() ? ".avi" : parts.extension;

    std::unordered_set<std::string> taken;
    // Names only ever become taken, so the smallest free counter never goes down:
    // each undated scene's search starts where the last one ended.
    int firstFreeCounter = 1;
    bool unscanned = false;
    for (Scene& scene : scenes) {
        if (scene.unscanned != 0) {
            scene.outputName = scene.sourceFile;
            unscanned = true;
        } else if (scene.datestamp > 0) {
            const std::string date = FormatLocalTime(scene.datestamp, "%Y%m%d %H.%M.%S");
            scene.nameSuffix = date;
            scene.outputName = base + date + extension;
            // Scenes starting in the same second: the second gets #0002, and so on.
            for (int counter = 2; taken.count(Folded(scene.outputName)) != 0; ++counter) {
                scene.nameSuffix = date + Counter(counter);
                scene.outputName = base + scene.nameSuffix + extension;
            }
        } else {
            // The k-th undated scene under one base gets k; the counter has no cap.
            for (int counter = firstFreeCounter;; ++counter) {
                scene.nameSuffix = Counter(counter);
                scene.outputName = base + scene.nameSuffix + extension;
                if (taken.count(Folded(scene.outputName)) == 0) {
                    firstFreeCounter = counter;
                    break;
                }
            }
        }
        taken.insert(Folded(scene.outputName));
    }
    return scenes.Count() > 0 && !unscanned;
}

}  // namespace qv
