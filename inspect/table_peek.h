// The header inspector: reads a QVD file's XML header (everything before the first 0x00) and
// prints it, one fact of it, or a report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace orv {

enum class PeekRequest { kTag, kTableName, kNoOfRecords, kHelp };
enum class PeekOutput { kOrd, kJson, kXml };

struct TablePeekOptions {
  std::vector<PeekRequest> requests;
  std::string tagName;
  std::vector<PeekOutput> outputs;
  bool fields = false;
  bool inlineForm = false;
  bool allAsString = false;
  bool realAsDecimal = false;
  std::optional<uint64_t> decimalPrecision;
  std::optional<uint64_t> decimalScale;
  // A present '\0' means "none".
  std::optional<char> fieldSeparator;
  std::optional<char> recordSeparator;
  std::optional<char> quote;
  std::optional<std::string> nullText;
  std::optional<std::string> dateFormat;
  std::optional<std::string> dateTimeFormat;
  bool unbuffered = false;
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
};

// Reads the command line into `options`, logging each accepted option; kExitSuccess or
// kExitFailure (after a FAIL line).
int ParseTablePeekOptions(int argc, char** argv, TablePeekOptions& options);
// Checks the combination of options; the FAIL message of the first rule broken.
std::optional<std::string> ValidateTablePeekOptions(const TablePeekOptions& options);
// Runs a validated request; `in` and `out` stand for standard input and output.
int RunTablePeek(const TablePeekOptions& options, FILE* in, FILE* out);
// The whole program after Boot.
int TablePeekMain(int argc, char** argv);

extern const char kTablePeekHelp[];

}  // namespace orv
