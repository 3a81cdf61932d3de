#include "runtime/options.h"

#include <getopt.h>

#include "runtime/logger.h"

namespace orv {

namespace {

constexpr int kLongOnlyBase = 256;

int HasArg(ArgumentKind kind) {
  switch (kind) {
    case ArgumentKind::kNone:
      return no_argument;
    case ArgumentKind::kRequired:
      return required_argument;
    case ArgumentKind::kOptional:
      return optional_argument;
  }
  return no_argument;
}

// getopt_long's form of the table: the short-option string (":" first, so that a missing argument
// is told from an unknown option) and the long options, whose value is the short letter or, for
// a long-only option, kLongOnlyBase plus the row.
struct GetoptTables {
  std::string shortOptions = ":";
  std::vector<option> longOptions;
};

GetoptTables MakeGetoptTables(std::span<const OptionSpec> options) {
  GetoptTables tables;
  for (size_t i = 0; i < options.size(); ++i) {
    const OptionSpec& row = options[i];
    int value = row.shortName != 0 ? row.shortName : kLongOnlyBase + static_cast<int>(i);
    if (row.longName != nullptr) {
      tables.longOptions.push_back({row.longName, HasArg(row.argument), nullptr, value});
    }
    if (row.shortName != 0) {
      tables.shortOptions.push_back(row.shortName);
      if (row.argument == ArgumentKind::kRequired) {
        tables.shortOptions.push_back(':');
      } else if (row.argument == ArgumentKind::kOptional) {
        tables.shortOptions.append("::");
      }
    }
  }
  tables.longOptions.push_back({nullptr, 0, nullptr, 0});
  return tables;
}

// The row of getopt's result `c`; options.size() when there is none.
size_t RowOf(std::span<const OptionSpec> options, int c) {
  if (c >= kLongOnlyBase) {
    return static_cast<size_t>(c - kLongOnlyBase);
  }
  for (size_t i = 0; i < options.size(); ++i) {
    if (options[i].shortName == c) {
      return i;
    }
  }
  return options.size();
}

}  // namespace

int ParseCommandLine(int argc, char** argv, std::span<const OptionSpec> options,
                     const std::function<bool(size_t, const char*)>& onOption,
                     std::vector<std::string>& positionals) {
  const GetoptTables tables = MakeGetoptTables(options);
  opterr = 0;
  optind = 0;  // full reinitialisation, so that a process may parse more than once
  for (;;) {
    const int before = optind == 0 ? 1 : optind;  // 0 asks for reinitialisation
    int c =
        getopt_long(argc, argv, tables.shortOptions.c_str(), tables.longOptions.data(), nullptr);
    if (c == -1) {
      break;
    }
    // The word being processed: getopt has moved past it, unless it stopped inside a cluster of
    // short options ("-xq"), where the word is still the current one.
    const bool insideCluster = optind == before && optind < argc;
    const char* word = insideCluster                   ? argv[optind]
                       : optind >= 1 && optind <= argc ? argv[optind - 1]
                                                       : "";
    if (c == ':') {
      g_Logger.Fail("Option '%s' requires an argument.", word);
      return kExitFailure;
    }
    const size_t index = c == '?' ? options.size() : RowOf(options, c);
    if (index >= options.size()) {
      g_Logger.Fail("Unrecognized option: '%s'.", word);
      return kExitFailure;
    }
    if (!onOption(index, optarg)) {
      return kExitFailure;
    }
  }
  for (int i = optind; i < argc; ++i) {
    positionals.emplace_back(argv[i]);
  }
  return kExitSuccess;
}

Status CheckMissingSeparatorOption(bool allowMissingSeparator, bool textInput) {
  if (allowMissingSeparator && !textInput) {
    return Status::Invalid(
        "--allow-missing-separator-at-eof option can be used with --text-input option only.");
  }
  return Status::Ok();
}

}  // namespace orv
