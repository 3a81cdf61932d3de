#include "runtime/logger.h"

#include <cstdarg>
#include <ctime>

namespace orv {

Logger g_Logger;

size_t Logger::printTime(char* out) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  gmtime_r(&now.tv_sec, &parts);
  size_t n = strftime(out, 21, "%Y-%m-%dT%H:%M:%S", &parts);
  int millis = static_cast<int>(now.tv_nsec / 1000000);
  out[n++] = '.';
  out[n++] = static_cast<char>('0' + millis / 100);
  out[n++] = static_cast<char>('0' + millis / 10 % 10);
  out[n++] = static_cast<char>('0' + millis % 10);
  out[n++] = 'Z';
  out[n] = '\0';
  return n;
}

void Logger::NameValueLine(const char* level, std::string_view name, std::string_view value,
                           std::string_view extra) {
  std::string line;
  line.reserve(prefix_.size() + name.size() + value.size() + extra.size() + 48);
  char time[32];
  size_t timeLength = printTime(time);
  line.append(prefix_).append("|").append(time, timeLength).append("|").append(level);
  line.append("|").append(name).append("|").append(value).append("|").append(extra);
  line.push_back('\n');
  fwrite(line.data(), 1, line.size(), stream_);
  fflush(stream_);
}

void Logger::MessageLine(const char* level, const char* format, va_list args) {
  char time[32];
  size_t timeLength = printTime(time);
  std::string line;
  line.append(prefix_).append("|").append(time, timeLength).append("|").append(level);
  line.append("|||");
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n > 0) {
    size_t start = line.size();
    line.resize(start + static_cast<size_t>(n) + 1);
    vsnprintf(line.data() + start, static_cast<size_t>(n) + 1, format, args);
    line.resize(start + static_cast<size_t>(n));
  }
  line.push_back('\n');
  fwrite(line.data(), 1, line.size(), stream_);
  fflush(stream_);
}

void Logger::Info(std::string_view name, std::string_view value, std::string_view extra) {
  if (level_ <= LogLevel::kInfo) {
    NameValueLine("INFO", name, value, extra);
  }
}

void Logger::Debug(std::string_view name, std::string_view value, std::string_view extra) {
  if (level_ <= LogLevel::kDebug) {
    NameValueLine("DEBUG", name, value, extra);
  }
}

void Logger::Warning(const char* format, ...) {
  if (level_ > LogLevel::kWarning) {
    return;
  }
  va_list args;
  va_start(args, format);
  MessageLine("WARNING", format, args);
  va_end(args);
}

void Logger::Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  MessageLine("FAIL", format, args);
  va_end(args);
}

void Logger::Succ(const char* format, ...) {
  va_list args;
  va_start(args, format);
  MessageLine("SUCC", format, args);
  va_end(args);
}

}  // namespace orv
