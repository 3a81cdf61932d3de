// --threads: the output and the log are the same for every thread count, and a bad count is
// refused with one FAIL line.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

TEST(Threads, ABadCountIsRefused) {
  ScratchDir dir;
  for (const char* program : {"drawoff", "packdown", "feedout"}) {
    for (const char* count : {"0", "1025", "two", "-1", ""}) {
      SCOPED_TRACE(std::string(program) + " --threads=" + count);
      const ProgramResult result = Shell(
          dir, std::string("$B/") + program + " -d 'n int' --threads=" + count + " < /dev/null");
      ExpectOneFail(result, std::string("Invalid thread count: '") + count +
                                "'; it must be a whole number from 1 to 1024.");
    }
  }
}

}  // namespace
}  // namespace orv::testing
