// Command lines where values may start with '-': a stored or plain value such
// as "-12.50" is not an option, so it must not need "--" in front of it.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace qorctl {

// The arguments of argv (without the program name) rearranged for |app|:
// after the subcommand, the words that are its options (with their values)
// come first, then "--" and every other word in its order. Returned in the
// reverse order CLI::App::parse takes.
std::vector<std::string> ValuesAfterOptions(const CLI::App& app, int argc, char** argv);

}  // namespace qorctl
