#include "arguments.h"

#include <algorithm>

namespace qorctl {
namespace {

// Whether |word| names an option of |command|, and whether it takes the next
// word as its value ("--name=value" carries its own).
bool IsOption(const CLI::App& command, const std::string& word, bool* takesNext) {
  *takesNext = false;
  if (word.size() < 2 || word[0] != '-') return false;
  const bool isLong = word[1] == '-';
  const std::string name = isLong ? word.substr(2, word.find('=') - 2) : word.substr(1);
  for (const CLI::Option* option : command.get_options()) {
    if (!option->nonpositional()) continue;
    const auto& names = isLong ? option->get_lnames() : option->get_snames();
    if (std::find(names.begin(), names.end(), name) == names.end()) continue;
    *takesNext = option->get_expected_max() > 0 && word.find('=') == std::string::npos;
    return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> ValuesAfterOptions(const CLI::App& app, int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  std::vector<std::string> out;
  size_t i = 0;
  // Up to the subcommand: the program's own options.
  const CLI::App* command = nullptr;
  for (; i < words.size(); ++i) {
    out.push_back(words[i]);
    if (words[i].empty() || words[i][0] == '-') continue;
    for (const CLI::App* sub : app.get_subcommands({})) {
      if (sub->get_name() == words[i]) command = sub;
    }
    ++i;
    break;
  }
  if (command != nullptr) {
    std::vector<std::string> values;
    for (; i < words.size(); ++i) {
      const std::string& word = words[i];
      if (word == "--") {
        values.insert(values.end(), words.begin() + static_cast<long>(i) + 1, words.end());
        break;
      }
      bool takesNext = false;
      if (IsOption(*command, word, &takesNext)) {
        out.push_back(word);
        if (takesNext && i + 1 < words.size()) out.push_back(words[++i]);
      } else {
        values.push_back(word);
      }
    }
    if (!values.empty()) {
      out.push_back("--");
      out.insert(out.end(), values.begin(), values.end());
    }
  } else {
    out.insert(out.end(), words.begin() + static_cast<long>(std::min(i, words.size())), words.end());
  }
  std::reverse(out.begin(), out.end());
  return out;
}

}  // namespace qorctl
