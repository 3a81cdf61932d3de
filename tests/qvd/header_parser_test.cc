#include "qvd/header_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orv {
namespace {

using namespace std::string_literals;

struct Parsed {
  QvdHeaderResult result;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
};

Parsed ParseText(const std::string& text) {
  Parsed p;
  std::optional<XmlDocument> document = XmlDocument::Parse(text);
  EXPECT_TRUE(document.has_value()) << text;
  if (document) {
    p.result = ParseQvdHeader(document->get(), p.table, p.fields);
  }
  return p;
}

// `body` as the children of the header root.
Parsed ParseBody(const std::string& body) {
  return ParseText("<?xml version=\"1.0\"?>\n<QvdTableHeader>" + body + "</QvdTableHeader>");
}

// One field header with the given children; the field itself.
QvdFieldMetadata ParseField(const std::string& children) {
  Parsed p = ParseBody("<Fields><QvdFieldHeader>" + children + "</QvdFieldHeader></Fields>");
  EXPECT_TRUE(p.result.ok()) << children;
  return p.fields.size() == 1 ? p.fields[0] : QvdFieldMetadata{};
}

TEST(QvdHeader, TopLevelElementsBecomeNamedTexts) {
  Parsed p = ParseBody(
      "<TableName></TableName><CreatorDoc/><NoOfRecords>3</NoOfRecords>"
      "<Lineage>\n  <Info>a&amp;b</Info><Statement/></Lineage><TableName>second</TableName>"
      "<RecordByteSize>  12abc</RecordByteSize><NoOfRecords>9</NoOfRecords><Offset>+7</Offset>");
  ASSERT_TRUE(p.result.ok());
  EXPECT_EQ(p.table.properties,
            (std::map<std::string, std::string>{
                {"CreatorDoc", ""},
                {"Lineage", "<Lineage>\n  <Info>a&amp;b</Info>\n  <Statement/>\n</Lineage>"},
                {"NoOfRecords", "3"},
                {"Offset", "+7"},
                {"RecordByteSize", "  12abc"},
                {"TableName", ""}}));
  EXPECT_EQ(p.table.noOfRecords, 3u);  // the first one, as for the properties
  EXPECT_EQ(p.table.recordByteSize, 12u);
  EXPECT_EQ(p.table.offset, 7u);
  EXPECT_EQ(p.table.length, 0u);

  EXPECT_EQ(ParseBody("<TableName/><Length>\t\n+7</Length>").table.properties,
            (std::map<std::string, std::string>{{"Length", "\t\n+7"}, {"TableName", ""}}));
}

TEST(QvdHeader, NumbersThatDoNotConvertNameTheConversionAndElement) {
  struct Case {
    std::string body;
    const char* conversion;
    const char* element;
  } cases[] = {
      {"<NoOfRecords>abc</NoOfRecords>", "stoul", "NoOfRecords"},
      {"<Offset> -x</Offset>", "stoul", "Offset"},
      {"<Length>18446744073709551616</Length>", "stoul", "Length"},
      {"<Fields><QvdFieldHeader><BitWidth>x1</BitWidth></QvdFieldHeader></Fields>", "stoul",
       "BitWidth"},
      {"<Fields><QvdFieldHeader><Bias>3000000000</Bias></QvdFieldHeader></Fields>", "stoi", "Bias"},
      {"<Fields><QvdFieldHeader><Bias>-2147483649</Bias></QvdFieldHeader></Fields>", "stoi",
       "Bias"},
      {"<Fields><QvdFieldHeader><Bias>none</Bias></QvdFieldHeader></Fields>", "stoi", "Bias"},
      // Counts and sizes are never negative; a bias is a signed byte.
      {"<NoOfRecords>-5</NoOfRecords>", "stoul", "NoOfRecords"},
      {"<Fields><QvdFieldHeader><Length>-1</Length></QvdFieldHeader></Fields>", "stoul", "Length"},
      {"<Fields><QvdFieldHeader><Bias>254</Bias></QvdFieldHeader></Fields>", "stoi", "Bias"},
      {"<Fields><QvdFieldHeader><Bias>256</Bias></QvdFieldHeader></Fields>", "stoi", "Bias"},
      {"<Fields><QvdFieldHeader><Bias>-129</Bias></QvdFieldHeader></Fields>", "stoi", "Bias"},
  };
  for (const Case& c : cases) {
    Parsed p = ParseBody(c.body);
    EXPECT_EQ(p.result.status, QvdHeaderStatus::kBadNumber) << c.body;
    EXPECT_EQ(p.result.conversion, c.conversion) << c.body;
    EXPECT_EQ(p.result.element, c.element) << c.body;
  }
  EXPECT_EQ(ParseBody("<RecordByteSize>18446744073709551615</RecordByteSize>").table.recordByteSize,
            UINT64_MAX);
}

TEST(QvdHeader, BiasIsASignedByte) {
  std::pair<const char*, int8_t> cases[] = {
      {"-2", -2}, {"0", 0}, {" -2px", -2}, {"127", 127}, {"-128", -128}};
  for (const auto& [text, bias] : cases) {
    EXPECT_EQ(ParseField("<Bias>"s + text + "</Bias>").bias, bias) << text;
  }
}

TEST(QvdHeader, TheFirstOfARepeatedFieldElementCounts) {
  QvdFieldMetadata f = ParseField(
      "<FieldName>A</FieldName><BitWidth>3</BitWidth><FieldName>B</FieldName>"
      "<BitWidth>x</BitWidth><Bias>-2</Bias><Bias>0</Bias>");
  EXPECT_EQ(f.fieldName, "A");
  EXPECT_EQ(f.bitWidth, 3u);
  EXPECT_EQ(f.bias, -2);
}

TEST(QvdHeader, NumberFormatTypeAndFmt) {
  struct Case {
    const char* format;
    std::optional<QvdNumberType> type;
    std::optional<std::string> fmt;
  } cases[] = {
      {"<Type>REAL</Type><Fmt>##0.00</Fmt>", QvdNumberType::Real, "##0.00"},
      {"<Type>DATE</Type><nDec>0</nDec>", QvdNumberType::Date, std::nullopt},
      {"<Type>TIMESTAMP</Type>", QvdNumberType::Timestamp, std::nullopt},
      {"<Type>TIME</Type>", QvdNumberType::Time, std::nullopt},
      {"<Type>INTERVAL</Type>", QvdNumberType::Interval, std::nullopt},
      {"<Type>UNKNOWN</Type><Fmt></Fmt>", std::nullopt, std::nullopt},
      {"<Type>ASCII</Type><Fmt/>", std::nullopt, std::nullopt},
      {"<Type>TIME</Type><Type>ASCII</Type>", QvdNumberType::Time, std::nullopt},
      {"<Fmt>a</Fmt><Fmt>b</Fmt><Type/>", std::nullopt, "a"},
  };
  for (const Case& c : cases) {
    QvdFieldMetadata f = ParseField("<NumberFormat>"s + c.format + "</NumberFormat>");
    EXPECT_EQ(f.numberType, c.type) << c.format;
    EXPECT_EQ(f.numberFormat, c.fmt) << c.format;
  }
}

TEST(QvdHeader, FieldTagsAreUniqueAndByteWiseSortedAndOtherMembersKeepDefaults) {
  QvdFieldMetadata f = ParseField(
      "<FieldName>F</FieldName><Comment>c</Comment><Tags><String>$text</String><String>b</String>"
      "<Other>x</Other><String>B</String><String>$text</String><String>$ascii</String></Tags>");
  EXPECT_EQ(f.fieldName, "F");
  EXPECT_EQ(f.tags, (std::set<std::string>{"$ascii", "$text", "B", "b"}));
  EXPECT_EQ(f.bias, 0);
  EXPECT_EQ(f.bitOffset + f.bitWidth + f.noOfSymbols + f.length, 0u);
  EXPECT_FALSE(f.offset.has_value());
  EXPECT_FALSE(f.numberType.has_value());
  EXPECT_FALSE(f.numberFormat.has_value());
}

TEST(QvdHeader, SecondFieldsElementAppendsFieldsButKeepsTheFirstXml) {
  Parsed p = ParseBody(
      "<Fields><QvdFieldHeader><FieldName>A</FieldName><BitWidth>3</BitWidth></QvdFieldHeader>"
      "<Skip/></Fields><Fields><QvdFieldHeader><FieldName>B</FieldName></QvdFieldHeader>"
      "<QvdFieldHeader><FieldName>C</FieldName></QvdFieldHeader></Fields>");
  ASSERT_TRUE(p.result.ok());
  ASSERT_EQ(p.fields.size(), 3u);
  EXPECT_EQ(p.fields[0].fieldName + p.fields[1].fieldName + p.fields[2].fieldName, "ABC");
  EXPECT_EQ(p.table.properties.at("Fields"),
            "<Fields>\n  <QvdFieldHeader>\n    <FieldName>A</FieldName>\n"
            "    <BitWidth>3</BitWidth>\n  </QvdFieldHeader>\n  <Skip/>\n</Fields>");
}

TEST(QvdHeader, OtherRootIsRejectedAndAddsNothing) {
  Parsed p = ParseText("<QvdTableHeaders><TableName>t</TableName></QvdTableHeaders>");
  EXPECT_EQ(p.result.status, QvdHeaderStatus::kBadRoot);
  EXPECT_TRUE(p.table.properties.empty());
  EXPECT_TRUE(ParseText("<QvdTableHeader/>").result.ok());
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

TEST(ReadQvdHeader, DataStartsRightAfterTheNulThatEndsTheHeader) {
  const std::string header = "<QvdTableHeader><TableName>t</TableName></QvdTableHeader>";
  ReadResult crlf = Read(header + "\r\n\0\x01\0"s);
  ASSERT_EQ(crlf.error, std::nullopt);
  EXPECT_EQ(crlf.dataStart, header.size() + 3);  // '>' CR LF NUL, then the data
  EXPECT_EQ(crlf.headerText, header + "\r\n");
  EXPECT_EQ(crlf.table.properties.at("TableName"), "t");

  ReadResult bare = Read(header + "\0\0"s);
  ASSERT_EQ(bare.error, std::nullopt);
  EXPECT_EQ(bare.dataStart, header.size() + 1);
  EXPECT_EQ(bare.headerText, header);
}

TEST(ReadQvdHeader, ReadingDataNeedsEveryElementTheRowsUse) {
  const std::string field =
      "<FieldName>a</FieldName><BitOffset>0</BitOffset><BitWidth>1</BitWidth>"
      "<NoOfSymbols>1</NoOfSymbols><Length>5</Length>";
  const std::string table = "<RecordByteSize>1</RecordByteSize><NoOfRecords>1</NoOfRecords>";
  auto header = [](const std::string& fieldChildren, const std::string& tableChildren) {
    return "<QvdTableHeader><Fields><QvdFieldHeader>" + fieldChildren +
           "</QvdFieldHeader></Fields>" + tableChildren + "</QvdTableHeader>\0"s;
  };
  auto readData = [](const std::string& bytes) {
    MemoryInput input(bytes.data(), bytes.size());
    ReadResult r;
    return ReadQvdHeader(input, r.headerText, r.dataStart, r.table, r.fields, HeaderUse::kReadData);
  };
  EXPECT_EQ(readData(header(field, table)), std::nullopt);
  std::vector<std::pair<std::string, std::string>> lacking;
  for (const char* element : {"FieldName", "BitOffset", "BitWidth", "NoOfSymbols", "Length"}) {
    const size_t start = field.find("<"s + element + ">");
    const size_t end = field.find("</"s + element + ">") + strlen(element) + 3;
    lacking.emplace_back(field.substr(0, start) + field.substr(end), table);
  }
  lacking.emplace_back(field, "<RecordByteSize>1</RecordByteSize>");
  lacking.emplace_back(field, "<NoOfRecords>1</NoOfRecords><RecordByteSize/>");
  for (const auto& [fieldChildren, tableChildren] : lacking) {
    SCOPED_TRACE(fieldChildren + tableChildren);
    const std::string bytes = header(fieldChildren, tableChildren);
    EXPECT_EQ(readData(bytes), "Error parsing QVD table header.");
    EXPECT_EQ(Read(bytes).error, std::nullopt);  // inspecting needs none of them
  }
}

TEST(ReadQvdHeader, FailureMessages) {
  std::pair<std::string, const char*> cases[] = {
      {"<QvdTableHeader/>\r\n", "Error reading QVD table header."},
      {"", "Error reading QVD table header."},
      {"not xml\0"s, "Error parsing QVD table header."},
      {"\0"s, "Error parsing QVD table header."},
      {"<Other/>\0"s, "Error parsing QVD table header."},
      {"<QvdTableHeader><NoOfRecords>many</NoOfRecords></QvdTableHeader>\0"s,
       "Error parsing QVD table header."},
      // A document type could declare entities that expand a small header to gigabytes.
      {"<!DOCTYPE QvdTableHeader [<!ENTITY a \"aaaa\">]><QvdTableHeader/>\0"s,
       "Error parsing QVD table header."},
      {"<!DOCTYPE QvdTableHeader><QvdTableHeader/>\0"s, "Error parsing QVD table header."},
      {"\x1f\x8b\x08\0\0\0"s,
       "Input is gzip-compressed; decompress it first, e.g. with 'gzip -dc FILE.gz'."},
  };
  for (const auto& [bytes, message] : cases) {
    EXPECT_EQ(Read(bytes).error, message) << bytes;
  }
}

// The first 64 KiB of a sample, zero-padded: enough for its header.
std::string FileStart(const std::filesystem::path& path) {
  std::string bytes(65536, '\0');
  std::ifstream(path, std::ios::binary).read(bytes.data(), 65536);
  return bytes;
}

// Fields of the first record of a .rows file: quoted, comma-separated, quotes doubled inside.
size_t FieldsInFirstRow(std::filesystem::path path) {
  std::ifstream in(path.replace_extension(".rows"), std::ios::binary);
  std::string line;
  std::getline(in, line);
  size_t count = 1;
  bool quoted = false;
  for (char c : line) {
    quoted ^= c == '"';
    count += c == ',' && !quoted;
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
    const std::string bytes = FileStart(path);
    ReadResult r = Read(bytes);
    ASSERT_EQ(r.error, std::nullopt);
    EXPECT_EQ(r.dataStart, bytes.find('\0') + 1);
    EXPECT_TRUE(r.table.properties.at("Fields").starts_with("<Fields>\n  <QvdFieldHeader>"));
    uint64_t symbolBytes = 0;
    for (const QvdFieldMetadata& f : r.fields) {
      EXPECT_EQ(f.offset.value_or(UINT64_MAX), symbolBytes) << f.fieldName;
      symbolBytes += f.length;
    }
    EXPECT_EQ(r.table.offset, symbolBytes);
    EXPECT_EQ(r.table.length, r.table.recordByteSize * r.table.noOfRecords);
    if (path.filename().string().starts_with("lego-")) {
      EXPECT_EQ(r.fields.size(), FieldsInFirstRow(path));
    }
  }
  EXPECT_EQ(files, 17);
}

TEST(QvdHeaderSamples, KnownFactsOfSelectedFiles) {
  ReadResult tab1 = Read(FileStart(ORV_SAMPLES_DIR "/qv11-tab1.qvd"));
  ASSERT_EQ(tab1.fields.size(), 3u);
  EXPECT_EQ(tab1.table.noOfRecords, 5u);
  EXPECT_EQ(tab1.table.recordByteSize, 1u);
  EXPECT_EQ(tab1.table.properties.at("QvBuildNo"), "7314");
  EXPECT_EQ(tab1.fields[0].bias, -2);
  EXPECT_EQ(tab1.fields[1].bitOffset, 3u);
  EXPECT_EQ(tab1.fields[1].bitWidth, 5u);
  EXPECT_EQ(tab1.fields[2].bitWidth, 0u);
  EXPECT_FALSE(tab1.fields[2].numberType.has_value());  // Type "0", empty Fmt
  EXPECT_FALSE(tab1.fields[2].numberFormat.has_value());

  ReadResult small = Read(FileStart(ORV_SAMPLES_DIR "/sense-small.qvd"));
  ASSERT_EQ(small.fields.size(), 6u);
  EXPECT_EQ(small.fields[2].numberType, QvdNumberType::Date);
  EXPECT_EQ(small.fields[2].numberFormat, "DD.MM.YYYY");
  EXPECT_EQ(small.fields[2].tags,
            (std::set<std::string>{"$date", "$integer", "$numeric", "$timestamp"}));
}

}  // namespace
}  // namespace orv
