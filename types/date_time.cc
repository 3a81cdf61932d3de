#include "types/date_time.h"

#include <cmath>
#include <cstring>
#include <optional>

#include "runtime/settings.h"
#include "types/calendar.h"
#include "types/generators.h"
#include "types/qvd_symbol.h"
#include "types/qvx_value.h"

namespace orv {

const std::string& DateTimeTypeTraits<datetime>::EffectiveFormat() const {
  return format_ ? *format_ : g_TypeTraitsOptions.dateTimeFormat;
}

int DateTimeTypeTraits<datetime>::Parse(IFileInput& input, size_t& size, bool recordFormat) {
  const char* format = EffectiveFormat().c_str();
  return ParseWith(input, size, recordFormat, [format](std::string_view token, long& v) {
    std::optional<int64_t> parsed = ParseDateTimeText(token, format);
    if (!parsed) {
      return false;
    }
    v = *parsed;
    return true;
  });
}

std::string_view DateTimeTypeTraits<datetime>::FormatText(const void* value, size_t,
                                                          char* scratch) const {
  long seconds;
  memcpy(&seconds, value, sizeof seconds);
  return {scratch, FormatDateTimeText(seconds, EffectiveFormat().c_str(), scratch)};
}

void DateTimeTypeTraits<datetime>::PrintPlainValues(const char* const* symbols, uint64_t n,
                                                    size_t symbolSize,
                                                    const QvdFieldMetadata& field,
                                                    const AffixedPrinting& printing, char* out,
                                                    size_t width) const {
  const char* format = EffectiveFormat().c_str();
  PrintAffixedTexts<DateTimeTypeTraits, int64_t, kTimeTextCapacity>(
      *this, symbols, n, symbolSize, field, printing, out, width,
      [format](int64_t seconds, char* text) { return FormatDateTimeText(seconds, format, text); });
}

}  // namespace orv

namespace orv {

// --- QVD symbols ---------------------------------------------------------------------------------
//
// A datetime is a day number with the time of day as its fraction (kind 2), counted from
// 1899-12-30, or from 1970-01-01 for times of day and durations.

namespace {

// Keeps day arithmetic in seconds far inside 64 bits.
constexpr double kDayLimit = 1e14;

int64_t EpochOf(const QvdFieldMetadata& field) {
  const bool unixEpoch =
      field.numberType == QvdNumberType::Time || field.numberType == QvdNumberType::Interval;
  return unixEpoch ? qvd_symbol::kUnixDayEpoch : qvd_symbol::kDayEpoch;
}

int64_t InstantOfDay(int32_t day, int64_t epoch) {
  return (epoch + day) * 86400;
}

// A day number with the time of day as its fraction, to the nearest second; none for NaN,
// infinity and numbers of no representable instant.
std::optional<int64_t> InstantOfDays(double v, int64_t epoch) {
  if (!(v > -kDayLimit && v < kDayLimit)) {
    return std::nullopt;
  }
  const double whole = std::floor(v);
  const auto seconds = static_cast<int64_t>((v - whole) * 86400.0 + 0.5);
  return (epoch + static_cast<int64_t>(whole)) * 86400 + seconds;
}

}  // namespace

bool DateTimeTypeTraits<datetime>::ReadQvdSymbol(const char* symbol, size_t length,
                                                 const QvdFieldMetadata& field, size_t& size) {
  qvd_symbol::Symbol s;
  if (!qvd_symbol::Decode(symbol, length, s)) {
    return false;
  }
  switch (s.kind) {
    case qvd::kSymbolInt:
    case qvd::kSymbolDualInt:
      return AcceptInstant(InstantOfDay(s.integer, EpochOf(field)), size);
    case qvd::kSymbolDouble:
    case qvd::kSymbolDualDouble: {
      const std::optional<int64_t> instant = InstantOfDays(s.number, EpochOf(field));
      return instant && AcceptInstant(*instant, size);
    }
    default:
      return false;
  }
}

namespace {

// The instant of the number after a symbol's kind byte `kind` (double or int).
std::optional<int64_t> InstantOfNumber(uint8_t kind, const char* value, int64_t epoch) {
  if (kind == qvd::kSymbolDouble) {
    double v;
    memcpy(&v, value, sizeof v);
    return InstantOfDays(v, epoch);
  }
  int32_t day;
  memcpy(&day, value, sizeof day);
  return InstantOfDay(day, epoch);
}

}  // namespace

uint64_t DateTimeTypeTraits<datetime>::ReadQvdSymbolsAsStream(const char* symbols,
                                                              size_t symbolSize, uint64_t n,
                                                              const QvdFieldMetadata& field,
                                                              char* values) const {
  const uint8_t kind = qvd_symbol::NumberKindOfSize(symbolSize);
  const int64_t epoch = EpochOf(field);
  uint64_t i = 0;
  for (; kind != 0 && i < n && static_cast<uint8_t>(symbols[i * symbolSize]) == kind; ++i) {
    const std::optional<int64_t> instant =
        InstantOfNumber(kind, symbols + i * symbolSize + 1, epoch);
    if (!instant || !datetime::InRange(*instant)) {
      break;
    }
    memcpy(values + i * sizeof(int64_t), &*instant, sizeof(int64_t));
  }
  return i;
}

void DateTimeTypeTraits<datetime>::ReadPlainValues(const char* const* symbols, uint64_t n,
                                                   size_t symbolSize, const QvdFieldMetadata& field,
                                                   char* out, size_t width) const {
  const uint8_t kind = qvd_symbol::NumberKindOfSize(symbolSize);
  const int64_t epoch = EpochOf(field);
  for (uint64_t r = 0; r < n; ++r, out += width) {
    const int64_t instant = InstantOfNumber(kind, symbols[r] + 1, epoch).value_or(0);
    memcpy(out, &instant, sizeof instant);
  }
}

bool DateTimeTypeTraits<datetime>::AcceptInstant(int64_t seconds, size_t& size) {
  // Beyond the years a date holds, the binary stream would hold a value that packdown and feedout
  // refuse, and text a year that can't be read back.
  return datetime::InRange(seconds) && AcceptSymbolValue(seconds, size);
}

size_t DateTimeTypeTraits<datetime>::GetQvdSymbolSize(const void*, size_t) const {
  return qvd_symbol::kDoubleSymbolSize;
}

void DateTimeTypeTraits<datetime>::WriteQvdSymbol(BufferedFileOutput& output, const void* data,
                                                  size_t) const {
  int64_t seconds;
  memcpy(&seconds, data, sizeof seconds);
  int64_t days = seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0);
  int64_t secondOfDay = seconds % 86400 + (seconds % 86400 < 0 ? 86400 : 0);
  int64_t epoch = time_ || interval_ ? qvd_symbol::kUnixDayEpoch : qvd_symbol::kDayEpoch;
  qvd_symbol::WriteDouble(
      output, static_cast<double>(secondOfDay) / 86400.0 + static_cast<double>(days - epoch));
}

void DateTimeTypeTraits<datetime>::WriteQvdHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvdHeader(output);
  const TypeTraitsOptions& o = g_TypeTraitsOptions;
  const char* type = time_ ? "TIME" : interval_ ? "INTERVAL" : "TIMESTAMP";
  const std::string& format = qvdFormat_  ? *qvdFormat_
                              : time_     ? o.qvdTimeFormat
                              : interval_ ? o.qvdIntervalFormat
                                          : o.qvdTimestampFormat;
  qvd_symbol::WriteNumberFormat(output, type, format);
  if (time_ || interval_) {
    qvd_symbol::WriteTags(output, {"$numeric"});
  } else {
    qvd_symbol::WriteTags(output, {"$numeric", "$timestamp"});
  }
}

// --- QVX values ----------------------------------------------------------------------------------

void DateTimeTypeTraits<datetime>::WriteQvxHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvxHeader(output);
  qvx_value::WriteFieldLines(output, "QVX_TEXT", "QVX_COUNTED", 1, -1, "TIMESTAMP",
                             "YYYY-MM-DD hh:mm:ss");
}

void DateTimeTypeTraits<datetime>::WriteQvx(BufferedFileOutput& output) const {
  if (qvx_value::WriteFlag(output, nullable(), IsNull())) {
    char text[kTimeTextCapacity];
    qvx_value::WriteCountedText(output,
                                {text, FormatDateTimeText(current(), "%Y-%m-%d %H:%M:%S", text)});
  }
}

std::unique_ptr<Generator> DateTimeTypeTraits<datetime>::MakeGenerator() const {
  return std::make_unique<DateTimeGenerator>(nullable());
}

}  // namespace orv
