#include "avi/AviReader.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"

namespace qvfuzz {

int FuzzAviReader(const uint8_t* data, size_t size) {
    const std::string path = WriteScratchFile("input.avi", data, size);
    if (auto reader = qv::OpenAviFile(path)) {
        ExerciseReader(*reader);
        // Opened again, the same file gives the same structure.
        auto again = qv::OpenAviFile(path);
        Check(again && again->FrameCount() == reader->FrameCount() &&
                  again->StreamCount() == reader->StreamCount(),
              "a second open differs");
    }
    ClearScratch();
    return 0;
}

}  // namespace qvfuzz
