#include "runtime/settings.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "runtime/logger.h"
#include "runtime/text_util.h"

namespace orv {

TypeTraitsOptions g_TypeTraitsOptions;
Options g_Options;

namespace {

std::optional<std::string> BadValue(const char* name, const char* value) {
  return "Invalid value of environment variable " + std::string(name) + ": '" + value + "'.";
}

// A separator variable holds one byte after escapes; the grouping separator may be empty (off).
std::optional<std::string> LoadChar(const char* name, char& target, bool allowEmpty) {
  const char* value = getenv(name);
  if (value == nullptr) {
    return std::nullopt;
  }
  std::optional<std::string> text = UnEscape(value, true);
  if (!text || text->size() > 1 || (text->empty() && !allowEmpty)) {
    return BadValue(name, value);
  }
  target = text->empty() ? '\0' : (*text)[0];
  return std::nullopt;
}

std::optional<std::string> LoadNumber(const char* name, uint8_t& target, unsigned low,
                                      unsigned high) {
  const char* value = getenv(name);
  if (value == nullptr) {
    return std::nullopt;
  }
  unsigned number = 0;
  const char* end = value + strlen(value);
  auto [ptr, ec] = std::from_chars(value, end, number);
  if (ec != std::errc() || ptr != end || number < low || number > high) {
    return BadValue(name, value);
  }
  target = static_cast<uint8_t>(number);
  return std::nullopt;
}

std::optional<std::string> LoadText(const char* name, std::string& target) {
  const char* value = getenv(name);
  if (value == nullptr) {
    return std::nullopt;
  }
  if (*value == '\0') {
    return BadValue(name, value);
  }
  target = value;
  return std::nullopt;
}

std::optional<std::string> LoadSwitch(const char* name, bool& target) {
  const char* value = getenv(name);
  if (value == nullptr) {
    return std::nullopt;
  }
  if (strcmp(value, "0") == 0) {
    target = false;
  } else if (strcmp(value, "1") == 0) {
    target = true;
  } else {
    return BadValue(name, value);
  }
  return std::nullopt;
}

std::optional<std::string> LoadLogLevel() {
  const char* value = getenv("ORV_LOG_LEVEL");
  if (value == nullptr) {
    return std::nullopt;
  }
  static constexpr std::pair<const char*, LogLevel> kLevels[] = {{"debug", LogLevel::kDebug},
                                                                 {"info", LogLevel::kInfo},
                                                                 {"warning", LogLevel::kWarning},
                                                                 {"fail", LogLevel::kFail}};
  for (const auto& [word, level] : kLevels) {
    if (strcmp(value, word) == 0) {
      g_Logger.SetLevel(level);
      return std::nullopt;
    }
  }
  return BadValue("ORV_LOG_LEVEL", value);
}

}  // namespace

std::optional<std::string> LoadSettingsFromEnvironment() {
  TypeTraitsOptions& o = g_TypeTraitsOptions;
  std::optional<std::string> error;
  if ((error = LoadLogLevel()) ||
      (error = LoadChar("ORV_FIELD_SEPARATOR", o.fieldSeparator, false)) ||
      (error = LoadChar("ORV_DECIMAL_SEPARATOR", o.decimalSeparator, false)) ||
      (error = LoadChar("ORV_GROUPING_SEPARATOR", o.groupingSeparator, true)) ||
      (error = LoadNumber("ORV_DECIMAL_PRECISION", o.decimalPrecision, 1, 38)) ||
      (error = LoadNumber("ORV_DECIMAL_SCALE", o.decimalScale, 0, 38)) ||
      (error = LoadText("ORV_DATE_FORMAT", o.dateFormat)) ||
      (error = LoadText("ORV_DATETIME_FORMAT", o.dateTimeFormat)) ||
      (error = LoadSwitch("ORV_FIELD_SUBSET", g_Options.fieldSubset)) ||
      (error = LoadSwitch("ORV_CHECK_OUTPUT_ERRORS", g_Options.checkOutputErrors))) {
    return error;
  }
  if (o.decimalScale > o.decimalPrecision) {
    o.decimalScale = o.decimalPrecision;
  }
  return std::nullopt;
}

}  // namespace orv
