// Field types inferred from QVD header hints, and the layouts tablepeek builds from them, checked
// through their data-definition text.
#include "inspect/type_inference.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "types/type_traits_parser.h"

namespace orv {
namespace {

using Tags = std::set<std::string>;
using NumberType = std::optional<QvdNumberType>;
constexpr NumberType kNone, kReal = QvdNumberType::Real, kDate = QvdNumberType::Date,
                            kTimestamp = QvdNumberType::Timestamp, kTime = QvdNumberType::Time,
                            kInterval = QvdNumberType::Interval, kFix = QvdNumberType::Fix;

QvdFieldMetadata Field(const std::string& name, Tags tags, NumberType numberType = kNone,
                       int8_t bias = 0) {
  QvdFieldMetadata field;
  field.fieldName = name;
  field.tags = std::move(tags);
  field.numberType = numberType;
  field.bias = bias;
  return field;
}

std::string Rendered(const std::vector<QvdFieldMetadata>& fields,
                     const InspectedLayoutOptions& options, bool inlineForm = true) {
  TypeTraitsCollection layout;
  BuildInspectedLayout(fields, options, layout);
  return ToString(layout, inlineForm);
}

TEST(InferFieldType, AFixFieldKeepsItsDecimalsAsTheDecimalScale) {
  QvdFieldMetadata field = Field("Amount", {"$numeric"}, kFix);
  field.numberDecimals = 2;
  InspectedLayoutOptions options;
  EXPECT_EQ(Rendered({field}, options), "Amount double");
  options.realAsDecimal = true;
  EXPECT_EQ(Rendered({field}, options), "Amount decimal(18,2)");
  options.decimalScale = 5;  // a scale on the command line wins
  EXPECT_EQ(Rendered({field}, options), "Amount decimal(18,5)");
}

TEST(InferFieldType, FirstMatchingHintDecidesReportTextAndTypeWord) {
  struct Row {
    const char* tags;  // separated by blanks
    NumberType numberType;
    bool realAsDecimal;
    const char* reportText;
    const char* layout;  // inline data definition of a field named f
  } rows[] = {
      {"$numeric $integer", kNone, false, "int32", "f int"},
      {"$numeric $integer", kReal, false, "double", "f double"},
      {"$numeric $integer", kReal, true, "decimal", "f decimal(18,4)"},
      {"$numeric $integer $timestamp", kNone, false, "timestamp", "f datetime"},
      {"$numeric $timestamp $date", kReal, true, "date", "f date"},  // $date decides
      {"$numeric $integer $timestamp $date", kNone, false, "date", "f date"},
      {"$numeric $integer $date", kNone, false, "date", "f date"},
      {"$numeric $date", kReal, true, "date", "f date"},
      {"$numeric", kTime, false, "time", "f datetime time"},
      {"$numeric $integer", kTime, false, "int32", "f int"},
      {"$numeric", kInterval, false, "interval", "f datetime interval"},
      {"$numeric $integer", kInterval, false, "int32", "f int"},
      {"$numeric", kDate, false, "double", "f double"},
      {"$numeric $integer", kDate, false, "int32", "f int"},
      {"$numeric", kTimestamp, false, "double", "f double"},
      {"$numeric", kNone, true, "double", "f double"},
      {"$numeric", kFix, false, "double", "f double"},
      {"$numeric", kFix, true, "decimal", "f decimal(18,4)"},  // no nDec: the default scale
      {"$timestamp", kNone, false, "string", "f string"},
      {"$integer $date", kReal, true, "string", "f string"},
      {"$text", kNone, false, "string", "f string"},
      {"", kTime, false, "string", "f string"},
      {"$Numeric $integer", kNone, false, "string", "f string"},
  };
  for (const Row& row : rows) {
    Tags tags;
    std::istringstream words(row.tags);
    for (std::string tag; words >> tag;) {
      tags.insert(tag);
    }
    const QvdFieldMetadata field = Field("f", tags, row.numberType);
    SCOPED_TRACE(std::string(row.tags) + " / " +
                 std::to_string(row.numberType ? static_cast<int>(*row.numberType) : -1) +
                 (row.realAsDecimal ? " / real-as-decimal" : ""));
    EXPECT_STREQ(ReportText(InferFieldType(field, row.realAsDecimal)), row.reportText);
    InspectedLayoutOptions options;
    options.realAsDecimal = row.realAsDecimal;
    EXPECT_EQ(Rendered({field}, options), row.layout);
  }
}

TEST(InferredLayout, RealAsDecimalPrecisionIsCappedAndScaleKeptWithinIt) {
  struct Row {
    uint64_t precision;
    uint64_t scale;
    const char* layout;
  } rows[] = {
      {50, 60, "r decimal(38,38)"},
      {0, 4, "r decimal(1,1)"},
      {12, 2, "r decimal(12,2)"},
      {UINT64_MAX, 5, "r decimal(38,5)"},
      {(1ull << 32) + 7, (1ull << 32) + 3, "r decimal(38,38)"},
  };
  for (const Row& row : rows) {
    InspectedLayoutOptions options;
    options.realAsDecimal = true;
    options.decimalPrecision = row.precision;
    options.decimalScale = row.scale;
    EXPECT_EQ(Rendered({Field("r", {"$numeric"}, kReal)}, options), row.layout)
        << row.precision << "," << row.scale;
  }
}

TEST(InferredLayout, NullBiasOrNullTextMakesFieldsNullable) {
  const std::vector<QvdFieldMetadata> fields = {
      Field("a", {"$numeric", "$integer"}, kNone, qvd::kNullBias), Field("b", {"$text"}),
      Field("c", {"$numeric"}, kNone, -1)};
  InspectedLayoutOptions options;
  EXPECT_EQ(Rendered(fields, options), "a int nullable; b string; c double");
  options.nullText = "\\N";
  EXPECT_EQ(Rendered(fields, options),
            R"(a int null="\\N"; b string null="\\N"; c double null="\\N")");
  options.nullText = "";
  EXPECT_EQ(Rendered(fields, options), R"(a int null=""; b string null=""; c double null="")");
}

TEST(InferredLayout, NamesLoseSurroundingBlanksOnlyThenAreNormalized) {
  InspectedLayoutOptions options;
  EXPECT_EQ(Rendered({Field("  Id ", {}), Field(" Unit  Price", {}), Field("\tTab\x01 ", {}),
                      Field("Größe  ", {})},
                     options),
            R"(Id string; "Unit  Price" string; _Tab_ string; "Größe" string)");
}

TEST(InferredLayout, RecordSeparatorReplacesTheFieldSeparatorOfTheLastField) {
  struct Row {
    std::optional<char> field;
    std::optional<char> record;
    size_t count;
    const char* layout;
  } rows[] = {
      {',', '\n', 3, R"(a int separator=","; b int separator=","; c int separator="\n")"},
      {std::nullopt, '\n', 3, R"(a int; b int; c int separator="\n")"},
      {'|', std::nullopt, 3, R"(a int separator="|"; b int separator="|"; c int separator="|")"},
      {'\0', '\0', 3, "a int separator=none; b int separator=none; c int separator=none"},
      {'\t', '\0', 2, R"(a int separator="\t"; b int separator=none)"},
      {',', '\r', 1, R"(a int separator="\r")"},
      {',', '\n', 0, ""},
  };
  const std::vector<QvdFieldMetadata> all = {Field("a", {"$numeric", "$integer"}),
                                             Field("b", {"$numeric", "$integer"}),
                                             Field("c", {"$numeric", "$integer"})};
  for (const Row& row : rows) {
    InspectedLayoutOptions options;
    options.fieldSeparator = row.field;
    options.recordSeparator = row.record;
    EXPECT_EQ(Rendered({all.begin(), all.begin() + static_cast<long>(row.count)}, options),
              row.layout);
  }
}

TEST(InferredLayout, DateFormatsAndQuoteReachTheirFields) {
  const std::vector<QvdFieldMetadata> fields = {
      Field("d", {"$numeric", "$date"}), Field("ts", {"$numeric", "$timestamp"}),
      Field("t", {"$numeric"}, kTime), Field("iv", {"$numeric"}, kInterval), Field("s", {"$text"})};
  InspectedLayoutOptions options;
  options.dateFormat = "%d.%m.%Y";
  options.dateTimeFormat = "%Y-%m-%d %H:%M";
  options.quote = '\'';
  EXPECT_EQ(Rendered(fields, options, false),
            "d  date(\"%d.%m.%Y\")           quote=\"'\"\n"
            "ts datetime(\"%Y-%m-%d %H:%M\") quote=\"'\"\n"
            "t  datetime(\"%Y-%m-%d %H:%M\") quote=\"'\" time\n"
            "iv datetime(\"%Y-%m-%d %H:%M\") quote=\"'\" interval\n"
            "s  string                     quote=\"'\"\n");
  options.quote = '\0';
  options.dateFormat.reset();
  EXPECT_EQ(Rendered(fields, options),
            "d date; ts datetime(\"%Y-%m-%d %H:%M\"); t datetime(\"%Y-%m-%d %H:%M\") time; "
            "iv datetime(\"%Y-%m-%d %H:%M\") interval; s string");
}

}  // namespace
}  // namespace orv
