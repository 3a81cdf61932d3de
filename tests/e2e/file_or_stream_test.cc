// A regular file is read through a mapping, from where its descriptor stands; a pipe is read. The
// bytes that come out are the same either way.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

TEST(FileOrStream, ARegularFileAPositionedOneAndAPipeReadAlike) {
  ScratchDir dir;
  // A byte-order mark, and more records than a page holds.
  std::string csv = "\xEF\xBB\xBFId,Name\n";
  std::string expected = "Id,Name\n";
  for (int i = 1; i <= 3000; ++i) {
    const std::string line = std::to_string(i) + ",name " + std::to_string(i % 7) + "\n";
    csv += line;
    expected += line;
  }
  WriteFileBytes(dir / "in.csv", csv);
  // `dd` reads the first bytes of standard input: the program maps the rest from a byte that is
  // not a page's first.
  const std::string skip = "dd count=1 of=/dev/null 2>/dev/null bs=";
  const std::string pack = "$B/packdown --csv -o out.qvd";
  const std::string draw = "$B/drawoff --csv -o -";
  const std::pair<std::string, std::string> sources[] = {
      {pack + " -i in.csv", draw + " -i out.qvd"},
      {pack + " < in.csv", draw + " < out.qvd"},
      {"cat in.csv | " + pack, "cat out.qvd | " + draw},
      {"{ " + skip + "3; " + pack + "; } < in.csv",
       "{ printf 'junk!'; cat out.qvd; } > off.qvd && { " + skip + "5; " + draw + "; } < off.qvd"},
  };
  for (const auto& [packdown, drawoff] : sources) {
    SCOPED_TRACE(packdown);
    ASSERT_EQ(Shell(dir, packdown).status, 0) << ReadFileBytes(dir / "stderr.txt");
    const ProgramResult read = Shell(dir, drawoff);
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_TRUE(read.out == expected) << read.out.size() << " bytes read";
  }
}

}  // namespace
}  // namespace orv::testing
