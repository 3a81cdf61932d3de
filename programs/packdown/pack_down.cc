#include "programs/packdown/pack_down.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "programs/common/output_checks.h"
#include "programs/common/program.h"
#include "programs/common/record_reader.h"
#include "programs/common/replacing_output.h"
#include "programs/packdown/column_parts.h"
#include "programs/packdown/csv_layout.h"
#include "qvd/symbol_collector.h"
#include "qvd/writer.h"
#include "runtime/file_mapping.h"
#include "runtime/logger.h"
#include "runtime/output.h"
#include "runtime/settings.h"
#include "runtime/workers.h"
#include "types/flow_data_set.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

struct PackDownOptions {
  RecordInputOptions records;
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
  std::optional<std::string> nullText;
  std::string tableName;
  bool dosEol = false;
  bool macEol = false;
  bool skipBom = false;
};

using Options = PackDownOptions;

// -a and -b: text input whose records end in CR LF (mode 1) or CR (mode 2).
Status SetEndOfLine(Options& options, int mode) {
  options.records.textInput = true;
  (mode == 1 ? options.dosEol : options.macEol) = true;
  g_TypeTraitsOptions.endOfLineMode = mode;
  return Status::Ok();
}

// The usage that --help prints: every option, one line each (the frame adds --help, --version
// and the exit status).
const char kUsage[] =
    "Usage: packdown [OPTION]... [LAYOUT_FILE]\n"
    "Writes records of a layout, from the binary record stream or delimited text, to a QVD file.\n"
    "\n"
    "  -i, --input=PATH              the records (default or -: standard input)\n"
    "  -o, --output=PATH             the QVD file (default or -: standard output); replaced only\n"
    "                                once it is whole\n"
    "  -d, --data-definition=TEXT    the layout inline, fields separated by ';'\n"
    "  -x, --text-input              delimited text instead of the binary record stream\n"
    "  -a, --text-input-dos-eol      delimited text, records ending in CR LF\n"
    "  -b, --text-input-mac-eol      delimited text, records ending in CR\n"
    "      --csv                     CSV (RFC 4180) with a header line; without a layout, one is\n"
    "                                inferred from the values\n"
    "      --no-header               (CSV) the first line is a record, not column names\n"
    "      --delimiter=C             (CSV) the byte between values (default ',')\n"
    "  -m, --match-fields            (CSV) bind columns to fields by header name\n"
    "      --allow-missing-separator-at-eof  (text) the last record may lack its line end\n"
    "  -s, --skip-bom                skip a UTF-8 byte-order mark at the start\n"
    "  -n, --null-as-string[=TEXT]   store nulls as the text symbol TEXT (attach TEXT: -nNULL)\n"
    "      --table-name=NAME         the TableName in the QVD header (default empty)\n"
    "      --debug-file=PATH         write the bytes of a record that can't be read there\n"
    "      --threads=N               worker threads (default: the cores this process may use)\n"
    "      --unbuffered              read and write without holding data back\n"
    "  -e                            accepted and ignored\n";

constexpr ProgramOption<Options> kOptions[] = {
    {{"input", 'i', ArgumentKind::kRequired}, SetPath<&Options::inputPath>},
    {{"output", 'o', ArgumentKind::kRequired}, SetPath<&Options::outputPath>},
    {{"data-definition", 'd', ArgumentKind::kRequired},
     [](Options& o, const char* a) { return AddInlineFields(o.records.layout, a); },
     OptionLog::kQuiet},
    {{"text-input", 'x', ArgumentKind::kNone},
     SetFlag<&Options::records, &RecordInputOptions::textInput>},
    {{"text-input-dos-eol", 'a', ArgumentKind::kNone},
     [](Options& o, const char*) { return SetEndOfLine(o, 1); }},
    {{"text-input-mac-eol", 'b', ArgumentKind::kNone},
     [](Options& o, const char*) { return SetEndOfLine(o, 2); }},
    {{"csv", 0, ArgumentKind::kNone}, [](Options& o, const char*) { return SetCsv(o.records); }},
    {{"no-header", 0, ArgumentKind::kNone},
     [](Options& o, const char*) { return SetNoHeader(o.records); }},
    {{"delimiter", 0, ArgumentKind::kRequired},
     [](Options& o, const char* a) { return SetDelimiter(o.records, a); }},
    {{"match-fields", 'm', ArgumentKind::kNone},
     [](Options& o, const char*) { return SetMatchFields(o.records); }},
    {{"allow-missing-separator-at-eof", 0, ArgumentKind::kNone},
     [](Options& o, const char*) { return AllowMissingSeparator(o.records); }},
    {{"skip-bom", 's', ArgumentKind::kNone}, SetFlag<&Options::skipBom>},
    {{"null-as-string", 'n', ArgumentKind::kOptional}, SetText<&Options::nullText>},
    {{"threads", 0, ArgumentKind::kRequired},
     SetThreads<&Options::records, &RecordInputOptions::threads>},
    {{"unbuffered", 0, ArgumentKind::kNone},
     SetFlag<&Options::records, &RecordInputOptions::unbuffered>},
    {{"table-name", 0, ArgumentKind::kRequired}, SetText<&Options::tableName>},
    {{"debug-file", 0, ArgumentKind::kRequired},
     SetText<&Options::records, &RecordInputOptions::debugFile>},
    {{nullptr, 'e', ArgumentKind::kNone},  // accepted and ignored
     [](Options&, const char*) { return Status::Ok(); },
     OptionLog::kQuiet},
};

// A QVD text symbol ends at its first 0x00: such a value would corrupt the file.
Status ZeroByteRefusal(const TypeTraits& field, uint64_t record) {
  return Status::Unsupported("Field '" + field.GetFullName() +
                             "' holds a 0x00 byte, which a QVD text symbol can't store (record "
                             "no. " +
                             std::to_string(record) + ").");
}

class PackDown : public Program<PackDownOptions> {
 public:
  PackDown(int argc, char** argv) : Program("packdown", argc, argv, kOptions, kUsage) {}

 protected:
  Status CheckOptions(const std::vector<std::string>& positionals) override;
  int RunSteps() override;

 private:
  int ReadRecords();
  Status PrepareOutput(FILE* input);
  Status InferLayout(FILE* file, std::unique_ptr<IFileInput>& input, std::string& data);
  Status PrepareColumns();
  Status ReadColumns(RecordReader& reader);
  template <typename R>
  int CollectAndWrite();

  ColumnStores dataSets_;
  uint64_t records_ = 0;
  ReplacingOutput output_;
  bool inferLayout_ = false;  // --csv without a layout: made from the input
};

Status PackDown::CheckOptions(const std::vector<std::string>& positionals) {
  RecordInputOptions& records = options_.records;
  inferLayout_ = records.csv && records.layout.empty() && positionals.empty();
  if (!inferLayout_) {
    ORV_RETURN_IF_ERROR(CompleteLayout(records.layout, positionals));
  }
  if (options_.dosEol && options_.macEol) {
    return Status::Invalid("--text-input-dos-eol can't be used with --text-input-mac-eol option.");
  }
  if (inferLayout_) {
    ORV_RETURN_IF_ERROR(CheckCsvOptions(records));
    return records.csvHeader ? Status::Ok()
                             : Status::Invalid("--no-header needs a layout: -d or a layout file.");
  }
  return PrepareColumns();
}

Status PackDown::PrepareColumns() {
  RecordInputOptions& records = options_.records;
  ORV_RETURN_IF_ERROR(PrepareRecordInput(records, &TypeTraits::SupportsQvd));
  for (const auto& field : records.layout) {
    dataSets_.push_back(FlowDataSet::Create(*field, records.textInput));
  }
  return Status::Ok();
}

// The layout made from the whole input, less a byte-order mark: a mapped file where `input` is
// one, else the bytes read into `data` (the records are held in memory anyway).
Status PackDown::InferLayout(FILE* file, std::unique_ptr<IFileInput>& input, std::string& data) {
  const bool keepDump = !options_.records.debugFile.empty();
  input = OpenProgramInput(file, true, false, keepDump, true);
  if (!input->Pinned()) {
    if (struct stat info; fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode)) {
      data.reserve(static_cast<size_t>(info.st_size));  // the bytes about to be read, in one block
    }
    while (input->Refill(1) || input->BufferPos() != input->BufferEnd()) {
      data.append(input->BufferPos(), input->BufferEnd());
      input->Advance(static_cast<size_t>(input->BufferEnd() - input->BufferPos()));
    }
    if (input->status() == kInputError) {
      return Status::IoError(std::string("Error reading input: ") + strerror(input->errorNumber()) +
                             ".");
    }
    input = std::make_unique<MemoryInput>(data.data(), data.size(), keepDump);
  }
  const std::string_view bytes(input->BufferPos(),
                               static_cast<size_t>(input->BufferEnd() - input->BufferPos()));
  std::string definition;
  const unsigned threads =
      options_.records.threads == 0 ? AvailableCores() : options_.records.threads;
  ORV_RETURN_IF_ERROR(InferCsvLayout(bytes, options_.records.delimiter.value_or(','), threads,
                                     options_.records.layout, definition));
  input->Discard(bytes.data(), bytes.data() + bytes.size());  // the records read them again
  g_Logger.Info("layout", definition);
  return PrepareColumns();
}

int PackDown::RunSteps() {
  ScopedTimeProfiler profiler("packdown");
  if (const int status = ReadRecords(); status != kExitSuccess) {
    return status;
  }
  const uint64_t n = records_;
  return n <= UINT8_MAX    ? CollectAndWrite<uint8_t>()
         : n <= UINT16_MAX ? CollectAndWrite<uint16_t>()
         : n <= UINT32_MAX ? CollectAndWrite<uint32_t>()
                           : CollectAndWrite<uint64_t>();
}

int PackDown::ReadRecords() {
  ScopedTimeProfiler profiler("input processing");
  const RecordInputOptions& records = options_.records;
  OwnedFile ownedInput;
  FILE* file = stdin;
  if (Status opened = OpenInputFile(options_.inputPath, ownedInput, file); !opened.ok()) {
    return Finish(opened);
  }
  if (Status ready = PrepareOutput(file); !ready.ok()) {
    return Finish(ready);
  }
  std::string data;  // the input, when the layout is made from it and it isn't mapped
  std::unique_ptr<IFileInput> input;
  if (inferLayout_) {
    if (Status inferred = InferLayout(file, input, data); !inferred.ok()) {
      return Finish(inferred);
    }
  } else {
    input = IFileInput::Create(file, records.unbuffered, !records.debugFile.empty(),
                               options_.skipBom || records.csv);
  }
  RecordReader reader(*input, records);
  Status status = ReadColumns(reader);
  if (status.ok() && FileMapping::AnyLost()) {  // bytes of a mapped file read as zeros
    status = Status::IoError("Error reading input: the file shrank while it was read.");
  }
  records_ = reader.records();
  return reader.Finish(status);
}

// The output is checked, and its temporary file made, before the input is read: a refusal costs no
// reading, and a directory where the file can't be made fails at once.
Status PackDown::PrepareOutput(FILE* input) {
  ORV_RETURN_IF_ERROR(RefuseInputAsOutput(input, options_.outputPath, stdout));
  return output_.Prepare(options_.outputPath);
}

// Every record into the column stores.
Status PackDown::ReadColumns(RecordReader& reader) {
  const TypeTraitsCollection& layout = options_.records.layout;
  std::vector<bool> isString(layout.size());
  for (size_t i = 0; i < layout.size(); ++i) {
    isString[i] = layout[i].AsString() != nullptr;
  }
  auto readValue = [&](size_t i) {
    const int status = dataSets_[i]->ReadValue(reader.input());
    const TypeTraits& field = layout[i];
    if (status == kStatusOk && isString[i] && HoldsZeroByte(*dataSets_[i])) [[unlikely]] {
      return reader.Refuse(ZeroByteRefusal(field, reader.records() + 1));
    }
    return status;
  };
  auto takeRecord = [] { return true; };
  ColumnPlacement placement(dataSets_);
  auto makePart = [&] { return std::make_unique<ColumnPart>(options_.records, placement); };
  ORV_RETURN_IF_ERROR(reader.ReadAllChunked<ColumnPart>(makePart, readValue, takeRecord));
  for (const auto& values : dataSets_) {
    values->ReleaseRoom();  // the stores are kept until the file is written
  }
  return Status::Ok();
}

// Scratch that collecting a field's symbols may hold at once, in bytes, at most: sort keys and
// their scratch, or a string's ids, and the stored index values.
uint64_t CollectionScratch(const TypeTraits& field, uint64_t records) {
  const uint64_t width = field.ValueWidth();
  return records * (width == 0 ? 24 : 2 * std::min<uint64_t>(width, 16) + 8);
}

// Each field's symbols, one task a field on `pool`, the largest first. The tasks under way at once
// hold at most a budget of scratch, twice the largest field's (not the thread count times it): a
// field starts once the fields under way leave room for it.
template <typename R>
std::vector<FieldSymbols<R>> CollectAll(const std::vector<std::unique_ptr<FlowDataSet>>& dataSets,
                                        uint64_t records,
                                        const std::optional<std::string>& nullText,
                                        TaskPool& pool) {
  std::vector<FieldSymbols<R>> symbols(dataSets.size());
  std::vector<size_t> bySize(dataSets.size());
  std::vector<uint64_t> scratch(dataSets.size());
  for (size_t i = 0; i < dataSets.size(); ++i) {
    bySize[i] = i;
    scratch[i] = CollectionScratch(dataSets[i]->field(), records);
  }
  std::stable_sort(bySize.begin(), bySize.end(),
                   [&](size_t a, size_t b) { return scratch[a] > scratch[b]; });
  const uint64_t budget = bySize.empty() ? 0 : 2 * scratch[bySize[0]];
  std::mutex mutex;
  std::condition_variable freed;
  uint64_t running = 0;
  for (const size_t i : bySize) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      freed.wait(lock, [&] { return running == 0 || running + scratch[i] <= budget; });
      running += scratch[i];
    }
    pool.Submit([&, i] {
      symbols[i] = CollectSymbols<R>(*dataSets[i], records, nullText, &pool);
      std::lock_guard<std::mutex> lock(mutex);
      running -= scratch[i];
      freed.notify_all();
    });
  }
  pool.Wait();
  return symbols;
}

template <typename R>
int PackDown::CollectAndWrite() {
  const unsigned threads =
      options_.records.threads == 0 ? AvailableCores() : options_.records.threads;
  std::vector<FieldSymbols<R>> symbols;
  {
    ScopedTimeProfiler profiler("data processing");
    TaskPool pool(threads);
    symbols = CollectAll<R>(dataSets_, records_, options_.nullText, pool);
  }
  // The output is written in ordered chunks, which this thread takes too while it waits.
  TaskPool pool(threads, true);
  return TimedStep("output processing", [&] {
    FILE* file = stdout;
    ORV_RETURN_IF_ERROR(output_.Open(file));
    std::unique_ptr<BufferedFileOutput> output =
        IFileOutput::Create(file, options_.records.unbuffered);
    WriteQvd(*output, symbols, records_, options_.tableName, &pool);
    ORV_RETURN_IF_ERROR(FlushOutput(*output));
    return output_.Commit();
  });
}

}  // namespace

int PackDownMain(int argc, char** argv) {
  return PackDown(argc, argv).Start();
}

}  // namespace orv
