// packdown and feedout given an input the system can't read (a directory): one FAIL line with
// the system's reason, exit status 20, and no QVD file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/drawoff/run_program.h"

namespace orv::testing {
namespace {

TEST(UnreadableInput, IsReportedAsAReadErrorWithTheSystemsReason) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "records");
  const std::string records = ShellQuote(dir / "records");
  const std::string out = ShellQuote(dir / "out.qvd");
  const struct {
    const char* program;
    std::string arguments;
    bool onStandardInput;
  } cases[] = {
      {"packdown", "-d 'a int' -o " + out + " -i " + records, false},
      {"packdown", "-x -d 'a int' -o " + out + " -i " + records, false},
      {"packdown", "-x -s -d 'a string' -o " + out + " -i " + records, false},
      {"packdown", "-d 'a int nullable; b string' -o " + out, true},
      {"feedout", "-d 'a int'", true},
      {"feedout", "-x -d 'a int; b string'", true},
      {"feedout", "-d 'a string nullable'", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + c.arguments);
    ProgramResult result =
        RunProgram(c.program, c.arguments, c.onStandardInput ? dir / "records" : "");
    EXPECT_EQ(result.status, 20);
    EXPECT_EQ(FailMessage(result.err), "Error reading input: Is a directory.");
    EXPECT_EQ(result.err.find("|FAIL|"), result.err.rfind("|FAIL|")) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.qvd"));
  }
}

}  // namespace
}  // namespace orv::testing
