// Layouts written by tablepeek --output=ord, read back by drawoff: every sample with its rows, and
// a small file whose field names need quoting.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/drawoff/run_program.h"

namespace orv {
namespace {

using namespace std::string_literals;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::ShellQuote;

std::string ScratchPath(const std::string& name) {
  return ::testing::TempDir() + "ord_roundtrip_" + std::to_string(getpid()) + "_" + name;
}

// tablepeek's ord output for `qvd`, written to `path` (the second positional argument).
void WriteLayout(const std::string& qvd, const std::string& options, const std::string& path) {
  auto result = RunProgram("tablepeek",
                           ShellQuote(qvd) + " " + ShellQuote(path) + " --output=ord " + options);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(result.out, "");
}

TEST(OrdRoundTrip, InferredAndAllAsStringLayoutsReadEverySample) {
  const std::string layoutPath = ScratchPath("sample.ord");
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ORV_SAMPLES_DIR)) {
    if (entry.path().extension() != ".rows") {
      continue;
    }
    ++files;
    const std::string qvd = std::filesystem::path(entry.path()).replace_extension(".qvd");
    const std::string rows = ReadFileBytes(entry.path());
    SCOPED_TRACE(qvd);
    // The inferred types, bound by name: every record is read.
    WriteLayout(qvd, "", layoutPath);
    auto fromFile = RunProgram(
        "drawoff", "--match-fields -y -i " + ShellQuote(qvd) + " " + ShellQuote(layoutPath));
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(std::count(fromFile.out.begin(), fromFile.out.end(), '\n'),
              std::count(rows.begin(), rows.end(), '\n'));
    auto inlineLayout = RunProgram("tablepeek", ShellQuote(qvd) + " --output=ord --inline");
    EXPECT_EQ(inlineLayout.status, 0) << inlineLayout.err;
    EXPECT_EQ(inlineLayout.out.find('\n'), std::string::npos);
    auto fromInline = RunProgram("drawoff", "--match-fields -y -i " + ShellQuote(qvd) + " -d " +
                                                ShellQuote(inlineLayout.out));
    EXPECT_EQ(fromInline.status, 0) << fromInline.err;
    EXPECT_TRUE(fromInline.out == fromFile.out);

    // Every field as a quoted string with the independent reader's null: the same bytes.
    WriteLayout(qvd, R"(--all-as-string -s , -r '\n' -q '"' -l '\N')", layoutPath);
    auto strings = RunProgram("drawoff", "-y -i " + ShellQuote(qvd) + " " + ShellQuote(layoutPath));
    EXPECT_EQ(strings.status, 0) << strings.err;
    EXPECT_TRUE(strings.out == rows);
  }
  EXPECT_EQ(files, 17u);
  unlink(layoutPath.c_str());
}

// Two fields of one symbol each, one record: a text field whose name holds blanks, double quotes
// and non-ASCII letters, and an integer field.
std::string QuotedNamesQvd() {
  const std::string header =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QvdTableHeader><TableName>t</TableName>"
      "<Fields><QvdFieldHeader><FieldName>Unit \"Price\" Größe</FieldName><BitOffset>0"
      "</BitOffset><BitWidth>1</BitWidth><Bias>0</Bias><NoOfSymbols>1</NoOfSymbols><Offset>0"
      "</Offset><Length>6</Length><Tags><String>$text</String></Tags></QvdFieldHeader>"
      "<QvdFieldHeader><FieldName>Stück Zahl</FieldName><BitOffset>1</BitOffset><BitWidth>1"
      "</BitWidth><Bias>0</Bias><NoOfSymbols>1</NoOfSymbols><Offset>6</Offset><Length>5"
      "</Length><Tags><String>$numeric</String><String>$integer</String></Tags>"
      "</QvdFieldHeader></Fields><RecordByteSize>1</RecordByteSize><NoOfRecords>1"
      "</NoOfRecords><Offset>11</Offset><Length>1</Length></QvdTableHeader>\r\n\0"s;
  return header + "\x04" + "9.50\0"s + "\x01\x07\0\0\0"s + "\0"s;
}

TEST(OrdRoundTrip, NamesWithBlanksQuotesAndNonAsciiBindByName) {
  const std::string qvd = ScratchPath("quoted.qvd");
  const std::string layoutPath = ScratchPath("quoted.ord");
  testing::WriteFileBytes(qvd, QuotedNamesQvd());

  WriteLayout(qvd, "", layoutPath);
  EXPECT_EQ(ReadFileBytes(layoutPath),
            "\"Unit \\\"Price\\\" Größe\" string\n"
            "\"Stück Zahl\"            int\n");
  auto byFile = RunProgram("drawoff", "-m -y -i " + ShellQuote(qvd) + " " + ShellQuote(layoutPath));
  EXPECT_EQ(byFile.status, 0) << byFile.err;
  EXPECT_EQ(byFile.out, "9.50,7\n");

  auto inlineLayout = RunProgram("tablepeek", ShellQuote(qvd) + " --output=ord --inline");
  EXPECT_EQ(inlineLayout.status, 0) << inlineLayout.err;
  EXPECT_EQ(inlineLayout.out, "\"Unit \\\"Price\\\" Größe\" string; \"Stück Zahl\" int");
  auto byInline =
      RunProgram("drawoff", "-m -y -i " + ShellQuote(qvd) + " -d " + ShellQuote(inlineLayout.out));
  EXPECT_EQ(byInline.status, 0) << byInline.err;
  EXPECT_EQ(byInline.out, "9.50,7\n");
  unlink(qvd.c_str());
  unlink(layoutPath.c_str());
}

}  // namespace
}  // namespace orv
