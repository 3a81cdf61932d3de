#include "qvx/qvx_writer.h"

#include <memory>
#include <string>
#include <vector>

#include "runtime/input.h"
#include "runtime/logger.h"
#include "runtime/options.h"
#include "runtime/settings.h"
#include "runtime/stats.h"
#include "runtime/text_util.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

enum OptionId { kDataDefinition, kTextInput, kAllowMissingSeparator, kUnbuffered, kDebugFile };

constexpr OptionSpec kOptions[] = {
    {"data-definition", 'd', ArgumentKind::kRequired},
    {"text-input", 'x', ArgumentKind::kNone},
    {"allow-missing-separator-at-eof", 0, ArgumentKind::kNone},
    {"unbuffered", 0, ArgumentKind::kNone},
    {"debug-file", 0, ArgumentKind::kRequired},
};

}  // namespace

void WriteQvxTableHeader(BufferedFileOutput& output, const TypeTraitsCollection& layout) {
  output.Write(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<QvxTableHeader>\n"
      "  <MajorVersion>1</MajorVersion>\n"
      "  <MinorVersion>0</MinorVersion>\n"
      "  <TableName></TableName>\n"
      "  <Fields>\n");
  for (const auto& field : layout) {
    output.Write("    <QvxFieldHeader>\n");
    field->WriteQvxHeader(output);
    output.Write("    </QvxFieldHeader>\n");
  }
  output.Write("  </Fields>\n</QvxTableHeader>");
  output.WriteByte('\0');
}

int FeedOutMain(int argc, char** argv, FILE* in, FILE* out) {
  TypeTraitsCollection layout;
  bool textInput = false;
  bool allowMissingSeparator = false;
  bool unbuffered = false;
  std::string debugFile;
  std::vector<std::string> positionals;
  auto onOption = [&](size_t id, const char* argument) {
    const std::string text = argument != nullptr ? argument : "";
    switch (static_cast<OptionId>(id)) {
      case kDataDefinition:
        if (std::optional<std::string> error = TypeTraitsParser::ParseInlineFields(text, layout)) {
          g_Logger.Fail("%s", error->c_str());
          return false;
        }
        return true;
      case kTextInput:
        textInput = true;
        break;
      case kAllowMissingSeparator:
        allowMissingSeparator = true;
        g_TypeTraitsOptions.allowMissingSeparatorAtEof = true;
        break;
      case kUnbuffered:
        unbuffered = true;
        break;
      case kDebugFile:
        debugFile = text;
        break;
    }
    g_Logger.Info(kOptions[id].longName, text);
    return true;
  };
  if (ParseCommandLine(argc, argv, kOptions, onOption, positionals) != kExitSuccess) {
    return kExitFailure;
  }
  if (!LoadLayout(layout, positionals)) {
    return kExitFailure;
  }
  if (!CheckFormatSupport(layout, &TypeTraits::SupportsQvx)) {
    return kExitFailure;
  }
  if (!CheckMissingSeparatorOption(allowMissingSeparator, textInput)) {
    return kExitFailure;
  }
  layout.Prepare();

  uint64_t records = 0;
  IntervalStats stats("records");
  int status = kExitSuccess;
  {
    ScopedTimeProfiler profiler("feedout");
    std::unique_ptr<IFileInput> input =
        IFileInput::Create(in, unbuffered, !debugFile.empty(), false);
    BufferedFileOutput output(out, unbuffered);
    WriteQvxTableHeader(output, layout);
    for (bool reading = true; reading;) {
      input->BeginRecord();
      for (size_t i = 0; i < layout.size(); ++i) {
        TypeTraits& field = layout[i];
        size_t size = 0;
        const int read =
            textInput ? field.Parse(*input, size, false) : field.Read(*input, size, false);
        if (read == kStatusOk) {
          continue;
        }
        reading = false;
        if (read == kStatusEnd && i == 0) {
          stats.Success();
          break;
        }
        ReportReadFailure(field, records + 1, textInput, *input, debugFile);
        status = kExitFailure;
        break;
      }
      if (!reading) {
        break;
      }
      for (const auto& field : layout) {
        field->WriteQvx(output);
      }
      ++records;
      stats.Tick();
      if (output.failed()) {
        break;  // the output is gone: stop reading, report below
      }
    }
    if (!output.flush() && status == kExitSuccess) {
      g_Logger.Fail("Error writing output.");
      status = kExitFailure;
    }
  }
  if (status == kExitSuccess) {
    g_Logger.Succ("%s", "");
  }
  return status;
}

}  // namespace orv
