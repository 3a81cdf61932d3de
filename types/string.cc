#include "types/string.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "types/calendar.h"
#include "types/compare.h"
#include "types/csv_text.h"
#include "types/generators.h"
#include "types/qvd_symbol.h"
#include "types/qvx_value.h"

namespace orv {

StringTypeTraits::StringTypeTraits(std::string_view name, size_t fixedSize)
    : TypeTraits(name, "string") {
  fixedSize_ = fixedSize;
}

bool StringTypeTraits::MemoryComparable(const TypeTraits& other) const {
  const StringTypeTraits* string = other.AsString();
  return string != nullptr && string->fixedSize_ == fixedSize_ && string->collation_ == collation_;
}

std::unique_ptr<Generator> StringTypeTraits::MakeGenerator() const {
  return std::make_unique<VariableStringGenerator>(nullable(), fixedSize_);
}

void StringTypeTraits::Generate(size_t& size, bool recordFormat) {
  void* slot = &data_;
  generator_->Generate(slot);
  size += recordFormat && nullable() ? 1 : 0;
  if (slot == nullptr) {
    SetValue(nullptr, 0);
    return;
  }
  SetValue(data_.data(), data_.size());
  size += data_.size() + (recordFormat && fixedSize_ == 0 ? sizeof(uint64_t) : 0);
}

// --- In-memory record ----------------------------------------------------------------------------

void StringTypeTraits::WriteToBuffer(char*& out, bool recordFormat) const {
  if (recordFormat && nullable()) {
    *out++ = IsNull() ? 1 : 0;
  }
  if (IsNull()) {
    return;
  }
  if (recordFormat && fixedSize_ == 0) {
    uint64_t length = valueLength_;
    memcpy(out, &length, sizeof length);
    out += sizeof length;
  }
  if (valueLength_ > 0) {
    memcpy(out, value_, valueLength_);
  }
  out += valueLength_;
}

// --- Binary record stream ------------------------------------------------------------------------

int StringTypeTraits::ReadStreamValue(IFileInput& input, bool afterFlag) {
  // The input ending after the field's first byte is a truncated record; a read error stays one.
  auto fail = [](int status, bool partWay) {
    return status == kInputError || (!partWay && status == kInputEnd) ? status : kStatusBad;
  };
  size_t length = fixedSize_;
  bool lengthRead = false;
  if (fixedSize_ == 0) {
    uint32_t streamLength;
    if (int status = input.Read(&streamLength, sizeof streamLength); status != kInputOk) {
      return fail(status, afterFlag);
    }
    length = streamLength;
    lengthRead = true;
  }
  // Grow with the bytes actually read, so that a damaged length cannot demand memory up front.
  constexpr size_t kChunk = size_t{1} << 20;
  data_.clear();
  while (data_.size() < length) {
    size_t at = data_.size();
    size_t step = std::min(kChunk, length - at);
    data_.resize(at + step);
    if (int status = input.Read(data_.data() + at, step); status != kInputOk) {
      return fail(status, afterFlag || lengthRead || at > 0);
    }
  }
  return kStatusOk;
}

int StringTypeTraits::Read(IFileInput& input, size_t& size, bool recordFormat) {
  const bool flagged = nullable();
  if (flagged) {
    bool isNull = false;
    if (int status = readNullFlag(input, isNull); status != kInputOk) {
      return Status(status);
    }
    size += recordFormat ? 1 : 0;
    if (isNull) {
      SetValue(nullptr, 0);
      return Status(kStatusOk);
    }
  }
  if (int status = ReadStreamValue(input, flagged); status != kStatusOk) {
    return Status(status);
  }
  SetValue(data_.data(), data_.size());
  size += data_.size() + (recordFormat && fixedSize_ == 0 ? sizeof(uint64_t) : 0);
  return Status(kStatusOk);
}

size_t StringTypeTraits::LocateStreamValue(const char* in, size_t available, const char*& bytes,
                                           size_t& length) const {
  uint32_t streamLength;
  if (fixedSize_ != 0 || available < sizeof streamLength) {
    return 0;
  }
  memcpy(&streamLength, in, sizeof streamLength);
  if (available - sizeof streamLength < streamLength) {
    return 0;
  }
  bytes = in + sizeof streamLength;
  length = streamLength;
  return sizeof streamLength + streamLength;
}

int StringTypeTraits::ReadFixedSize(IFileInput& input, char*& out, bool& isNull) {
  size_t size = 0;
  int status = Read(input, size, false);
  isNull = status == kStatusOk && IsNull();
  if (status == kStatusOk && !isNull) {
    WriteToBuffer(out, false);
  }
  return status;
}

void StringTypeTraits::WriteStream(BufferedFileOutput& output, const char* value, size_t length,
                                   bool flagged) const {
  if (flagged) {
    output.WriteByte(value == nullptr ? 1 : 0);
  }
  if (value == nullptr) {
    return;
  }
  if (fixedSize_ == 0) {
    auto streamLength = static_cast<uint32_t>(length);
    output.Write(&streamLength, sizeof streamLength);
  }
  output.Write(value, length);
}

void StringTypeTraits::Write(BufferedFileOutput& output) const {
  WriteStream(output, static_cast<const char*>(value_), valueLength_, nullable());
}

void StringTypeTraits::Write(BufferedFileOutput& output, const char*& data, bool nullable) const {
  size_t length;
  const char* value = getDataAndAdvance(data, fixedSize_, nullable, length);
  WriteStream(output, value, length, nullable);
}

// --- Comparison ----------------------------------------------------------------------------------

CompareContext StringTypeTraits::MakeCompareContext(bool flag, std::string* error) const {
  CompareContext context;
  context.flag = flag;
  if (!collation_) {
    return context;
  }
  if (collation_->icuLocale) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale(collation_->icuLocale->c_str()), status));
    if (U_FAILURE(status) || collator == nullptr) {
      if (error != nullptr) {
        *error = "Can't create a collator for locale: '" + *collation_->icuLocale + "'.";
      }
      return context;
    }
    collator->setStrength(flag ? icu::Collator::SECONDARY : icu::Collator::TERTIARY);
    context.collator = std::move(collator);
  } else if (collation_->locale) {
    context.locale = *collation_->locale;
    context.facet = &std::use_facet<std::collate<char>>(context.locale);
  }
  return context;
}

LessFunctor StringTypeTraits::getLessFunctor(bool flag) const {
  bool descending = sortDirection() == 1;
  LessFunctor f;
  f.context = MakeCompareContext(flag);
  f.function = nullable()
                   ? (descending ? NullableVariableStringGreater : NullableVariableStringLess)
                   : (descending ? VariableStringGreater : VariableStringLess);
  return f;
}

LessFunctor StringTypeTraits::getEqualFunctor(bool flag) const {
  LessFunctor f;
  f.context = MakeCompareContext(flag);
  f.function = nullable() ? NullableVariableStringEqual : VariableStringEqual;
  return f;
}

CompareFunctor StringTypeTraits::getCompareFunctor(bool flag) const {
  bool descending = sortDirection() == 1;
  CompareFunctor f;
  f.context = MakeCompareContext(flag);
  f.function = nullable() ? (descending ? NullableVariableStringCompareGreater<false>
                                        : NullableVariableStringCompareLess<false>)
                          : (descending ? VariableStringCompareGreater : VariableStringCompareLess);
  return f;
}

CompareFunctor StringTypeTraits::getFullCompareFunctor(bool flag) const {
  bool descending = sortDirection() == 1;
  CompareFunctor f;
  f.context = MakeCompareContext(flag);
  f.function = nullable() ? (descending ? NullableVariableStringCompareGreater<true>
                                        : NullableVariableStringCompareLess<true>)
                          : (descending ? VariableStringCompareGreater : VariableStringCompareLess);
  return f;
}

// --- Text ----------------------------------------------------------------------------------------

std::string VariableStringTypeTraits::GetTypeName() const {
  return fixedSize_ == 0 ? "string" : "string(" + std::to_string(fixedSize_) + ")";
}

int VariableStringTypeTraits::Parse(IFileInput& input, size_t& size, bool recordFormat) {
  if (int status = readParseToken(input); status != kStatusOk) {
    return Status(status);
  }
  const bool flag = recordFormat && nullable();
  if (isParseTokenNull()) {
    SetValue(nullptr, 0);
    size += flag ? 1 : 0;
    return Status(kStatusOk);
  }
  if (fixedSize_ != 0) {
    if (scratch_.size() > fixedSize_) {
      return Status(kStatusBad);
    }
    scratch_.resize(fixedSize_, ' ');
  }
  SetValue(scratch_.data(), scratch_.size());
  size += scratch_.size() + (flag ? 1 : 0) + (recordFormat && fixedSize_ == 0 ? 8 : 0);
  return Status(kStatusOk);
}

}  // namespace orv

namespace orv {

// --- QVD symbols ---------------------------------------------------------------------------------

namespace {

// In CSV, a plain number of a FIX field prints with the field's decimals (nDec), as packdown writes
// decimals, when that text reads back as the very number stored; null otherwise (another field,
// a number beyond the decimals: it prints as any number does).
char* FormatFixNumber(const qvd_symbol::Symbol& s, const QvdFieldMetadata& field, char* out) {
  if (field.numberType != QvdNumberType::Fix || !field.numberDecimals ||
      *field.numberDecimals > 18 || (s.kind != qvd::kSymbolInt && s.kind != qvd::kSymbolDouble)) {
    return nullptr;
  }
  const double value = s.kind == qvd::kSymbolInt ? s.integer : s.number;
  if (!(std::fabs(value) < 1e15)) {
    return nullptr;
  }
  char* end = std::to_chars(out, out + 40, value, std::chars_format::fixed,
                            static_cast<int>(*field.numberDecimals))
                  .ptr;
  double back = 0;
  std::from_chars(out, end, back);
  return back == value ? end : nullptr;
}

// In CSV, a plain number of a DATE or TIMESTAMP field (a day number, or days with a fraction of a
// day, as packdown writes them) prints as the ISO text that CSV input reads back as that type;
// null when it has none (another type, a year outside 0 to 9999, a timestamp off whole seconds).
char* FormatCalendarNumber(const qvd_symbol::Symbol& s, const QvdFieldMetadata& field, char* out) {
  if (char* fixed = FormatFixNumber(s, field, out)) {
    return fixed;
  }
  const bool isDate = field.numberType == QvdNumberType::Date && s.kind == qvd::kSymbolInt;
  const bool isStamp = field.numberType == QvdNumberType::Timestamp &&
                       (s.kind == qvd::kSymbolDouble || s.kind == qvd::kSymbolInt);
  if (!isDate && !isStamp) {
    return nullptr;
  }
  const double value = s.kind == qvd::kSymbolInt ? s.integer : s.number;
  const double seconds = std::round(value * 86400.0);
  if (!(std::fabs(value) < 1e7) || std::fabs(value * 86400.0 - seconds) > 1e-3) {
    return nullptr;
  }
  const auto total = static_cast<int64_t>(seconds);
  const int64_t days = (total >= 0 ? total : total - 86399) / 86400;
  const int64_t second = total - days * 86400;
  const CivilDate civil = CivilFromDays(qvd_symbol::kDayEpoch + days);
  if (civil.year < 0 || civil.year > 9999) {
    return nullptr;
  }
  return isDate ? IsoDate(out, static_cast<unsigned>(civil.year), civil.month, civil.day)
                : IsoDateTime(out, civil, second);
}

// The text of a number symbol (room for 64 bytes at `out`), as `csv` text or not; null for a
// symbol of another kind.
char* FormatNumberSymbol(const qvd_symbol::Symbol& s, const QvdFieldMetadata& field, bool csv,
                         char* out) {
  if (char* calendar = csv ? FormatCalendarNumber(s, field, out) : nullptr) {
    return calendar;
  }
  if (s.kind == qvd::kSymbolInt) {
    return std::to_chars(out, out + 64, s.integer).ptr;
  }
  if (s.kind == qvd::kSymbolDouble) {
    // As stored: %.17g in delimited text, the shortest round-trip form in CSV.
    return csv ? FormatShortestDouble(s.number, out) : FormatFullDouble(s.number, out);
  }
  return nullptr;
}

}  // namespace

uint64_t StringTypeTraits::CountPlainSymbols(const char* symbols, size_t symbolSize, uint64_t n,
                                             const QvdFieldMetadata&) const {
  const uint8_t kind = qvd_symbol::NumberKindOfSize(symbolSize);
  uint64_t s = 0;
  while (kind != 0 && s < n && static_cast<uint8_t>(symbols[s * symbolSize]) == kind) {
    ++s;
  }
  return s;
}

void StringTypeTraits::PrintPlainValues(const char* const* symbols, uint64_t n, size_t symbolSize,
                                        const QvdFieldMetadata& field,
                                        const AffixedPrinting& printing, char* out,
                                        size_t width) const {
  const std::string_view before = printing.before;
  const std::string_view after = printing.after;
  for (uint64_t r = 0; r < n; ++r, out += width) {
    qvd_symbol::Symbol s;
    char text[64];
    char* end = qvd_symbol::Decode(symbols[r], symbolSize, s)
                    ? FormatNumberSymbol(s, field, csvText(), text)
                    : nullptr;
    const size_t length = end != nullptr ? static_cast<size_t>(end - text) : 0;
    char* at = out + 1;
    memcpy(at, before.data(), before.size());
    memcpy(at + before.size(), text, length);
    memcpy(at + before.size() + length, after.data(), after.size());
    out[0] = static_cast<char>(before.size() + length + after.size());
  }
}

bool StringTypeTraits::ReadQvdSymbol(const char* symbol, size_t length,
                                     const QvdFieldMetadata& field, size_t& size) {
  qvd_symbol::Symbol s;
  if (!qvd_symbol::Decode(symbol, length, s)) {
    return false;
  }
  std::string_view text = s.text;
  char number[64];
  if (char* end = FormatNumberSymbol(s, field, csvText(), number)) {
    text = std::string_view(number, static_cast<size_t>(end - number));
  }
  if (fixedSize_ != 0 && text.size() != fixedSize_) {
    if (text.size() > fixedSize_) {
      return false;
    }
    scratch_.assign(text);
    scratch_.resize(fixedSize_, ' ');
    text = scratch_;
  } else if (text.data() == number) {
    scratch_.assign(text);
    text = scratch_;
  }
  SetValue(text.data(), text.size());
  size += text.size();
  return true;
}

void StringTypeTraits::WriteQvdSymbol(BufferedFileOutput& output, const void* data,
                                      size_t size) const {
  qvd_symbol::WriteText(output, data, size);
}

void StringTypeTraits::WriteQvdHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvdHeader(output);
  qvd_symbol::WriteNumberFormat(output, "ASCII", "");
  qvd_symbol::WriteTags(output, {"$text"});
}

// --- QVX values ----------------------------------------------------------------------------------

void StringTypeTraits::WriteQvxHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvxHeader(output);
  qvx_value::WriteFieldLines(output, "QVX_TEXT", "QVX_COUNTED", 8, -1, "UNKNOWN", nullptr);
}

void StringTypeTraits::WriteQvx(BufferedFileOutput& output) const {
  if (qvx_value::WriteFlag(output, nullable(), IsNull())) {
    uint64_t length = valueLength_;
    output.Write(&length, sizeof length);
    output.Write(value_, valueLength_);
  }
}

}  // namespace orv
