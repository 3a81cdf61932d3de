// A program's command line as one table. Each row is an option's form (long name, short letter,
// argument kind), what it does to the program's options, and whether the table logs it; parsing,
// the INFO line of each option in command-line order and the FAIL line of a refused option are
// written here once for every program.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/logger.h"
#include "runtime/options.h"
#include "runtime/status.h"
#include "runtime/workers.h"

namespace orv {

enum class OptionLog {
  kArgument,  // after the action, an INFO line of the long name and the argument ("" without one)
  kQuiet,     // no line from the table: the action logs what it must
};

template <typename Options>
struct ProgramOption {
  OptionSpec form;
  // `argument` is null when none was given. A failed status ends the parse; its message is the
  // FAIL line.
  Status (*apply)(Options& options, const char* argument);
  OptionLog log = OptionLog::kArgument;
};

// Actions of the common rows: an option that sets a flag, and one that keeps its argument (or ""
// for an optional argument left out). `member` may name a member of a member: SetFlag<&O::a,
// &A::b>.
template <auto... member>
Status SetFlag(auto& options, const char*) {
  (options.*....*member) = true;
  return Status::Ok();
}
template <auto... member>
Status SetText(auto& options, const char* argument) {
  (options.*....*member) = argument != nullptr ? argument : "";
  return Status::Ok();
}

// A file option: "-" stands for standard input or output, as leaving the option out does.
template <auto... member>
Status SetPath(auto& options, const char* argument) {
  auto& path = (options.*....*member);
  if (std::string_view(argument) == "-") {
    path.reset();
  } else {
    path = argument;
  }
  return Status::Ok();
}

// --threads=N: a whole number from 1 to kMaxThreads.
template <auto... member>
Status SetThreads(auto& options, const char* argument) {
  const unsigned count = ParseThreadCount(argument);
  if (count == 0) {
    return Status::Invalid(std::string("Invalid thread count: '") + argument +
                           "'; it must be a whole number from 1 to " + std::to_string(kMaxThreads) +
                           ".");
  }
  (options.*....*member) = count;
  return Status::Ok();
}

// The table-independent part of ParseOptionTable: `apply(row, argument)` for each option.
int ParseOptionRows(int argc, char** argv, std::span<const OptionSpec> forms,
                    const std::function<Status(size_t, const char*)>& apply,
                    std::vector<std::string>& positionals);

// Applies the options of the command line to `options` in command-line order and collects the
// positional arguments; kExitSuccess, or kExitFailure after the one FAIL line.
template <typename Options>
int ParseOptionTable(int argc, char** argv, std::span<const ProgramOption<Options>> table,
                     Options& options, std::vector<std::string>& positionals) {
  std::vector<OptionSpec> forms;
  forms.reserve(table.size());
  for (const ProgramOption<Options>& row : table) {
    forms.push_back(row.form);
  }
  auto apply = [&](size_t index, const char* argument) {
    const ProgramOption<Options>& row = table[index];
    Status status = row.apply(options, argument);
    if (status.ok() && row.log == OptionLog::kArgument) {
      g_Logger.Info(row.form.longName, argument != nullptr ? argument : "");
    }
    return status;
  };
  return ParseOptionRows(argc, argv, forms, apply, positionals);
}

}  // namespace orv
