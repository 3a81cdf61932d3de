#include "inspect/table_peek.h"

#include <regex>

#include "inspect/reports.h"
#include "qvd/header_parser.h"
#include "runtime/input.h"
#include "runtime/logger.h"
#include "runtime/options.h"
#include "runtime/output.h"
#include "runtime/text_util.h"

namespace orv {

const char kTablePeekHelp[] =
    "tablepeek - get QVD's header and provide various information,\n"
    "             in JSON, XML or ORD (ORV data definition file)\n"
    "\n"
    "tablepeek <file.qvd> --output=ord\n"
    "           [--all-as-string]\n"
    "           [--real-as-decimal[=precision,scale]]\n"
    "           [--date=<format>]\n"
    "           [--datetime=<format>]\n"
    "           [--inline]\n"
    "           [-l|--null=<string>]\n"
    "           [-q|--quote=<char>]\n"
    "           [-r|--record-separator=<char>]\n"
    "           [-s|--field-separator=<char>]\n"
    "\n"
    "tablepeek <file.qvd> --output=(json|xml)\n"
    "           [--fields]\n"
    "\n"
    "tablepeek <file.qvd>\n"
    "           [ --table-name | --no-of-records | --fields | --tag=<xml_tag_name> ])\n"
    "\n"
    "tablepeek --help";

namespace {

enum OptionId {
  kTableName,
  kNoOfRecords,
  kTag,
  kOutput,
  kInline,
  kFields,
  kFieldSeparator,
  kRecordSeparator,
  kQuote,
  kNull,
  kAllAsString,
  kRealAsDecimal,
  kDate,
  kDateTime,
  kHelp,
  kUnbuffered,
};

constexpr OptionSpec kOptions[] = {
    {"table-name", 0, ArgumentKind::kNone},
    {"no-of-records", 0, ArgumentKind::kNone},
    {"tag", 0, ArgumentKind::kRequired},
    {"output", 0, ArgumentKind::kRequired},
    {"inline", 0, ArgumentKind::kNone},
    {"fields", 0, ArgumentKind::kNone},
    {"field-separator", 's', ArgumentKind::kRequired},
    {"record-separator", 'r', ArgumentKind::kRequired},
    {"quote", 'q', ArgumentKind::kRequired},
    {"null", 'l', ArgumentKind::kRequired},
    {"all-as-string", 0, ArgumentKind::kNone},
    {"real-as-decimal", 0, ArgumentKind::kOptional},
    {"date", 0, ArgumentKind::kRequired},
    {"datetime", 0, ArgumentKind::kRequired},
    {"help", 0, ArgumentKind::kNone},
    {"unbuffered", 0, ArgumentKind::kNone},
};

std::string CharText(char c) {
  return c == '\0' ? std::string() : std::string(1, c);
}

// One character from an option's text: empty means none (a present NUL); a longer text warns
// and keeps its first character.
char SingleCharacter(const std::string& text, const char* what) {
  if (text.empty()) {
    return '\0';
  }
  if (text.size() > 1) {
    g_Logger.Warning("%s contains %lu characters, using first character.", what,
                     static_cast<unsigned long>(text.size()));
  }
  return text[0];
}

bool ParseRealAsDecimal(const char* argument, TablePeekOptions& options) {
  options.realAsDecimal = true;
  if (argument == nullptr) {
    return true;
  }
  static const std::regex kPattern("^(\\d+)\\,(\\d+)", std::regex::ECMAScript);
  std::cmatch match;
  std::optional<uint64_t> precision;
  std::optional<uint64_t> scale;
  if (std::regex_match(argument, match, kPattern)) {
    precision = ParseUnsignedRule(match.str(1));
    scale = ParseUnsignedRule(match.str(2));
  }
  if (!precision || !scale) {
    g_Logger.Fail("Invalid '%s' option argument: '%s'.", "real-as-decimal", argument);
    return false;
  }
  options.decimalPrecision = precision;
  options.decimalScale = scale;
  return true;
}

bool OnOption(size_t id, const char* argument, TablePeekOptions& options) {
  const std::string text = argument != nullptr ? argument : "";
  switch (static_cast<OptionId>(id)) {
    case kTableName:
      options.requests.push_back(PeekRequest::kTableName);
      g_Logger.Info("table-name", "");
      break;
    case kNoOfRecords:
      options.requests.push_back(PeekRequest::kNoOfRecords);
      g_Logger.Info("no-of-records", "");
      break;
    case kTag:
      options.requests.push_back(PeekRequest::kTag);
      options.tagName = text;
      g_Logger.Info("tag", text);
      break;
    case kOutput:
      g_Logger.Info("output", text);
      if (text == "ord") {
        options.outputs.push_back(PeekOutput::kOrd);
      } else if (text == "json") {
        options.outputs.push_back(PeekOutput::kJson);
      } else if (text == "xml") {
        options.outputs.push_back(PeekOutput::kXml);
      } else {
        g_Logger.Fail("Unknown output: '%s'.", text.c_str());
        return false;
      }
      break;
    case kInline:
      options.inlineForm = true;
      g_Logger.Info("inline", "");
      break;
    case kFields:
      options.fields = true;
      g_Logger.Info("fields", "");
      break;
    case kFieldSeparator:
      options.fieldSeparator = SingleCharacter(*UnEscape(text, false), "Field separator");
      g_Logger.Info("field-separator", CharText(*options.fieldSeparator));
      break;
    case kRecordSeparator:
      options.recordSeparator = SingleCharacter(*UnEscape(text, false), "Record separator");
      g_Logger.Info("record-separator", CharText(*options.recordSeparator));
      break;
    case kQuote:
      options.quote = SingleCharacter(text, "Quote");
      g_Logger.Info("quote", CharText(*options.quote));
      break;
    case kNull:
      options.nullText = text;
      g_Logger.Info("null", text);
      break;
    case kAllAsString:
      options.allAsString = true;
      g_Logger.Info("all-as-string", "");
      break;
    case kRealAsDecimal:
      if (!ParseRealAsDecimal(argument, options)) {
        return false;
      }
      g_Logger.Info("real-as-decimal", "");
      break;
    case kDate:
      options.dateFormat = text;
      g_Logger.Info("date", text);
      break;
    case kDateTime:
      options.dateTimeFormat = text;
      g_Logger.Info("datetime", text);
      break;
    case kHelp:
      options.requests.push_back(PeekRequest::kHelp);
      break;
    case kUnbuffered:
      options.unbuffered = true;
      g_Logger.Info("unbuffered", "");
      break;
  }
  return true;
}

// Closes the files the run opened, on every way out.
struct OpenedFiles {
  FILE* in = nullptr;
  FILE* out = nullptr;
  bool ownIn = false;
  bool ownOut = false;
  ~OpenedFiles() {
    if (ownIn && in != nullptr) {
      fclose(in);
    }
    if (ownOut && out != nullptr) {
      fclose(out);
    }
  }
};

}  // namespace

int ParseTablePeekOptions(int argc, char** argv, TablePeekOptions& options) {
  std::vector<std::string> positionals;
  int status = ParseCommandLine(
      argc, argv, kOptions,
      [&options](size_t id, const char* argument) { return OnOption(id, argument, options); },
      positionals);
  if (status != kExitSuccess) {
    return status;
  }
  if (!positionals.empty()) {
    options.inputPath = positionals[0];
    g_Logger.Info("input file", positionals[0]);
  }
  if (positionals.size() > 1) {
    options.outputPath = positionals[1];
    g_Logger.Info("output file", positionals[1]);
  }
  return kExitSuccess;
}

std::optional<std::string> ValidateTablePeekOptions(const TablePeekOptions& o) {
  if (o.requests.size() + (o.fields ? 1 : 0) > 1) {
    return "Only one of --fields, --help, --no-of-records, --table-name, --tag options can be "
           "used at a time.";
  }
  if (o.outputs.size() > 1) {
    return "Only one of 'ord', 'json', 'xml' outputs can be used at a time.";
  }
  if (!o.requests.empty() && !o.outputs.empty()) {
    return "--output option can't be used with --help, --no-of-records, --table-name, --tag "
           "options.";
  }
  const bool ord = !o.outputs.empty() && o.outputs[0] == PeekOutput::kOrd;
  if (ord && o.fields) {
    return "--fields option can't be used for 'ord' output.";
  }
  const bool ordOption = o.allAsString || o.dateFormat || o.dateTimeFormat || o.fieldSeparator ||
                         o.inlineForm || o.nullText || o.quote || o.realAsDecimal ||
                         o.recordSeparator;
  if (ordOption && !ord) {
    return "--all-as-string, --date, --datetime, --field-separator, --inline, --null, --quote, "
           "--real-as-decimal, --record-separator options can be used for 'ord' output only.";
  }
  return std::nullopt;
}

int RunTablePeek(const TablePeekOptions& options, FILE* in, FILE* out) {
  if (!options.requests.empty() && options.requests[0] == PeekRequest::kHelp) {
    fputs(kTablePeekHelp, stdout);
    fputc('\n', stdout);
    fflush(stdout);
    return kExitSuccess;
  }
  OpenedFiles files{in, out, false, false};
  if (options.inputPath) {
    files.in = fopen(options.inputPath->c_str(), "rb");
    if (files.in == nullptr) {
      g_Logger.Fail("Can't open input file: '%s'.", options.inputPath->c_str());
      return kExitFailure;
    }
    files.ownIn = true;
  }
  if (options.outputPath) {
    files.out = fopen(options.outputPath->c_str(), "wb");
    if (files.out == nullptr) {
      g_Logger.Fail("Can't open output file: '%s'.", options.outputPath->c_str());
      return kExitFailure;
    }
    files.ownOut = true;
  }

  std::unique_ptr<IFileInput> input =
      IFileInput::Create(files.in, options.unbuffered, false, false);
  std::string header;
  uint64_t dataStart = 0;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
  if (std::optional<std::string> error = ReadQvdHeader(*input, header, dataStart, table, fields)) {
    g_Logger.Fail("%s", error->c_str());
    return kExitFailure;
  }

  BufferedFileOutput output(files.out, options.unbuffered);
  auto printTag = [&](const std::string& name) {
    auto found = table.properties.find(name);
    if (found == table.properties.end()) {
      g_Logger.Fail("Unrecorgnized tag: '%s'.", name.c_str());
      return false;
    }
    output.Write(found->second);
    output.WriteByte('\n');
    return true;
  };

  bool ok = true;
  if (!options.requests.empty()) {
    switch (options.requests[0]) {
      case PeekRequest::kTableName:
        ok = printTag("TableName");
        break;
      case PeekRequest::kNoOfRecords:
        ok = printTag("NoOfRecords");
        break;
      case PeekRequest::kTag:
        ok = printTag(options.tagName);
        break;
      case PeekRequest::kHelp:
        break;
    }
  } else if (!options.outputs.empty()) {
    const QvdTableMetadata* facts = options.fields ? nullptr : &table;
    switch (options.outputs[0]) {
      case PeekOutput::kJson:
        output.Write(JsonReport(facts, fields, options.realAsDecimal));
        break;
      case PeekOutput::kXml:
        output.Write(XmlReport(facts, fields, options.realAsDecimal));
        break;
      case PeekOutput::kOrd:
        output.Write(DataDefinitionReport(fields, options));
        break;
    }
  } else if (options.fields) {
    ok = printTag("Fields");
  } else {
    output.Write(header);
  }
  if (!ok) {
    return kExitFailure;
  }
  if (!output.flush()) {
    g_Logger.Fail("Error writing output.");
    return kExitFailure;
  }
  g_Logger.Succ("%s", "");
  return kExitSuccess;
}

int TablePeekMain(int argc, char** argv) {
  TablePeekOptions options;
  if (ParseTablePeekOptions(argc, argv, options) != kExitSuccess) {
    return kExitFailure;
  }
  if (std::optional<std::string> error = ValidateTablePeekOptions(options)) {
    g_Logger.Fail("%s", error->c_str());
    return kExitFailure;
  }
  return RunTablePeek(options, stdin, stdout);
}

}  // namespace orv
