// tablepeek's command line: the usage text, the option table and the rules over the options.
#include <regex>

#include "programs/tablepeek/table_peek.h"
#include "qvd/header_parser.h"
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

using Options = TablePeekOptions;

std::string CharText(char c) {
  return c == '\0' ? std::string() : std::string(1, c);
}

// One character from an option's text: empty means none (a present NUL); a longer text warns
// and keeps its first character. The INFO line names the character kept.
char SingleCharacter(const std::string& text, const char* what, const char* logName) {
  char kept = '\0';
  if (!text.empty()) {
    if (text.size() > 1) {
      g_Logger.Warning("%s contains %lu characters, using first character.", what,
                       static_cast<unsigned long>(text.size()));
    }
    kept = text[0];
  }
  g_Logger.Info(logName, CharText(kept));
  return kept;
}

Status Request(Options& options, PeekRequest request) {
  options.requests.push_back(request);
  return Status::Ok();
}

Status SetOutput(Options& options, const char* argument) {
  const std::string text = argument;
  g_Logger.Info("output", text);
  if (text == "ord") {
    options.outputs.push_back(PeekOutput::kOrd);
  } else if (text == "json") {
    options.outputs.push_back(PeekOutput::kJson);
  } else if (text == "xml") {
    options.outputs.push_back(PeekOutput::kXml);
  } else {
    return Status::Invalid("Unknown output: '" + text + "'.");
  }
  return Status::Ok();
}

// --real-as-decimal[=P,S]
Status SetRealAsDecimal(Options& options, const char* argument) {
  options.layout.realAsDecimal = true;
  if (argument != nullptr) {
    static const std::regex kPattern("^(\\d+)\\,(\\d+)", std::regex::ECMAScript);
    std::cmatch match;
    std::optional<uint64_t> precision;
    std::optional<uint64_t> scale;
    if (std::regex_match(argument, match, kPattern)) {
      precision = ParseUnsignedRule(match.str(1));
      scale = ParseUnsignedRule(match.str(2));
    }
    if (!precision || !scale) {
      return Status::Invalid(std::string("Invalid 'real-as-decimal' option argument: '") +
                             argument + "'.");
    }
    options.layout.decimalPrecision = precision;
    options.layout.decimalScale = scale;
  }
  g_Logger.Info("real-as-decimal", "");
  return Status::Ok();
}

constexpr ProgramOption<Options> kOptions[] = {
    {{"table-name", 0, ArgumentKind::kNone},
     [](Options& o, const char*) { return Request(o, PeekRequest::kTableName); }},
    {{"no-of-records", 0, ArgumentKind::kNone},
     [](Options& o, const char*) { return Request(o, PeekRequest::kNoOfRecords); }},
    {{"tag", 0, ArgumentKind::kRequired},
     [](Options& o, const char* a) {
       o.tagName = a;
       return Request(o, PeekRequest::kTag);
     }},
    {{"output", 0, ArgumentKind::kRequired}, SetOutput, OptionLog::kQuiet},
    {{"inline", 0, ArgumentKind::kNone},
     [](Options& o, const char*) {
       o.layout.inlineForm = true;
       return Status::Ok();
     }},
    {{"fields", 0, ArgumentKind::kNone},
     [](Options& o, const char*) {
       o.fields = true;
       return Status::Ok();
     }},
    {{"field-separator", 's', ArgumentKind::kRequired},
     [](Options& o, const char* a) {
       o.layout.fieldSeparator =
           SingleCharacter(*UnEscape(a, false), "Field separator", "field-separator");
       return Status::Ok();
     },
     OptionLog::kQuiet},
    {{"record-separator", 'r', ArgumentKind::kRequired},
     [](Options& o, const char* a) {
       o.layout.recordSeparator =
           SingleCharacter(*UnEscape(a, false), "Record separator", "record-separator");
       return Status::Ok();
     },
     OptionLog::kQuiet},
    {{"quote", 'q', ArgumentKind::kRequired},
     [](Options& o, const char* a) {
       o.layout.quote = SingleCharacter(a, "Quote", "quote");
       return Status::Ok();
     },
     OptionLog::kQuiet},
    {{"null", 'l', ArgumentKind::kRequired},
     [](Options& o, const char* a) {
       o.layout.nullText = a;
       return Status::Ok();
     }},
    {{"all-as-string", 0, ArgumentKind::kNone},
     [](Options& o, const char*) {
       o.layout.allAsString = true;
       return Status::Ok();
     }},
    {{"real-as-decimal", 0, ArgumentKind::kOptional}, SetRealAsDecimal, OptionLog::kQuiet},
    {{"date", 0, ArgumentKind::kRequired},
     [](Options& o, const char* a) {
       o.layout.dateFormat = a;
       return Status::Ok();
     }},
    {{"datetime", 0, ArgumentKind::kRequired},
     [](Options& o, const char* a) {
       o.layout.dateTimeFormat = a;
       return Status::Ok();
     }},
    {{"help", 0, ArgumentKind::kNone},
     [](Options& o, const char*) { return Request(o, PeekRequest::kHelp); },
     OptionLog::kQuiet},
    {{"unbuffered", 0, ArgumentKind::kNone},
     [](Options& o, const char*) {
       o.unbuffered = true;
       return Status::Ok();
     }},
};

}  // namespace

std::span<const ProgramOption<TablePeekOptions>> TablePeekOptionTable() {
  return kOptions;
}

Status ValidateTablePeekOptions(const TablePeekOptions& o) {
  if (o.requests.size() + (o.fields ? 1 : 0) > 1) {
    return Status::Invalid(
        "Only one of --fields, --help, --no-of-records, --table-name, --tag options can be used "
        "at a time.");
  }
  if (o.outputs.size() > 1) {
    return Status::Invalid("Only one of 'ord', 'json', 'xml' outputs can be used at a time.");
  }
  if (!o.requests.empty() && !o.outputs.empty()) {
    return Status::Invalid(
        "--output option can't be used with --help, --no-of-records, --table-name, --tag "
        "options.");
  }
  const bool ord = !o.outputs.empty() && o.outputs[0] == PeekOutput::kOrd;
  if (ord && o.fields) {
    return Status::Invalid("--fields option can't be used for 'ord' output.");
  }
  const InspectedLayoutOptions& l = o.layout;
  const bool ordOption = l.allAsString || l.dateFormat || l.dateTimeFormat || l.fieldSeparator ||
                         l.inlineForm || l.nullText || l.quote || l.realAsDecimal ||
                         l.recordSeparator;
  if (ordOption && !ord) {
    return Status::Invalid(
        "--all-as-string, --date, --datetime, --field-separator, --inline, --null, --quote, "
        "--real-as-decimal, --record-separator options can be used for 'ord' output only.");
  }
  return Status::Ok();
}

Status TablePeek::CheckOptions(const std::vector<std::string>& positionals) {
  // "-" stands for standard input or output.
  if (!positionals.empty()) {
    g_Logger.Info("input file", positionals[0]);
    if (positionals[0] != "-") {
      options_.inputPath = positionals[0];
    }
  }
  if (positionals.size() > 1) {
    g_Logger.Info("output file", positionals[1]);
    if (positionals[1] != "-") {
      options_.outputPath = positionals[1];
    }
  }
  return ValidateTablePeekOptions(options_);
}

bool TablePeek::HelpAsked() const {
  return !options_.requests.empty() && options_.requests[0] == PeekRequest::kHelp;
}

}  // namespace orv
