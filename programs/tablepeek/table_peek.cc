#include "programs/tablepeek/table_peek.h"

#include "inspect/reports.h"
#include "programs/common/output_checks.h"
#include "qvd/header_parser.h"
#include "runtime/input.h"

namespace orv {

namespace {

// The text of a top-level header element and a newline.
Status WriteTag(const QvdTableMetadata& table, const std::string& name,
                BufferedFileOutput& output) {
  auto found = table.properties.find(name);
  if (found == table.properties.end()) {
    return Status::Invalid("Unrecorgnized tag: '" + name + "'.");
  }
  output.Write(found->second);
  output.WriteByte('\n');
  return Status::Ok();
}

}  // namespace

// The refusals come first, and the output is opened only once the answer is ready, so that a
// header that can't be read or a request that fails leaves an existing output file as it was.
Status TablePeek::Peek() {
  OwnedFile ownedInput;
  FILE* in = in_;
  ORV_RETURN_IF_ERROR(OpenInputFile(options_.inputPath, ownedInput, in));
  ORV_RETURN_IF_ERROR(RefuseInputAsOutput(in, options_.outputPath, out_));
  ORV_RETURN_IF_ERROR(RefuseQvdOverwrite(options_.outputPath));
  std::unique_ptr<IFileInput> input = IFileInput::Create(in, options_.unbuffered, false, false);
  std::string header;
  uint64_t dataStart = 0;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
  if (std::optional<std::string> error = ReadQvdHeader(*input, header, dataStart, table, fields)) {
    return Status::Damaged(*error);
  }
  std::string answer;
  {
    BufferedFileOutput sink(&answer);
    ORV_RETURN_IF_ERROR(WriteAnswer(header, table, fields, sink));
  }
  OwnedFile ownedOutput;
  FILE* out = out_;
  ORV_RETURN_IF_ERROR(OpenOutputFile(options_.outputPath, ownedOutput, out));
  BufferedFileOutput output(out, options_.unbuffered);
  output.Write(answer);
  return FlushOutput(output);
}

Status TablePeek::WriteAnswer(const std::string& header, const QvdTableMetadata& table,
                              const std::vector<QvdFieldMetadata>& fields,
                              BufferedFileOutput& output) const {
  const TablePeekOptions& o = options_;
  if (!o.requests.empty()) {
    switch (o.requests[0]) {
      case PeekRequest::kTableName:
        return WriteTag(table, "TableName", output);
      case PeekRequest::kNoOfRecords:
        return WriteTag(table, "NoOfRecords", output);
      case PeekRequest::kTag:
        return WriteTag(table, o.tagName, output);
      case PeekRequest::kHelp:
        return Status::Ok();
    }
  }
  if (!o.outputs.empty()) {
    const QvdTableMetadata* facts = o.fields ? nullptr : &table;
    switch (o.outputs[0]) {
      case PeekOutput::kJson:
        output.Write(JsonReport(facts, fields, o.layout.realAsDecimal));
        break;
      case PeekOutput::kXml:
        output.Write(XmlReport(facts, fields, o.layout.realAsDecimal));
        break;
      case PeekOutput::kOrd:
        output.Write(DataDefinitionReport(fields, o.layout));
        break;
    }
    return Status::Ok();
  }
  if (o.fields) {
    return WriteTag(table, "Fields", output);
  }
  output.Write(header);
  return Status::Ok();
}

int TablePeekMain(int argc, char** argv) {
  return TablePeek(argc, argv, stdin, stdout).Start();
}

}  // namespace orv
