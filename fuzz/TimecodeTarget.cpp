#include <cstring>
#include <string_view>

#include "clipsheet/ClipSheetSettings.h"
#include "fuzz/FuzzTargets.h"

namespace qvfuzz {

int FuzzTimecode(const uint8_t* data, size_t size) {
    float fps = 25.0f;
    if (size >= sizeof fps) {
        std::memcpy(&fps, data, sizeof fps);
        data += sizeof fps;
        size -= sizeof fps;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)qv::ParseTimecode(text, fps);
    (void)qv::ParseTimecode(text, 25.0f);
    (void)qv::ParseTimecode(text, 30000.0f / 1001.0f);
    (void)qv::ParseEditInteger(text);
    return 0;
}

}  // namespace qvfuzz
