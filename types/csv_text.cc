#include "types/csv_text.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

namespace orv {

bool CsvNeedsQuotes(std::string_view text, char delimiter) {
  for (const char c : text) {
    if (c == delimiter || c == kCsvQuote || c == '\n' || c == '\r') {
      return true;
    }
  }
  return false;
}

void WriteCsvValue(BufferedFileOutput& output, std::string_view text, char delimiter) {
  if (!text.empty() && !CsvNeedsQuotes(text, delimiter)) {
    output.Write(text);
    return;
  }
  output.WriteByte(kCsvQuote);
  size_t start = 0;
  for (size_t at; (at = text.find(kCsvQuote, start)) != std::string_view::npos; start = at + 1) {
    output.Write(text.data() + start, at + 1 - start);
    output.WriteByte(kCsvQuote);
  }
  output.Write(text.data() + start, text.size() - start);
  output.WriteByte(kCsvQuote);
}

char* FormatShortestDouble(double value, char* out) {
  constexpr size_t kRoom = 32;
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e16);
  return std::to_chars(out, out + kRoom, value,
                       plain ? std::chars_format::fixed : std::chars_format::scientific)
      .ptr;
}

char* FormatFullDouble(double value, char* out) {
  return std::to_chars(out, out + 32, value, std::chars_format::general, 17).ptr;
}

bool IsCsvDelimiter(char delimiter) {
  return delimiter != kCsvQuote && delimiter != '\n' && delimiter != '\r';
}

void ApplyCsvOutput(TypeTraitsCollection& layout, char delimiter) {
  for (size_t i = 0; i < layout.size(); ++i) {
    const bool last = i + 1 == layout.size();
    layout[i].SetSeparator(last ? std::nullopt
                                : std::optional<std::string>(std::in_place, 1, delimiter));
    layout[i].SetCsvText(delimiter);
  }
  layout.Prepare();
}

}  // namespace orv
