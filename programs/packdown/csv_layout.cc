#include "programs/packdown/csv_layout.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "programs/common/program.h"
#include "programs/common/record_chunks.h"
#include "runtime/values.h"
#include "runtime/workers.h"
#include "types/calendar.h"
#include "types/text_token.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

constexpr size_t kMaxDecimalDigits = 38;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The digits of `text` from `at` on; false when there is none or a byte other than a digit.
bool AllDigits(std::string_view text, size_t at) {
  if (at >= text.size()) {
    return false;
  }
  for (size_t i = at; i < text.size(); ++i) {
    if (!IsDigit(text[i])) {
      return false;
    }
  }
  return true;
}

// An integer part as an int prints it: `0`, or digits without a leading zero, after an optional
// minus.
bool IsCanonicalWhole(std::string_view text) {
  const size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  if (!AllDigits(text, start)) {
    return false;
  }
  return text.size() - start == 1 || text[start] != '0';
}

bool IsCanonicalInt(std::string_view text) {
  if (!IsCanonicalWhole(text) || text == "-0" || text.size() > 11) {
    return false;
  }
  long long value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value >= INT32_MIN && value <= INT32_MAX;
}

// A canonical integer part, a point and `scale` digits (the first value fixes the scale); a
// negative zero is left out, as its sign would not come back.
bool FitsDecimal(std::string_view text, size_t& scale, size_t& precision) {
  const size_t point = text.find('.');
  if (point == std::string_view::npos || !IsCanonicalWhole(text.substr(0, point)) ||
      !AllDigits(text, point + 1)) {
    return false;
  }
  const size_t fraction = text.size() - point - 1;
  if (scale != 0 && fraction != scale) {
    return false;
  }
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string_view::npos) {
    return false;
  }
  const size_t digits = point - (text[0] == '-' ? 1 : 0) + fraction;
  scale = fraction;
  precision = std::max(precision, digits);
  return precision <= kMaxDecimalDigits;
}

// The shortest text that reads back as the same double.
bool IsShortestDouble(std::string_view text) {
  const size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  if (start >= text.size() || !IsDigit(text[start])) {
    return false;
  }
  double value = 0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
  if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() ||
      !std::isfinite(value)) {
    return false;
  }
  char shortest[64];
  const auto printed = std::to_chars(shortest, shortest + sizeof shortest, value);
  return std::string_view(shortest, static_cast<size_t>(printed.ptr - shortest)) == text;
}

// Two digits at `at` as a number; -1 when they aren't two digits.
int TwoDigits(std::string_view text, size_t at) {
  return IsDigit(text[at]) && IsDigit(text[at + 1]) ? (text[at] - '0') * 10 + text[at + 1] - '0'
                                                    : -1;
}

// `YYYY-MM-DD` of a real day.
bool IsIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
    return false;
  }
  const int century = TwoDigits(text, 0);
  const int year = TwoDigits(text, 2);
  const int month = TwoDigits(text, 5);
  const int day = TwoDigits(text, 8);
  if (century < 0 || year < 0 || month < 0 || day < 0) {
    return false;
  }
  if (century + year > 0) {  // years 0001 to 9999, without the parser
    return month >= 1 && month <= 12 && day >= 1 &&
           static_cast<unsigned>(day) <= DaysInMonth(century * 100 + year, month);
  }
  const std::string copy(text);  // the parser wants a terminating 0x00
  const std::optional<date> value = ParseDateText(copy, "%Y-%m-%d");
  char out[kTimeTextCapacity];
  return value && std::string_view(out, FormatDateText(*value, "%Y-%m-%d", out)) == text;
}

// `YYYY-MM-DD hh:mm:ss` of a real day and second.
bool IsIsoDateTime(std::string_view text) {
  if (text.size() != 19 || text[10] != ' ' || text[13] != ':' || text[16] != ':' ||
      !IsIsoDate(text.substr(0, 10))) {
    return false;
  }
  const int hour = TwoDigits(text, 11);
  const int minute = TwoDigits(text, 14);
  const int second = TwoDigits(text, 17);
  if (text.substr(0, 4) != "0000") {  // a day of years 0001 to 9999, without the parser
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
  }
  const char* format = "%Y-%m-%d %H:%M:%S";
  const std::string copy(text);
  const std::optional<int64_t> value = ParseDateTimeText(copy, format);
  char out[kTimeTextCapacity];
  return value && std::string_view(out, FormatDateTimeText(*value, format, out)) == text;
}

// A field name in data-definition text: a bare word when it is one, else quoted.
std::string NameText(std::string_view name) {
  bool bare = !name.empty() && !IsDigit(name[0]);
  for (const char c : name) {
    bare = bare && (c == '_' || IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
  }
  if (bare) {
    return std::string(name);
  }
  std::string text = "\"";
  for (const char c : name) {
    if (c == '"' || c == '\\') {
      text.push_back('\\');
    }
    text.push_back(c);
  }
  return text + "\"";
}

}  // namespace

void ColumnGuess::Add(std::string_view value, bool quoted) {
  if (value.empty() && !quoted) {
    nullable_ = true;
    return;
  }
  any_ = true;
  int_ = int_ && IsCanonicalInt(value);
  decimal_ = decimal_ && FitsDecimal(value, scale_, precision_);
  double_ = double_ && IsShortestDouble(value);
  date_ = date_ && IsIsoDate(value);
  dateTime_ = dateTime_ && IsIsoDateTime(value);
}

std::string ColumnGuess::Text() const {
  std::string type =
      !any_       ? "string"
      : int_      ? "int"
      : decimal_  ? "decimal(" + std::to_string(precision_) + "," + std::to_string(scale_) + ")"
      : double_   ? "double"
      : date_     ? "date"
      : dateTime_ ? "datetime"
                  : "string";
  return nullable_ ? type + " nullable" : type;
}

void ColumnGuess::Merge(const ColumnGuess& later) {
  // The first value with a fraction fixes the scale; a later one of another scale rules out
  // decimal.
  const bool sameScale = scale_ == 0 || later.scale_ == 0 || scale_ == later.scale_;
  decimal_ = decimal_ && later.decimal_ && sameScale;
  scale_ = scale_ != 0 ? scale_ : later.scale_;
  precision_ = std::max(precision_, later.precision_);
  any_ = any_ || later.any_;
  nullable_ = nullable_ || later.nullable_;
  int_ = int_ && later.int_;
  double_ = double_ && later.double_;
  date_ = date_ && later.date_;
  dateTime_ = dateTime_ && later.dateTime_;
}

namespace {

// One CSV line into the first `count` of `values` (their strings are reused from line to line):
// kStatusOk, kStatusEnd at the end of the input, another status for a line that does not read.
int ReadLine(IFileInput& input, char delimiter, bool skipBlank,
             std::vector<std::pair<std::string, bool>>& values, size_t& count) {
  count = 0;
  if (const int start = text_token::StartCsvRecord(input, skipBlank); start != kStatusOk) {
    return start;
  }
  for (text_token::CsvEnd end = text_token::CsvEnd::kValue; end == text_token::CsvEnd::kValue;) {
    if (count == values.size()) {
      values.emplace_back();
    }
    std::pair<std::string, bool>& value = values[count++];
    value.first.clear();
    const int status =
        text_token::ReadCsv(input, delimiter, SIZE_MAX, value.first, value.second, end);
    if (status != kStatusOk) {
      return status == kStatusEnd ? kStatusBad : status;
    }
  }
  return kStatusOk;
}

// The layout of `names` and `guesses`, checked as a user's data definition is.
Status MakeLayout(const std::vector<std::pair<std::string, bool>>& names,
                  const std::vector<ColumnGuess>& guesses, TypeTraitsCollection& layout,
                  std::string& definition) {
  auto invalid = [&](size_t i) {
    return Status::Invalid("Header name " + std::to_string(i + 1) + " ('" + names[i].first +
                           "') is not a valid field name.");
  };
  for (size_t i = 0; i < names.size(); ++i) {
    // A NUL would end the definition text early (c_str), leaving fewer fields than names.
    if (names[i].first.empty() || names[i].first.find('\0') != std::string::npos) {
      return invalid(i);
    }
    definition += (i == 0 ? "" : "; ") + NameText(names[i].first) + " " + guesses[i].Text();
  }
  ORV_RETURN_IF_ERROR(AddInlineFields(layout, definition.c_str()));
  for (size_t i = 0; i < names.size(); ++i) {
    if (i >= layout.size() || layout[i].name() != names[i].first) {  // never index past the layout
      return invalid(i);
    }
  }
  if (std::optional<std::string> error = CheckPresenceAndUniqueness(layout)) {
    return Status::Invalid(*error);
  }
  return Status::Ok();
}

// Adds the values of `text`'s lines to `guesses`, up to the first line that does not read or
// has another number of values; true when every line reads, up to the end of `text`.
bool GuessLines(std::string_view text, char delimiter, std::vector<ColumnGuess>& guesses) {
  MemoryInput input(text.data(), text.size());
  std::vector<std::pair<std::string, bool>> values;
  size_t count = 0;
  int status;
  while ((status = ReadLine(input, delimiter, guesses.size() > 1, values, count)) == kStatusOk) {
    if (count != guesses.size()) {
      return false;
    }
    for (size_t i = 0; i < count; ++i) {
      guesses[i].Add(values[i].first, values[i].second);
    }
  }
  return status == kStatusEnd;
}

// Where `body` may be cut into chunks of about `bytes`, as records are (FindTextCut): after a
// line end where the quotes since the chunk's start are even. The first chunk starts at 0; the
// last ends at the body's end.
std::vector<size_t> FindCuts(std::string_view body, size_t bytes) {
  ChunkCut cut;
  cut.quote = '"';
  std::vector<size_t> cuts{0};
  size_t from = 0;  // of the bytes from the last cut, those scanned without a cut
  bool odd = false;
  while (body.size() - cuts.back() > bytes) {
    const size_t size = std::min(from + bytes, body.size() - cuts.back());
    const size_t at = FindTextCut(body.data() + cuts.back(), size, from, cut, odd);
    if (at == 0 && size < body.size() - cuts.back()) {
      from = size;  // a line longer than a chunk
      continue;
    }
    if (at == 0 || cuts.back() + at == body.size()) {
      break;
    }
    cuts.push_back(cuts.back() + at);
    from = 0;
    odd = false;
  }
  cuts.push_back(body.size());
  return cuts;
}

// Guesses from `body`'s lines as GuessLines makes them in one pass, on `threads` threads: chunks
// are guessed at once, each on its own, and merged in order while each reads to its very end
// (so the next starts where a line starts); from the first that doesn't, the rest is guessed in
// one pass.
void GuessBody(std::string_view body, char delimiter, unsigned threads,
               std::vector<ColumnGuess>& guesses) {
  const std::vector<size_t> cuts =
      threads > 1 ? FindCuts(body, ChunkBytes()) : std::vector<size_t>{};
  if (cuts.size() <= 2) {
    GuessLines(body, delimiter, guesses);
    return;
  }
  struct Chunk {
    std::vector<ColumnGuess> guesses;
    bool whole = false;
  };
  std::vector<Chunk> chunks(cuts.size() - 1);
  {
    TaskPool pool(threads);
    for (size_t k = 0; k < chunks.size(); ++k) {
      pool.Submit([&, k] {
        chunks[k].guesses.resize(guesses.size());
        chunks[k].whole =
            GuessLines(body.substr(cuts[k], cuts[k + 1] - cuts[k]), delimiter, chunks[k].guesses);
      });
    }
  }
  size_t k = 0;
  for (; k < chunks.size() && (chunks[k].whole || k + 1 == chunks.size()); ++k) {
    for (size_t i = 0; i < guesses.size(); ++i) {
      guesses[i].Merge(chunks[k].guesses[i]);
    }
    if (!chunks[k].whole) {
      return;  // the last chunk, read as one pass reads it
    }
  }
  if (k < chunks.size()) {
    GuessLines(body.substr(cuts[k]), delimiter, guesses);
  }
}

}  // namespace

Status InferCsvLayout(std::string_view data, char delimiter, unsigned threads,
                      TypeTraitsCollection& layout, std::string& definition) {
  MemoryInput input(data.data(), data.size());
  std::vector<std::pair<std::string, bool>> names;
  size_t count = 0;
  if (ReadLine(input, delimiter, false, names, count) != kStatusOk) {
    return Status::Invalid("The CSV input has no header line to name the fields.");
  }
  names.resize(count);
  std::vector<ColumnGuess> guesses(names.size());
  const auto header = static_cast<size_t>(std::min<uint64_t>(input.BytesConsumed(), data.size()));
  GuessBody(data.substr(header), delimiter, threads, guesses);
  return MakeLayout(names, guesses, layout, definition);
}

}  // namespace orv
