#include "types/type_traits.h"

#include <algorithm>
#include <typeinfo>
#include <unordered_set>
#include <vector>

#include "runtime/logger.h"
#include "runtime/settings.h"
#include "runtime/text_util.h"
#include "types/csv_text.h"

namespace orv {

TypeTraits::TypeTraits(std::string_view name, std::string_view typeWord)
    : name_(trim(NormalizeName(name))), typeWord_(typeWord) {}

TypeTraits::~TypeTraits() = default;

std::string TypeTraits::GetFullName(std::string_view path) const {
  if (path.empty()) {
    return name_;
  }
  std::string full(path);
  full.append(".").append(name_);
  return full;
}

void TypeTraits::SetSeparator(std::optional<std::string> separator) {
  if (separator && separator->size() > 2) {
    separator->resize(2);
  }
  explicitSeparator_ = std::move(separator);
  if (explicitSeparator_) {
    separatorLength_ = explicitSeparator_->size();
    std::copy(explicitSeparator_->begin(), explicitSeparator_->end(), separator_);
  }
  UpdateRecordEndsToken();
}

void TypeTraits::SetQuote(std::optional<char> quote) {
  quoting_ = quote.has_value();
  quote_ = quote.value_or('"');
  outputNullTokenDoubled_ = DoubleQuotes(outputNullToken_, quote_);
}

void TypeTraits::AddNullToken(std::string_view token) {
  nullable_ = true;
  if (nullTokens_.empty()) {
    outputNullToken_ = token;
    outputNullTokenDoubled_ = DoubleQuotes(outputNullToken_, quote_);
  }
  nullTokens_.emplace_back(token);
  tokenLimit_ = std::max(tokenLimit_, token.size());
}

void TypeTraits::ResolveSeparator(bool first, bool last, std::string_view recordSeparator) {
  firstField_ = first;
  lastField_ = last;
  std::string_view chosen;
  char defaultSeparator = g_TypeTraitsOptions.fieldSeparator;
  if (explicitSeparator_) {
    chosen = *explicitSeparator_;
  } else if (last) {
    chosen = recordSeparator;
  } else {
    chosen = std::string_view(&defaultSeparator, 1);
  }
  separatorLength_ = std::min<size_t>(chosen.size(), 2);
  std::copy_n(chosen.begin(), separatorLength_, separator_);
  recordSeparatorLength_ = std::min<size_t>(recordSeparator.size(), 2);
  std::copy_n(recordSeparator.begin(), recordSeparatorLength_, recordSeparator_);
  UpdateRecordEndsToken();

  tokenLimit_ = MaxTokenLength();
  for (const std::string& token : nullTokens_) {
    tokenLimit_ = std::max(tokenLimit_, token.size());
  }

  textMayBreak_ = !quoting_;
  const std::string alphabet = TextAlphabet();
  if (textMayBreak_ && !alphabet.empty()) {
    auto inAlphabet = [&alphabet](char c) { return alphabet.find(c) != std::string::npos; };
    textMayBreak_ =
        std::any_of(separator_, separator_ + separatorLength_, inAlphabet) ||
        std::any_of(recordSeparator_, recordSeparator_ + recordSeparatorLength_, inAlphabet);
  }
}

namespace {

bool Contains(std::string_view text, const char* bytes, size_t length) {
  return length > 0 && text.find(std::string_view(bytes, length)) != std::string_view::npos;
}

}  // namespace

bool TypeTraits::findOutputNullErrors() const {
  return !quoting_ && !csvOutputDelimiter_ &&
         (Contains(outputNullToken_, separator_, separatorLength_) ||
          Contains(outputNullToken_, recordSeparator_, recordSeparatorLength_));
}

bool TypeTraits::FindOutputErrors() const {
  if (IsNull()) {
    return findOutputNullErrors();
  }
  if (!textMayBreak_ || csvOutputDelimiter_) {
    return false;
  }
  char scratch[512];
  std::string_view text = FormatText(value_, valueLength_, scratch);
  return Contains(text, separator_, separatorLength_) ||
         Contains(text, recordSeparator_, recordSeparatorLength_);
}

void FindAndLogOutputErrors(const TypeTraitsCollection& fields, OutputErrorContext& context) {
  context.reported.resize(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!context.reported[i] && fields[i].FindOutputErrors()) {
      context.reported[i] = true;
      g_Logger.Warning(
          "Value of field '%s' contains its separator or the record separator and can't be read "
          "back (record no. %lu).",
          fields[i].GetFullName().c_str(), static_cast<unsigned long>(context.recordNumber));
    }
  }
}

bool TypeTraits::MemoryEqual(const TypeTraits& other) const {
  return typeid(*this) == typeid(other) && GetTypeName() == other.GetTypeName() &&
         nullable_ == other.nullable_ && fixedSize_ == other.fixedSize_;
}

bool TypeTraits::MemoryComparable(const TypeTraits& other) const {
  return typeid(*this) == typeid(other) && GetTypeName() == other.GetTypeName();
}

void TypeTraits::SetNull(size_t& size, bool withFlag) {
  value_ = nullptr;
  valueLength_ = 0;
  if (withFlag) {
    size += 1;
  }
}

void TypeTraits::WriteQvdHeader(BufferedFileOutput& output) const {
  output.Write("      <FieldName>");
  output.Write(XmlEscape(name_));
  output.Write("</FieldName>\n");
}

void TypeTraits::WriteQvxHeader(BufferedFileOutput& output) const {
  output.Write("      <FieldName>");
  output.Write(XmlEscape(name_));
  output.Write("</FieldName>\n");
  output.Write(nullable_
                   ? "      <NullRepresentation>QVX_NULL_FLAG_SUPPRESS_DATA</NullRepresentation>\n"
                   : "      <NullRepresentation>QVX_NULL_NEVER</NullRepresentation>\n");
}

bool TypeTraits::ReadFromInteger(__int128, const void*&, size_t&) {
  return false;
}
bool TypeTraits::ReadFromInteger(unsigned __int128, const void*&, size_t&) {
  return false;
}

int TypeTraits::ReadDiscard(IFileInput& input) {
  size_t size = 0;
  return Read(input, size, false);
}

int TypeTraits::ParseFixedSize(IFileInput& input, char*& out, bool& isNull) {
  size_t size = 0;
  int status = Parse(input, size, false);
  isNull = status == kStatusOk && IsNull();
  if (status == kStatusOk && !isNull) {
    WriteToBuffer(out, false);
  }
  return status;
}

const char* TypeTraits::getDataAndAdvance(const char*& data, size_t width, bool nullable,
                                          size_t& length) {
  if (nullable && (*data++ & 1) != 0) {
    length = 0;
    return nullptr;
  }
  if (width == 0) {
    uint64_t n;
    memcpy(&n, data, sizeof n);
    data += sizeof n;
    length = n;
  } else {
    length = width;
  }
  const char* value = data;
  data += length;
  return value;
}

// --- Printing ------------------------------------------------------------------------------------

void TypeTraits::PrintText(BufferedFileOutput& output, std::string_view text) const {
  if (csvOutputDelimiter_) {
    WriteCsvValue(output, text, *csvOutputDelimiter_);
  } else if (!quoting_) {
    output.Write(text);
  } else {
    output.WriteByte(quote_);
    size_t start = 0;
    for (size_t at; (at = text.find(quote_, start)) != std::string_view::npos; start = at + 1) {
      output.Write(text.data() + start, at + 1 - start);
      output.WriteByte(quote_);
    }
    output.Write(text.data() + start, text.size() - start);
    output.WriteByte(quote_);
  }
  output.Write(separator_, separatorLength_);
}

void TypeTraits::PrintNull(BufferedFileOutput& output) const {
  if (csvOutputDelimiter_) {
    // A CSV null is an empty value.
  } else if (!quoting_) {
    output.Write(outputNullToken_);
  } else {
    output.WriteByte(quote_);
    output.Write(outputNullTokenDoubled_);
    output.WriteByte(quote_);
  }
  output.Write(separator_, separatorLength_);
}

uint64_t TypeTraits::CountPlainSymbols(const char* symbols, size_t symbolSize, uint64_t n,
                                       const QvdFieldMetadata& field) const {
  constexpr uint64_t kRun = 4096;
  const size_t width = StreamValueWidth();
  if (width != 4 && width != 8) {
    return 0;
  }
  std::vector<char> values(static_cast<size_t>(std::min(kRun, n) * width));
  uint64_t s = 0;
  while (s < n) {
    const uint64_t run = std::min(kRun, n - s);
    const uint64_t read =
        ReadQvdSymbolsAsStream(symbols + s * symbolSize, symbolSize, run, field, values.data());
    s += read;
    if (read != run) {
      break;
    }
  }
  return s;
}

bool TypeTraits::PrintsAffixed(AffixedPrinting& printing) const {
  const std::string alphabet = PlainTextAlphabet();
  auto inAlphabet = [&alphabet](char c) { return alphabet.find(c) != std::string::npos; };
  // Unquoted delimited text breaks where a printed byte is one of a separator's.
  if (alphabet.find('0') == std::string::npos ||
      (!quoting_ && !csvOutputDelimiter_ &&
       (std::any_of(separator_, separator_ + separatorLength_, inAlphabet) ||
        std::any_of(recordSeparator_, recordSeparator_ + recordSeparatorLength_, inAlphabet)))) {
    return false;
  }
  auto printed = [](const auto& print) {
    std::string bytes;
    BufferedFileOutput output(&bytes);
    print(output);
    output.flush();
    return bytes;
  };
  const std::string zero = printed([this](BufferedFileOutput& o) { PrintText(o, "0"); });
  const std::string all = printed([&](BufferedFileOutput& o) { PrintText(o, alphabet); });
  printing.null = printed([this](BufferedFileOutput& o) { PrintNull(o); });
  const size_t at = zero.find('0');
  printing.before = zero.substr(0, at);
  printing.after = zero.substr(at + 1);
  // Each byte of the alphabet printed as itself, within the same affixes, holds for every text.
  return all == printing.before + alphabet + printing.after;
}

void TypeTraits::Print(BufferedFileOutput& output) const {
  if (IsNull()) {
    PrintNull(output);
    return;
  }
  char scratch[512];
  PrintText(output, FormatText(value_, valueLength_, scratch));
}

void TypeTraits::Print(BufferedFileOutput& output, const char*& data, bool nullable) const {
  size_t length;
  const char* value = getDataAndAdvance(data, ValueWidth(), nullable, length);
  if (value == nullptr) {
    PrintNull(output);
    return;
  }
  char scratch[512];
  PrintText(output, FormatText(value, length, scratch));
}

// --- Record layout -------------------------------------------------------------------------------

void TypeTraitsCollection::Prepare() {
  if (fields_.empty()) {
    return;
  }
  std::string recordSeparator(g_TypeTraitsOptions.RecordSeparator());
  const TypeTraits& last = *fields_.back();
  if (last.explicitSeparator()) {
    recordSeparator = *last.explicitSeparator();
  }
  for (size_t i = 0; i < fields_.size(); ++i) {
    fields_[i]->ResolveSeparator(i == 0, i + 1 == fields_.size(), recordSeparator);
    fields_[i]->Prepare();
  }
}

Status ReportReadFailure(const TypeTraits& field, uint64_t record, bool text) {
  std::string message =
      "Field reading failed: '" + field.GetFullName() + "' (record no. " + std::to_string(record);
  if (!text) {
    return Status::Damaged(message + ").");
  }
  return Status::Invalid(message + "), \"" + Shorten(field.parseToken()) + "\" is not '" +
                         field.GetTypeName() + "'.");
}

std::optional<std::string> CheckPresenceAndUniqueness(const TypeTraitsCollection& fields) {
  if (fields.empty()) {
    return "Data definition has no fields.";
  }
  std::unordered_set<std::string_view> seen;
  for (const auto& field : fields) {
    if (!seen.insert(field->name()).second) {
      return "Duplicate field name: '" + field->name() + "'.";
    }
  }
  return std::nullopt;
}

std::optional<std::string> CheckExistence(const TypeTraitsCollection& fields,
                                          const std::vector<std::string>& names) {
  std::vector<std::optional<size_t>> indices = KeysToIndices(fields, names);
  for (size_t i = 0; i < names.size(); ++i) {
    if (!indices[i]) {
      return "Field doesn't exist: '" + names[i] + "'.";
    }
  }
  return std::nullopt;
}

std::vector<std::optional<size_t>> KeysToIndices(const TypeTraitsCollection& fields,
                                                 const std::vector<std::string>& names) {
  std::vector<std::optional<size_t>> indices;
  indices.reserve(names.size());
  for (const std::string& name : names) {
    std::optional<size_t> found;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].name() == name) {
        found = i;
        break;
      }
    }
    indices.push_back(found);
  }
  return indices;
}

}  // namespace orv
