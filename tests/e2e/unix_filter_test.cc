// What every Unix filter does: `-` for standard input and output, a closed pipe ends the run
// quietly, feedout takes -i and -o like packdown.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

TEST(UnixFilter, DashMeansStandardInputAndOutput) {
  ScratchDir dir;
  WriteFileBytes(dir / "r.txt", "1,a\n2,b\n");
  const std::string layout = " -d 'n int; s string'";
  struct Case {
    const char* name;
    std::string command;
  };
  const Case cases[] = {
      {"packdown", "$B/packdown -x -i - -o -" + layout + " < r.txt > a.qvd && cmp a.qvd b.qvd"},
      {"drawoff", "$B/drawoff -y -i - -o -" + layout + " < b.qvd"},
      {"feedout", "$B/feedout -x -i - -o -" + layout + " < r.txt | cmp - c.qvx && echo same"},
      {"tablepeek", "$B/tablepeek - - --no-of-records < b.qvd"},
  };
  ASSERT_EQ(Shell(dir, "$B/packdown -x -i r.txt -o b.qvd" + layout).status, 0);
  ASSERT_EQ(Shell(dir, "$B/feedout -x -i r.txt -o c.qvx" + layout).status, 0);
  const std::string outputs[] = {"", "1,a\n2,b\n", "same\n", "2\n"};
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const ProgramResult result = Shell(dir, cases[i].command);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, outputs[i]);
  }
}

TEST(UnixFilter, AClosedPipeEndsTheRunQuietly) {
  ScratchDir dir;
  // 200,000 rows: far more than the pipe holds, so drawoff writes after head has gone.
  ASSERT_EQ(Shell(dir, "seq 200000 | $B/packdown -x -o n.qvd -d 'n int'").status, 0);
  for (const char* mode : {"-y", "", "--low-memory -y"}) {
    SCOPED_TRACE(mode);
    const ProgramResult result = Shell(dir, std::string("($B/drawoff -i n.qvd -d 'n int' ") + mode +
                                                "; echo $? > rc) | head -c 10 > /dev/null; cat rc");
    EXPECT_EQ(result.out, "0\n") << result.err;
    EXPECT_NE(result.err.find("|INFO|output closed|the reader of the output went away|"),
              std::string::npos);
    EXPECT_EQ(FailLines(result.err), 0u);
  }
  // Any other write error still fails.
  const ProgramResult full = Shell(dir, "$B/drawoff -y -i n.qvd -d 'n int' -o /dev/full");
  EXPECT_EQ(full.status, 20);
  EXPECT_NE(full.err.find("|FAIL|||Error writing output."), std::string::npos);
}

}  // namespace
}  // namespace orv::testing
