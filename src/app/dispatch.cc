// Command dispatch by the first argument, letter case ignored.
#include "app/dispatch.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "app/usage.h"
#include "version/output.h"
#include "version/version_check.h"

namespace {

int RunHelp(int /*argc*/, char* /*argv*/[]) {
  PrintUsage();
  return 0;
}

struct Command {
  const char* word;
  int (*run)(int argc, char* argv[]);
};

// Compared in this order.
constexpr Command kCommands[] = {
    {"zolpversionlessthan", RunVersionLessThan},
    {"help", RunHelp},
};

char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Only the letters A to Z fold: every other byte must be identical, so a
// locale cannot make a non-ASCII word match.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

int RunCommand(int argc, char* argv[]) {
  if (argc < 2) {
    PrintUsage();
    return 0;
  }
  const std::string word = argv[1];
  for (const Command& command : kCommands) {
    if (EqualsIgnoringAsciiCase(word, command.word)) {
      return command.run(argc, argv);
    }
  }
  WriteMessageLine("Error: Invalid command specified: " + word);
  WriteMessageLine("");
  PrintUsage();
  return 1;
}
