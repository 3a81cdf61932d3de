// Command-line options over getopt_long, driven by one table of (long name, short letter,
// argument kind). The C library's own messages are off; a missing argument and an unknown option
// are reported as FAIL lines naming the command-line word.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "runtime/status.h"

namespace orv {

enum class ArgumentKind { kNone, kRequired, kOptional };

struct OptionSpec {
  const char* longName;  // nullptr for a short-only option
  char shortName;        // 0 when the option has no short form
  ArgumentKind argument;
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 20;

// Calls `onOption(index into options, argument or nullptr)` for each option in command-line order
// (stopping with kExitFailure when it returns false) and collects the positional arguments.
// Returns kExitSuccess or kExitFailure.
int ParseCommandLine(int argc, char** argv, std::span<const OptionSpec> options,
                     const std::function<bool(size_t, const char*)>& onOption,
                     std::vector<std::string>& positionals);

// The programs that read records: --allow-missing-separator-at-eof only goes with text input.
Status CheckMissingSeparatorOption(bool allowMissingSeparator, bool textInput);

}  // namespace orv
