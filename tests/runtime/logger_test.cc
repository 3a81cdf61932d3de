// Every event is one line: control bytes in names, values and messages are written as escapes
// (a tab, which can't break a line, stays).
#include "runtime/logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace orv {
namespace {

// What `log` writes, with the time field cut out.
template <typename Log>
std::string Logged(Log log) {
  FILE* stream = tmpfile();
  g_Logger.SetStream(stream);
  log();
  g_Logger.SetStream(stderr);
  std::string text(static_cast<size_t>(ftell(stream)), '\0');
  rewind(stream);
  EXPECT_EQ(fread(text.data(), 1, text.size(), stream), text.size());
  fclose(stream);
  const size_t first = text.find('|');
  const size_t second = text.find('|', first + 1);
  return text.substr(0, first + 1) + text.substr(second + 1);
}

TEST(Logger, WritesControlBytesAsEscapes) {
  g_Logger.SetPrefix("drawoff");
  struct Case {
    std::string logged;
    std::string line;
  };
  const Case cases[] = {
      {Logged([] { g_Logger.Info("input", "a\nb"); }), "drawoff|INFO|input|a\\nb|\n"},
      {Logged([] { g_Logger.Info("x\r", "\t", "\x01\x7f"); }), "drawoff|INFO|x\\r|\t|\\x01\\x7f\n"},
      {Logged([] { g_Logger.Fail("Unrecognized field name: '%s'.", "new\nline|SUCC|||"); }),
       "drawoff|FAIL|||Unrecognized field name: 'new\\nline|SUCC|||'.\n"},
      {Logged([] { g_Logger.Warning("plain \\n and caf\xC3\xA9"); }),
       "drawoff|WARNING|||plain \\n and caf\xC3\xA9\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.logged, c.line);
  }
}

}  // namespace
}  // namespace orv
