// One log line per event on standard error:
//   PREFIX|YYYY-MM-DDThh:mm:ss.mmmZ|LEVEL|name|value|extra   (INFO, DEBUG)
//   PREFIX|YYYY-MM-DDThh:mm:ss.mmmZ|LEVEL|||message          (WARNING, FAIL, SUCC)
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

namespace orv {

enum class LogLevel { kDebug = 0, kInfo = 1, kWarning = 2, kFail = 3 };

class Logger {
 public:
  void SetPrefix(std::string prefix) { prefix_ = std::move(prefix); }
  const std::string& prefix() const { return prefix_; }
  void SetLevel(LogLevel level) { level_ = level; }
  LogLevel level() const { return level_; }
  // Lines go to stderr unless a test redirects them.
  void SetStream(FILE* stream) { stream_ = stream; }

  void Info(std::string_view name, std::string_view value, std::string_view extra = {});
  void Debug(std::string_view name, std::string_view value, std::string_view extra = {});
  [[gnu::format(printf, 2, 3)]] void Warning(const char* format, ...);
  [[gnu::format(printf, 2, 3)]] void Fail(const char* format, ...);
  [[gnu::format(printf, 2, 3)]] void Succ(const char* format, ...);

  // Writes the time field, UTC with milliseconds, into `out` (at least 25 bytes); returns its
  // length.
  static size_t printTime(char* out);

 private:
  void NameValueLine(const char* level, std::string_view name, std::string_view value,
                     std::string_view extra);
  void MessageLine(const char* level, const char* format, va_list args);

  std::string prefix_ = "orv";
  LogLevel level_ = LogLevel::kDebug;
  FILE* stream_ = stderr;
};

extern Logger g_Logger;

}  // namespace orv
