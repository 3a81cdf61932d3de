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

}  // namespace

int ParseCommandLine(int argc, char** argv, std::span<const OptionSpec> options,
                     const std::function<bool(size_t, const char*)>& onOption,
                     std::vector<std::string>& positionals) {
  std::string shortOptions = ":";
  std::vector<option> longOptions;
  for (size_t i = 0; i < options.size(); ++i) {
    const OptionSpec& option = options[i];
    int value = option.shortName != 0 ? option.shortName : kLongOnlyBase + static_cast<int>(i);
    if (option.longName != nullptr) {
      longOptions.push_back({option.longName, HasArg(option.argument), nullptr, value});
    }
    if (option.shortName != 0) {
      shortOptions.push_back(option.shortName);
      if (option.argument == ArgumentKind::kRequired) {
        shortOptions.push_back(':');
      } else if (option.argument == ArgumentKind::kOptional) {
        shortOptions.append("::");
      }
    }
  }
  longOptions.push_back({nullptr, 0, nullptr, 0});

  opterr = 0;
  optind = 0;  // full reinitialisation, so that a process may parse more than once
  for (;;) {
    const int before = optind == 0 ? 1 : optind;  // 0 asks for reinitialisation
    int c = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), nullptr);
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
    if (c == '?') {
      g_Logger.Fail("Unrecognized option: '%s'.", word);
      return kExitFailure;
    }
    size_t index = options.size();
    if (c >= kLongOnlyBase) {
      index = static_cast<size_t>(c - kLongOnlyBase);
    } else {
      for (size_t i = 0; i < options.size(); ++i) {
        if (options[i].shortName == c) {
          index = i;
          break;
        }
      }
    }
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
