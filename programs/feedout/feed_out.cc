#include "programs/feedout/feed_out.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "programs/common/output_checks.h"
#include "programs/common/program.h"
#include "programs/common/record_reader.h"
#include "qvx/qvx_writer.h"
#include "runtime/output.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

struct FeedOutOptions {
  RecordInputOptions records;
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
};

using Options = FeedOutOptions;
using Records = RecordInputOptions;

// The usage that --help prints: every option, one line each (the frame adds --help, --version
// and the exit status).
const char kUsage[] =
    "Usage: feedout [OPTION]... [LAYOUT_FILE]\n"
    "Writes records of a layout, from the binary record stream or delimited text, to a QVX file.\n"
    "\n"
    "  -i, --input=PATH              the records (default or -: standard input)\n"
    "  -o, --output=PATH             the QVX file (default or -: standard output)\n"
    "  -d, --data-definition=TEXT    the layout inline, fields separated by ';'\n"
    "  -x, --text-input              delimited text instead of the binary record stream\n"
    "      --csv                     CSV (RFC 4180) with a header line instead\n"
    "      --no-header               (CSV) the first line is a record, not column names\n"
    "      --delimiter=C             (CSV) the byte between values (default ',')\n"
    "  -m, --match-fields            (CSV) bind columns to fields by header name\n"
    "      --allow-missing-separator-at-eof  (text) the last record may lack its line end\n"
    "      --debug-file=PATH         write the bytes of a record that can't be read there\n"
    "      --threads=N               worker threads (default: the cores this process may use)\n"
    "      --unbuffered              read and write without holding data back\n";

constexpr ProgramOption<Options> kOptions[] = {
    {{"input", 'i', ArgumentKind::kRequired}, SetPath<&Options::inputPath>},
    {{"output", 'o', ArgumentKind::kRequired}, SetPath<&Options::outputPath>},
    {{"data-definition", 'd', ArgumentKind::kRequired},
     [](Options& o, const char* a) { return AddInlineFields(o.records.layout, a); },
     OptionLog::kQuiet},
    {{"text-input", 'x', ArgumentKind::kNone}, SetFlag<&Options::records, &Records::textInput>},
    {{"csv", 0, ArgumentKind::kNone}, [](Options& o, const char*) { return SetCsv(o.records); }},
    {{"no-header", 0, ArgumentKind::kNone},
     [](Options& o, const char*) { return SetNoHeader(o.records); }},
    {{"delimiter", 0, ArgumentKind::kRequired},
     [](Options& o, const char* a) { return SetDelimiter(o.records, a); }},
    {{"match-fields", 'm', ArgumentKind::kNone},
     [](Options& o, const char*) { return SetMatchFields(o.records); }},
    {{"allow-missing-separator-at-eof", 0, ArgumentKind::kNone},
     [](Options& o, const char*) { return AllowMissingSeparator(o.records); }},
    {{"threads", 0, ArgumentKind::kRequired}, SetThreads<&Options::records, &Records::threads>},
    {{"unbuffered", 0, ArgumentKind::kNone}, SetFlag<&Options::records, &Records::unbuffered>},
    {{"debug-file", 0, ArgumentKind::kRequired}, SetText<&Options::records, &Records::debugFile>},
};

// A chunk of records parsed on a worker: its own layout, and the QVX bytes of the records.
struct QvxPart {
  QvxPart(const RecordInputOptions& records, BufferedFileOutput& out)
      : layout(CopyLayout(records.layout)), text(records.textInput), target(out) {}

  void Reset() { output.Discard(); }
  int ReadValue(size_t i, IFileInput& input) { return ReadFieldValue(layout[i], input, text); }
  void TakeRecord() {
    for (const auto& field : layout) {
      field->WriteQvx(output);
    }
  }
  bool Accepts() const { return true; }
  void Finish(uint64_t /*number*/, bool /*clean*/) {}
  bool Drain() {
    target.Write(output.buffered());
    return !target.failed();
  }

  TypeTraitsCollection layout;
  bool text;
  BufferedFileOutput output{BufferedFileOutput::InMemory{}};
  BufferedFileOutput& target;
};

class FeedOut : public Program<FeedOutOptions> {
 public:
  FeedOut(int argc, char** argv, FILE* in, FILE* out)
      : Program("feedout", argc, argv, kOptions, kUsage), in_(in), out_(out) {}

 protected:
  Status CheckOptions(const std::vector<std::string>& positionals) override {
    ORV_RETURN_IF_ERROR(CompleteLayout(options_.records.layout, positionals));
    return PrepareRecordInput(options_.records, &TypeTraits::SupportsQvx);
  }

  int RunSteps() override;

 private:
  int WriteRecords(FILE* in, FILE* out);

  FILE* in_;
  FILE* out_;
};

int FeedOut::RunSteps() {
  ScopedTimeProfiler profiler("feedout");
  OwnedFile ownedInput;
  OwnedFile ownedOutput;
  FILE* in = in_;
  FILE* out = out_;
  Status opened = OpenInputFile(options_.inputPath, ownedInput, in);
  if (opened.ok()) {
    opened = RefuseInputAsOutput(in, options_.outputPath, out_);
  }
  if (opened.ok()) {
    opened = OpenOutputFile(options_.outputPath, ownedOutput, out);
  }
  if (!opened.ok()) {
    return Finish(opened);
  }
  return WriteRecords(in, out);
}

int FeedOut::WriteRecords(FILE* in, FILE* out) {
  const RecordInputOptions& records = options_.records;
  const TypeTraitsCollection& layout = records.layout;
  std::unique_ptr<IFileInput> input =
      IFileInput::Create(in, records.unbuffered, !records.debugFile.empty(), records.csv);
  BufferedFileOutput output(out, records.unbuffered);
  WriteQvxTableHeader(output, layout);
  RecordReader reader(*input, records);
  auto writeRecord = [&] {
    for (const auto& field : layout) {
      field->WriteQvx(output);
    }
    return !output.failed();  // the output is gone: stop reading, report below
  };
  auto readValue = [&](size_t i) { return reader.ReadField(layout[i]); };
  auto makePart = [&] { return std::make_unique<QvxPart>(records, output); };
  int status = reader.Finish(reader.ReadAllChunked<QvxPart>(makePart, readValue, writeRecord));
  if (const Status flushed = FlushOutput(output); status == kExitSuccess) {
    status = Finish(flushed);
  }
  return status;
}

}  // namespace

int FeedOutMain(int argc, char** argv, FILE* in, FILE* out) {
  return FeedOut(argc, argv, in, out).Start();
}

}  // namespace orv
