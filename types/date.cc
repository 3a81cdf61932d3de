#include "types/date.h"

#include <cmath>

#include "runtime/settings.h"
#include "types/calendar.h"
#include "types/generators.h"
#include "types/qvd_symbol.h"
#include "types/qvx_value.h"

namespace orv {

const std::string& DateTypeTraits<date>::EffectiveFormat() const {
  return format_ ? *format_ : g_TypeTraitsOptions.dateFormat;
}

int DateTypeTraits<date>::Parse(IFileInput& input, size_t& size, bool recordFormat) {
  const char* format = EffectiveFormat().c_str();
  return ParseWith(input, size, recordFormat, [format](std::string_view token, unsigned& v) {
    std::optional<date> parsed = ParseDateText(token, format);
    if (!parsed) {
      return false;
    }
    v = parsed->packed();
    return true;
  });
}

std::string_view DateTypeTraits<date>::FormatText(const void* value, size_t, char* scratch) const {
  uint32_t packed;
  memcpy(&packed, value, sizeof packed);
  return {scratch, FormatDateText(date::FromPacked(packed), EffectiveFormat().c_str(), scratch)};
}

}  // namespace orv

namespace orv {

// --- QVD symbols ---------------------------------------------------------------------------------
//
// A date is the whole number of days since 1899-12-30 (kind 1).

bool DateTypeTraits<date>::ReadQvdSymbol(const char* symbol, size_t length, const QvdFieldMetadata&,
                                         size_t& size) {
  qvd_symbol::Symbol s;
  if (!qvd_symbol::Decode(symbol, length, s)) {
    return false;
  }
  int64_t days = 0;
  if (s.kind == qvd::kSymbolInt || s.kind == qvd::kSymbolDualInt) {
    days = s.integer;
  } else if (s.kind == qvd::kSymbolDouble || s.kind == qvd::kSymbolDualDouble) {
    // Other writers store dates as doubles: a whole day number is a date, a fraction is not.
    if (!(std::fabs(s.number) <= 1e9) || s.number != std::trunc(s.number)) {
      return false;
    }
    days = static_cast<int64_t>(s.number);
  } else {
    return false;
  }
  std::optional<date> d = date::FromEpochDays(qvd_symbol::kDayEpoch + days);
  return d && AcceptSymbolValue(d->packed(), size);
}

size_t DateTypeTraits<date>::GetQvdSymbolSize(const void*, size_t) const {
  return qvd_symbol::kIntSymbolSize;
}

void DateTypeTraits<date>::WriteQvdSymbol(BufferedFileOutput& output, const void* data,
                                          size_t) const {
  uint32_t packed;
  memcpy(&packed, data, sizeof packed);
  qvd_symbol::WriteInt(output, static_cast<int32_t>(date::FromPacked(packed).CarriedEpochDays() -
                                                    qvd_symbol::kDayEpoch));
}

void DateTypeTraits<date>::WriteQvdHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvdHeader(output);
  qvd_symbol::WriteNumberFormat(output, "DATE",
                                qvdFormat_ ? *qvdFormat_ : g_TypeTraitsOptions.qvdDateFormat);
  qvd_symbol::WriteTags(output, {"$numeric", "$integer", "$timestamp", "$date"});
}

// --- QVX values ----------------------------------------------------------------------------------

void DateTypeTraits<date>::WriteQvxHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvxHeader(output);
  qvx_value::WriteFieldLines(output, "QVX_TEXT", "QVX_COUNTED", 1, -1, "DATE", "YYYY-MM-DD");
}

void DateTypeTraits<date>::WriteQvx(BufferedFileOutput& output) const {
  if (qvx_value::WriteFlag(output, nullable(), IsNull())) {
    char text[kTimeTextCapacity];
    qvx_value::WriteCountedText(
        output, {text, FormatDateText(date::FromPacked(current()), "%Y-%m-%d", text)});
  }
}

std::unique_ptr<Generator> DateTypeTraits<date>::MakeGenerator() const {
  return std::make_unique<DateGenerator>(nullable());
}

}  // namespace orv
