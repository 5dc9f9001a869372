#pragma once
// A video stream held in memory: one chunk per frame, read like a file's stream.

#include <algorithm>
#include <cstring>
#include <vector>

#include "avi/AviReader.h"

namespace qvtest {

class MemoryStream : public qv::AviStream {
public:
    explicit MemoryStream(std::vector<std::vector<uint8_t>> frames) : frames_(std::move(frames)) {}

    qv::ByteSpan Header() const override { return {}; }
    qv::ByteSpan Format() const override { return {}; }
    double FramesPerSecond() const override { return 25.0; }
    uint32_t UnitSize() const override { return 0; }
    int Length() const override { return static_cast<int>(frames_.size()); }
    qv::FourCC Type() const override { return qv::fcc::vids; }
    int64_t ChunkSize(int unit) override {
        return unit >= 0 && unit < Length() ? static_cast<int64_t>(frames_[unit].size()) : -1;
    }
    bool Read(int firstUnit, int unitCount, int* unitsRead, void* buffer, int bufferSize,
              int* bytesRead) override {
        int n = 0;
        if (firstUnit >= 0 && firstUnit < Length() && unitCount > 0 && bufferSize > 0) {
            const auto& f = frames_[static_cast<size_t>(firstUnit)];
            n = std::min(bufferSize, static_cast<int>(f.size()));
            if (n > 0) {
                std::memcpy(buffer, f.data(), static_cast<size_t>(n));
            }
        }
        if (unitsRead) *unitsRead = n > 0 ? 1 : 0;
        if (bytesRead) *bytesRead = n;
        return n > 0;
    }

private:
    std::vector<std::vector<uint8_t>> frames_;
};

}  // namespace qvtest
