#pragma once
// One Read into a buffer of exactly bufferSize bytes (so that the sanitizers catch a
// write past it), checking the promises every Read keeps.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "avi/AviReader.h"

namespace qvtest {

struct ReadResult {
    bool ok = false;
    int units = 0;
    std::vector<uint8_t> bytes;
};

inline ReadResult ReadUnits(qv::AviStream& stream, int first, int count, int bufferSize) {
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max(bufferSize, 0)));
    ReadResult r;
    int bytes = -1;
    r.units = -1;
    r.ok = stream.Read(first, count, &r.units, buffer.data(), bufferSize, &bytes);
    EXPECT_EQ(r.ok, bytes > 0);
    EXPECT_GE(bytes, 0);
    EXPECT_LE(bytes, std::max(bufferSize, 0));
    EXPECT_GE(r.units, 0);
    EXPECT_LE(r.units, std::max(count, 0));
    buffer.resize(static_cast<size_t>(std::clamp(bytes, 0, std::max(bufferSize, 0))));
    r.bytes = std::move(buffer);
    return r;
}

}  // namespace qvtest
