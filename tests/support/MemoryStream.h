#pragma once
// A stream held in memory: one chunk per frame, read like a file's stream, with
// a chosen type, stream header and format.

#include <algorithm>
#include <cstring>
#include <vector>

#include "avi/AviReader.h"

namespace qvtest {

class MemoryStream : public qv::AviStream {
public:
    explicit MemoryStream(std::vector<std::vector<uint8_t>> frames, qv::FourCC type = qv::fcc::vids,
                          std::vector<uint8_t> header = {}, std::vector<uint8_t> format = {})
        : type_(type), header_(std::move(header)), format_(std::move(format)),
          frames_(std::move(frames)) {
        header_.shrink_to_fit();  // exact sizes: a read past either shows under ASan
        format_.shrink_to_fit();
    }

    qv::ByteSpan Header() const override { return header_; }
    qv::ByteSpan Format() const override { return format_; }
    std::optional<qv::VideoFormat> GetVideoFormat() const override {
        if (type_ != qv::fcc::vids || format_.size() < 16) {
            return std::nullopt;
        }
        return qv::VideoFormat{static_cast<int32_t>(qv::Le32(format_.data() + 4)),
                               static_cast<int32_t>(qv::Le32(format_.data() + 8))};
    }
    double FramesPerSecond() const override { return 25.0; }
    uint32_t UnitSize() const override { return 0; }
    int Length() const override { return static_cast<int>(frames_.size()); }
    qv::FourCC Type() const override { return type_; }
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
        if (unitsRead != nullptr) *unitsRead = n > 0 ? 1 : 0;
        if (bytesRead != nullptr) *bytesRead = n;
        return n > 0;
    }

private:
    qv::FourCC type_;
    std::vector<uint8_t> header_;
    std::vector<uint8_t> format_;
    std::vector<std::vector<uint8_t>> frames_;
};

}  // namespace qvtest
