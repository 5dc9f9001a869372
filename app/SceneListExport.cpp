#include "app/SceneListExport.h"

#include <cstdio>

namespace qv {

std::string SceneListText(const SceneList& scenes) {
    std::string text;
    auto line = [&text](const Scene* scene) {
        for (int c = 0; c < kSceneColumns; ++c) {
            int width = 0;
            text += c > 0 ? "\t" : "";
            text += scene != nullptr ? SceneColumnText(scene, c) : SceneColumnText(nullptr, c, &width);
        }
        text += "\r\n";
    };
    line(nullptr);
    for (const Scene& scene : scenes) {
        line(&scene);
    }
    return text;
}

bool WriteSceneListFile(const std::string& path, const SceneList& scenes, bool* openFailed) {
    const std::string text = SceneListText(scenes);
    // Binary mode: line ends are CR LF as written, on every platform.
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (openFailed != nullptr) {
        *openFailed = file == nullptr;
    }
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed;
}

}  // namespace qv
