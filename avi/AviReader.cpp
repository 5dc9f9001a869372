#include "avi/AviReader.h"

#include <cstdio>

#include "platform/Platform.h"

namespace qv {

std::string FourCCText(FourCC code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        text[static_cast<size_t>(i)] = static_cast<char>((code >> (8 * i)) & 0xFF);
    }
    return text;
}

namespace {

template <typename... Args>
std::string Format(const char* pattern, Args... args) {
    int n = std::snprintf(nullptr, 0, pattern, args...);
    if (n <= 0) {
        return {};
    }
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), pattern, args...);
    text.resize(static_cast<size_t>(n));
    return text;
}

std::string DescribeStream(AviStream& stream, int number) {
    switch (stream.Type()) {
        case fcc::auds:
            if (auto a = stream.GetAudioFormat()) {
                return Format("Audio:%d bits, %.2fkHz, %d chans", a->bitsPerSample,
                              static_cast<double>(static_cast<float>(a->samplesPerSec) * 0.001f),
                              a->channels);
            }
            return "Audio";
        case fcc::vids:
            if (auto v = stream.GetVideoFormat()) {
                return Format("Video:%dx%d", v->width, v->height);
            }
            return "Video ";
        case fcc::iavs:
            return Format("Interleaved Audio/Video (%s)",
                          stream.UnitSize() >= 144000 ? "PAL" : "NTSC");
        default: {
            std::string type = FourCCText(stream.Type());
            return Format("stream %d, type %4.4s", number, type.c_str());
        }
    }
}

}  // namespace

std::string AviReader::Describe() {
    std::string text = Format("file %s, %d frames, type:%s, %.2ffps", FileNameOf(FileName()).c_str(),
                              FrameCount(), Kind().c_str(), FramesPerSecond());
    for (int i = 0; i < StreamCount(); ++i) {
        if (AviStream* s = Stream(i)) {
            text += ", " + DescribeStream(*s, i);
        }
    }
    if (IndexRebuilt()) {
        text += ", index rebuilt from the data";
    }
    if (EndsWithPartialFrame()) {
        text += ", ends with a partial frame";
    }
    return text;
}

}  // namespace qv
