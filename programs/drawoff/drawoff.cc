#include "programs/drawoff/drawoff.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "programs/common/program.h"
#include "runtime/logger.h"
#include "runtime/settings.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

enum OptionId {
  kInput,
  kOutput,
  kDataDefinition,
  kTextOutput,
  kTextOutputDos,
  kTextOutputMac,
  kNullAsString,
  kFirstRecord,
  kFilter,
  kLowMemory,
  kGuessUniform,
  kMatchFields,
  kUnbuffered,
};

constexpr OptionSpec kOptions[] = {
    {"input", 'i', ArgumentKind::kRequired},
    {"output", 'o', ArgumentKind::kRequired},
    {"data-definition", 'd', ArgumentKind::kRequired},
    {"text-output", 'y', ArgumentKind::kNone},
    {"text-output-dos-eol", 'a', ArgumentKind::kNone},
    {"text-output-mac-eol", 'b', ArgumentKind::kNone},
    {"null-as-string", 'n', ArgumentKind::kOptional},
    {"first-record", 0, ArgumentKind::kRequired},
    {"filter", 0, ArgumentKind::kRequired},
    {"low-memory", 0, ArgumentKind::kNone},
    {"guess-uniform-symbol-size", 0, ArgumentKind::kNone},
    {"match-fields", 'm', ArgumentKind::kNone},
    {"unbuffered", 0, ArgumentKind::kNone},
};

}  // namespace

ReadQvd::~ReadQvd() = default;

bool ReadQvd::OnOption(size_t id, const char* argument) {
  const std::string text = argument != nullptr ? argument : "";
  switch (static_cast<OptionId>(id)) {
    case kInput:
      inputPath = text;
      break;
    case kOutput:
      outputPath = text;
      break;
    case kDataDefinition:
      if (std::optional<std::string> error = TypeTraitsParser::ParseInlineFields(text, layout)) {
        g_Logger.Fail("%s", error->c_str());
        return false;
      }
      return true;
    case kTextOutput:
      read.conversion.textOutput = true;
      break;
    case kTextOutputDos:
    case kTextOutputMac:
      read.conversion.textOutput = true;
      (id == kTextOutputDos ? dosEol : macEol) = true;
      g_TypeTraitsOptions.endOfLineMode = id == kTextOutputDos ? 1 : 2;
      break;
    case kNullAsString:
      read.conversion.nullText = text;
      break;
    case kFirstRecord: {
      const uint64_t number = strtoull(text.c_str(), nullptr, 10);
      g_Logger.Info("first-record", std::to_string(number));
      if (number == 0) {
        g_Logger.Fail("Invalid first record no.: '%lu'.", 0ul);
        return false;
      }
      read.firstRecord = number - 1;
      return true;
    }
    case kFilter:
      read.filter = text;
      break;
    case kLowMemory:
      read.lowMemory = true;
      break;
    case kGuessUniform:
      read.guessUniformSymbolSize = true;
      break;
    case kMatchFields:
      read.matchFields = true;
      break;
    case kUnbuffered:
      unbuffered = true;
      break;
  }
  g_Logger.Info(kOptions[id].longName, text);
  return true;
}

int ReadQvd::ParseOptions(int argc, char** argv) {
  std::vector<std::string> positionals;
  auto onOption = [this](size_t id, const char* argument) { return OnOption(id, argument); };
  if (ParseCommandLine(argc, argv, kOptions, onOption, positionals) != kExitSuccess) {
    return kExitFailure;
  }
  if (!LoadLayout(layout, positionals)) {
    return kExitFailure;
  }
  if (!CheckFormatSupport(layout, &TypeTraits::SupportsQvd)) {
    return kExitFailure;
  }
  if (dosEol && macEol) {
    g_Logger.Fail("--text-output-dos-eol can't be used with --text-output-mac-eol option.");
    return kExitFailure;
  }
  layout.Prepare();
  return kExitSuccess;
}

int ReadQvd::Run() {
  const Status status = Decode();
  if (status.ok()) {
    g_Logger.Succ("%s", "");
  }
  return Finish(status);
}

// The table is opened (header, binding, symbol tables) before the output, so that a file that
// can't be read leaves no output behind.
Status ReadQvd::Decode() {
  if (read.lowMemory && !inputPath) {
    return Status::Invalid("Unspecified input file.");
  }
  OwnedFile ownedInput;
  FILE* file = stdin;
  ORV_RETURN_IF_ERROR(OpenInputFile(inputPath, ownedInput, file));
  if (read.lowMemory && fseeko(file, 0, SEEK_SET) != 0) {
    return Status::Invalid("Input file is not seekable.");
  }
  read.path = inputPath;
  read.fieldSubset = fieldSubset();
  read.conversion.checkOutput = read.conversion.textOutput && g_Options.checkOutputErrors;
  std::unique_ptr<IFileInput> input = createInput(file, unbuffered, false);
  QvdTableReader reader(layout, read);
  ORV_RETURN_IF_ERROR(reader.Open(*input));

  OwnedFile ownedOutput;
  FILE* outFile = stdout;
  ORV_RETURN_IF_ERROR(OpenOutputFile(outputPath, ownedOutput, outFile));
  std::unique_ptr<BufferedFileOutput> output = createOutput(outFile, unbuffered);
  IntervalStats& stats = initOutputStats();
  const Status status = reader.ReadRows(*input, *output, stats);
  writtenRecords_ = reader.writtenRecords();
  ORV_RETURN_IF_ERROR(status);
  if (!output->flush()) {
    return Status::IoError("Error writing output.");
  }
  stats.Success();
  return Status::Ok();
}

int DrawOffMain(int argc, char** argv) {
  ReadQvd tool(argc, argv);
  return tool.Start();
}

}  // namespace orv
