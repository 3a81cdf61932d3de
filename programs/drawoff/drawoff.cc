#include "programs/drawoff/drawoff.h"

#include <cstdlib>
#include <memory>

#include "inspect/type_inference.h"
#include "programs/common/output_checks.h"
#include "runtime/file_mapping.h"
#include "runtime/settings.h"
#include "runtime/text_util.h"
#include "runtime/workers.h"
#include "types/csv_text.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

using Options = DrawOffOptions;

// -a and -b: text output whose records end in CR LF (mode 1) or CR (mode 2).
Status SetEndOfLine(Options& options, int mode) {
  options.read.conversion.textOutput = true;
  (mode == 1 ? options.dosEol : options.macEol) = true;
  g_TypeTraitsOptions.endOfLineMode = mode;
  return Status::Ok();
}

// Record numbers count from 1; the INFO line shows the number as read.
Status SetFirstRecord(Options& options, const char* argument) {
  const uint64_t number = strtoull(argument, nullptr, 10);
  g_Logger.Info("first-record", std::to_string(number));
  if (number == 0) {
    return Status::Invalid("Invalid first record no.: '0'.");
  }
  options.read.firstRecord = number - 1;
  return Status::Ok();
}

Status SetCsv(Options& options) {
  options.csv = true;
  options.read.conversion.textOutput = true;
  return Status::Ok();
}

// One byte, escapes allowed (`\t`); the quote, CR and LF would make values unreadable.
Status SetDelimiter(Options& options, const char* argument) {
  const std::optional<std::string> bytes = UnEscape(argument, false);
  if (!bytes || bytes->size() != 1 || !IsCsvDelimiter((*bytes)[0])) {
    return Status::Invalid(std::string("Invalid CSV delimiter: '") + argument +
                           "'; it must be one byte other than '\"', CR and LF.");
  }
  options.delimiter = (*bytes)[0];
  return Status::Ok();
}

// The header line: the layout's field names, quoted as values are.
void WriteCsvHeader(const TypeTraitsCollection& layout, char delimiter,
                    BufferedFileOutput& output) {
  for (size_t i = 0; i < layout.size(); ++i) {
    if (i > 0) {
      output.WriteByte(delimiter);
    }
    WriteCsvValue(output, layout[i].name(), delimiter);
  }
  output.Write(g_TypeTraitsOptions.RecordSeparator());
}

// The usage that --help prints: every option, one line each (the frame adds --help, --version
// and the exit status).
const char kUsage[] =
    "Usage: drawoff [OPTION]... [LAYOUT_FILE]\n"
    "Writes a QVD file's rows as records of a layout: the binary record stream, or delimited "
    "text.\n"
    "\n"
    "  -i, --input=PATH              the QVD file (default or -: standard input)\n"
    "  -o, --output=PATH             the output file (default or -: standard output)\n"
    "  -d, --data-definition=TEXT    the layout inline, fields separated by ';'\n"
    "  -y, --text-output             delimited text instead of the binary record stream\n"
    "  -a, --text-output-dos-eol     delimited text, records ending in CR LF\n"
    "  -b, --text-output-mac-eol     delimited text, records ending in CR\n"
    "      --csv                     CSV with a header line; without a layout, every field as "
    "text\n"
    "      --no-header               (--csv) no header line\n"
    "      --delimiter=C             (--csv) the byte between values instead of ','\n"
    "  -n, --null-as-string[=TEXT]   a text symbol equal to TEXT reads as null (attach TEXT: "
    "-nNULL)\n"
    "      --first-record=N          start at row N (1-based)\n"
    "      --filter=COND             keep rows where FIELD OP VALUE, OP one of == != <= < >= >;\n"
    "                                repeated, a row must pass every filter\n"
    "  -m, --match-fields            bind layout fields to QVD fields by name, not by position\n"
    "      --low-memory              keep symbol tables in the file (needs -i)\n"
    "      --guess-uniform-symbol-size  trust a numeric table whose length fits its first symbol\n"
    "      --threads=N               worker threads (default: the cores this process may use)\n"
    "      --unbuffered              read and write without holding data back\n";

constexpr ProgramOption<Options> kOptions[] = {
    {{"input", 'i', ArgumentKind::kRequired}, SetPath<&Options::inputPath>},
    {{"output", 'o', ArgumentKind::kRequired}, SetPath<&Options::outputPath>},
    {{"data-definition", 'd', ArgumentKind::kRequired},
     [](Options& o, const char* a) { return AddInlineFields(o.layout, a); },
     OptionLog::kQuiet},
    {{"text-output", 'y', ArgumentKind::kNone},
     SetFlag<&Options::read, &TableReadOptions::conversion, &SymbolConversion::textOutput>},
    {{"text-output-dos-eol", 'a', ArgumentKind::kNone},
     [](Options& o, const char*) { return SetEndOfLine(o, 1); }},
    {{"text-output-mac-eol", 'b', ArgumentKind::kNone},
     [](Options& o, const char*) { return SetEndOfLine(o, 2); }},
    {{"csv", 0, ArgumentKind::kNone}, [](Options& o, const char*) { return SetCsv(o); }},
    {{"no-header", 0, ArgumentKind::kNone}, SetFlag<&Options::noHeader>},
    {{"delimiter", 0, ArgumentKind::kRequired}, SetDelimiter},
    {{"null-as-string", 'n', ArgumentKind::kOptional},
     SetText<&Options::read, &TableReadOptions::conversion, &SymbolConversion::nullText>},
    {{"first-record", 0, ArgumentKind::kRequired}, SetFirstRecord, OptionLog::kQuiet},
    {{"filter", 0, ArgumentKind::kRequired},
     [](Options& o, const char* a) {
       o.read.filters.emplace_back(a);
       return Status::Ok();
     }},
    {{"low-memory", 0, ArgumentKind::kNone}, SetFlag<&Options::read, &TableReadOptions::lowMemory>},
    {{"guess-uniform-symbol-size", 0, ArgumentKind::kNone},
     SetFlag<&Options::read, &TableReadOptions::guessUniformSymbolSize>},
    {{"match-fields", 'm', ArgumentKind::kNone},
     SetFlag<&Options::read, &TableReadOptions::matchFields>},
    {{"threads", 0, ArgumentKind::kRequired}, SetThreads<&Options::threads>},
    {{"unbuffered", 0, ArgumentKind::kNone}, SetFlag<&Options::unbuffered>},
};

}  // namespace

ReadQvd::ReadQvd(int argc, char** argv) : Program("drawoff", argc, argv, kOptions, kUsage) {}

ReadQvd::~ReadQvd() = default;

Status ReadQvd::CheckOptions(const std::vector<std::string>& positionals) {
  if (options_.csv && options_.layout.empty() && positionals.empty()) {
    g_Logger.Info("fields", "from the QVD header");
  } else {
    ORV_RETURN_IF_ERROR(CompleteLayout(options_.layout, positionals));
    ORV_RETURN_IF_ERROR(CheckLayoutSupport(options_.layout, &TypeTraits::SupportsQvd));
  }
  if (options_.dosEol && options_.macEol) {
    return Status::Invalid(
        "--text-output-dos-eol can't be used with --text-output-mac-eol option.");
  }
  if (options_.csv && options_.macEol) {
    return Status::Invalid(
        "--csv can't be used with --text-output-mac-eol option: CSV records end in LF or CR LF.");
  }
  for (const auto& [given, name] : {std::pair{options_.noHeader, "--no-header"},
                                    std::pair{options_.delimiter.has_value(), "--delimiter"}}) {
    if (given && !options_.csv) {
      return Status::Invalid(std::string(name) + " can't be used without --csv option.");
    }
  }
  if (options_.csv) {
    ApplyCsvOutput(options_.layout, delimiter());
  } else {
    options_.layout.Prepare();
  }
  return Status::Ok();
}

Status ReadQvd::LayoutFromHeader(const std::vector<QvdFieldMetadata>& fields) {
  InspectedLayoutOptions asText;
  asText.allAsString = true;
  BuildInspectedLayout(fields, asText, options_.layout);
  if (options_.layout.empty()) {
    return Status::Invalid("Data definition has no fields.");
  }
  ApplyCsvOutput(options_.layout, delimiter());
  return Status::Ok();
}

int ReadQvd::RunSteps() {
  return Finish(Decode());
}

// The table is opened (header, binding, symbol tables) before the output, so that a file that
// can't be read leaves no output behind; an output that is the input file is refused first.
Status ReadQvd::Decode() {
  TableReadOptions& read = options_.read;
  if (read.lowMemory && !options_.inputPath) {
    return Status::Invalid("Unspecified input file.");
  }
  OwnedFile ownedInput;
  FILE* file = stdin;
  ORV_RETURN_IF_ERROR(OpenInputFile(options_.inputPath, ownedInput, file));
  ORV_RETURN_IF_ERROR(RefuseInputAsOutput(file, options_.outputPath, stdout));
  if (read.lowMemory && fseeko(file, 0, SEEK_SET) != 0) {
    return Status::Invalid("Input file is not seekable.");
  }
  read.path = options_.inputPath;
  read.fieldSubset = fieldSubset();
  // Chunks of rows would hold back what --unbuffered writes at once.
  read.chunked = !options_.unbuffered;
  read.threads = options_.unbuffered     ? 1
                 : options_.threads != 0 ? options_.threads
                                         : AvailableCores();
  // CSV quotes whatever would break a record, so there is nothing to warn about.
  read.conversion.checkOutput =
      read.conversion.textOutput && !options_.csv && g_Options.checkOutputErrors;
  // A regular file is read through a mapping, its symbol tables where they lie. Low-memory mode
  // keeps to reads, so that no more than a buffer of the file is ever resident.
  std::unique_ptr<IFileInput> input =
      OpenProgramInput(file, !read.lowMemory, options_.unbuffered, false, false);
  QvdTableReader reader(options_.layout, read);
  QvdTableReader::LayoutFromHeader fromHeader;
  if (options_.csv && options_.layout.empty()) {
    fromHeader = [this](const std::vector<QvdFieldMetadata>& f) { return LayoutFromHeader(f); };
  }
  ORV_RETURN_IF_ERROR(reader.Open(*input, fromHeader));

  OwnedFile ownedOutput;
  FILE* outFile = stdout;
  ORV_RETURN_IF_ERROR(OpenOutputFile(options_.outputPath, ownedOutput, outFile));
  std::unique_ptr<BufferedFileOutput> output = createOutput(outFile, options_.unbuffered);
  if (options_.csv && !options_.noHeader) {
    WriteCsvHeader(options_.layout, delimiter(), *output);
  }
  IntervalStats& stats = initOutputStats();
  const Status status = reader.ReadRows(*input, *output, stats);
  writtenRecords_ = reader.writtenRecords();
  ORV_RETURN_IF_ERROR(status);
  ORV_RETURN_IF_ERROR(FlushOutput(*output));
  stats.Success();
  return Status::Ok();
}

int DrawOffMain(int argc, char** argv) {
  ReadQvd tool(argc, argv);
  return tool.Start();
}

}  // namespace orv
