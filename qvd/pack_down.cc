#include "qvd/pack_down.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qvd/symbol_collector.h"
#include "qvd/writer.h"
#include "runtime/input.h"
#include "runtime/logger.h"
#include "runtime/options.h"
#include "runtime/output.h"
#include "runtime/settings.h"
#include "runtime/stats.h"
#include "runtime/text_util.h"
#include "types/flow_data_set.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

enum OptionId {
  kInput,
  kOutput,
  kDataDefinition,
  kTextInput,
  kTextInputDos,
  kTextInputMac,
  kAllowMissingSeparator,
  kSkipBom,
  kNullAsString,
  kUnbuffered,
  kDebugFile,
  kIgnored,
};

constexpr OptionSpec kOptions[] = {
    {"input", 'i', ArgumentKind::kRequired},
    {"output", 'o', ArgumentKind::kRequired},
    {"data-definition", 'd', ArgumentKind::kRequired},
    {"text-input", 'x', ArgumentKind::kNone},
    {"text-input-dos-eol", 'a', ArgumentKind::kNone},
    {"text-input-mac-eol", 'b', ArgumentKind::kNone},
    {"allow-missing-separator-at-eof", 0, ArgumentKind::kNone},
    {"skip-bom", 's', ArgumentKind::kNone},
    {"null-as-string", 'n', ArgumentKind::kOptional},
    {"unbuffered", 0, ArgumentKind::kNone},
    {"debug-file", 0, ArgumentKind::kRequired},
    {nullptr, 'e', ArgumentKind::kNone},  // accepted and ignored
};

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using OwnedFile = std::unique_ptr<FILE, FileCloser>;

struct PackDown {
  TypeTraitsCollection layout;
  std::vector<std::unique_ptr<FlowDataSet>> dataSets;
  uint64_t records = 0;
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
  std::optional<std::string> nullText;
  bool unbuffered = false;
  std::string debugFile;
  bool textInput = false;
  bool dosEol = false;
  bool macEol = false;
  bool skipBom = false;
  bool allowMissingSeparator = false;

  int ParseOptions(int argc, char** argv);
  int ReadRecords();
  template <typename R>
  int CollectAndWrite();
};

int PackDown::ParseOptions(int argc, char** argv) {
  std::vector<std::string> positionals;
  auto onOption = [&](size_t id, const char* argument) {
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
      case kTextInput:
        textInput = true;
        break;
      case kTextInputDos:
      case kTextInputMac:
        textInput = true;
        (id == kTextInputDos ? dosEol : macEol) = true;
        g_TypeTraitsOptions.endOfLineMode = id == kTextInputDos ? 1 : 2;
        break;
      case kAllowMissingSeparator:
        allowMissingSeparator = true;
        g_TypeTraitsOptions.allowMissingSeparatorAtEof = true;
        break;
      case kSkipBom:
        skipBom = true;
        break;
      case kNullAsString:
        nullText = text;
        break;
      case kUnbuffered:
        unbuffered = true;
        break;
      case kDebugFile:
        debugFile = text;
        break;
      case kIgnored:
        return true;
    }
    g_Logger.Info(kOptions[id].longName, argument != nullptr ? text : std::string());
    return true;
  };
  if (ParseCommandLine(argc, argv, kOptions, onOption, positionals) != kExitSuccess) {
    return kExitFailure;
  }
  if (!LoadLayout(layout, positionals)) {
    return kExitFailure;
  }
  if (dosEol && macEol) {
    g_Logger.Fail("--text-input-dos-eol can't be used with --text-input-mac-eol option.");
    return kExitFailure;
  }
  if (!CheckFormatSupport(layout, &TypeTraits::SupportsQvd)) {
    return kExitFailure;
  }
  if (!CheckMissingSeparatorOption(allowMissingSeparator, textInput)) {
    return kExitFailure;
  }
  layout.Prepare();
  for (const auto& field : layout) {
    dataSets.push_back(FlowDataSet::Create(*field, textInput));
  }
  return kExitSuccess;
}

int PackDown::ReadRecords() {
  ScopedTimeProfiler profiler("input processing");
  OwnedFile ownedInput;
  FILE* file = stdin;
  if (inputPath) {
    ownedInput.reset(fopen(inputPath->c_str(), "rb"));
    if (ownedInput == nullptr) {
      g_Logger.Fail("Can't open input file: '%s'.", inputPath->c_str());
      return kExitFailure;
    }
    file = ownedInput.get();
  }
  std::unique_ptr<IFileInput> input =
      IFileInput::Create(file, unbuffered, !debugFile.empty(), skipBom);
  IntervalStats stats("records");
  std::vector<bool> isString(dataSets.size());
  for (size_t i = 0; i < dataSets.size(); ++i) {
    isString[i] = layout[i].AsString() != nullptr;
  }
  for (;;) {
    input->BeginRecord();
    for (size_t i = 0; i < dataSets.size(); ++i) {
      const int status = dataSets[i]->ReadValue(*input);
      TypeTraits& field = layout[i];
      const auto record = static_cast<unsigned long>(records + 1);
      if (status == kStatusOk) {
        // A QVD text symbol ends at its first 0x00: such a value would corrupt the file.
        if (isString[i] && !field.IsNull() &&
            memchr(field.value(), 0, field.valueLength()) != nullptr) {
          g_Logger.Fail(
              "Field '%s' holds a 0x00 byte, which a QVD text symbol can't store "
              "(record no. %lu).",
              field.GetFullName().c_str(), record);
          return kExitFailure;
        }
        continue;
      }
      if (status == kStatusEnd && i == 0) {
        stats.Success();
        return kExitSuccess;
      }
      ReportReadFailure(field, record, textInput, *input, debugFile);
      return kExitFailure;
    }
    ++records;
    stats.Tick();
  }
}

template <typename R>
int PackDown::CollectAndWrite() {
  std::vector<FieldSymbols<R>> symbols;
  {
    ScopedTimeProfiler profiler("data processing");
    symbols.reserve(dataSets.size());
    for (const auto& dataSet : dataSets) {
      symbols.push_back(CollectSymbols<R>(*dataSet, records, nullText));
    }
  }
  ScopedTimeProfiler profiler("output processing");
  OwnedFile ownedOutput;
  FILE* file = stdout;
  if (outputPath) {
    ownedOutput.reset(fopen(outputPath->c_str(), "wb"));
    if (ownedOutput == nullptr) {
      g_Logger.Fail("Can't open output file: '%s'.", outputPath->c_str());
      return kExitFailure;
    }
    file = ownedOutput.get();
  }
  std::unique_ptr<BufferedFileOutput> output = IFileOutput::Create(file, unbuffered);
  WriteQvd(*output, symbols, records);
  if (!output->flush()) {
    g_Logger.Fail("Error writing output.");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

int PackDownMain(int argc, char** argv) {
  PackDown run;
  if (run.ParseOptions(argc, argv) != kExitSuccess) {
    return kExitFailure;
  }
  int status;
  {
    ScopedTimeProfiler profiler("packdown");
    status = run.ReadRecords();
    if (status == kExitSuccess) {
      const uint64_t n = run.records;
      status = n <= UINT8_MAX    ? run.CollectAndWrite<uint8_t>()
               : n <= UINT16_MAX ? run.CollectAndWrite<uint16_t>()
               : n <= UINT32_MAX ? run.CollectAndWrite<uint32_t>()
                                 : run.CollectAndWrite<uint64_t>();
    }
  }
  if (status == kExitSuccess) {
    g_Logger.Succ("%s", "");
  }
  return status;
}

}  // namespace orv
