// The JSON and XML reports of tablepeek: exact bytes from parsed headers and through the program.
#include "inspect/reports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "qvd/header_parser.h"
#include "tests/drawoff/run_program.h"

namespace orv {
namespace {

using namespace std::string_literals;

struct Parsed {
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
};

// `fields` are the children of the Fields element; `extra` more children of QvdTableHeader.
std::string Header(const std::string& fields, const std::string& extra) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QvdTableHeader>" + extra + "<Fields>" +
         fields + "</Fields></QvdTableHeader>";
}

Parsed Parse(const std::string& header) {
  Parsed parsed;
  std::optional<XmlDocument> document = XmlDocument::Parse(header);
  EXPECT_TRUE(document.has_value()) << header;
  if (document) {
    EXPECT_TRUE(ParseQvdHeader(document->get(), parsed.table, parsed.fields).ok()) << header;
  }
  return parsed;
}

const std::string kSalesHeader = Header(
    "<QvdFieldHeader><FieldName>Id</FieldName><Tags><String>$integer</String>"
    "<String>$numeric</String></Tags></QvdFieldHeader>",
    "<TableName>Sales</TableName><NoOfRecords>1000</NoOfRecords>");

const std::string kSalesJson =
    "{\n  \"name\": \"Sales\",\n  \"records\": 1000,\n  \"fields\": [\n    {\n      \"name\": "
    "\"Id\",\n"
    "      \"type\": \"int32\",\n      \"tags\": [\n        \"$integer\",\n        \"$numeric\"\n"
    "      ]\n    }\n  ]\n}\n";
const std::string kSalesXml =
    "<?xml version=\"1.0\"?>\n<table>\n  <name>Sales</name>\n  <records>1000</records>\n"
    "  <fields>\n    <field>\n      <name>Id</name>\n      <type>int32</type>\n      <tags>\n"
    "        <tag>$integer</tag>\n        <tag>$numeric</tag>\n      </tags>\n    </field>\n"
    "  </fields>\n</table>\n";

TEST(Reports, SalesTableWithOneIntegerFieldDirectlyAndThroughTheProgram) {
  Parsed sales = Parse(kSalesHeader);
  EXPECT_EQ(JsonReport(&sales.table, sales.fields, false), kSalesJson);
  EXPECT_EQ(XmlReport(&sales.table, sales.fields, false), kSalesXml);

  // The program writes the reports unchanged: no line feed after the XML.
  const std::string path =
      ::testing::TempDir() + "reports_sales_" + std::to_string(getpid()) + ".qvd";
  testing::WriteFileBytes(path, kSalesHeader + "\r\n\0"s);
  auto json = testing::RunProgram("tablepeek", testing::ShellQuote(path) + " --output=json");
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, kSalesJson);
  auto xml = testing::RunProgram("tablepeek", "--output=xml", path);
  EXPECT_EQ(xml.status, 0) << xml.err;
  EXPECT_EQ(xml.out, kSalesXml);
  unlink(path.c_str());
}

TEST(Reports, TableFactsAppearOnlyWhenPresentAndNotFieldsOnly) {
  // A field without tags or format: only its name and type.
  const std::string jsonFields =
      "  \"fields\": [\n    {\n      \"name\": \"A\",\n      \"type\": \"string\"\n    }\n  ]\n}\n";
  const std::string xmlFields =
      "  <fields>\n    <field>\n      <name>A</name>\n      <type>string</type>\n    </field>\n"
      "  </fields>\n</table>\n";
  struct Row {
    std::string extra;
    bool fieldsOnly;
    std::string json;  // the lines before the fields
    std::string xml;
  } rows[] = {
      {"<NoOfRecords>7</NoOfRecords>", false, "  \"records\": 7,\n", "  <records>7</records>\n"},
      {"<TableName>T</TableName>", false, "  \"name\": \"T\",\n  \"records\": 0,\n",
       "  <name>T</name>\n  <records>0</records>\n"},
      {"<NoOfRecords>18446744073709551615</NoOfRecords><TableName>T</TableName>", false,
       "  \"name\": \"T\",\n  \"records\": 18446744073709551615,\n",
       "  <name>T</name>\n  <records>18446744073709551615</records>\n"},
      {"<TableName>T</TableName><NoOfRecords>7</NoOfRecords>", true, "", ""},
  };
  for (const Row& row : rows) {
    Parsed parsed =
        Parse(Header("<QvdFieldHeader><FieldName>A</FieldName></QvdFieldHeader>", row.extra));
    const QvdTableMetadata* table = row.fieldsOnly ? nullptr : &parsed.table;
    EXPECT_EQ(JsonReport(table, parsed.fields, false), "{\n" + row.json + jsonFields) << row.extra;
    EXPECT_EQ(XmlReport(table, parsed.fields, false),
              "<?xml version=\"1.0\"?>\n<table>\n" + row.xml + xmlFields)
        << row.extra;
  }
}

TEST(Reports, FormatAndTagsInAscendingByteOrder) {
  Parsed parsed = Parse(Header(
      "<QvdFieldHeader><FieldName>Amount</FieldName><NumberFormat><Type>REAL</Type>"
      "<Fmt>#,##0.00</Fmt></NumberFormat><Tags><String>$numeric</String><String>Zeta</String>"
      "<String>$integer</String><String>$Ascii</String></Tags></QvdFieldHeader>",
      "<TableName>T</TableName>"));
  EXPECT_EQ(
      JsonReport(nullptr, parsed.fields, false),
      "{\n  \"fields\": [\n    {\n      \"name\": \"Amount\",\n      \"type\": \"double\",\n"
      "      \"format\": \"#,##0.00\",\n      \"tags\": [\n        \"$Ascii\",\n"
      "        \"$integer\",\n        \"$numeric\",\n        \"Zeta\"\n      ]\n    }\n  ]\n}\n");
  EXPECT_EQ(XmlReport(nullptr, parsed.fields, true),
            "<?xml version=\"1.0\"?>\n<table>\n  <fields>\n    <field>\n      <name>Amount</name>\n"
            "      <type>decimal</type>\n      <format>#,##0.00</format>\n      <tags>\n"
            "        <tag>$Ascii</tag>\n        <tag>$integer</tag>\n        <tag>$numeric</tag>\n"
            "        <tag>Zeta</tag>\n      </tags>\n    </field>\n  </fields>\n</table>\n");
}

TEST(Reports, EmptyFieldList) {
  Parsed parsed = Parse(Header("", "<TableName>T</TableName><NoOfRecords>3</NoOfRecords>"));
  ASSERT_TRUE(parsed.fields.empty());
  EXPECT_EQ(JsonReport(&parsed.table, parsed.fields, false),
            "{\n  \"name\": \"T\",\n  \"records\": 3,\n  \"fields\": []\n}\n");
  EXPECT_EQ(JsonReport(nullptr, parsed.fields, false), "{\n  \"fields\": []\n}\n");
  EXPECT_EQ(XmlReport(&parsed.table, parsed.fields, false),
            "<?xml version=\"1.0\"?>\n<table>\n  <name>T</name>\n  <records>3</records>\n"
            "  <fields/>\n</table>\n");
  EXPECT_EQ(XmlReport(nullptr, parsed.fields, false),
            "<?xml version=\"1.0\"?>\n<table>\n  <fields/>\n</table>\n");
}

TEST(Reports, JsonEscapesQuoteBackslashAndControlBytesOnly) {
  QvdFieldMetadata field;
  field.fieldName = "q\"b\\s/\t\n\r\b\f\x01\x1f\x7f<&> Größe \xff";
  field.numberFormat = "\"#\"";
  EXPECT_EQ(JsonReport(nullptr, {field}, false),
            "{\n  \"fields\": [\n    {\n"
            "      \"name\": \"q\\\"b\\\\s/\\t\\n\\r\\b\\f\\u0001\\u001F\x7f<&> Größe \xff\",\n"
            "      \"type\": \"string\",\n      \"format\": \"\\\"#\\\"\"\n    }\n  ]\n}\n");
}

TEST(Reports, XmlWritesNamesAsEscapedText) {
  Parsed parsed = Parse(Header("", "<TableName>Sales &amp; &lt;Costs&gt;</TableName>"));
  ASSERT_EQ(parsed.table.properties["TableName"], "Sales & <Costs>");
  QvdFieldMetadata field;
  field.fieldName = "q\"b\\s'\t\r\n\x01<a&b> Größe";
  field.numberFormat = "'x'&#";
  EXPECT_EQ(XmlReport(&parsed.table, {field}, false),
            "<?xml version=\"1.0\"?>\n<table>\n  <name>Sales &amp; &lt;Costs&gt;</name>\n"
            "  <records>0</records>\n  <fields>\n    <field>\n"
            "      <name>q&quot;b\\s'\t&#13;\n\x01&lt;a&amp;b&gt; Größe</name>\n"
            "      <type>string</type>\n      <format>'x'&amp;#</format>\n    </field>\n"
            "  </fields>\n</table>\n");
}

}  // namespace
}  // namespace orv
