// Process-wide settings: built-in defaults, each overridable once at start-up by an environment
// variable (ORV_*).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orv {

struct TypeTraitsOptions {
  char fieldSeparator = ',';
  char decimalSeparator = '.';
  char groupingSeparator = 0;  // 0: no grouping
  uint8_t decimalPrecision = 18;
  uint8_t decimalScale = 4;
  std::string dateFormat = "%Y-%m-%d";
  std::string dateTimeFormat = "%Y-%m-%d %H:%M:%S";
  // QVD display formats written to a field header's Fmt.
  std::string qvdDateFormat = "YYYY-MM-DD";
  std::string qvdTimestampFormat = "YYYY-MM-DD hh:mm:ss";
  std::string qvdTimeFormat = "hh:mm:ss";
  std::string qvdIntervalFormat = "D hh:mm:ss";
  // 0: LF, 1: CR LF, 2: CR.
  int endOfLineMode = 0;
  bool allowMissingSeparatorAtEof = false;

  // The record separator of the current end-of-line mode.
  std::string_view RecordSeparator() const {
    return endOfLineMode == 1 ? "\r\n" : endOfLineMode == 2 ? "\r" : "\n";
  }
};

struct Options {
  bool fieldSubset = true;
  bool checkOutputErrors = true;
};

extern TypeTraitsOptions g_TypeTraitsOptions;
extern Options g_Options;

// Reads the ORV_* variables into the globals (and the logger level). Returns the FAIL message for
// a bad value.
std::optional<std::string> LoadSettingsFromEnvironment();

}  // namespace orv
