// tablepeek: reads a QVD file's XML header (everything before the first 0x00) and prints it as
// stored, one fact of it, or a report (JSON, XML, data-definition text).
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/qvd_format.h"
#include "inspect/type_inference.h"
#include "programs/common/program.h"
#include "runtime/output.h"

namespace orv {

enum class PeekRequest { kTag, kTableName, kNoOfRecords, kHelp };
enum class PeekOutput { kOrd, kJson, kXml };

struct TablePeekOptions {
  std::vector<PeekRequest> requests;
  std::string tagName;
  std::vector<PeekOutput> outputs;
  bool fields = false;
  InspectedLayoutOptions layout;  // the settings of the 'ord' output
  bool unbuffered = false;
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
};

extern const char kTablePeekHelp[];

std::span<const ProgramOption<TablePeekOptions>> TablePeekOptionTable();
// The combination of options: the status of the first rule broken.
Status ValidateTablePeekOptions(const TablePeekOptions& options);

class TablePeek : public Program<TablePeekOptions> {
 public:
  // `in` and `out` stand for standard input and output.
  TablePeek(int argc, char** argv, FILE* in, FILE* out)
      : Program("tablepeek", argc, argv, TablePeekOptionTable(), kTablePeekHelp),
        in_(in),
        out_(out) {}

 protected:
  Status CheckOptions(const std::vector<std::string>& positionals) override;
  bool HelpAsked() const override;
  int RunSteps() override { return Finish(Peek()); }

 private:
  Status Peek();
  // The request's answer from the header read.
  Status WriteAnswer(const std::string& header, const QvdTableMetadata& table,
                     const std::vector<QvdFieldMetadata>& fields, BufferedFileOutput& output) const;

  FILE* in_;
  FILE* out_;
};

// The whole program: start-up, options, the run; returns the exit status.
int TablePeekMain(int argc, char** argv);

}  // namespace orv
