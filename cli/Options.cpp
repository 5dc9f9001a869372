#include "cli/Options.h"

#include <CLI/CLI.hpp>

namespace qv {

namespace {

// --optical without a sensitivity, as CLI11 gives it: a text no one types.
const std::string kStoredSensitivity = "\x01stored";

}  // namespace

void AddOpticalOption(CLI::App& command, std::string& text) {
    command
        .add_flag("--optical{" + kStoredSensitivity + "}", text,
                  "by picture changes, 0 (most sensitive) to 4; else stored")
        ->option_text("[=0..4]");
}

std::optional<int> OpticalSensitivity(const std::string& text) {
    if (text == kStoredSensitivity) {
        return -1;
    }
    if (text.size() != 1 || text[0] < '0' || text[0] > '4') {
        return std::nullopt;
    }
    return text[0] - '0';
}

}  // namespace qv
