// Types that come back: a layout that packdown wrote a QVD file with, read back from the file's
// header by tablepeek --output=ord, for every type, flag and nullability.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

TEST(LayoutRoundTrip, TablepeekGivesBackTheLayoutPackdownWrote) {
  struct Case {
    const char* written;  // the field's definition after its name
    const char* value;    // one value as text
    const char* read;     // what tablepeek gives back: the type, nullable, then a flag
    const char* flag = "";
    const char* options = "";
  };
  const Case cases[] = {
      {"int", "-7", "int"},
      {"double", "0.25", "double"},
      {"decimal(12,2)", "12.50", "double"},
      {"decimal(12,2)", "12.50", "decimal(18,2)", "", " --real-as-decimal"},
      {"decimal(10,0)", "12", "decimal(18,0)", "", " --real-as-decimal"},
      {"date", "2024-02-29", "date"},
      {"datetime", "2024-02-29 08:15:00", "datetime"},
      {"datetime time", "1970-01-01 12:00:00", "datetime", " time"},
      {"datetime interval", "1970-01-03 06:00:00", "datetime", " interval"},
      {"string", "abc", "string"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    for (bool nullable : {false, true}) {
      SCOPED_TRACE(std::string(c.written) + (nullable ? " nullable" : ""));
      const std::string field = std::string("F ") + c.written + (nullable ? " nullable" : "");
      // A nullable field shows it by holding a null: the file marks nulls, not the declaration.
      const std::string input = std::string(c.value) + (nullable ? "\n\n" : "\n");
      WriteFileBytes(dir / "in.txt", input);
      ASSERT_EQ(Shell(dir, "$B/packdown -x -i in.txt -o t.qvd -d " + ShellQuote(field)).status, 0);
      const ProgramResult ord =
          Shell(dir, std::string("$B/tablepeek t.qvd --output=ord --inline") + c.options);
      ASSERT_EQ(ord.status, 0) << ord.err;
      EXPECT_EQ(ord.out, std::string("F ") + c.read + (nullable ? " nullable" : "") + c.flag);
    }
  }
}

TEST(LayoutRoundTrip, TableNameIsWrittenEscaped) {
  ScratchDir dir;
  WriteFileBytes(dir / "in.txt", "1\n");
  ASSERT_EQ(
      Shell(dir, "$B/packdown -x -i in.txt -o t.qvd -d 'a int' --table-name='Sales & <Co>'").status,
      0);
  EXPECT_EQ(Shell(dir, "$B/tablepeek t.qvd --table-name").out, "Sales & <Co>\n");
  EXPECT_NE(Shell(dir, "$B/tablepeek t.qvd").out.find("<TableName>Sales &amp; &lt;Co&gt;</"),
            std::string::npos);
}

}  // namespace
}  // namespace orv::testing
