// tablepeek's layouts bind to the right fields: every name it writes is valid and unique, and
// drawoff --match-fields resolves the file's names the same way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvd/field_binding.h"
#include "tests/drawoff/qvd_builder.h"

namespace orv {
namespace {

using testing::IntSymbol;

TEST(LayoutFieldNames, ValidUniqueAndNamesAsTheyAreFirst) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> layout;
  };
  const std::vector<Case> cases = {
      {{"Id", "Name", "Straße"}, {"Id", "Name", "Straße"}},
      {{"", " ", "\t"}, {"field_1", "field_2", "_"}},
      {{"new\nline", "new_line"}, {"new_line_2", "new_line"}},
      {{"a", "a", " a "}, {"a", "a_2", "a_3"}},
      {{"x\x01", "x_", "x__2"}, {"x__3", "x_", "x__2"}},
      {{"bad\xFF", " pad "}, {"bad_", "pad"}},
  };
  for (const Case& c : cases) {
    std::vector<QvdFieldMetadata> fields(c.names.size());
    for (size_t j = 0; j < fields.size(); ++j) {
      fields[j].fieldName = c.names[j];
    }
    EXPECT_EQ(LayoutFieldNames(fields), c.layout);
  }
}

TEST(LayoutFieldNames, TablepeekLayoutsBindByNameInDrawoff) {
  // Three fields whose names, normalised, would be empty or the same.
  testing::QvdTable table({{"", 0, 1, 0, IntSymbol(1) + IntSymbol(2), 2},
                           {"new\nline", 1, 1, 0, IntSymbol(3) + IntSymbol(4), 2},
                           {"new_line", 2, 1, 0, IntSymbol(5) + IntSymbol(6), 2}},
                          1, std::string("\x00\x07", 2));
  testing::ScratchDir dir;
  const std::string qvd = dir / "names.qvd";
  testing::WriteFileBytes(qvd, table.Bytes());
  auto ord = testing::RunProgram("tablepeek", qvd + " --output=ord");
  ASSERT_EQ(ord.status, 0) << ord.err;
  EXPECT_EQ(ord.out, "field_1    string\nnew_line_2 string\nnew_line   string\n");
  // The layout in another order, by name: every value comes from its own field.
  auto rows = testing::RunProgram(
      "drawoff", "-m -y -i " + qvd + " -d 'new_line string; field_1 string; new_line_2 string'");
  ASSERT_EQ(rows.status, 0) << rows.err;
  EXPECT_EQ(rows.out, "5,1,3\n6,2,4\n");
}

}  // namespace
}  // namespace orv
