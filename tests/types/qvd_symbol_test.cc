// QVD symbols of every type: the bytes written, the kinds accepted on reading, and the field
// header lines, against literal bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "format/qvd_format.h"
#include "runtime/output.h"
#include "runtime/settings.h"
#include "types/date.h"
#include "types/date_time.h"
#include "types/decimal.h"
#include "types/floating_point.h"
#include "types/integral.h"
#include "types/string.h"
#include "types/type_traits_parser.h"

namespace orv {
namespace {

std::unique_ptr<TypeTraits> Field(const std::string& definition) {
  TypeTraitsCollection fields;
  EXPECT_EQ(TypeTraitsParser::ParseInlineFields(definition, fields), std::nullopt);
  fields.Prepare();
  return std::move(const_cast<std::unique_ptr<TypeTraits>&>(*fields.begin()));
}

// Runs `write` against a BufferedFileOutput and returns the bytes.
template <typename Write>
std::string Captured(Write write) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* file = open_memstream(&buffer, &size);
  {
    BufferedFileOutput output(file, false);
    write(output);
  }
  fclose(file);
  std::string bytes(buffer, size);
  free(buffer);
  return bytes;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) {
    bytes.push_back(static_cast<char>(v));
  }
  return bytes;
}

std::string DoubleSymbol(double v) {
  std::string bytes(1, 2);
  bytes.append(reinterpret_cast<const char*>(&v), 8);
  return bytes;
}

std::string TextSymbol(const std::string& text) {
  return std::string(1, 4) + text + '\0';
}

// Reads a text value into the field and returns its record bytes, then writes its QVD symbol.
std::string SymbolOf(TypeTraits& field, const std::string& text) {
  std::string token = text + "\n";
  MemoryInput input(token.data(), token.size());
  size_t size = 0;
  EXPECT_EQ(field.Parse(input, size, false), kStatusOk) << text;
  std::string symbol = Captured([&](BufferedFileOutput& out) {
    field.WriteQvdSymbol(out, field.value(), field.valueLength());
  });
  EXPECT_EQ(field.GetQvdSymbolSize(field.value(), field.valueLength()), symbol.size()) << text;
  return symbol;
}

TEST(QvdSymbolWrite, EveryTypeAndKind) {
  struct Row {
    const char* definition;
    const char* text;
    std::string symbol;
  } rows[] = {
      {"v int", "7", Bytes({1, 7, 0, 0, 0})},
      {"v int", "-2147483648", Bytes({1, 0, 0, 0, 0x80})},
      {"v double", "0.5", DoubleSymbol(0.5)},
      {"v double", "-0.0", DoubleSymbol(-0.0)},
      {"v decimal(10,2)", "12.5", DoubleSymbol(12.5)},
      {"v decimal(10,0)", "12", Bytes({1, 12, 0, 0, 0})},
      {"v decimal(10,0)", "3000000000", DoubleSymbol(3e9)},
      {"v decimal(15,3)", "-1.25", DoubleSymbol(-1.25)},
      {"v decimal(20,2)", "-0.5", TextSymbol("-0.50")},
      {"v decimal(20,0)", "3000000000", TextSymbol("3000000000")},
      {"v decimal(20,0)", "12", Bytes({1, 12, 0, 0, 0})},
      {"v decimal(38,4)", "0", TextSymbol("0.0000")},
      {"v date", "1899-12-30", Bytes({1, 0, 0, 0, 0})},
      {"v date", "1900-01-01", Bytes({1, 2, 0, 0, 0})},
      {"v date", "2000-01-01", Bytes({1, 0xAE, 0x8E, 0, 0})},
      {"v date", "1899-12-29", Bytes({1, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"v datetime", "1970-01-01 12:00:00", DoubleSymbol(25569.5)},
      {"v datetime time", "1970-01-01 12:00:00", DoubleSymbol(0.5)},
      {"v datetime interval", "1970-01-03 06:00:00", DoubleSymbol(2.25)},
      {"v datetime", "1899-12-29 18:00:00", DoubleSymbol(-1 + 0.75)},
      {"v string", "abc", TextSymbol("abc")},
      {"v string", "", Bytes({4, 0})},
      {"v string(3)", "xy", TextSymbol("xy ")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.definition) + " " + row.text);
    auto field = Field(row.definition);
    EXPECT_EQ(SymbolOf(*field, row.text), row.symbol);
  }
}

TEST(QvdSymbolWrite, DecimalDotAndNoGroupingWhateverTheTextSettings) {
  char savedDecimal = g_TypeTraitsOptions.decimalSeparator;
  char savedGrouping = g_TypeTraitsOptions.groupingSeparator;
  g_TypeTraitsOptions.decimalSeparator = ',';
  g_TypeTraitsOptions.groupingSeparator = '.';
  auto field = Field("v decimal(20,2)");
  EXPECT_EQ(SymbolOf(*field, "1.234,5"), TextSymbol("1234.50"));
  g_TypeTraitsOptions.decimalSeparator = savedDecimal;
  g_TypeTraitsOptions.groupingSeparator = savedGrouping;
}

struct ReadRow {
  const char* definition;
  std::optional<QvdNumberType> numberType;
  std::string symbol;
  std::optional<std::string> printed;  // empty: the symbol is refused
};

TEST(QvdSymbolRead, AcceptedKindsAndConversions) {
  const ReadRow rows[] = {
      {"v int", {}, Bytes({5, 7, 0, 0, 0, '7', 0}), "7"},
      {"v int", {}, Bytes({1, 0xFF, 0xFF, 0xFF, 0xFF}), "-1"},
      {"v int", {}, DoubleSymbol(7), std::nullopt},
      {"v int", {}, TextSymbol("7"), std::nullopt},
      {"v double", {}, Bytes({1, 3, 0, 0, 0}), "3"},
      {"v double", {}, DoubleSymbol(0.1), "0.10000000000000001"},
      {"v double", {}, TextSymbol("  2.5abc"), "2.5"},
      {"v double", {}, TextSymbol("abc"), std::nullopt},
      {"v double", {}, TextSymbol("1e999"), std::nullopt},
      {"v decimal(10,2)", {}, DoubleSymbol(0.29), "0.29"},
      {"v decimal(10,2)", {}, DoubleSymbol(2177.18), "2177.18"},
      {"v decimal(10,2)", {}, DoubleSymbol(-1.239), "-1.23"},
      {"v decimal(10,2)", {}, DoubleSymbol(1e-300), "0.00"},
      {"v decimal(38,0)", {}, DoubleSymbol(1e300), std::nullopt},
      {"v decimal(10,2)", {}, TextSymbol("0.29"), "0.29"},
      {"v decimal(10,2)", {}, Bytes({5, 3, 0, 0, 0, '3', 0}), "3.00"},
      {"v decimal(10,2)", {}, TextSymbol("1,234.5"), std::nullopt},
      {"v decimal(38,38)", {}, Bytes({1, 2, 0, 0, 0}), std::nullopt},
      {"v decimal(38,0)", {}, DoubleSymbol(1e40), std::nullopt},
      {"v decimal(10,2)", {}, DoubleSymbol(NAN), std::nullopt},
      {"v decimal(10,2)", {}, DoubleSymbol(INFINITY), std::nullopt},
      {"v date", {}, Bytes({1, 0xAE, 0x8E, 0, 0}), "2000-01-01"},
      {"v date", {}, DoubleSymbol(36526.0), "2000-01-01"},  // a whole day number as a double
      {"v date", {}, DoubleSymbol(36526.5), std::nullopt},  // a fraction is no date
      {"v date", {}, DoubleSymbol(1e300), std::nullopt},
      {"v date", {}, TextSymbol("2000-01-01"), std::nullopt},
      {"v date", {}, Bytes({1, 0xFF, 0xFF, 0xFF, 0x7F}), std::nullopt},
      {"v datetime", {}, DoubleSymbol(25569.75), "1970-01-01 18:00:00"},
      {"v datetime", QvdNumberType::Timestamp, DoubleSymbol(25569.75), "1970-01-01 18:00:00"},
      {"v datetime", QvdNumberType::Time, DoubleSymbol(25569.75), "2040-01-03 18:00:00"},
      {"v datetime", {}, Bytes({1, 2, 0, 0, 0}), "1900-01-01 00:00:00"},
      {"v datetime", {}, DoubleSymbol(1.0 - 1e-9), "1899-12-31 00:00:00"},
      {"v datetime", {}, DoubleSymbol(NAN), std::nullopt},
      {"v datetime", {}, DoubleSymbol(-INFINITY), std::nullopt},
      {"v datetime", {}, TextSymbol("1970-01-01"), std::nullopt},
      {"v string", {}, Bytes({1, 0xFB, 0xFF, 0xFF, 0xFF}), "-5"},
      {"v string", {}, DoubleSymbol(0.1), "0.10000000000000001"},
      {"v string", {}, Bytes({5, 1, 0, 0, 0, 'o', 'n', 'e', 0}), "one"},
      {"v string", {}, Bytes({6}) + DoubleSymbol(1.5).substr(1) + "1.50" + '\0', "1.50"},
      {"v string", {}, Bytes({4, 'n', 'o', 'e', 'n', 'd'}), std::nullopt},
      {"v string(3)", {}, TextSymbol("ab"), "ab "},
      {"v string(3)", {}, TextSymbol("abcd"), std::nullopt},
  };
  for (const ReadRow& row : rows) {
    SCOPED_TRACE(std::string(row.definition) + " " + std::to_string(row.symbol[0]));
    auto field = Field(row.definition);
    QvdFieldMetadata metadata;
    metadata.numberType = row.numberType;
    size_t size = 0;
    bool ok = field->ReadQvdSymbol(row.symbol.data(), row.symbol.size(), metadata, size);
    ASSERT_EQ(ok, row.printed.has_value());
    if (ok) {
      EXPECT_EQ(Captured([&](BufferedFileOutput& out) { field->Print(out); }), *row.printed + "\n");
      EXPECT_EQ(size, field->ValueWidth() != 0 ? field->ValueWidth() : row.printed->size());
    }
  }
}

// CSV text of a string field reads a DATE field's day numbers and a TIMESTAMP field's days as ISO
// dates and times, from year 0 to 9999; any other number keeps its own text.
TEST(QvdSymbolRead, CsvStringsReadCalendarNumbersAsIsoText) {
  constexpr QvdNumberType kDate = QvdNumberType::Date;
  constexpr QvdNumberType kStamp = QvdNumberType::Timestamp;
  const struct {
    QvdNumberType type;
    std::string symbol;
    const char* printed;
  } rows[] = {
      {kDate, Bytes({1, 174, 142, 0, 0}), "2000-01-01"},
      {kDate, Bytes({1, 57, 105, 245, 255}), "0000-01-01"},
      {kDate, Bytes({1, 129, 36, 45, 0}), "9999-12-31"},
      {kDate, Bytes({1, 130, 36, 45, 0}), "2958466"},
      {kStamp, DoubleSymbol(25569.75), "1970-01-01 18:00:00"},
      {kStamp, DoubleSymbol(36526 + 86399 / 86400.0), "2000-01-01 23:59:59"},
      {kStamp, DoubleSymbol(-693959), "0000-01-01 00:00:00"},
      {kStamp, DoubleSymbol(1.5), "1899-12-31 12:00:00"},
      {kStamp, Bytes({1, 174, 142, 0, 0}), "2000-01-01 00:00:00"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.printed);
    auto field = Field("v string");
    field->SetCsvText(',');
    QvdFieldMetadata metadata;
    metadata.numberType = row.type;
    size_t size = 0;
    ASSERT_TRUE(field->ReadQvdSymbol(row.symbol.data(), row.symbol.size(), metadata, size));
    EXPECT_EQ(Captured([&](BufferedFileOutput& out) { field->Print(out); }),
              std::string(row.printed) + "\n");
  }
}

TEST(QvdSymbolRead, UnknownKindBytesAreRefusedByEveryType) {
  for (const char* definition :
       {"v int", "v double", "v decimal(10,2)", "v date", "v datetime", "v string"}) {
    auto field = Field(definition);
    for (int kind : {0, 3, 7, 255}) {
      std::string symbol = Bytes({kind, 1, 0, 0, 0, 0, 0, 0, 0, 0});
      size_t size = 0;
      EXPECT_FALSE(field->ReadQvdSymbol(symbol.data(), symbol.size(), QvdFieldMetadata{}, size))
          << definition << " kind " << kind;
    }
  }
}

TEST(QvdFieldHeader, LinesOfEveryType) {
  const std::pair<const char*, std::string> rows[] = {
      {"\"a<b&c\" int",
       "      <FieldName>a&lt;b&amp;c</FieldName>\n"
       "      <NumberFormat>\n        <Type>INTEGER</Type>\n        <nDec>0</nDec>\n"
       "        <UseThou>0</UseThou>\n        <Fmt></Fmt>\n        <Dec></Dec>\n        "
       "<Thou></Thou>\n"
       "      </NumberFormat>\n"
       "      <Tags>\n        "
       "<String>$numeric</String>\n"
       "        <String>$integer</String>\n      </Tags>\n"},
      {"v double",
       "      <FieldName>v</FieldName>\n"
       "      <NumberFormat>\n        <Type>REAL</Type>\n        <nDec>0</nDec>\n"
       "        <UseThou>0</UseThou>\n        <Fmt></Fmt>\n        <Dec></Dec>\n        "
       "<Thou></Thou>\n"
       "      </NumberFormat>\n"
       "      <Tags>\n        <String>$numeric</String>\n"
       "      </Tags>\n"},
      {"v decimal(12,2)",
       "      <FieldName>v</FieldName>\n"
       "      <NumberFormat>\n        <Type>FIX</Type>\n        <nDec>2</nDec>\n"
       "        <UseThou>0</UseThou>\n        <Fmt></Fmt>\n        <Dec></Dec>\n        "
       "<Thou></Thou>\n"
       "      </NumberFormat>\n"
       "      <Tags>\n        <String>$numeric</String>\n"
       "      </Tags>\n"},
      {"v string(4)",
       "      <FieldName>v</FieldName>\n"
       "      <NumberFormat>\n        <Type>ASCII</Type>\n        <nDec>0</nDec>\n"
       "        <UseThou>0</UseThou>\n        <Fmt></Fmt>\n        <Dec></Dec>\n        "
       "<Thou></Thou>\n"
       "      </NumberFormat>\n"
       "      <Tags>\n        <String>$text</String>\n"
       "      </Tags>\n"},
      {"v date qvd-format=\"D<M\"",
       "      <FieldName>v</FieldName>\n      <NumberFormat>\n        <Type>DATE</Type>\n"
       "        <nDec>0</nDec>\n        <UseThou>0</UseThou>\n        <Fmt>D&lt;M</Fmt>\n"
       "        <Dec></Dec>\n        <Thou></Thou>\n      </NumberFormat>\n      <Tags>\n"
       "        <String>$numeric</String>\n        <String>$integer</String>\n"
       "        <String>$timestamp</String>\n        <String>$date</String>\n      </Tags>\n"},
      {"v datetime time",
       "      <FieldName>v</FieldName>\n      <NumberFormat>\n        <Type>TIME</Type>\n"
       "        <nDec>0</nDec>\n        <UseThou>0</UseThou>\n        <Fmt>hh:mm:ss</Fmt>\n"
       "        <Dec></Dec>\n        <Thou></Thou>\n      </NumberFormat>\n      <Tags>\n"
       "        <String>$numeric</String>\n      </Tags>\n"},
      {"v datetime",
       "      <FieldName>v</FieldName>\n      <NumberFormat>\n        <Type>TIMESTAMP</Type>\n"
       "        <nDec>0</nDec>\n        <UseThou>0</UseThou>\n"
       "        <Fmt>YYYY-MM-DD hh:mm:ss</Fmt>\n        <Dec></Dec>\n        <Thou></Thou>\n"
       "      </NumberFormat>\n      <Tags>\n        <String>$numeric</String>\n"
       "        <String>$timestamp</String>\n      </Tags>\n"},
  };
  for (const auto& [definition, lines] : rows) {
    auto field = Field(definition);
    EXPECT_EQ(Captured([&](BufferedFileOutput& out) { field->WriteQvdHeader(out); }), lines)
        << definition;
  }
}

TEST(ReadFromInteger, IntKeepsLowBitsDoubleRounds) {
  auto integer = Field("v int");
  const void* data = nullptr;
  size_t size = 0;
  ASSERT_TRUE(integer->ReadFromInteger(static_cast<__int128>(0x1'0000'0005LL), data, size));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(*static_cast<const int*>(data), 5);
  auto real = Field("v double");
  ASSERT_TRUE(real->ReadFromInteger(static_cast<unsigned __int128>(1) << 100, data, size));
  EXPECT_EQ(*static_cast<const double*>(data), std::ldexp(1.0, 100));
  EXPECT_FALSE(Field("v date")->ReadFromInteger(static_cast<__int128>(1), data, size));
}

}  // namespace
}  // namespace orv
