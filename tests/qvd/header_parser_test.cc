#include "qvd/header_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace orv {
namespace {

struct Parsed {
  bool built = false;
  QvdHeaderResult result;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
};

Parsed ParseText(const std::string& text) {
  Parsed parsed;
  std::optional<XmlDocument> document = XmlDocument::Parse(text);
  parsed.built = document.has_value();
  if (document) {
    parsed.result = ParseQvdHeader(document->get(), parsed.table, parsed.fields);
  }
  return parsed;
}

// `body` as the children of the header root.
Parsed ParseBody(const std::string& body) {
  return ParseText("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QvdTableHeader>" + body +
                   "</QvdTableHeader>");
}

// One field header with the given children.
Parsed ParseField(const std::string& children) {
  return ParseBody("<Fields><QvdFieldHeader>" + children + "</QvdFieldHeader></Fields>");
}

TEST(QvdHeader, TableNumbersReadLikeStrtoulAndKeepTheirText) {
  struct Case {
    const char* text;
    uint64_t value;
  } cases[] = {
      {"  12abc", 12},
      {"\t\n 7", 7},
      {"+5", 5},
      {"-1", UINT64_MAX},
      {"-3", UINT64_MAX - 2},
      {"18446744073709551615", UINT64_MAX},
      {"007", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed p = ParseBody(std::string("<RecordByteSize>") + c.text + "</RecordByteSize>");
    ASSERT_TRUE(p.result.ok());
    EXPECT_EQ(p.table.recordByteSize, c.value);
    EXPECT_EQ(p.table.properties.at("RecordByteSize"), c.text);
  }
}

TEST(QvdHeader, NumbersThatDoNotConvertNameTheConversionAndElement) {
  struct Case {
    const char* body;
    const char* conversion;
    const char* element;
  } cases[] = {
      {"<NoOfRecords>abc</NoOfRecords>", "stoul", "NoOfRecords"},
      {"<Offset>-</Offset>", "stoul", "Offset"},
      {"<Length>18446744073709551616</Length>", "stoul", "Length"},
      {"<RecordByteSize>99999999999999999999</RecordByteSize>", "stoul", "RecordByteSize"},
      {"<Fields><QvdFieldHeader><BitWidth>x1</BitWidth></QvdFieldHeader></Fields>", "stoul",
       "BitWidth"},
      {"<Fields><QvdFieldHeader><NoOfSymbols>18446744073709551616</NoOfSymbols>"
       "</QvdFieldHeader></Fields>",
       "stoul", "NoOfSymbols"},
      {"<Fields><QvdFieldHeader><Bias>3000000000</Bias></QvdFieldHeader></Fields>", "stoi",
       "Bias"},
      {"<Fields><QvdFieldHeader><Bias>-2147483649</Bias></QvdFieldHeader></Fields>", "stoi",
       "Bias"},
      {"<Fields><QvdFieldHeader><Bias>none</Bias></QvdFieldHeader></Fields>", "stoi", "Bias"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Parsed p = ParseBody(c.body);
    EXPECT_EQ(p.result.status, QvdHeaderStatus::kBadNumber);
    EXPECT_EQ(p.result.conversion, c.conversion);
    EXPECT_EQ(p.result.element, c.element);
  }
}

TEST(QvdHeader, BiasKeepsTheLowEightBitsOfASigned32BitValue) {
  struct Case {
    const char* text;
    int8_t bias;
  } cases[] = {
      {"-2", -2}, {"254", -2}, {"0", 0}, {" -2px", -2}, {"2147483647", -1}, {"-2147483648", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed p = ParseField(std::string("<Bias>") + c.text + "</Bias>");
    ASSERT_TRUE(p.result.ok());
    ASSERT_EQ(p.fields.size(), 1u);
    EXPECT_EQ(p.fields[0].bias, c.bias);
  }
}

TEST(QvdHeader, EmptyElementsGiveAnEmptyProperty) {
  Parsed p = ParseBody("<TableName></TableName><CreatorDoc/><NoOfRecords/>");
  ASSERT_TRUE(p.result.ok());
  EXPECT_EQ(p.table.properties, (std::map<std::string, std::string>{
                                    {"CreatorDoc", ""}, {"NoOfRecords", ""}, {"TableName", ""}}));
  EXPECT_EQ(p.table.noOfRecords, 0u);
}

TEST(QvdHeader, ElementWithElementChildIsKeptAsItsOwnXml) {
  Parsed p = ParseBody(
      "<Lineage>\n  <LineageInfo><Discriminator>a&amp;b</Discriminator>"
      "<Statement/></LineageInfo>\n</Lineage><TableName>t</TableName>");
  ASSERT_TRUE(p.result.ok());
  EXPECT_EQ(p.table.properties.at("Lineage"),
            "<Lineage>\n"
            "  <LineageInfo>\n"
            "    <Discriminator>a&amp;b</Discriminator>\n"
            "    <Statement/>\n"
            "  </LineageInfo>\n"
            "</Lineage>");
  EXPECT_EQ(p.table.properties.at("TableName"), "t");
}

TEST(QvdHeader, FieldsPropertyIsTheSerializedFieldList) {
  Parsed p = ParseField("<FieldName>A</FieldName><BitWidth>3</BitWidth>");
  ASSERT_TRUE(p.result.ok());
  EXPECT_EQ(p.table.properties.at("Fields"),
            "<Fields>\n"
            "  <QvdFieldHeader>\n"
            "    <FieldName>A</FieldName>\n"
            "    <BitWidth>3</BitWidth>\n"
            "  </QvdFieldHeader>\n"
            "</Fields>");
}

TEST(QvdHeader, NumberFormatTypeAndFmt) {
  struct Case {
    const char* format;
    std::optional<QvdNumberType> type;
    std::optional<std::string> fmt;
  } cases[] = {
      {"<Type>REAL</Type><Fmt>##0.00</Fmt>", QvdNumberType::Real, "##0.00"},
      {"<Type>DATE</Type><Fmt>YYYY-MM-DD</Fmt>", QvdNumberType::Date, "YYYY-MM-DD"},
      {"<Type>TIMESTAMP</Type>", QvdNumberType::Timestamp, std::nullopt},
      {"<Type>TIME</Type>", QvdNumberType::Time, std::nullopt},
      {"<Type>INTERVAL</Type>", QvdNumberType::Interval, std::nullopt},
      {"<Type>UNKNOWN</Type><Fmt></Fmt>", std::nullopt, std::nullopt},
      {"<Type>ASCII</Type>", std::nullopt, std::nullopt},
      {"<Type>0</Type><nDec>0</nDec><Fmt/>", std::nullopt, std::nullopt},
      {"<Type>date</Type>", std::nullopt, std::nullopt},
      {"<Type>TIME</Type><Type>ASCII</Type>", QvdNumberType::Time, std::nullopt},
      {"<Fmt>a</Fmt><Fmt>b</Fmt><Type/>", std::nullopt, "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    Parsed p = ParseField(std::string("<NumberFormat>") + c.format + "</NumberFormat>");
    ASSERT_TRUE(p.result.ok());
    ASSERT_EQ(p.fields.size(), 1u);
    EXPECT_EQ(p.fields[0].numberType, c.type);
    EXPECT_EQ(p.fields[0].numberFormat, c.fmt);
  }
}

TEST(QvdHeader, TagsAreUniqueAndByteWiseSorted) {
  Parsed p = ParseField(
      "<Tags><String>$text</String><String>b</String><Other>x</Other><String>B</String>"
      "<String>$text</String><String>$ascii</String></Tags>");
  ASSERT_TRUE(p.result.ok());
  ASSERT_EQ(p.fields.size(), 1u);
  EXPECT_EQ(std::vector<std::string>(p.fields[0].tags.begin(), p.fields[0].tags.end()),
            (std::vector<std::string>{"$ascii", "$text", "B", "b"}));
}

TEST(QvdHeader, FieldWithoutOptionalElementsKeepsInitialValues) {
  Parsed p = ParseField("<FieldName>Only</FieldName><Comment>c</Comment>");
  ASSERT_TRUE(p.result.ok());
  ASSERT_EQ(p.fields.size(), 1u);
  const QvdFieldMetadata& f = p.fields[0];
  EXPECT_EQ(f.fieldName, "Only");
  EXPECT_EQ(f.bias, 0);
  EXPECT_EQ(f.bitOffset + f.bitWidth + f.noOfSymbols + f.offset + f.length, 0u);
  EXPECT_FALSE(f.numberType.has_value());
  EXPECT_FALSE(f.numberFormat.has_value());
  EXPECT_TRUE(f.tags.empty());
}

TEST(QvdHeader, RepeatedElementKeepsFirstTextAndLastNumber) {
  Parsed p = ParseBody(
      "<TableName>first</TableName><NoOfRecords>3</NoOfRecords><TableName>second</TableName>"
      "<NoOfRecords>9</NoOfRecords>");
  ASSERT_TRUE(p.result.ok());
  EXPECT_EQ(p.table.properties.at("TableName"), "first");
  EXPECT_EQ(p.table.properties.at("NoOfRecords"), "3");
  EXPECT_EQ(p.table.noOfRecords, 9u);
}

TEST(QvdHeader, SecondFieldsElementAppendsFields) {
  Parsed p = ParseBody(
      "<Fields><QvdFieldHeader><FieldName>A</FieldName></QvdFieldHeader><Skip/></Fields>"
      "<Fields><QvdFieldHeader><FieldName>B</FieldName></QvdFieldHeader>"
      "<QvdFieldHeader><FieldName>C</FieldName></QvdFieldHeader></Fields>");
  ASSERT_TRUE(p.result.ok());
  ASSERT_EQ(p.fields.size(), 3u);
  EXPECT_EQ(p.fields[0].fieldName, "A");
  EXPECT_EQ(p.fields[1].fieldName, "B");
  EXPECT_EQ(p.fields[2].fieldName, "C");
  EXPECT_EQ(p.table.properties.at("Fields"),
            "<Fields>\n  <QvdFieldHeader>\n    <FieldName>A</FieldName>\n  </QvdFieldHeader>\n"
            "  <Skip/>\n</Fields>");
}

TEST(QvdHeader, OtherRootIsRejectedAndAddsNothing) {
  Parsed p = ParseText("<QvdTableHeaders><TableName>t</TableName></QvdTableHeaders>");
  ASSERT_TRUE(p.built);
  EXPECT_EQ(p.result.status, QvdHeaderStatus::kBadRoot);
  EXPECT_TRUE(p.table.properties.empty());

  Parsed empty = ParseText("<QvdTableHeader/>");
  EXPECT_TRUE(empty.result.ok());
  EXPECT_TRUE(empty.fields.empty());
}

struct ReadResult {
  std::optional<std::string> error;
  std::string headerText;
  uint64_t dataStart = 0;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
};

ReadResult Read(const std::string& bytes) {
  ReadResult r;
  MemoryInput input(bytes.data(), bytes.size());
  r.error = ReadQvdHeader(input, r.headerText, r.dataStart, r.table, r.fields);
  return r;
}

const std::string kSmallHeader =
    "<?xml version=\"1.0\"?>\n<QvdTableHeader><TableName>t</TableName></QvdTableHeader>";

TEST(ReadQvdHeader, DataStartsAfterTheNulThatEndsTheHeader) {
  const uint64_t closing = kSmallHeader.size() - 1;  // position of the last '>'
  ReadResult crlf = Read(kSmallHeader + std::string("\r\n\0\x01\x02", 5));
  ASSERT_EQ(crlf.error, std::nullopt);
  EXPECT_EQ(crlf.dataStart, closing + 4);  // '>' CR LF NUL, then the data
  EXPECT_EQ(crlf.headerText, kSmallHeader + "\r\n");
  EXPECT_EQ(crlf.table.properties.at("TableName"), "t");

  ReadResult bare = Read(kSmallHeader + std::string("\0\0", 2));
  ASSERT_EQ(bare.error, std::nullopt);
  EXPECT_EQ(bare.dataStart, closing + 2);
  EXPECT_EQ(bare.headerText, kSmallHeader);
}

TEST(ReadQvdHeader, FailureMessages) {
  struct Case {
    std::string bytes;
    const char* message;
  } cases[] = {
      {kSmallHeader, "Error reading QVD table header."},
      {"", "Error reading QVD table header."},
      {std::string("not xml\0", 8), "Error parsing QVD table header."},
      {std::string("\0", 1), "Error parsing QVD table header."},
      {std::string("<Other/>\0", 9), "Error parsing QVD table header."},
      {std::string("<QvdTableHeader><NoOfRecords>many</NoOfRecords></QvdTableHeader>\0", 65),
       "Error parsing QVD table header."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(Read(c.bytes).error, c.message);
  }
}

// The first 64 KiB of a file: every sample's header and its NUL lie within them.
std::string FilePrefix(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(65536, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// Fields of the first line of a .rows file: quoted, comma-separated, quotes doubled inside.
size_t FieldsInFirstRow(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::getline(in, line);
  size_t count = 1;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      ++count;
    }
  }
  return count;
}

TEST(QvdHeaderSamples, EveryReadableSampleParsesAndTilesItsSymbolArea) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ORV_SAMPLES_DIR)) {
    const std::filesystem::path& path = entry.path();
    if (path.extension() != ".qvd" || path.filename() == "sense-damaged.qvd") {
      continue;
    }
    SCOPED_TRACE(path.filename().string());
    ++files;
    const std::string bytes = FilePrefix(path);
    ReadResult r = Read(bytes);
    ASSERT_EQ(r.error, std::nullopt);
    EXPECT_EQ(r.dataStart, bytes.find('\0') + 1);
    EXPECT_TRUE(r.table.properties.contains("TableName"));
    EXPECT_TRUE(r.table.properties.at("Fields").starts_with("<Fields>\n  <QvdFieldHeader>"));
    ASSERT_FALSE(r.fields.empty());
    uint64_t symbolBytes = 0;
    uint64_t bits = 0;
    for (const QvdFieldMetadata& f : r.fields) {
      EXPECT_EQ(f.offset, symbolBytes) << f.fieldName;
      symbolBytes += f.length;
      bits += f.bitWidth;
    }
    EXPECT_EQ(r.table.offset, symbolBytes);
    EXPECT_EQ(r.table.length, r.table.recordByteSize * r.table.noOfRecords);
    EXPECT_LE(bits, r.table.recordByteSize * 8);
    if (path.filename().string().starts_with("lego-")) {
      std::filesystem::path rows = path;
      EXPECT_EQ(r.fields.size(), FieldsInFirstRow(rows.replace_extension(".rows")));
    }
  }
  EXPECT_EQ(files, 17);
}

TEST(QvdHeaderSamples, KnownFactsOfSelectedFiles) {
  ReadResult tab1 = Read(FilePrefix(ORV_SAMPLES_DIR "/qv11-tab1.qvd"));
  ASSERT_EQ(tab1.error, std::nullopt);
  ASSERT_EQ(tab1.fields.size(), 3u);
  EXPECT_EQ(tab1.table.noOfRecords, 5u);
  EXPECT_EQ(tab1.table.recordByteSize, 1u);
  EXPECT_EQ(tab1.table.properties.at("QvBuildNo"), "7314");
  EXPECT_EQ(tab1.table.properties.at("CreatorDoc"), "");
  EXPECT_EQ(tab1.fields[0].fieldName, "ID");
  EXPECT_EQ(tab1.fields[0].bias, -2);
  EXPECT_EQ(tab1.fields[1].fieldName, "NAME");
  EXPECT_EQ(tab1.fields[1].bitOffset, 3u);
  EXPECT_EQ(tab1.fields[1].bitWidth, 5u);
  EXPECT_EQ(tab1.fields[1].noOfSymbols, 5u);
  EXPECT_EQ(tab1.fields[2].bitWidth, 0u);
  EXPECT_FALSE(tab1.fields[2].numberType.has_value());  // Type "0"
  EXPECT_FALSE(tab1.fields[2].numberFormat.has_value());

  ReadResult small = Read(FilePrefix(ORV_SAMPLES_DIR "/sense-small.qvd"));
  ASSERT_EQ(small.error, std::nullopt);
  ASSERT_EQ(small.fields.size(), 6u);
  EXPECT_EQ(small.fields[2].fieldName, "BookingDate");
  EXPECT_EQ(small.fields[2].numberType, QvdNumberType::Date);
  EXPECT_EQ(small.fields[2].numberFormat, "DD.MM.YYYY");
  EXPECT_EQ(small.fields[2].tags,
            (std::set<std::string>{"$date", "$integer", "$numeric", "$timestamp"}));

  ReadResult empty = Read(FilePrefix(ORV_SAMPLES_DIR "/sense-empty_qvd.qvd"));
  ASSERT_EQ(empty.error, std::nullopt);
  EXPECT_EQ(empty.table.noOfRecords, 0u);
  EXPECT_EQ(empty.table.recordByteSize, 1u);
}

}  // namespace
}  // namespace orv
