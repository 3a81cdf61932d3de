// The type descriptor base and the record layout. A descriptor knows one field: its name, type,
// nullability and text settings; it holds the field's current value and owns every codec of it.
//
// Record layouts, values back to back in field order:
//   in-memory buffer:  [flag byte if nullable] value | fixed string bytes | u64 length + bytes
//   binary stream:     [flag byte if nullable] value | fixed string bytes | u32 length + bytes
// The flag byte is 1 for null (nothing follows) and 0 for a present value.
#pragma once

#include <unicode/uversion.h>

#include <cstdint>
#include <cstring>
#include <locale>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/qvd_format.h"
#include "runtime/generator.h"
#include "runtime/input.h"
#include "runtime/output.h"
#include "runtime/status.h"
#include "types/text_token.h"

U_NAMESPACE_BEGIN
class Collator;
U_NAMESPACE_END

namespace orv {

class decimal;
class date;
class datetime;
template <typename S, typename L, typename V>
class DecimalTypeTraits;
template <typename V>
class DateTypeTraits;
template <typename V>
class DateTimeTypeTraits;
class StringTypeTraits;
class VariableStringTypeTraits;

// Status words of the codecs that read a value. They are the input's own statuses, so that a
// status from the input passes through a codec unchanged.
inline constexpr int kStatusOk = kInputOk;
inline constexpr int kStatusEnd = kInputEnd;        // end of input at the start of a field
inline constexpr int kStatusBad = kInputTruncated;  // bad or truncated value
inline constexpr int kStatusError = kInputError;    // the input could not be read

// Bytes a text token may hold beyond its type's longest text: leading blanks and leading zeros.
inline constexpr size_t kTokenPadding = 256;

// Three-way comparison results.
enum CompareResult : int {
  kFirstBefore = 0,
  kEqual = 1,
  kFirstAfter = 2,
  kFirstNull = 3,
  kSecondNull = 4,
  kBothNull = 5,
};

struct CompareContext {
  bool flag = false;  // strings: compare ignoring case
  std::shared_ptr<const icu::Collator> collator;
  const std::collate<char>* facet = nullptr;
  std::locale locale;  // keeps `facet` alive
};

using LessFunction = bool (*)(const CompareContext&, const void*, size_t, const void*, size_t);
using CompareFunction = int (*)(const CompareContext&, const void*, size_t, const void*, size_t);

struct LessFunctor {
  LessFunction function = nullptr;
  CompareContext context;
  bool operator()(const void* a, size_t as, const void* b, size_t bs) const {
    return function(context, a, as, b, bs);
  }
};

struct CompareFunctor {
  CompareFunction function = nullptr;
  CompareContext context;
  int operator()(const void* a, size_t as, const void* b, size_t bs) const {
    return function(context, a, as, b, bs);
  }
};

// Which fields already had an output error reported, and the record being checked.
struct OutputErrorContext {
  uint64_t recordNumber = 0;
  std::vector<bool> reported;  // by field position
};

class TypeTraits {
 public:
  // The name is normalised (NormalizeName) and trimmed of blanks.
  TypeTraits(std::string_view name, std::string_view typeWord);
  virtual ~TypeTraits();
  TypeTraits(const TypeTraits&) = delete;
  TypeTraits& operator=(const TypeTraits&) = delete;

  // --- Identity and settings --------------------------------------------------------------------
  const std::string& name() const { return name_; }
  const std::string& typeWord() const { return typeWord_; }
  bool nullable() const { return nullable_; }
  void SetNullable(bool nullable) { nullable_ = nullable; }
  // 1 means descending, any other value ascending.
  int sortDirection() const { return sortDirection_; }
  void SetSortDirection(int direction) { sortDirection_ = direction; }
  size_t fixedSize() const { return fixedSize_; }
  int status() const { return status_; }
  // The field's name in messages; `path` names an enclosing structure, empty for a plain field.
  std::string GetFullName(std::string_view path = {}) const;

  // Text settings. An explicit separator (empty = none) overrides the position default that
  // ResolveSeparator gives.
  void SetSeparator(std::optional<std::string> separator);
  const std::optional<std::string>& explicitSeparator() const { return explicitSeparator_; }
  std::string_view separator() const { return {separator_, separatorLength_}; }
  void SetQuote(std::optional<char> quote);
  std::optional<char> quote() const {
    return quoting_ ? std::optional<char>(quote_) : std::nullopt;
  }
  // Adds a null token; makes the field nullable. The first is written on output.
  void AddNullToken(std::string_view token);
  const std::vector<std::string>& nullTokens() const { return nullTokens_; }
  const std::string& getOutputNullToken() const { return outputNullToken_; }
  // Reads CSV values (text_token::ReadCsv) with `delimiter` instead of the delimited-text settings.
  void SetCsv(char delimiter) {
    csv_ = true;
    csvDelimiter_ = delimiter;
  }
  // What ended the last CSV value that Parse read.
  text_token::CsvEnd csvEnd() const { return csvEnd_; }
  // Fixes the separator and the tokenizer's view of the record from the field's position.
  void ResolveSeparator(bool first, bool last, std::string_view recordSeparator);
  // CSV output (types/csv_text.h) between values separated by `delimiter`: a value quoted only
  // when it must be, an empty text as "", null as nothing, a double in its shortest round-trip
  // form; the field's quote and output null token are not used. Empty: the field's own settings.
  void SetCsvText(std::optional<char> delimiter) { csvOutputDelimiter_ = delimiter; }
  bool csvText() const { return csvOutputDelimiter_.has_value(); }
  std::optional<char> csvTextDelimiter() const { return csvOutputDelimiter_; }
  std::optional<char> csvInputDelimiter() const {
    return csv_ ? std::optional<char>(csvDelimiter_) : std::nullopt;
  }

  // --- Type -------------------------------------------------------------------------------------
  virtual std::string GetTypeName() const = 0;
  virtual std::optional<std::pair<const TypeTraits*, int>> GetIntegralInfo() const {
    return std::nullopt;
  }
  virtual const DecimalTypeTraits<__int128, long, decimal>* AsDecimal() const { return nullptr; }
  virtual DecimalTypeTraits<__int128, long, decimal>* AsDecimal() { return nullptr; }
  virtual const DateTypeTraits<date>* AsDate() const { return nullptr; }
  virtual DateTypeTraits<date>* AsDate() { return nullptr; }
  virtual const DateTimeTypeTraits<datetime>* AsDateTime() const { return nullptr; }
  virtual DateTimeTypeTraits<datetime>* AsDateTime() { return nullptr; }
  virtual const StringTypeTraits* AsString() const { return nullptr; }
  virtual StringTypeTraits* AsString() { return nullptr; }
  virtual const VariableStringTypeTraits* AsVariableString() const { return nullptr; }
  virtual VariableStringTypeTraits* AsVariableString() { return nullptr; }
  // Readies the descriptor for use: makes its value generator.
  virtual void Prepare() { generator_ = MakeGenerator(); }
  // The generator that Prepare made (null before), for configuration and seeding.
  Generator* generator() const { return generator_.get(); }
  // Same class and the same record layout.
  virtual bool MemoryEqual(const TypeTraits& other) const;
  // Values of the two fields can be compared byte for byte.
  virtual bool MemoryComparable(const TypeTraits& other) const;
  // Width of a value in the in-memory record (fixed-width types, fixed strings), 0 for variable.
  virtual size_t ValueWidth() const = 0;

  // --- Current value ----------------------------------------------------------------------------
  virtual void SetNull(size_t& size, bool withFlag);
  // Draws the current value (or null) from the generator; adds its record bytes to `size`.
  virtual void Generate(size_t& size, bool recordFormat) = 0;
  virtual bool IsNull() const { return value_ == nullptr; }
  const void* value() const { return value_; }
  size_t valueLength() const { return valueLength_; }
  virtual void WriteToBuffer(char*& out, bool recordFormat) const = 0;

  // --- Binary record stream ---------------------------------------------------------------------
  // Producers add the record bytes of the value to `size` (the flag byte and a string's 64-bit
  // length too when `recordFormat`).
  virtual int Read(IFileInput& input, size_t& size, bool recordFormat) = 0;
  // The bytes every present value of the field takes in the binary stream after a nullable
  // field's flag byte, when its stored form comes from them alone, through DecodeStreamValue
  // (ValueWidth() bytes to `out`), which is false when the bytes hold no value of the type (a read
  // failure, as Read reports it); else 0.
  virtual size_t FixedStreamWidth() const { return 0; }
  // Where the stored bytes of a present value lie among the `available` stream bytes at `in`
  // (after a nullable field's flag byte), for values taken straight from a buffer: sets `bytes`
  // and `length` and returns the stream bytes the value takes; 0 when they aren't all there or
  // the type has no such form, and Read is to read the value. Variable strings.
  virtual size_t LocateStreamValue(const char* /*in*/, size_t /*available*/, const char*& /*bytes*/,
                                   size_t& /*length*/) const {
    return 0;
  }
  // A nullable field's flag byte in the binary stream: 0 present, 1 null, -1 neither (a bad
  // value, as Read reports it).
  static int NullFlag(char flag) { return (flag & ~1) != 0 ? -1 : flag; }
  // The bytes of a present value in the binary stream, after a nullable field's flag byte; 0 when
  // a 32-bit length leads them (variable strings). Where records end follows from these alone.
  virtual size_t StreamValueWidth() const = 0;
  virtual bool DecodeStreamValue(const char* /*in*/, char* /*out*/) const { return false; }
  // Reads the next value straight into a record buffer, advancing `out`; sets `isNull`.
  virtual int ReadFixedSize(IFileInput& input, char*& out, bool& isNull) = 0;
  virtual int ReadDiscard(IFileInput& input);
  virtual void Write(BufferedFileOutput& output) const = 0;
  // The value at a record buffer position, which moves past the field.
  virtual void Write(BufferedFileOutput& output, const char*& data, bool nullable) const = 0;

  // --- Text -------------------------------------------------------------------------------------
  virtual int Parse(IFileInput& input, size_t& size, bool recordFormat) = 0;
  virtual int ParseFixedSize(IFileInput& input, char*& out, bool& isNull);
  virtual int ParseDiscard(IFileInput& input) { return readParseToken(input); }
  void Print(BufferedFileOutput& output) const;
  void Print(BufferedFileOutput& output, const char*& data, bool nullable) const;
  // The text of a present value; may use `scratch` (512 bytes).
  virtual std::string_view FormatText(const void* value, size_t length, char* scratch) const = 0;
  // The bytes that the type's printed text may contain; empty when it may contain any byte.
  virtual std::string TextAlphabet() const { return {}; }
  // The longest text token that can hold a value of the type, with room for what its parser
  // skips (kTokenPadding); SIZE_MAX when there is no such length. The tokenizer refuses a longer
  // token (unless it is a null token) as soon as it has read past this length.
  virtual size_t MaxTokenLength() const { return SIZE_MAX; }
  // True when the current value, printed, would contain the field's separator or the record
  // separator outside quotes, so that the text could not be read back.
  virtual bool FindOutputErrors() const;
  // How the field prints where every text over PlainTextAlphabet() prints alike: `before`, the
  // text, then `after`, none of them able to break the text stream; a null prints as `null`.
  struct AffixedPrinting {
    std::string before;
    std::string after;
    std::string null;
  };
  // False where the printed bytes depend on the text otherwise (quotes doubled, CSV quoting).
  bool PrintsAffixed(AffixedPrinting& printing) const;
  // Prints the values of n QVD symbols of `symbolSize` bytes (at symbols[r], each one that
  // ReadQvdSymbolsAsStream reads) as the field prints them, each at out + r × width: a length
  // byte, then `before`, the text and `after`. The text takes at most LongestPlainText() bytes, and
  // `out` has 32 bytes to spare after the last entry. Only for types with a longest plain text.
  virtual void PrintPlainValues(const char* const* /*symbols*/, uint64_t /*n*/,
                                size_t /*symbolSize*/, const QvdFieldMetadata& /*field*/,
                                const AffixedPrinting& /*printing*/, char* /*out*/,
                                size_t /*width*/) const {}
  // How many of n symbols of `symbolSize` bytes at `symbols`, from the first on, PrintPlainValues
  // prints: those that ReadQvdSymbolsAsStream reads.
  virtual uint64_t CountPlainSymbols(const char* symbols, size_t symbolSize, uint64_t n,
                                     const QvdFieldMetadata& field) const;
  // The bytes that PrintPlainValues's texts may contain.
  virtual std::string PlainTextAlphabet() const { return TextAlphabet(); }
  // The longest text PrintPlainValues prints; 0 where the type's symbols can't be printed so.
  virtual size_t LongestPlainText() const { return 0; }
  bool findOutputNullErrors() const;

  // --- Comparison -------------------------------------------------------------------------------
  virtual LessFunctor getLessFunctor(bool flag) const = 0;
  virtual LessFunctor getEqualFunctor(bool flag) const = 0;
  virtual CompareFunctor getCompareFunctor(bool flag) const = 0;
  virtual CompareFunctor getFullCompareFunctor(bool flag) const = 0;

  // --- Format support ---------------------------------------------------------------------------
  virtual bool SupportsQvd() const { return true; }
  virtual bool SupportsQvx() const { return true; }

  // --- QVX values ------------------------------------------------------------------------------
  // The field's lines inside its QvxFieldHeader; the base writes the name and null representation.
  virtual void WriteQvxHeader(BufferedFileOutput& output) const;
  // The current value: a flag byte when the field is nullable (1 = null, nothing follows), then
  // the value bytes.
  virtual void WriteQvx(BufferedFileOutput& output) const = 0;

  // --- QVD symbols -----------------------------------------------------------------------------
  // Makes the symbol at `symbol` (its kind byte; `length` bytes are readable there) the current
  // value and adds its record width to `size`. False for a kind the type does not accept and for
  // a value that does not convert or does not fit the type's storage.
  virtual bool ReadQvdSymbol(const char* symbol, size_t length, const QvdFieldMetadata& field,
                             size_t& size) = 0;
  // The binary stream bytes of up to n symbols of `symbolSize` bytes each, back to back at
  // `symbols`, written back to back at `values` (StreamValueWidth() bytes each), as ReadQvdSymbol
  // and Write make them one by one. Returns how many it read: it stops before the first symbol
  // that this way doesn't take (every symbol, for types without one), which ReadQvdSymbol may
  // still read.
  virtual uint64_t ReadQvdSymbolsAsStream(const char* /*symbols*/, size_t /*symbolSize*/,
                                          uint64_t /*n*/, const QvdFieldMetadata& /*field*/,
                                          char* /*values*/) const {
    return 0;
  }
  // ReadQvdSymbolsAsStream for n symbols of `symbolSize` bytes, each one that it reads, at
  // symbols[r]: the stream bytes of symbol r at out + r × width.
  virtual void ReadPlainValues(const char* const* /*symbols*/, uint64_t /*n*/,
                               size_t /*symbolSize*/, const QvdFieldMetadata& /*field*/,
                               char* /*out*/, size_t /*width*/) const {}
  // The kind of a symbol of `symbolSize` bytes whose bytes after its kind byte are already the
  // non-null value's binary stream bytes (an int's 4, a double's 8); 0 where there is none.
  virtual uint8_t PlainQvdSymbolKind(size_t /*symbolSize*/) const { return 0; }
  // Bytes that WriteQvdSymbol writes for the value at `data` (`size` bytes), kind byte included.
  virtual size_t GetQvdSymbolSize(const void* data, size_t size) const = 0;
  // The size every value's symbol takes, when it doesn't depend on the value; else 0.
  virtual size_t UniformQvdSymbolSize() const { return 0; }
  virtual void WriteQvdSymbol(BufferedFileOutput& output, const void* data, size_t size) const = 0;
  // The field's lines inside its QvdFieldHeader; the base writes the FieldName line.
  virtual void WriteQvdHeader(BufferedFileOutput& output) const;
  // Makes an integer the current value; `data` and `size` receive its address and width. False
  // for types without an integer form.
  virtual bool ReadFromInteger(__int128 value, const void*& data, size_t& size);
  virtual bool ReadFromInteger(unsigned __int128 value, const void*& data, size_t& size);

  // --- Base helpers for the derived classes -----------------------------------------------------
  // Reads the next text token into the scratch string; returns a status word.
  int readParseToken(IFileInput& input);
  bool isParseTokenNull() const {
    if (!nullable_ || (csv_ && csvQuoted_)) {
      return false;
    }
    return nullTokens_.empty() ? scratch_.empty() : IsNullToken();
  }
  // Reads the flag byte of a nullable field from a binary stream: 0 present, 1 null; any other
  // byte is a bad value (a stream read out of step with its records).
  static int readNullFlag(IFileInput& input, bool& isNull) {
    char flag = 0;
    int status = input.ReadByte(flag);
    isNull = flag == 1;
    return status == kInputOk && (flag & ~1) != 0 ? kStatusBad : status;
  }
  const std::string& parseToken() const { return scratch_; }
  // Steps over one field of a record buffer: the flag byte of a nullable field, then `width`
  // bytes (0: a 64-bit length and that many bytes). Returns null for a null value; `length`
  // receives the value's byte count.
  static const char* getDataAndAdvance(const char*& data, size_t width, bool nullable,
                                       size_t& length);

 protected:
  virtual std::unique_ptr<Generator> MakeGenerator() const = 0;
  void setStatus(int status) { status_ = status; }
  void PrintText(BufferedFileOutput& output, std::string_view text) const;
  void PrintNull(BufferedFileOutput& output) const;
  // PrintPlainValues for type T, whose stream values are V: each symbol read as its stream value,
  // then `format(value, to)` writes its text at `to` and returns its end.
  template <typename T, typename V, typename Format>
  static void PrintAffixedValues(const T& type, const char* const* symbols, uint64_t n,
                                 size_t symbolSize, const QvdFieldMetadata& field,
                                 const AffixedPrinting& printing, char* out, size_t width,
                                 Format format) {
    const std::string_view before = printing.before;
    const std::string_view after = printing.after;
    for (uint64_t r = 0; r < n; ++r, out += width) {
      V value{};
      type.T::ReadQvdSymbolsAsStream(symbols[r], symbolSize, 1, field,
                                     reinterpret_cast<char*>(&value));
      memcpy(out + 1, before.data(), before.size());
      char* end = format(value, out + 1 + before.size());
      memcpy(end, after.data(), after.size());
      out[0] = static_cast<char>(end + after.size() - (out + 1));
    }
  }

  // As PrintAffixedValues, for `text(value, scratch)` writing a value's text into Capacity bytes
  // at `scratch` and returning its length.
  template <typename T, typename V, size_t Capacity, typename Text>
  static void PrintAffixedTexts(const T& type, const char* const* symbols, uint64_t n,
                                size_t symbolSize, const QvdFieldMetadata& field,
                                const AffixedPrinting& printing, char* out, size_t width,
                                Text text) {
    PrintAffixedValues<T, V>(type, symbols, n, symbolSize, field, printing, out, width,
                             [&text](V value, char* to) {
                               char scratch[Capacity];
                               const size_t length = text(value, scratch);
                               memcpy(to, scratch, length);
                               return to + length;
                             });
  }

  const void* value_ = nullptr;
  size_t valueLength_ = 0;
  size_t fixedSize_ = 0;
  std::string scratch_;
  std::unique_ptr<Generator> generator_;

 private:
  int ReadFixedToken(IFileInput& input);
  bool IsNullToken() const;  // the token is one of nullTokens_
  void UpdateRecordEndsToken() {
    recordEndsToken_ = !lastField_ && recordSeparatorLength_ > 0 &&
                       std::string_view(recordSeparator_, recordSeparatorLength_) != separator();
  }

  std::string name_;
  std::string typeWord_;
  bool nullable_ = false;
  int sortDirection_ = 0;
  int status_ = kStatusOk;

  std::optional<std::string> explicitSeparator_;
  char separator_[2] = {',', 0};
  size_t separatorLength_ = 1;
  char recordSeparator_[2] = {'\n', 0};
  size_t recordSeparatorLength_ = 1;
  bool firstField_ = true;
  bool lastField_ = true;
  // A field other than the last whose separator is not the record separator: meeting the record
  // separator ends its token as a short record. Follows the separators.
  bool recordEndsToken_ = false;
  bool quoting_ = false;
  char quote_ = '"';
  std::vector<std::string> nullTokens_;
  std::string outputNullToken_;
  std::string outputNullTokenDoubled_;
  bool textMayBreak_ = true;  // an unquoted field whose text can hold a separator byte
  std::optional<char> csvOutputDelimiter_;  // CSV output's delimiter, when printing CSV
  size_t tokenLimit_ = SIZE_MAX;  // the longest text token the field takes, null tokens included
  bool csv_ = false;
  char csvDelimiter_ = ',';  // CSV input's delimiter
  bool csvQuoted_ = false;   // the last CSV value was quoted: never null
  text_token::CsvEnd csvEnd_ = text_token::CsvEnd::kNone;
};

// The record layout: owning descriptor pointers in field order.
class TypeTraitsCollection {
 public:
  using Pointer = std::unique_ptr<TypeTraits>;

  size_t size() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }
  TypeTraits& operator[](size_t i) const { return *fields_[i]; }
  void push_back(Pointer field) { fields_.push_back(std::move(field)); }
  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }
  void clear() { fields_.clear(); }

  // Resolves every field's separator by position (the last field's separator is the record
  // separator) and calls Prepare on each descriptor.
  void Prepare();

 private:
  std::vector<Pointer> fields_;
};

// Logs one WARNING per field, on its first value whose printed text would break the text stream.
void FindAndLogOutputErrors(const TypeTraitsCollection& fields, OutputErrorContext& context);

// The failure of a record that cannot be read: its message names the field, the 1-based record
// number and, for text, the token and the type.
Status ReportReadFailure(const TypeTraits& field, uint64_t record, bool text);

// Refuses an empty layout and duplicate field names.
std::optional<std::string> CheckPresenceAndUniqueness(const TypeTraitsCollection& fields);
// Every name of `names` must be a field of the layout.
std::optional<std::string> CheckExistence(const TypeTraitsCollection& fields,
                                          const std::vector<std::string>& names);
// Field positions of `names`, in their order; empty for a name that is not a field.
std::vector<std::optional<size_t>> KeysToIndices(const TypeTraitsCollection& fields,
                                                 const std::vector<std::string>& names);

}  // namespace orv
