#include "programs/feedout/feed_out.h"

#include <memory>
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

using Options = RecordInputOptions;

constexpr ProgramOption<Options> kOptions[] = {
    {{"data-definition", 'd', ArgumentKind::kRequired},
     [](Options& o, const char* a) { return AddInlineFields(o.layout, a); },
     OptionLog::kQuiet},
    {{"text-input", 'x', ArgumentKind::kNone}, SetFlag<&Options::textInput>},
    {{"allow-missing-separator-at-eof", 0, ArgumentKind::kNone},
     [](Options& o, const char*) { return AllowMissingSeparator(o); }},
    {{"unbuffered", 0, ArgumentKind::kNone}, SetFlag<&Options::unbuffered>},
    {{"debug-file", 0, ArgumentKind::kRequired}, SetText<&Options::debugFile>},
};

class FeedOut : public Program<RecordInputOptions> {
 public:
  FeedOut(int argc, char** argv, FILE* in, FILE* out)
      : Program("feedout", argc, argv, kOptions), in_(in), out_(out) {}

 protected:
  Status CheckOptions(const std::vector<std::string>& positionals) override {
    ORV_RETURN_IF_ERROR(CompleteLayout(options_.layout, positionals));
    return PrepareRecordInput(options_, &TypeTraits::SupportsQvx);
  }

  int RunSteps() override;

 private:
  FILE* in_;
  FILE* out_;
};

int FeedOut::RunSteps() {
  ScopedTimeProfiler profiler("feedout");
  if (Status refused = RefuseInputAsOutput(in_, std::nullopt, out_); !refused.ok()) {
    return Finish(refused);
  }
  const TypeTraitsCollection& layout = options_.layout;
  std::unique_ptr<IFileInput> input =
      IFileInput::Create(in_, options_.unbuffered, !options_.debugFile.empty(), false);
  BufferedFileOutput output(out_, options_.unbuffered);
  WriteQvxTableHeader(output, layout);
  RecordReader reader(*input, options_);
  auto writeRecord = [&] {
    for (const auto& field : layout) {
      field->WriteQvx(output);
    }
    return !output.failed();  // the output is gone: stop reading, report below
  };
  int status = reader.Finish(
      reader.ReadAll([&](size_t i) { return reader.ReadField(layout[i]); }, writeRecord));
  if (!output.flush() && status == kExitSuccess) {
    status = Finish(Status::IoError("Error writing output."));
  }
  return status;
}

}  // namespace

int FeedOutMain(int argc, char** argv, FILE* in, FILE* out) {
  return FeedOut(argc, argv, in, out).Start();
}

}  // namespace orv
