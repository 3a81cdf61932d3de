#include "programs/common/record_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "programs/common/program.h"
#include "runtime/logger.h"
#include "runtime/options.h"
#include "runtime/settings.h"
#include "types/type_traits_parser.h"

namespace orv {

Status AllowMissingSeparator(RecordInputOptions& options) {
  options.allowMissingSeparator = true;
  g_TypeTraitsOptions.allowMissingSeparatorAtEof = true;
  return Status::Ok();
}

Status SetCsv(RecordInputOptions& options) {
  options.csv = true;
  return Status::Ok();
}

Status SetNoHeader(RecordInputOptions& options) {
  options.csvHeader = false;
  return Status::Ok();
}

Status SetDelimiter(RecordInputOptions& options, const char* argument) {
  const std::string_view text(argument);
  const char byte = text == "\\t" ? '\t' : text.size() == 1 ? text[0] : '"';
  if (byte == '"' || byte == '\r' || byte == '\n') {
    return Status::Invalid("--delimiter takes one byte other than '\"', CR and LF.");
  }
  options.delimiter = byte;
  return Status::Ok();
}

Status SetMatchFields(RecordInputOptions& options) {
  options.matchFields = true;
  return Status::Ok();
}

// --csv is an input mode of its own; its settings mean nothing without it.
Status CheckCsvOptions(const RecordInputOptions& options) {
  if (!options.csv) {
    const char* alone = !options.csvHeader    ? "--no-header"
                        : options.delimiter   ? "--delimiter"
                        : options.matchFields ? "--match-fields"
                                              : nullptr;
    return alone == nullptr ? Status::Ok()
                            : Status::Invalid(std::string(alone) + " goes with --csv only.");
  }
  if (options.textInput) {
    return Status::Invalid("--csv can't be used with the delimited text options (-x, -a, -b).");
  }
  if (options.matchFields && !options.csvHeader) {
    return Status::Invalid("--match-fields needs the header line: not with --no-header.");
  }
  return Status::Ok();
}

Status PrepareRecordInput(RecordInputOptions& options, bool (TypeTraits::*supports)() const) {
  ORV_RETURN_IF_ERROR(CheckCsvOptions(options));
  options.textInput = options.textInput || options.csv;
  ORV_RETURN_IF_ERROR(CheckLayoutSupport(options.layout, supports));
  ORV_RETURN_IF_ERROR(
      CheckMissingSeparatorOption(options.allowMissingSeparator, options.textInput));
  options.layout.Prepare();
  if (options.csv) {
    for (const auto& field : options.layout) {
      field->SetCsv(options.delimiter.value_or(','));
    }
  }
  return Status::Ok();
}

Status RecordReader::ReadCsvHeader() {
  std::vector<std::string> names;
  if (!options_.csvHeader) {
    names.resize(layout_.size());
    return BindColumns(names);
  }
  if (const int start = text_token::StartCsvRecord(*input_, false); start != kStatusOk) {
    return start == kStatusEnd ? Status::Invalid("The CSV input has no header line.")
                               : Failure(0, start);
  }
  for (text_token::CsvEnd end = text_token::CsvEnd::kValue; end == text_token::CsvEnd::kValue;) {
    const int status = SkipCsvValue(end);
    if (status != kStatusOk) {
      return status == kStatusError ? Failure(0, status)
                                    : Status::Invalid("The CSV header line can't be read.");
    }
    names.push_back(skipped_);
  }
  return BindColumns(names);
}

// Each column to its field: by position, or with --match-fields by name (every field must have
// its column; a column that no field names is ignored, as a query that picks columns by name).
Status RecordReader::BindColumns(const std::vector<std::string>& names) {
  const size_t fieldCount = layout_.size();
  if (!options_.matchFields) {
    if (names.size() != fieldCount) {
      return Status::Invalid("The header has " + std::to_string(names.size()) +
                             " names; the layout has " + std::to_string(fieldCount) + " fields.");
    }
    for (size_t i = 0; i < fieldCount; ++i) {
      columns_.push_back(i);
    }
    return Status::Ok();
  }
  columns_.assign(names.size(), kSkipped);
  for (size_t i = 0; i < fieldCount; ++i) {
    const std::string& name = layout_[i].name();
    const auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end()) {
      return Status::Invalid("Field '" + name + "' is not in the header.");
    }
    if (std::find(found + 1, names.end(), name) != names.end()) {
      return Status::Invalid("The header names '" + name + "' twice.");
    }
    columns_[static_cast<size_t>(found - names.begin())] = i;
  }
  return Status::Ok();
}

int RecordReader::SkipCsvValue(text_token::CsvEnd& end) {
  skipped_.clear();
  bool quoted = false;
  return text_token::ReadCsv(*input_, options_.delimiter.value_or(','), SIZE_MAX, skipped_, quoted,
                             end);
}

// A line whose values don't match the columns is named with both counts; else the value failed.
Status RecordReader::CsvFailure(size_t column, size_t field, int status, text_token::CsvEnd end) {
  if (status == kRefused || status == kStatusError) {
    return Failure(field == kSkipped ? 0 : field, status);
  }
  const size_t columnCount = columns_.size();
  size_t values = column + 1;
  while (end == text_token::CsvEnd::kValue && SkipCsvValue(end) == kStatusOk) {
    ++values;  // the rest of the line, to tell a wrong count from a value that doesn't convert
  }
  const bool countWrong = end != text_token::CsvEnd::kNone && values != columnCount;
  failedRecord_ = true;
  const std::string record = "Record no. " + std::to_string(records_ + 1);
  if (countWrong) {
    return Status::Invalid(record + " has " + std::to_string(values) + " values; the " +
                           (options_.matchFields ? "header has " : "layout has ") +
                           std::to_string(columnCount) +
                           (options_.matchFields ? " columns." : " fields."));
  }
  if (field == kSkipped) {
    return Status::Invalid(record + ": the value of column " + std::to_string(column + 1) +
                           " can't be read.");
  }
  return ReportReadFailure(layout_[field], records_ + 1, true);
}

Status RecordReader::Failure(size_t field, int status) {
  if (status == kRefused) {
    return std::move(refusal_);
  }
  failedRecord_ = true;
  if (status == kStatusError) {
    return Status::IoError(std::string("Error reading input: ") + strerror(input_->errorNumber()) +
                           ".");
  }
  return ReportReadFailure(layout_[field], records_ + 1, text_);
}

int RecordReader::Finish(const Status& status) const {
  const int exitStatus = orv::Finish(status);
  if (failedRecord_ && !debugFile_.empty() && !input_->LogDebugDump(debugFile_)) {
    g_Logger.Warning("Can't write debug file: '%s'.", debugFile_.c_str());
  }
  return exitStatus;
}

}  // namespace orv
