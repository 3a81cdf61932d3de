#include "runtime/logger.h"

#include <cstdarg>
#include <ctime>

namespace orv {

Logger g_Logger;

namespace {

// A tab stays as it is: it can't break a line, and a tab separator is logged as one.
bool IsControl(char c) {
  return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
}

// Appends `text` with its control bytes written as escapes (\n, \r, \xHH), so that a name or
// value holding a line end can't end the event's line or forge another.
void AppendEscaped(std::string& line, std::string_view text) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!IsControl(c)) {
      continue;
    }
    line.append(text.substr(start, i - start));
    start = i + 1;
    if (c == '\n' || c == '\r') {
      line.push_back('\\');
      line.push_back(c == '\n' ? 'n' : 'r');
      continue;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(c);
    line.append("\\x").push_back(kHex[byte >> 4]);
    line.push_back(kHex[byte & 15]);
  }
  line.append(text.substr(start));
}

}  // namespace

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
  line.push_back('|');
  AppendEscaped(line, name);
  line.push_back('|');
  AppendEscaped(line, value);
  line.push_back('|');
  AppendEscaped(line, extra);
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
    std::string message(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(message.data(), message.size(), format, args);
    message.pop_back();
    AppendEscaped(line, message);
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
