#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "support/AviFixture.h"

namespace {

// Every input the fuzzers found a fault with, kept under tests/fuzz-inputs/<target>/,
// replayed through the target's own entry function: a fault that comes back
// crashes or trips the sanitizers here as it did under the fuzzer.
TEST(FuzzRegressionTest, KeptInputsRunCleanThroughTheirTargets) {
    const std::filesystem::path root = QV_FUZZ_INPUTS;
    int replayed = 0;
    for (const qvfuzz::Target& target : qvfuzz::kTargets) {
        const std::filesystem::path dir = root / target.name;
        if (!std::filesystem::is_directory(dir)) {
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            SCOPED_TRACE(entry.path().string());
            const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(entry.path().string());
            EXPECT_EQ(target.entry(bytes.data(), bytes.size()), 0);
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}

// An empty input and a byte of each value reach every target's early exits.
TEST(FuzzRegressionTest, TinyInputsRunCleanThroughEveryTarget) {
    for (const qvfuzz::Target& target : qvfuzz::kTargets) {
        SCOPED_TRACE(target.name);
        EXPECT_EQ(target.entry(nullptr, 0), 0);
        for (int b = 0; b < 256; b += 51) {
            const auto byte = static_cast<uint8_t>(b);
            EXPECT_EQ(target.entry(&byte, 1), 0);
        }
    }
}

}  // namespace
