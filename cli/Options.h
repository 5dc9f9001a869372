#pragma once
// Options that several quorvandel-cli commands take, read with CLI11.

#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace qv {

// Adds --optical[=0..4] to command; text receives its value as given.
void AddOpticalOption(CLI::App& command, std::string& text);

// The sensitivity --optical's text asks for: -1 for the stored one, or 0..4;
// nullopt when the text is none of these. Only for a text the option was given.
std::optional<int> OpticalSensitivity(const std::string& text);

}  // namespace qv
