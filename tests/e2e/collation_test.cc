// A string field's collation, through the built programs: the symbols of a QVD file packdown
// wrote are in the order of the locale's own rules, which come from the locale data the programs
// carry (a locale whose data were missing would sort as the root locale does).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

// The first `count` symbols of a QVD file of one string field.
std::vector<std::string> StringSymbols(const std::string& qvd, size_t count) {
  static const std::string kHeaderEnd = "</QvdTableHeader>\r\n";
  size_t at = qvd.find(kHeaderEnd);
  std::vector<std::string> symbols;
  if (at == std::string::npos) {
    return symbols;
  }
  at += kHeaderEnd.size() + 1;  // past the NUL that ends the header
  while (symbols.size() < count && at < qvd.size() && qvd[at] == 4) {
    const size_t end = qvd.find('\0', at + 1);
    if (end == std::string::npos) {
      break;
    }
    symbols.push_back(qvd.substr(at + 1, end - at - 1));
    at = end + 1;
  }
  return symbols;
}

TEST(Collation, SymbolsFollowTheLocalesRules) {
  struct Case {
    const char* collation;  // after the field's type
    std::vector<std::string> symbols;
  };
  const Case cases[] = {
      {"", {"Zebra", "apple", "ober", "Äpple", "Öl"}},  // bytes
      {" collation=\"de_DE\"", {"apple", "Äpple", "ober", "Öl", "Zebra"}},
      {" collation=\"sv_SE\"", {"apple", "ober", "Zebra", "Äpple", "Öl"}},  // Ä and Ö after Z
  };
  ScratchDir dir;
  WriteFileBytes(dir / "in.txt", "Zebra\nÄpple\napple\nÖl\nober\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.collation);
    const std::string field = std::string("S string") + c.collation;
    const ProgramResult packed =
        Shell(dir, "$B/packdown -x -i in.txt -o t.qvd -d " + ShellQuote(field));
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(StringSymbols(ReadFileBytes(dir / "t.qvd"), 5), c.symbols);
    // The rows keep their order whatever the symbols'.
    EXPECT_EQ(Shell(dir, "$B/drawoff -i t.qvd -y -d " + ShellQuote(field)).out,
              "Zebra\nÄpple\napple\nÖl\nober\n");
  }
}

}  // namespace
}  // namespace orv::testing
