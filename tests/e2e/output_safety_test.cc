// No output destroys an input or an old file: each program refuses an output that is its input
// file (under any name), tablepeek refuses to overwrite a QVD file and opens its output only with
// the answer ready, and packdown replaces a file output only after the last byte, so that a
// failure or a signal leaves the old file untouched and no temporary file behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

using namespace std::string_literals;

const std::string kQvd = ReadFileBytes(ORV_SAMPLES_DIR "/qv11-tab1.qvd");
const std::string kDamaged = ShellQuote(ORV_SAMPLES_DIR "/sense-damaged.qvd");
const char kTab1Layout[] = "'ID string nullable; NAME string; ONEVAL string'";

TEST(OutputSafety, EveryProgramRefusesAnOutputThatIsItsInputFile) {
  const std::string inputFile = "' is the input file; not overwritten.";
  const std::string standardOutput = "Standard output is the input file; not written.";
  const std::string records = HexBytes("01000000 02000000");
  const struct {
    std::string command, message;
  } cases[] = {
      {"$B/drawoff -d 'a int' -i t.qvd -o t.qvd", "Output file 't.qvd" + inputFile},
      {"$B/drawoff -d 'a int' -i t.qvd -o sub/../t.qvd", "Output file 'sub/../t.qvd" + inputFile},
      {"$B/drawoff -d 'a int' -i t.qvd -o link.qvd", "Output file 'link.qvd" + inputFile},
      {"$B/drawoff -d 'a int' -o t.qvd < t.qvd", "Output file 't.qvd" + inputFile},
      {"$B/drawoff -d 'a int' -i t.qvd >> t.qvd", standardOutput},
      {"$B/drawoff -y -d 'a int' < t.qvd 1<> link.qvd", standardOutput},
      {"$B/packdown -d 'a int' -i r.bin -o r.bin", "Output file 'r.bin" + inputFile},
      {"$B/packdown -d 'a int' -i r.bin -o symlink.bin", "Output file 'symlink.bin" + inputFile},
      {"$B/packdown -d 'a int' -o link.bin < r.bin", "Output file 'link.bin" + inputFile},
      {"$B/packdown -d 'a int' < r.bin >> link.bin", standardOutput},
      {"$B/feedout -d 'a int' < r.bin >> r.bin", standardOutput},
      {"$B/feedout -d 'a int' < link.bin 1<> r.bin", standardOutput},
      {"$B/tablepeek t.qvd t.qvd", "Output file 't.qvd" + inputFile},
      {"$B/tablepeek t.qvd ./link.qvd --no-of-records", "Output file './link.qvd" + inputFile},
      {"$B/tablepeek --table-name < t.qvd >> link.qvd", standardOutput},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    ScratchDir dir;
    WriteFileBytes(dir / "t.qvd", kQvd);
    WriteFileBytes(dir / "r.bin", records);
    fs::create_hard_link(dir / "t.qvd", dir / "link.qvd");
    fs::create_hard_link(dir / "r.bin", dir / "link.bin");
    fs::create_symlink("r.bin", dir / "symlink.bin");
    fs::create_directory(dir / "sub");
    const ProgramResult result = Shell(dir, c.command);
    ExpectOneFail(result, c.message);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadFileBytes(dir / "t.qvd"), kQvd);
    EXPECT_EQ(ReadFileBytes(dir / "r.bin"), records);
    EXPECT_EQ(HiddenFiles(dir), std::vector<std::string>());
  }
}

// The same device and inode on both sides is no conflict for what is not a regular file.
TEST(OutputSafety, DevicesAndOtherFilesOnBothSidesAreNoConflict) {
  const std::string commands[] = {
      "$B/feedout -d 'a int' < /dev/null > /dev/null",
      "$B/packdown -d 'a int' < /dev/null > /dev/null",
      "$B/packdown -d 'a int' -o /dev/null < /dev/null",
      "$B/drawoff -y -d "s + kTab1Layout + " -i t.qvd -o /dev/null < t.qvd",
      "$B/drawoff -y -d "s + kTab1Layout + " < t.qvd > rows.txt",
      "$B/tablepeek --no-of-records < t.qvd > count.txt",
      "$B/tablepeek t.qvd --no-of-records < t.qvd",
  };
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    ScratchDir dir;
    WriteFileBytes(dir / "t.qvd", kQvd);
    const ProgramResult result = Shell(dir, command);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(FailLines(result.err), 0u);
    EXPECT_EQ(ReadFileBytes(dir / "t.qvd"), kQvd);
  }
}

TEST(OutputSafety, TablepeekKeepsAnExistingOutputUnlessTheAnswerReplacesIt) {
  const std::string header = kQvd.substr(0, kQvd.find('\0'));
  const std::string refused = "' is a QVD file; not overwritten.";
  const struct {
    std::optional<std::string> old;  // the output file's bytes before the run
    std::string arguments;
    int status;
    std::string message;
    std::optional<std::string> after;  // its bytes after the run; none: it does not exist
  } cases[] = {
      {kQvd, "t.qvd out.qvd --no-of-records", 20, "Output file 'out.qvd" + refused, kQvd},
      {kQvd, "t.qvd out.qvd", 20, "Output file 'out.qvd" + refused, kQvd},
      {kQvd, "t.qvd out.qvd --output=json", 20, "Output file 'out.qvd" + refused, kQvd},
      {"\xEF\xBB\xBF \r\n" + kQvd, "t.qvd out.qvd --table-name", 20,
       "Output file 'out.qvd" + refused, "\xEF\xBB\xBF \r\n" + kQvd},
      {"\n\t" + kQvd, "t.qvd out.qvd --table-name", 20, "Output file 'out.qvd" + refused,
       "\n\t" + kQvd},
      // A header saved by tablepeek has no 0x00 after it: it is rewritten.
      {header, "t.qvd out.qvd --no-of-records", 0, "", "5\n"},
      {"not a header\0<?xml"s, "t.qvd out.qvd --table-name", 0, "", "tab1\n"},
      {"old contents", kDamaged + " out.qvd", 20, "Error reading QVD table header.",
       "old contents"},
      {std::nullopt, kDamaged + " out.qvd", 20, "Error reading QVD table header.", std::nullopt},
      {"old contents", "t.qvd out.qvd --tag=Nothing", 20, "Unrecorgnized tag: 'Nothing'.",
       "old contents"},
      {std::nullopt, "t.qvd out.qvd --tag=Nothing", 20, "Unrecorgnized tag: 'Nothing'.",
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    ScratchDir dir;
    WriteFileBytes(dir / "t.qvd", kQvd);
    if (c.old) {
      WriteFileBytes(dir / "out.qvd", *c.old);
    }
    const ProgramResult result = Shell(dir, "$B/tablepeek " + c.arguments);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(FailLines(result.err), c.status == 0 ? 0u : 1u) << result.err;
    EXPECT_EQ(FailMessage(result.err), c.message);
    ASSERT_EQ(fs::exists(dir / "out.qvd"), c.after.has_value());
    if (c.after) {
      EXPECT_EQ(ReadFileBytes(dir / "out.qvd"), *c.after);
    }
  }
}

}  // namespace
}  // namespace orv::testing
