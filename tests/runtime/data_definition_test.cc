// Data-definition text: parsing, rendering with ToString, error places and layout checks.
#include "runtime/data_definition.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "types/type_traits_parser.h"

namespace orv {
namespace {

// Quoted definition text: backslash, quote and control bytes as \xHH, other bytes as they are.
std::string Quote(std::string_view bytes) {
  std::string text = "\"";
  for (unsigned char c : bytes) {
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02x", c);
    text += c < 0x20 || c == '\\' || c == '"' ? hex : std::string(1, static_cast<char>(c));
  }
  return text + "\"";
}

TEST(DataDefinition, RandomLayoutsSurviveToStringAndParseAgain) {
  const unsigned seed = 4242;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  using Pool = std::vector<std::string>;
  auto pick = [&](const Pool& pool) { return pool[random() % pool.size()]; };
  const Pool names = {"Id", "int", "Unit Price", "q\"uote", "back\\slash", "Größe", "価格", "a#;"};
  const Pool nullTokens = {"NULL", "", "\x01", "\"", "\\", "é", "a;b", " ", "\x7f", "\xff", "\n"};
  const Pool separators = {",", "\t", "\x01", "||", "\r\n", "\"", "\\", "#", std::string(1, 0)};
  const Pool formats = {"%Y-%m-%d", "%d.%m.%Y", "%Y\"%m", "%d\\%m", "%H:%M:%S"};
  const Pool types = {"int", "double", "decimal", "date", "datetime", "string"};
  const Pool quotes = {"\"", "'", "\\", "\x01", "|"};
  for (int round = 0; round < 300; ++round) {
    std::string text;
    std::vector<std::string> expectedNames;
    const size_t count = 1 + random() % 6;
    for (size_t i = 0; i < count; ++i) {
      expectedNames.push_back(pick(names) + (random() % 3 == 0 ? " " + pick(names) : ""));
      const std::string type = pick(types), name = expectedNames.back();
      const bool dated = type == "date" || type == "datetime";
      const unsigned precision = 1 + random() % 38;
      text += (name == "Id" ? name : Quote(name)) + " " + type;
      if (type == "decimal" && random() % 3 != 0) {
        text += "(" + std::to_string(precision) +
                (random() % 2 ? "," + std::to_string(random() % (precision + 1)) : "") + ")";
      } else if (dated && random() % 2) {
        text += "(" + Quote(pick(formats)) + ")";
      } else if (type == "string" && random() % 2) {
        text += "(" + std::to_string(1 + random() % 40) + ")";
      }
      text += random() % 3 == 0 ? " nullable" : "";
      for (unsigned n = random() % 4; n > 0; --n) {
        text += " null=" + Quote(pick(nullTokens));
      }
      if (random() % 3 == 0) {
        text += random() % 4 == 0 ? " separator=none" : " separator=" + Quote(pick(separators));
      }
      text += random() % 3 == 0 ? " quote=" + Quote(pick(quotes)) : "";
      text += type == "datetime" && random() % 2 ? (random() % 2 ? " time" : " interval") : "";
      text += dated && random() % 2 ? " qvd-format=" + Quote(pick({"DD.MM.YYYY", "h\"m"})) : "";
      text += random() % 3 == 0 ? " descending" : "";
      text += type == "string" && random() % 2 ? " collation=" + Quote(pick({"en_US", "sv"})) : "";
      text += random() % 2 ? "\n" : random() % 2 ? " ; " : "  # note\n";
    }
    SCOPED_TRACE(text);
    TypeTraitsCollection first;
    ASSERT_EQ(TypeTraitsParser::ParseInlineFields(text, first), std::nullopt);
    ASSERT_EQ(first.size(), count);
    for (size_t i = 0; i < count; ++i) {
      EXPECT_EQ(first[i].name(), expectedNames[i]);
    }
    for (bool inlineForm : {false, true}) {
      const std::string rendered = ToString(first, inlineForm);
      SCOPED_TRACE(rendered);
      TypeTraitsCollection again;
      ASSERT_EQ(TypeTraitsParser::ParseInlineFields(rendered, again), std::nullopt);
      EXPECT_EQ(ToString(again, inlineForm), rendered);
      ASSERT_EQ(again.size(), count);
      for (size_t i = 0; i < count; ++i) {
        EXPECT_TRUE(DescribeTypeTraits(first[i]) == DescribeTypeTraits(again[i])) << i;
      }
    }
  }
}

TEST(DataDefinition, ParsesAndRendersOnlyWhatDiffersFromTheDefaults) {
  struct Row {
    const char* text;
    std::string result;  // the inline rendering, or the error
    bool inlineForm = true;
  } rows[] = {
      {"\"Unit Price\" double separator=\";\"", "\"Unit Price\" double separator=\";\""},
      {"c string(3) quote=\"'\" null=\"NULL\"", "c string(3) null=\"NULL\" quote=\"'\""},
      {"x decimal(7); s string separator=\"\\x09\"", "x decimal(7,0); s string separator=\"\\t\""},
      {"d datetime(\"%H:%M\") time qvd-format=\"hh:mm\" nullable",
       "d datetime(\"%H:%M\") nullable time qvd-format=\"hh:mm\""},
      {"# header\n\n a int # first\r\nb string separator=none;", "a int; b string separator=none"},
      {"a int\nlonger string nullable", "a      int\nlonger string nullable\n", false},
      {"a int\nb string\nlong_name  strng\n",
       "Data definition error at line 3, column 12: unknown type 'strng'."},
      {"a int; b strng", "Data definition error at line 1, column 10: unknown type 'strng'."},
      {"a int\r\n  b strng", "Data definition error at line 2, column 5: unknown type 'strng'."},
      {"\"a b\" date\n# note\nc int nulable",
       "Data definition error at line 3, column 7: unknown option 'nulable'."},
      {"x string null=\"abc",
       "Data definition error at line 1, column 15: unterminated quoted text."},
      {"x decimal(39,2)",
       "Data definition error at line 1, column 11: decimal precision must be 1 to 38."},
      {"x decimal(0)",
       "Data definition error at line 1, column 11: decimal precision must be 1 to 38."},
  };
  for (const Row& row : rows) {
    TypeTraitsCollection fields;
    std::optional<std::string> error = TypeTraitsParser::ParseInlineFields(row.text, fields);
    EXPECT_EQ(error.value_or(ToString(fields, row.inlineForm)), row.result) << row.text;
  }
}

// Each refusal of the parser with the place it names: the token the complaint is about.
TEST(DataDefinition, RefusesMalformedFieldsAtTheOffendingToken) {
  const std::pair<const char*, const char*> rows[] = {
      {"1x int", "1, column 1: expected a field name, found '1'."},
      {"a-b int", "1, column 1: bad field name 'a-b' (quote it)."},
      {"\"  \" int", "1, column 1: empty field name."},
      {"x", "1, column 2: expected a type, found end of text."},
      {"x int(3)", "1, column 6: type 'int' takes no parameters."},
      {"x string(0)", "1, column 10: string size must be at least 1."},
      {"x string(size)", "1, column 10: expected size, found 'size'."},
      {"x date(\"\")", "1, column 8: empty format."},
      {"x date(5)", "1, column 8: expected a quoted format, found '5'."},
      {"x decimal(10,11)", "1, column 14: decimal scale must not exceed the precision."},
      {"x decimal(4294967296)", "1, column 11: precision out of range: '4294967296'."},
      {"x decimal(100000001)", "1, column 11: precision out of range: '100000001'."},
      {"x decimal(5", "1, column 12: expected ')', found end of text."},
      {"x decimal(5;", "1, column 12: expected ')', found ';'."},
      {"x int 5", "1, column 7: expected an option, found '5'."},
      {"x int\r\n y int(3)", "2, column 7: type 'int' takes no parameters."},
      {"x int separator", "1, column 16: expected '=', found end of text."},
      {"x int separator=5",
       "1, column 17: expected quoted text or none after separator=, found '5'."},
      {"x int separator=\",;,\"", "1, column 17: a separator has one or two bytes (or is none)."},
      {"x int separator=\"\"", "1, column 17: a separator has one or two bytes (or is none)."},
      {"x int quote=\"ab\"", "1, column 12: a quote is one byte."},
      {"x int null", "1, column 11: expected '=', found end of text."},
      {"x int null=NULL", "1, column 12: expected quoted text after null=, found 'NULL'."},
      {"x int null=\n", "1, column 12: expected quoted text after null=, found end of line."},
      {"x int time", "1, column 7: option 'time' is for datetime fields only."},
      {"x date interval", "1, column 8: option 'interval' is for datetime fields only."},
      {"x datetime time interval",
       "1, column 17: a datetime field is either time or interval, not both."},
      {"x int qvd-format=\"D\"",
       "1, column 7: option 'qvd-format' is for date and datetime fields only."},
      {"x int qvd-format=D", "1, column 18: expected quoted text after qvd-format=, found 'D'."},
      {"x int collation=\"sv\"", "1, column 7: option 'collation' is for string fields only."},
      {"x int nulable", "1, column 7: unknown option 'nulable'."},
      {"x int nullable!", "1, column 15: unexpected character '!'."},
      {"x string null=\"a\\q\"", "1, column 15: bad escape in quoted text."},
      {"x string null=\"abc", "1, column 15: unterminated quoted text."},
  };
  for (const auto& [text, error] : rows) {
    std::vector<FieldSpec> fields;
    EXPECT_EQ(ParseDataDefinition(text, fields),
              std::string("Data definition error at line ") + error)
        << text;
  }
}

TEST(DataDefinition, ReadsEveryOptionIntoTheField) {
  std::vector<FieldSpec> fields;
  ASSERT_EQ(ParseDataDefinition("a datetime(\"%H\") null=\"-\" null=\"N\" separator=none "
                                "quote=\"'\" interval qvd-format=\"hh\" descending;;\n"
                                "b string(4) nullable separator=\"|;\" collation=\"sv\"\n"
                                "c decimal(9)",
                                fields),
            std::nullopt);
  FieldSpec a;
  a.name = "a";
  a.type = "datetime";
  a.format = "%H";
  a.nullable = true;
  a.nullTokens = {"-", "N"};
  a.separator = "";
  a.quote = '\'';
  a.interval = true;
  a.qvdFormat = "hh";
  a.descending = true;
  FieldSpec b;
  b.name = "b";
  b.type = "string";
  b.size = 4;
  b.nullable = true;
  b.separator = "|;";
  b.collation = "sv";
  FieldSpec c;
  c.name = "c";
  c.type = "decimal";
  c.precision = 9;
  c.scale = 0;
  EXPECT_EQ(fields, (std::vector<FieldSpec>{a, b, c}));
}

TEST(DataDefinition, LayoutNeedsFieldsWithUniqueNames) {
  std::pair<const char*, std::optional<std::string>> rows[] = {
      {"", "Data definition has no fields."},
      {"# only a comment\n\n", "Data definition has no fields."},
      {"x int; y int; x string", "Duplicate field name: 'x'."},
      {"\"x\" int; \" x \" int", "Duplicate field name: 'x'."},
      {"x int; X int", std::nullopt},
  };
  for (const auto& [text, error] : rows) {
    TypeTraitsCollection fields;
    ASSERT_EQ(TypeTraitsParser::ParseInlineFields(text, fields), std::nullopt) << text;
    EXPECT_EQ(CheckPresenceAndUniqueness(fields), error) << text;
  }
}

TEST(DataDefinition, NamesAMissingFile) {
  TypeTraitsCollection fields;
  EXPECT_EQ(TypeTraitsParser::LoadAndParseFields("/nonexistent/dir/layout.ord", fields),
            "Can't open data definition file: '/nonexistent/dir/layout.ord'.");
}

}  // namespace
}  // namespace orv
