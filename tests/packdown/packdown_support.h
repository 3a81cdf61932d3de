// Shared pieces of the packdown tests: a scratch directory, bytes from hexadecimal text, the QVD
// header as packdown writes it, and a runner that feeds bytes to packdown.
#pragma once

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/drawoff/run_program.h"

namespace orv::packdown_test {

using testing::ReadFileBytes;
using testing::RunProgram;
using testing::ShellQuote;
using testing::WriteFileBytes;

using testing::LittleEndian;
using testing::ScratchDir;
inline constexpr auto& Hex = testing::HexBytes;

// A NumberFormat block as packdown writes it: the type word, nDec, an empty Fmt unless given.
inline std::string NumberFormat(const std::string& type, int decimals = 0,
                                const std::string& format = "") {
  return "      <NumberFormat>\n        <Type>" + type + "</Type>\n        <nDec>" +
         std::to_string(decimals) + "</nDec>\n        <UseThou>0</UseThou>\n        <Fmt>" +
         format + "</Fmt>\n        <Dec></Dec>\n        <Thou></Thou>\n      </NumberFormat>\n";
}

// What a field's type writes after its name: its NumberFormat, then its tags.
inline const char kNumericTagLines[] =
    "      <Tags>\n        <String>$numeric</String>\n      </Tags>\n";
inline const std::string kIntTags =
    NumberFormat("INTEGER") +
    "      <Tags>\n        <String>$numeric</String>\n        <String>$integer</String>\n"
    "      </Tags>\n";
inline const std::string kRealTags = NumberFormat("REAL") + kNumericTagLines;
inline std::string FixTags(int scale) {
  return NumberFormat("FIX", scale) + kNumericTagLines;
}
inline const std::string kTextTags =
    NumberFormat("ASCII") + "      <Tags>\n        <String>$text</String>\n      </Tags>\n";

// One QvdFieldHeader element; `typeLines` are what the field's type writes after its name.
inline std::string FieldHeader(const std::string& name, const std::string& typeLines,
                               uint64_t bitOffset, uint64_t bitWidth, int bias, uint64_t symbols,
                               uint64_t offset, uint64_t length) {
  auto line = [](const char* tag, auto number) {
    return std::string("      <") + tag + ">" + std::to_string(number) + "</" + tag + ">\n";
  };
  return "    <QvdFieldHeader>\n      <FieldName>" + name + "</FieldName>\n" + typeLines +
         line("BitOffset", bitOffset) + line("BitWidth", bitWidth) + line("Bias", bias) +
         line("NoOfSymbols", symbols) + line("Offset", offset) + line("Length", length) +
         "      <Comment></Comment>\n    </QvdFieldHeader>\n";
}

// The whole header, from the XML declaration to the CR LF NUL after it.
inline std::string Header(const std::string& fields, uint64_t recordByteSize, uint64_t records,
                          uint64_t symbolBytes) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<QvdTableHeader>\n"
         "  <QvBuildNo>50500</QvBuildNo>\n  <CreatorDoc></CreatorDoc>\n"
         "  <CreateUtcTime></CreateUtcTime>\n  <SourceCreateUtcTime></SourceCreateUtcTime>\n"
         "  <SourceFileUtcTime></SourceFileUtcTime>\n  <SourceFileSize>-1</SourceFileSize>\n"
         "  <StaleUtcTime></StaleUtcTime>\n  <TableName></TableName>\n  <Fields>\n" +
         fields + "  </Fields>\n  <Compression></Compression>\n  <RecordByteSize>" +
         std::to_string(recordByteSize) + "</RecordByteSize>\n  <NoOfRecords>" +
         std::to_string(records) + "</NoOfRecords>\n  <Offset>" + std::to_string(symbolBytes) +
         "</Offset>\n  <Length>" + std::to_string(recordByteSize * records) +
         "</Length>\n  <Comment></Comment>\n  <Lineage></Lineage>\n</QvdTableHeader>\r\n" + '\0';
}

inline size_t FailLines(const std::string& err) {
  size_t count = 0;
  for (size_t at = err.find("|FAIL|"); at != std::string::npos; at = err.find("|FAIL|", at + 1)) {
    ++count;
  }
  return count;
}

// packdown with `arguments`, `input` on its standard input, the file on its standard output.
inline testing::ProgramResult Packdown(const ScratchDir& dir, const std::string& arguments,
                                       const std::string& input) {
  WriteFileBytes(dir / "input", input);
  return RunProgram("packdown", arguments, dir / "input");
}

}  // namespace orv::packdown_test
