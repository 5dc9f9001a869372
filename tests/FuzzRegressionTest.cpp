#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "support/AviFixture.h"

namespace {

// Every input the fuzzers found a fault with, kept under tests/fuzz-inputs/<target>/,
// replayed through the target's own entry function: a fault that comes back
// crashes or trips the sanitizers here as it did under the fuzzer. An empty input and
// single bytes reach every target's early exits.
TEST(FuzzRegressionTest, KeptAndTinyInputsRunCleanThroughTheirTargets) {
    int replayed = 0;
    for (const qvfuzz::Target& target : qvfuzz::kTargets) {
        SCOPED_TRACE(target.name);
        EXPECT_EQ(target.entry(nullptr, 0), 0);
        for (uint8_t b : {0, 51, 102, 153, 204, 255}) {
            EXPECT_EQ(target.entry(&b, 1), 0) << int{b};
        }
        const std::filesystem::path dir = std::filesystem::path(QV_FUZZ_INPUTS) / target.name;
        using Dir = std::filesystem::directory_iterator;
        for (const auto& entry : std::filesystem::is_directory(dir) ? Dir(dir) : Dir()) {
            const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(entry.path().string());
            EXPECT_EQ(target.entry(bytes.data(), bytes.size()), 0) << entry.path();
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}

}  // namespace
