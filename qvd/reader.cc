#include "qvd/reader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "qvd/header_parser.h"
#include "qvd/symbol_outputs.h"
#include "runtime/logger.h"
#include "runtime/settings.h"
#include "runtime/text_util.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

enum OptionId {
  kInput,
  kOutput,
  kDataDefinition,
  kTextOutput,
  kTextOutputDos,
  kTextOutputMac,
  kNullAsString,
  kFirstRecord,
  kFilter,
  kLowMemory,
  kGuessUniform,
  kMatchFields,
  kUnbuffered,
};

constexpr OptionSpec kOptions[] = {
    {"input", 'i', ArgumentKind::kRequired},
    {"output", 'o', ArgumentKind::kRequired},
    {"data-definition", 'd', ArgumentKind::kRequired},
    {"text-output", 'y', ArgumentKind::kNone},
    {"text-output-dos-eol", 'a', ArgumentKind::kNone},
    {"text-output-mac-eol", 'b', ArgumentKind::kNone},
    {"null-as-string", 'n', ArgumentKind::kOptional},
    {"first-record", 0, ArgumentKind::kRequired},
    {"filter", 0, ArgumentKind::kRequired},
    {"low-memory", 0, ArgumentKind::kNone},
    {"guess-uniform-symbol-size", 0, ArgumentKind::kNone},
    {"match-fields", 'm', ArgumentKind::kNone},
    {"unbuffered", 0, ArgumentKind::kNone},
};

// Filter operators in search order: the first that occurs anywhere in the condition is taken.
constexpr std::pair<const char*, FilterOperator> kFilterOperators[] = {
    {"==", FilterOperator::Equal},          {"!=", FilterOperator::NotEqual},
    {"<=", FilterOperator::LessOrEqual},    {"<", FilterOperator::Less},
    {">=", FilterOperator::GreaterOrEqual}, {">", FilterOperator::Greater},
};

// Closes a FILE the run opened.
struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using OwnedFile = std::unique_ptr<FILE, FileCloser>;

// The bits of a row: the fields' bit ranges must lie inside the row and must not overlap, and a
// stored index value has at most 32 bits.
std::optional<std::string> CheckBitLayout(const QvdTableMetadata& table,
                                          const std::vector<QvdFieldMetadata>& fields) {
  std::vector<const QvdFieldMetadata*> used;
  for (const QvdFieldMetadata& field : fields) {
    if (field.bitWidth == 0) {
      continue;
    }
    if (field.bitWidth > 32 || field.bitOffset > UINT64_MAX - field.bitWidth ||
        table.recordByteSize > UINT64_MAX / 8 ||
        field.bitOffset + field.bitWidth > table.recordByteSize * 8) {
      return "Bad bit layout of field '" + field.fieldName + "' in QVD table header.";
    }
    used.push_back(&field);
  }
  std::sort(used.begin(), used.end(), [](auto* a, auto* b) { return a->bitOffset < b->bitOffset; });
  for (size_t i = 1; i < used.size(); ++i) {
    if (used[i]->bitOffset < used[i - 1]->bitOffset + used[i - 1]->bitWidth) {
      return "Bad bit layout of field '" + used[i]->fieldName + "' in QVD table header.";
    }
  }
  if (table.recordByteSize != 0 && table.noOfRecords > UINT64_MAX / table.recordByteSize) {
    return std::string("Bad record count in QVD table header.");
  }
  return std::nullopt;
}

}  // namespace

// How QVD fields feed the layout, and the filter's comparison.
struct ReadQvd::Binding {
  std::vector<std::optional<size_t>> layoutIndex;  // per QVD field
  LessFunctor filterEqual;
  CompareFunctor filterCompare;
};

ReadQvd::~ReadQvd() = default;

int ReadQvd::ParseOptions(int argc, char** argv) {
  bool dosEol = false;
  bool macEol = false;
  std::vector<std::string> positionals;
  auto onOption = [&](size_t id, const char* argument) {
    const std::string text = argument != nullptr ? argument : "";
    switch (static_cast<OptionId>(id)) {
      case kInput:
        inputPath = text;
        g_Logger.Info("input", text);
        break;
      case kOutput:
        outputPath = text;
        g_Logger.Info("output", text);
        break;
      case kDataDefinition:
        if (std::optional<std::string> error = TypeTraitsParser::ParseInlineFields(text, layout)) {
          g_Logger.Fail("%s", error->c_str());
          return false;
        }
        break;
      case kTextOutput:
        textOutput = true;
        g_Logger.Info("text-output", "");
        break;
      case kTextOutputDos:
      case kTextOutputMac:
        textOutput = true;
        (id == kTextOutputDos ? dosEol : macEol) = true;
        g_TypeTraitsOptions.endOfLineMode = id == kTextOutputDos ? 1 : 2;
        g_Logger.Info(kOptions[id].longName, "");
        break;
      case kNullAsString:
        nullText = text;
        g_Logger.Info("null-as-string", text);
        break;
      case kFirstRecord: {
        uint64_t number = strtoull(text.c_str(), nullptr, 10);
        g_Logger.Info("first-record", std::to_string(number));
        if (number == 0) {
          g_Logger.Fail("Invalid first record no.: '%lu'.", 0ul);
          return false;
        }
        firstRecord = number - 1;
        break;
      }
      case kFilter:
        filterText = text;
        g_Logger.Info("filter", text);
        break;
      case kLowMemory:
        lowMemory = true;
        g_Logger.Info("low-memory", "");
        break;
      case kGuessUniform:
        guessUniformSymbolSize = true;
        g_Logger.Info("guess-uniform-symbol-size", "");
        break;
      case kMatchFields:
        matchFields = true;
        g_Logger.Info("match-fields", "");
        break;
      case kUnbuffered:
        unbuffered = true;
        g_Logger.Info("unbuffered", "");
        break;
    }
    return true;
  };
  if (ParseCommandLine(argc, argv, kOptions, onOption, positionals) != kExitSuccess) {
    return kExitFailure;
  }
  if (!LoadLayout(layout, positionals)) {
    return kExitFailure;
  }
  if (!CheckFormatSupport(layout, &TypeTraits::SupportsQvd)) {
    return kExitFailure;
  }
  if (dosEol && macEol) {
    g_Logger.Fail("--text-output-dos-eol can't be used with --text-output-mac-eol option.");
    return kExitFailure;
  }
  layout.Prepare();
  return kExitSuccess;
}

int ReadQvd::Run() {
  OwnedFile ownedInput;
  FILE* file = stdin;
  if (lowMemory && !inputPath) {
    g_Logger.Fail("Unspecified input file.");
    return kExitFailure;
  }
  if (inputPath) {
    ownedInput.reset(fopen(inputPath->c_str(), "rb"));
    if (ownedInput == nullptr) {
      g_Logger.Fail("Can't open input file: '%s'.", inputPath->c_str());
      return kExitFailure;
    }
    file = ownedInput.get();
    if (lowMemory && fseeko(file, 0, SEEK_SET) != 0) {
      ownedInput.reset();
      g_Logger.Fail("Input file is not seekable.");
      return kExitFailure;
    }
  }
  std::unique_ptr<IFileInput> input = createInput(file, unbuffered, false);
  Binding binding;
  if (int status = Bind(*input, binding); status != kExitSuccess) {
    return status;
  }
  uint64_t longest = 0;
  for (const QvdFieldMetadata& field : fields) {
    longest = std::max(longest, field.length);
  }
  if (longest <= uint64_t{1} << 8) {
    return Decode<uint8_t>(*input, binding);
  }
  if (longest <= uint64_t{1} << 16) {
    return Decode<uint16_t>(*input, binding);
  }
  if (longest <= uint64_t{1} << 32) {
    return Decode<uint32_t>(*input, binding);
  }
  return Decode<uint64_t>(*input, binding);
}

int ReadQvd::Bind(IFileInput& input, Binding& binding) {
  std::string header;
  if (std::optional<std::string> error = ReadQvdHeader(input, header, dataStart, table, fields)) {
    g_Logger.Fail("%s", error->c_str());
    return kExitFailure;
  }
  // Compressed or encrypted data would decode as garbage.
  for (const char* element : {"Compression", "EncryptionInfo"}) {
    auto found = table.properties.find(element);
    if (found != table.properties.end() && !trim(found->second).empty()) {
      g_Logger.Fail("Can't read a QVD table with %s: '%s'.", element,
                    Shorten(found->second).c_str());
      return kExitFailure;
    }
  }
  if (std::optional<std::string> error = CheckBitLayout(table, fields)) {
    g_Logger.Fail("%s", error->c_str());
    return kExitFailure;
  }

  const size_t l = layout.size();
  const size_t q = fields.size();
  if (fieldSubset() ? (q < l || (!matchFields && l < q)) : l != q) {
    g_Logger.Fail("Unexpected number of fields in QVD table: %lu.", static_cast<unsigned long>(q));
    return kExitFailure;
  }

  if (filterText) {
    size_t at = std::string::npos;
    size_t operatorLength = 0;
    for (const auto& [text, op] : kFilterOperators) {
      at = filterText->find(text);
      if (at != std::string::npos) {
        filterOperator = op;
        operatorLength = strlen(text);
        break;
      }
    }
    if (at == std::string::npos) {
      g_Logger.Fail("Filter condition parsing failed.");
      return kExitFailure;
    }
    std::string name = filterText->substr(0, at);
    if (std::optional<std::string> error = CheckExistence(layout, {name})) {
      g_Logger.Fail("%s", error->c_str());
      return kExitFailure;
    }
    filterField = *KeysToIndices(layout, {name})[0];
    filterValueText = filterText->substr(at + operatorLength);
  }

  binding.layoutIndex.assign(q, std::nullopt);
  if (!matchFields) {
    for (size_t i = 0; i < q && i < l; ++i) {
      binding.layoutIndex[i] = i;
    }
  } else {
    const uint64_t filterLayoutField = filterField;
    for (size_t k = 0; k < l; ++k) {
      auto found = std::find_if(fields.begin(), fields.end(), [&](const QvdFieldMetadata& f) {
        return f.fieldName == layout[k].name();
      });
      if (found == fields.end()) {
        // A layout's names are trimmed and normalised, so a file's name with outer blanks or
        // control bytes is matched in that form.
        found = std::find_if(fields.begin(), fields.end(), [&](const QvdFieldMetadata& f) {
          return trim(NormalizeName(f.fieldName)) == layout[k].name();
        });
      }
      if (found == fields.end()) {
        g_Logger.Fail("Unrecognized field name: '%s'.", layout[k].name().c_str());
        return kExitFailure;
      }
      size_t j = static_cast<size_t>(found - fields.begin());
      binding.layoutIndex[j] = k;
      if (filterText && k == filterLayoutField) {
        filterField = j;
      }
    }
  }

  if (filterText) {
    if (int status = BindFilter(binding); status != kExitSuccess) {
      return status;
    }
  }

  for (size_t j = 0; j < q; ++j) {
    if (binding.layoutIndex[j] && fields[j].bias == qvd::kNullBias &&
        !layout[*binding.layoutIndex[j]].nullable()) {
      g_Logger.Fail("Incompatible types, field '%s' must be nullable.",
                    layout[*binding.layoutIndex[j]].name().c_str());
      return kExitFailure;
    }
  }
  return kExitSuccess;
}

int ReadQvd::BindFilter(Binding& binding) {
  TypeTraits& field = layout[*binding.layoutIndex[filterField]];
  std::string token;
  if (field.quote()) {
    token.push_back(*field.quote());
  }
  token += filterValueText;
  if (field.quote()) {
    token.push_back(*field.quote());
  }
  token.append(field.separator());
  MemoryInput input(token.data(), token.size());
  size_t size = 0;
  if (field.Parse(input, size, false) != kStatusOk) {
    g_Logger.Fail("Error reading filter value: '%s'.", token.c_str());
    return kExitFailure;
  }
  if (!field.IsNull()) {
    filterValue.emplace(size, '\0');
    char* out = filterValue->data();
    field.WriteToBuffer(out, false);
  }
  // The filter compares in ascending value order, whatever the field's sort direction.
  const int direction = field.sortDirection();
  field.SetSortDirection(0);
  binding.filterEqual = field.getEqualFunctor(false);
  binding.filterCompare = field.getCompareFunctor(false);
  field.SetSortDirection(direction);
  return kExitSuccess;
}

namespace {

// A symbol table held in memory. A large one goes into an address range reserved for its
// claimed length, where pages exist only once the bytes have been read into them.
class TableBytes {
 public:
  const char* data() const { return mapped_.data() != nullptr ? mapped_.data() : fallback_.data(); }
  char operator[](size_t i) const { return data()[i]; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Reads `length` bytes; false when the input ends first. A large table goes into `spare` when
  // that is large enough (memory another table left, already paged in).
  bool ReadFrom(IFileInput& input, uint64_t length, LargeBuffer& spare) {
    constexpr uint64_t kChunk = uint64_t{1} << 24;
    if (length >= LargeBuffer::kHugePage && length <= SIZE_MAX) {
      if (spare.size() >= length) {
        mapped_ = std::move(spare);
      } else {
        mapped_.Reserve(static_cast<size_t>(length));
      }
    }
    while (size_ < length) {
      auto step = static_cast<size_t>(std::min<uint64_t>(kChunk, length - size_));
      if (mapped_.data() == nullptr) {
        fallback_.resize(size_ + step);
      }
      char* at = (mapped_.data() != nullptr ? mapped_.data() : fallback_.data()) + size_;
      if (input.Read(at, step) != kInputOk) {
        return false;
      }
      size_ += step;
    }
    return true;
  }

  // Gives the memory up once every symbol has been converted: a large table's to `spare` when it
  // is larger than what `spare` holds, for the next table to be read into.
  void Release(LargeBuffer& spare) {
    if (mapped_.size() > spare.size()) {
      spare = std::move(mapped_);
    }
    mapped_.Release();
    fallback_.clear();
    fallback_.shrink_to_fit();
    size_ = 0;
  }

 private:
  LargeBuffer mapped_;
  std::vector<char> fallback_;
  size_t size_ = 0;
};

// One bound field's symbol table: in memory, or on disk behind a second file handle. Symbol s is
// at s × uniformSize when the sizes are uniform, else at offsets[s].
template <typename Offset>
struct SymbolTable {
  const QvdFieldMetadata* metadata = nullptr;
  uint64_t uniformSize = 0;  // 0: sizes differ (or no symbol)
  std::vector<Offset> offsets;
  uint64_t tableLength = 0;  // bytes of the table actually held or readable
  TableBytes bytes;          // memory mode
  OwnedFile file;            // low-memory mode
  uint64_t tablePosition = 0;
  // Every symbol's output bytes, when made up front; the table's own bytes are then released
  // unless the filter still needs them.
  std::unique_ptr<SymbolOutputs> outputs;
  // The table mapped from the second handle: its pages come from the page cache when a symbol is
  // touched and are the kernel's to drop again, so the process keeps no copy of the table.
  char* mapped = nullptr;
  size_t mappedLength = 0;
  size_t mappedDelta = 0;  // the table's start within the mapping (page alignment)
  std::string window;      // bytes of the table from windowStart, read from `file`
  uint64_t windowStart = 0;
  uint64_t windowSize = 4096;

  SymbolTable() = default;
  SymbolTable(const SymbolTable&) = delete;
  SymbolTable& operator=(const SymbolTable&) = delete;
  ~SymbolTable() {
    if (mapped != nullptr) {
      munmap(mapped, mappedLength);
    }
  }

  // Maps the table from the second handle; on failure symbols are read through a window.
  void Map() {
    const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    mappedDelta = static_cast<size_t>(tablePosition % page);
    mappedLength = static_cast<size_t>(tableLength) + mappedDelta;
    if (tableLength == 0) {
      return;
    }
    void* p = mmap(nullptr, mappedLength, PROT_READ, MAP_PRIVATE, fileno(file.get()),
                   static_cast<off_t>(tablePosition - mappedDelta));
    if (p != MAP_FAILED) {
      mapped = static_cast<char*>(p);
      madvise(p, mappedLength, MADV_RANDOM);
    }
  }

  // The bytes of symbol s; false when s is outside the table or cannot be read.
  bool Fetch(uint64_t s, const char*& symbol, size_t& length) {
    if (s >= metadata->noOfSymbols) {
      return false;
    }
    uint64_t start;
    uint64_t size;
    if (uniformSize != 0) {
      start = s * uniformSize;
      size = uniformSize;
    } else {
      if (s >= offsets.size()) {
        return false;
      }
      start = offsets[s];
      size = (s + 1 < offsets.size() ? offsets[s + 1] : tableLength) - start;
    }
    if (start >= tableLength) {
      return false;
    }
    size = std::min(size, tableLength - start);
    if (file == nullptr) {
      symbol = bytes.data() + start;
      length = size;
      return true;
    }
    if (mapped != nullptr) {
      symbol = mapped + mappedDelta + start;
      length = size;
      return true;
    }
    // A window of the table stays in memory, so that neighbouring symbols cost no read. It
    // doubles while the reads run on from its end (up to 256 KiB) and falls back to 4 KiB when
    // they jump, so random access does not read far beyond each symbol.
    if (start < windowStart || start + size > windowStart + window.size()) {
      constexpr uint64_t kSmallWindow = 4096;
      constexpr uint64_t kLargeWindow = 262144;
      const bool runsOn = !window.empty() && start >= windowStart + window.size() &&
                          start < windowStart + window.size() + kSmallWindow;
      windowSize = runsOn ? std::min(windowSize * 2, kLargeWindow) : kSmallWindow;
      uint64_t want = std::min(std::max(size, windowSize), tableLength - start);
      window.resize(want);
      ssize_t got =
          pread(fileno(file.get()), window.data(), want, static_cast<off_t>(tablePosition + start));
      if (got < 0 || static_cast<uint64_t>(got) < size) {
        window.clear();
        return false;
      }
      window.resize(static_cast<size_t>(got));
      windowStart = start;
    }
    symbol = window.data() + (start - windowStart);
    length = size;
    return true;
  }
};

// Bytes of the symbol whose kind byte is `kind`, beyond the kind byte and before any text.
int FixedPayload(uint8_t kind) {
  switch (kind) {
    case qvd::kSymbolInt:
      return 4;
    case qvd::kSymbolDouble:
      return 8;
    case qvd::kSymbolText:
      return 0;
    case qvd::kSymbolDualInt:
      return 4;
    case qvd::kSymbolDualDouble:
      return 8;
    default:
      return -1;
  }
}

bool HasText(uint8_t kind) {
  return kind >= qvd::kSymbolText;
}

enum class ScanResult { kOk, kDamaged, kCutShort };

// Tracks the symbol sizes seen: the first sets the uniform size, a different one clears it.
struct SizeTracker {
  std::optional<uint64_t> uniform;
  void See(uint64_t size) {
    if (!uniform) {
      uniform = size;
    } else if (*uniform != size) {
      uniform = 0;
    }
  }
};

template <typename Offset>
ScanResult ScanMemory(SymbolTable<Offset>& table, SizeTracker& sizes) {
  const uint64_t n = table.metadata->noOfSymbols;
  const TableBytes& bytes = table.bytes;
  // Numbers alone, all of one kind, fill a table exactly: then only the kind bytes need a look.
  if (n > 0 && !bytes.empty()) {
    const auto kind = static_cast<uint8_t>(bytes[0]);
    const uint64_t size = kind == qvd::kSymbolInt ? 5 : kind == qvd::kSymbolDouble ? 9 : 0;
    if (size != 0 && n <= bytes.size() / size && n * size == bytes.size()) {
      uint64_t s = 1;
      while (s < n && static_cast<uint8_t>(bytes[s * size]) == kind) {
        ++s;
      }
      if (s == n) {
        sizes.See(size);
        return ScanResult::kOk;
      }
    }
  }
  uint64_t at = 0;
  table.offsets.reserve(static_cast<size_t>(std::min<uint64_t>(n, bytes.size() / 2 + 1)));
  for (uint64_t s = 0; s < n; ++s) {
    if (at >= bytes.size()) {
      return ScanResult::kDamaged;
    }
    table.offsets.push_back(static_cast<Offset>(at));
    auto kind = static_cast<uint8_t>(bytes[at]);
    int payload = FixedPayload(kind);
    if (payload < 0 || bytes.size() - at < 1 + static_cast<uint64_t>(payload)) {
      return ScanResult::kDamaged;
    }
    uint64_t size = 1 + static_cast<uint64_t>(payload);
    if (HasText(kind)) {
      const void* end = memchr(bytes.data() + at + size, 0, bytes.size() - at - size);
      if (end == nullptr) {
        return ScanResult::kDamaged;
      }
      size = static_cast<uint64_t>(static_cast<const char*>(end) - (bytes.data() + at)) + 1;
    }
    sizes.See(size);
    at += size;
  }
  return ScanResult::kOk;
}

template <typename Offset>
ScanResult ScanInput(IFileInput& input, SymbolTable<Offset>& table, SizeTracker& sizes) {
  const uint64_t n = table.metadata->noOfSymbols;
  const uint64_t length = table.metadata->length;
  uint64_t at = 0;
  for (uint64_t s = 0; s < n; ++s) {
    if (at >= length) {
      return ScanResult::kDamaged;
    }
    table.offsets.push_back(static_cast<Offset>(at));
    char kindByte = 0;
    if (input.ReadByte(kindByte) != kInputOk) {
      return ScanResult::kCutShort;
    }
    auto kind = static_cast<uint8_t>(kindByte);
    int payload = FixedPayload(kind);
    if (payload < 0) {
      return ScanResult::kDamaged;
    }
    uint64_t size = 1 + static_cast<uint64_t>(payload);
    if (input.Skip(static_cast<uint64_t>(payload)) != kInputOk) {
      return ScanResult::kCutShort;
    }
    if (HasText(kind)) {
      uint64_t count = 0;
      if (input.SkipUntil('\0', count) != kInputOk) {
        return ScanResult::kCutShort;
      }
      size += count + 1;
    }
    if (size > length - at) {
      return ScanResult::kDamaged;
    }
    sizes.See(size);
    at += size;
  }
  return input.Skip(length - at) == kInputOk || length == at ? ScanResult::kOk
                                                             : ScanResult::kCutShort;
}

// Makes symbol s (-1: null) the current value of `field`; false when the symbol is missing or
// can't be converted. With `nullText`, a text symbol equal to it is null as well, which only
// text output can show for a field that isn't nullable.
template <typename Offset>
bool ConvertSymbol(SymbolTable<Offset>& table, TypeTraits& field, int64_t s,
                   const std::optional<std::string>& nullText, bool textOutput) {
  size_t size = 0;
  if (s == -1) {
    field.SetNull(size, false);
    return true;
  }
  const char* symbol = nullptr;
  size_t length = 0;
  if (s < 0 || !table.Fetch(static_cast<uint64_t>(s), symbol, length)) {
    return false;
  }
  if (nullText && static_cast<uint8_t>(symbol[0]) == qvd::kSymbolText &&
      length >= nullText->size() + 2 && symbol[1 + nullText->size()] == '\0' &&
      memcmp(symbol + 1, nullText->data(), nullText->size()) == 0) {
    if (!textOutput && !field.nullable()) {
      return false;
    }
    field.SetNull(size, false);
    return true;
  }
  return field.ReadQvdSymbol(symbol, length, *table.metadata, size);
}

// Makes the output bytes of null and of every symbol, in one pass over the table. False when an
// output is too long to keep this way: the field is then decoded as rows name its symbols.
template <typename Offset>
bool MakeSymbolOutputs(SymbolTable<Offset>& table, TypeTraits& field,
                       const std::optional<std::string>& nullText, bool textOutput,
                       bool checkOutput) {
  const uint64_t n = table.metadata->noOfSymbols;
  // At most three times the table's own bytes (plus some room for small tables): beyond that,
  // memory matters more than the time saved.
  constexpr uint64_t kRoom = uint64_t{64} << 20;
  const uint64_t length = table.tableLength;
  auto outputs = std::make_unique<SymbolOutputs>(
      n + 1, length > (UINT64_MAX - kRoom) / 3 ? UINT64_MAX : 3 * length + kRoom);
  std::string spilled;  // only a piece longer than the capture's buffer ends up here
  BufferedFileOutput capture(&spilled);
  for (uint64_t e = 0; e <= n; ++e) {
    const int64_t s = static_cast<int64_t>(e) - 1;
    SymbolOutputs::Mark mark = SymbolOutputs::kClean;
    capture.Discard();
    if (s == -1 && !field.nullable()) {
      outputs->AppendUnused();  // nulls need a nullable field, and the rows check that
      continue;
    }
    if (!ConvertSymbol(table, field, s, nullText, textOutput)) {
      mark = SymbolOutputs::kUnreadable;
    } else {
      if (checkOutput && field.FindOutputErrors()) {
        mark = SymbolOutputs::kBreaksText;
      }
      if (textOutput) {
        field.Print(capture);
      } else {
        field.Write(capture);
      }
    }
    if (!spilled.empty() || !outputs->Append(capture.buffered(), mark)) {
      return false;
    }
  }
  capture.Discard();
  table.outputs = std::move(outputs);
  return true;
}

}  // namespace

template <typename Offset>
int ReadQvd::Decode(IFileInput& input, Binding& binding) {
  const size_t q = fields.size();
  std::vector<std::unique_ptr<SymbolTable<Offset>>> tables(q);
  const uint64_t rowsToRead = table.noOfRecords - std::min(firstRecord, table.noOfRecords);
  const bool checkOutput = textOutput && g_Options.checkOutputErrors;

  // Symbol tables, front to back in header order. A table converted up front leaves its memory
  // for the next one.
  LargeBuffer spare;
  for (size_t j = 0; j < q; ++j) {
    const QvdFieldMetadata& field = fields[j];
    auto cutShort = [&field] {
      g_Logger.Fail("Error reading symbol table of field '%s'.", field.fieldName.c_str());
      return kExitFailure;
    };
    auto damaged = [&field] {
      g_Logger.Fail("Symbol table of field '%s' is damaged.", field.fieldName.c_str());
      return kExitFailure;
    };
    if (!binding.layoutIndex[j]) {
      if (input.Skip(field.length) != kInputOk && field.length > 0) {
        return cutShort();
      }
      continue;
    }
    auto symbols = std::make_unique<SymbolTable<Offset>>();
    symbols->metadata = &field;
    symbols->tableLength = field.length;
    const bool inMemory = !lowMemory || (filterText && j == filterField);
    SizeTracker sizes;
    bool guessed = false;
    if (inMemory) {
      if (!symbols->bytes.ReadFrom(input, field.length, spare)) {
        return cutShort();
      }
      if (guessUniformSymbolSize && field.noOfSymbols > 0 && !symbols->bytes.empty()) {
        auto kind = static_cast<uint8_t>(symbols->bytes[0]);
        uint64_t size = kind == qvd::kSymbolInt ? 5 : kind == qvd::kSymbolDouble ? 9 : 0;
        guessed = size != 0 && field.noOfSymbols <= UINT64_MAX / size &&
                  field.noOfSymbols * size == field.length;
        if (guessed) {
          symbols->uniformSize = size;
        }
      }
      if (!guessed && ScanMemory(*symbols, sizes) != ScanResult::kOk) {
        return damaged();
      }
    } else {
      // Where the table really starts: the header's Offset only describes it.
      const uint64_t tableStart = input.BytesConsumed();
      char kindByte = 0;
      if (guessUniformSymbolSize && field.noOfSymbols > 0 && field.length > 0) {
        if (input.PeekByte(kindByte) != kInputOk) {
          return cutShort();
        }
        auto kind = static_cast<uint8_t>(kindByte);
        uint64_t size = kind == qvd::kSymbolInt ? 5 : kind == qvd::kSymbolDouble ? 9 : 0;
        guessed = size != 0 && field.noOfSymbols <= UINT64_MAX / size &&
                  field.noOfSymbols * size == field.length;
        if (guessed) {
          symbols->uniformSize = size;
          if (input.Skip(field.length) != kInputOk) {
            return cutShort();
          }
        }
      }
      if (!guessed) {
        ScanResult result = ScanInput(input, *symbols, sizes);
        if (result != ScanResult::kOk) {
          return result == ScanResult::kCutShort ? cutShort() : damaged();
        }
      }
      symbols->file.reset(fopen(inputPath->c_str(), "rb"));
      if (symbols->file == nullptr) {
        g_Logger.Fail("Can't open input file: '%s'.", inputPath->c_str());
        return kExitFailure;
      }
      symbols->tablePosition = tableStart;
      // The scan (or the guess's skip) has passed the whole table, so its bytes are in the file.
      symbols->Map();
    }
    if (guessed) {
      g_Logger.Debug("uniform symbol size (guess)", field.fieldName);
    } else if (sizes.uniform && *sizes.uniform != 0) {
      symbols->uniformSize = *sizes.uniform;
      symbols->offsets.clear();
      symbols->offsets.shrink_to_fit();
      g_Logger.Debug("uniform symbol size", field.fieldName);
    }
    // In memory, a table whose symbols the rows will mostly use is converted up front, and its
    // own bytes are no longer needed.
    if (!lowMemory && field.noOfSymbols <= std::max<uint64_t>(4096, 2 * rowsToRead) &&
        MakeSymbolOutputs(*symbols, layout[*binding.layoutIndex[j]], nullText, textOutput,
                          checkOutput)) {
      g_Logger.Debug("symbol outputs made",
                     field.fieldName + ": " + std::to_string(symbols->outputs->stride()) +
                         (symbols->outputs->fixed() ? " bytes each" : " bytes with length"));
      if (!(filterText && j == filterField)) {
        symbols->bytes.Release(spare);
        symbols->offsets.clear();
        symbols->offsets.shrink_to_fit();
      }
    }
    tables[j] = std::move(symbols);
  }

  // Row layout: fields in ascending bit offset; a row's bytes up to the last used bit are decoded,
  // the rest of the row is skipped.
  std::vector<size_t> rowOrder(q);
  for (size_t j = 0; j < q; ++j) {
    rowOrder[j] = j;
  }
  std::stable_sort(rowOrder.begin(), rowOrder.end(),
                   [&](size_t a, size_t b) { return fields[a].bitOffset < fields[b].bitOffset; });
  uint64_t rowBytes = 0;
  for (const QvdFieldMetadata& field : fields) {
    if (field.bitWidth > 0) {
      rowBytes = std::max(rowBytes, (field.bitOffset + field.bitWidth + 7) / 8);
    }
  }
  const uint64_t recordByteSize = table.recordByteSize;
  const uint64_t tailBytes = recordByteSize - rowBytes;

  // Each bound field of a row: where its bits are, its table, and its symbols' output bytes:
  // made up front (`outputs`), or, when the field repeats its symbols enough to pay, made at
  // first use and reused by every row (`cached`), or else made by the descriptor in each row.
  struct Slot {
    uint64_t byteOffset;
    unsigned shift;
    uint64_t mask;
    int64_t bias;
    size_t layoutIndex;
    TypeTraits* field;
    SymbolTable<Offset>* table;
    bool cached;
    const SymbolOutputs* outputs;
  };
  std::vector<Slot> slots;  // bound fields in row order
  std::optional<Slot> filterSlot;
  for (size_t j : rowOrder) {
    if (!binding.layoutIndex[j]) {
      continue;
    }
    const QvdFieldMetadata& field = fields[j];
    Slot slot{field.bitWidth == 0 ? 0 : field.bitOffset / 8,
              field.bitWidth == 0 ? 0 : static_cast<unsigned>(field.bitOffset % 8),
              field.bitWidth == 0 ? 0 : (uint64_t{1} << field.bitWidth) - 1,
              field.bias,
              *binding.layoutIndex[j],
              &layout[*binding.layoutIndex[j]],
              tables[j].get(),
              !tables[j]->outputs && field.noOfSymbols <= std::max<uint64_t>(1024, rowsToRead / 4),
              tables[j]->outputs.get()};
    slots.push_back(slot);
    if (filterText && j == filterField) {
      filterSlot = slot;
    }
  }

  // Skip to the first wanted row; a start beyond the last row gives no records.
  const uint64_t skipRows = std::min(firstRecord, table.noOfRecords);
  if (input.Skip(skipRows * recordByteSize) != kInputOk && skipRows * recordByteSize > 0) {
    g_Logger.Fail("Error skipping records.");
    return kExitFailure;
  }

  OwnedFile ownedOutput;
  FILE* outFile = stdout;
  if (outputPath) {
    ownedOutput.reset(fopen(outputPath->c_str(), "wb"));
    if (ownedOutput == nullptr) {
      g_Logger.Fail("Can't open output file: '%s'.", outputPath->c_str());
      return kExitFailure;
    }
    outFile = ownedOutput.get();
  }
  std::unique_ptr<BufferedFileOutput> output = createOutput(outFile, unbuffered);
  IntervalStats& stats = initOutputStats();

  OutputErrorContext outputErrors;
  outputErrors.reported.resize(layout.size());
  std::string filterBuffer;
  std::vector<char> rowCopy(static_cast<size_t>(rowBytes) + 8, 0);
  uint64_t record = 0;  // 1-based number of the row being decoded

  // The symbol number that a row holds in a field; -1 for null.
  auto symbolOf = [](const Slot& slot, const char* row) -> int64_t {
    uint64_t word = 0;
    if (slot.mask != 0) {
      memcpy(&word, row + slot.byteOffset, sizeof word);
    }
    const uint64_t stored = (word >> slot.shift) & slot.mask;
    if (slot.bias == qvd::kNullBias && stored == 0) {
      return -1;
    }
    const int64_t s = static_cast<int64_t>(stored) + slot.bias;
    return s < 0 ? INT64_MIN : s;
  };
  auto fail = [&record](const TypeTraits& field) {
    g_Logger.Fail("Field reading failed: '%s' (record no. %lu).", field.GetFullName().c_str(),
                  static_cast<unsigned long>(record));
    return false;
  };
  // Makes symbol s (-1: null) the value of the slot's descriptor; false after a FAIL line.
  auto decode = [&](const Slot& slot, int64_t s) {
    return ConvertSymbol(*slot.table, *slot.field, s, nullText, textOutput) || fail(*slot.field);
  };
  // Checks the descriptor's value for printed text that would break the text stream.
  auto warnOutput = [&](size_t layoutIndex) {
    if (!outputErrors.reported[layoutIndex]) {
      outputErrors.reported[layoutIndex] = true;
      g_Logger.Warning(
          "Value of field '%s' contains its separator or the record separator and can't be read "
          "back (record no. %lu).",
          layout[layoutIndex].GetFullName().c_str(), static_cast<unsigned long>(record));
    }
  };
  auto checkValue = [&](size_t layoutIndex) {
    if (checkOutput && !outputErrors.reported[layoutIndex] &&
        layout[layoutIndex].FindOutputErrors()) {
      warnOutput(layoutIndex);
    }
  };

  // Output bytes per symbol of the cached fields: made from the descriptor on first use.
  struct Made {
    uint64_t at = UINT64_MAX;  // in `bytes`; UINT64_MAX until made
    uint64_t size = 0;
  };
  struct Encoded {
    std::vector<Made> symbols;  // entry 0 is null, entry s + 1 symbol s
    std::string bytes;          // followed by kSlack bytes, for WriteSmall
  };
  std::vector<Encoded> encoded(slots.size());
  for (size_t k = 0; k < slots.size(); ++k) {
    if (slots[k].cached) {
      encoded[k].symbols.resize(slots[k].table->metadata->noOfSymbols + 1);
      encoded[k].bytes.assign(BufferedFileOutput::kSlack, '\0');
    }
  }
  std::string captured;
  BufferedFileOutput capture(&captured);
  // The bytes of symbol s for cached slot k, made on first use; null after a FAIL line.
  auto encodedSymbol = [&](size_t k, int64_t s) -> const Made* {
    Encoded& e = encoded[k];
    const uint64_t entry = s == -1 ? 0 : static_cast<uint64_t>(s) + 1;
    if (s < -1 || entry >= e.symbols.size()) {
      fail(*slots[k].field);
      return nullptr;
    }
    Made& made = e.symbols[entry];
    if (made.at == UINT64_MAX) {
      if (!decode(slots[k], s)) {
        return nullptr;
      }
      checkValue(slots[k].layoutIndex);
      if (textOutput) {
        slots[k].field->Print(capture);
      } else {
        slots[k].field->Write(capture);
      }
      capture.flush();
      made.at = e.bytes.size() - BufferedFileOutput::kSlack;
      made.size = captured.size();
      e.bytes.resize(made.at);
      e.bytes += captured;
      e.bytes.append(BufferedFileOutput::kSlack, '\0');
      captured.clear();
    }
    return &made;
  };
  // Per layout field, where its bytes come from in the current row.
  struct Piece {
    const char* bytes;  // null: the descriptor writes its value
    uint64_t size;
  };
  std::vector<Piece> pieces(layout.size());
  std::vector<size_t> slotOfLayout(layout.size());
  for (size_t k = 0; k < slots.size(); ++k) {
    slotOfLayout[slots[k].layoutIndex] = k;
  }
  // Filter decisions per symbol of the filter field (+ 1 for null): 0 unknown, 1 pass, 2 fail.
  std::vector<uint8_t> decided;
  if (filterSlot) {
    decided.assign(filterSlot->table->metadata->noOfSymbols + 1, 0);
  }
  auto passes = [&](int64_t s) -> int {  // 1 pass, 0 not, -1 failure reported
    const uint64_t entry = s == -1 ? 0 : static_cast<uint64_t>(s) + 1;
    if (s >= -1 && entry < decided.size() && decided[entry] != 0) {
      return decided[entry] == 1 ? 1 : 0;
    }
    if (!decode(*filterSlot, s)) {
      return -1;
    }
    TypeTraits& field = *filterSlot->field;
    const char* value = nullptr;
    size_t valueSize = 0;
    if (!field.IsNull()) {
      filterBuffer.resize(field.valueLength() + field.ValueWidth());
      char* out = filterBuffer.data();
      field.WriteToBuffer(out, false);
      value = filterBuffer.data();
      valueSize = static_cast<size_t>(out - filterBuffer.data());
    }
    const char* wanted = filterValue ? filterValue->data() : nullptr;
    const size_t wantedSize = filterValue ? filterValue->size() : 0;
    bool pass;
    switch (filterOperator) {
      case FilterOperator::Equal:
        pass = binding.filterEqual(value, valueSize, wanted, wantedSize);
        break;
      case FilterOperator::NotEqual:
        pass = !binding.filterEqual(value, valueSize, wanted, wantedSize);
        break;
      default: {
        int r = binding.filterCompare(value, valueSize, wanted, wantedSize);
        pass = filterOperator == FilterOperator::Less          ? r == kFirstBefore
               : filterOperator == FilterOperator::LessOrEqual ? r == kFirstBefore || r == kEqual
               : filterOperator == FilterOperator::Greater     ? r == kFirstAfter
                                                               : r == kEqual || r == kFirstAfter;
      }
    }
    decided[entry] = pass ? 1 : 2;
    return pass ? 1 : 0;
  };

  auto prefetchRow = [&](const char* row) {
    for (size_t k = 0; k < slots.size(); ++k) {
      const Slot& slot = slots[k];
      const int64_t s = symbolOf(slot, row);
      if (s < 0) {
        continue;
      }
      const auto n = static_cast<uint64_t>(s);
      if (slot.outputs != nullptr) {
        if (n + 1 < slot.outputs->entries()) {
          __builtin_prefetch(slot.outputs->at(n + 1));
        }
      } else if (slot.cached) {
        if (n + 1 < encoded[k].symbols.size()) {
          __builtin_prefetch(&encoded[k].symbols[n + 1]);
        }
      } else if (slot.table->file == nullptr && slot.table->uniformSize != 0 &&
                 n < slot.table->metadata->noOfSymbols &&
                 n * slot.table->uniformSize < slot.table->bytes.size()) {
        __builtin_prefetch(slot.table->bytes.data() + n * slot.table->uniformSize);
      } else if (n < slot.table->offsets.size()) {
        __builtin_prefetch(&slot.table->offsets[n]);
      }
    }
  };

  // When every bound field has its outputs made and no filter applies, rows go in batches: the
  // entries of each field for the whole batch are found, checked and their loading started, then
  // the records are put together, so that many cache misses are under way at once. A batch with
  // anything to report (a bad symbol number, a mark) goes row by row below.
  constexpr uint64_t kBatch = 256;
  bool batched = !filterSlot && recordByteSize <= 4096 &&
                 std::all_of(slots.begin(), slots.end(),
                             [](const Slot& slot) { return slot.outputs != nullptr; });
  std::vector<const char*> batchEntries(batched ? kBatch * slots.size() : 0);
  // Per layout field: its column of entries and their form.
  struct Column {
    const char* const* entries;
    size_t stride;
    bool fixed;
  };
  std::vector<Column> columns;
  if (batched) {
    for (size_t l = 0; l < layout.size(); ++l) {
      const size_t k = slotOfLayout[l];
      columns.push_back(
          {&batchEntries[k * kBatch], slots[k].outputs->stride(), slots[k].outputs->fixed()});
    }
  }
  // Finds the entries of n rows from `base`; false when a row needs the row-by-row path.
  auto findEntries = [&](const char* base, uint64_t n) {
    for (size_t k = 0; k < slots.size(); ++k) {
      const Slot& slot = slots[k];
      const SymbolOutputs& outputs = *slot.outputs;
      const bool nullable = slot.field->nullable();
      const char** column = &batchEntries[k * kBatch];
      // An entry whose width is not a power of two may end in the next cache line.
      const size_t last = outputs.stride() - 1;
      const bool straddles = outputs.stride() != 0 && (outputs.stride() & last) != 0;
      const char* row = base;
      for (uint64_t r = 0; r < n; ++r, row += recordByteSize) {
        const int64_t s = symbolOf(slot, row);
        if (!outputs.Holds(s, nullable)) {
          return false;
        }
        const auto e = static_cast<uint64_t>(s + 1);
        if (!outputs.clean() && outputs.mark(e) != SymbolOutputs::kClean) {
          return false;
        }
        column[r] = outputs.at(e);
        __builtin_prefetch(column[r]);
        if (straddles) {
          __builtin_prefetch(column[r] + last);
        }
      }
    }
    return true;
  };
  uint64_t rowByRowUntil = 0;  // rows before it take the row-by-row path

  for (uint64_t i = skipRows; i < table.noOfRecords; ++i) {
    if (batched && i >= rowByRowUntil) {
      const uint64_t n = std::min(kBatch, table.noOfRecords - i);
      const size_t bytes = static_cast<size_t>(n * recordByteSize);
      if (!input.Ensure(bytes + 8)) {
        batched = false;  // the input ends early: the rows below say where
      } else if (!findEntries(input.BufferPos(), n)) {
        rowByRowUntil = i + n;
      } else {
        for (uint64_t r = 0; r < n; ++r) {
          for (const Column& column : columns) {
            const char* at = column.entries[r];
            if (column.fixed) {
              output->WriteShort(at, column.stride);
            } else {
              output->WriteShort(at + 1, static_cast<uint8_t>(at[0]));
            }
          }
        }
        input.Advance(bytes);
        i += n - 1;
        record = i + 1;
        writtenRecords_ += n;
        stats.Tick(n);
        if (output->failed()) {
          break;
        }
        continue;
      }
    }
    const char* row;
    if (input.Ensure(rowBytes + 8)) {
      row = input.BufferPos();
      input.Advance(rowBytes);
    } else {
      size_t got = 0;
      char c = 0;
      while (got < rowBytes && input.ReadByte(c) == kInputOk) {
        rowCopy[got++] = c;
      }
      if (got < rowBytes) {
        // Name the first field whose bits lie beyond what the input still had.
        const QvdFieldMetadata* lost = &fields[rowOrder.back()];
        for (size_t j : rowOrder) {
          if (fields[j].bitWidth > 0 && fields[j].bitOffset + fields[j].bitWidth > got * 8) {
            lost = &fields[j];
            break;
          }
        }
        g_Logger.Fail("Error reading field data: '%s'.", lost->fieldName.c_str());
        return kExitFailure;
      }
      std::fill(rowCopy.begin() + static_cast<std::ptrdiff_t>(rowBytes), rowCopy.end(), 0);
      row = rowCopy.data();
    }
    if (tailBytes > 0 && input.Skip(tailBytes) != kInputOk) {
      g_Logger.Fail("Error reading field data: '%s'.", fields[rowOrder.back()].fieldName.c_str());
      return kExitFailure;
    }
    record = i + 1;
    // Rows name their symbols in any order: start loading the symbols of a row a few rows ahead,
    // so that their cache misses overlap with this row's work.
    constexpr uint64_t kAhead = 4;
    if (static_cast<uint64_t>(input.BufferEnd() - input.BufferPos()) >=
        tailBytes + (kAhead - 1) * recordByteSize + rowBytes + 8) {
      prefetchRow(input.BufferPos() + tailBytes + (kAhead - 1) * recordByteSize);
    }
    if (filterSlot) {
      const int pass = passes(symbolOf(*filterSlot, row));
      if (pass < 0) {
        return kExitFailure;
      }
      if (pass == 0) {
        stats.Tick();
        continue;
      }
    }
    // Decode in bit order, so that the first field to fail is the first in the row.
    for (size_t k = 0; k < slots.size(); ++k) {
      const Slot& slot = slots[k];
      const int64_t s = symbolOf(slot, row);
      Piece& piece = pieces[slot.layoutIndex];
      if (slot.outputs != nullptr) {
        const SymbolOutputs& outputs = *slot.outputs;
        if (!outputs.Holds(s, slot.field->nullable())) {
          fail(*slot.field);
          return kExitFailure;
        }
        const uint64_t e = static_cast<uint64_t>(s + 1);
        if (!outputs.clean() && outputs.mark(e) != SymbolOutputs::kClean) {
          if (outputs.mark(e) == SymbolOutputs::kUnreadable) {
            fail(*slot.field);
            return kExitFailure;
          }
          warnOutput(slot.layoutIndex);
        }
        const char* at = outputs.at(e);
        if (outputs.fixed()) {
          piece.bytes = at;
          piece.size = outputs.stride();
        } else {
          piece.bytes = at + 1;
          piece.size = static_cast<uint8_t>(at[0]);
        }
      } else if (slot.cached) {
        const Made* made = encodedSymbol(k, s);
        if (made == nullptr) {
          return kExitFailure;
        }
        piece.bytes = encoded[k].bytes.data() + made->at;
        piece.size = made->size;
      } else {
        if (!decode(slot, s)) {
          return kExitFailure;
        }
        checkValue(slot.layoutIndex);
        piece.bytes = nullptr;
      }
    }
    for (size_t l = 0; l < layout.size(); ++l) {
      const Piece& piece = pieces[l];
      if (piece.bytes != nullptr) {
        output->WriteSmall(piece.bytes, piece.size);
      } else if (textOutput) {
        layout[l].Print(*output);
      } else {
        layout[l].Write(*output);
      }
    }
    ++writtenRecords_;
    stats.Tick();
    if (output->failed()) {
      break;  // the output is gone: stop decoding, report below
    }
  }
  if (!output->flush()) {
    g_Logger.Fail("Error writing output.");
    return kExitFailure;
  }
  stats.Success();
  g_Logger.Succ("%s", "");
  return kExitSuccess;
}

int DrawOffMain(int argc, char** argv) {
  ReadQvd tool(argc, argv);
  return tool.Start();
}

}  // namespace orv
