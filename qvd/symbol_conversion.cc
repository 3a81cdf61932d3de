#include "qvd/symbol_conversion.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "types/type_traits_parser.h"

namespace orv {

namespace {

// Beyond three times the table's own bytes, memory matters more than the time saved.
uint64_t OutputsBudget(uint64_t tableLength) {
  constexpr uint64_t kRoom = uint64_t{64} << 20;
  return tableLength > (UINT64_MAX - kRoom) / 3 ? UINT64_MAX : 3 * tableLength + kRoom;
}

constexpr uint64_t kRun = 4096;  // symbols converted at once
constexpr uint64_t kRetry = 32;  // after a run that converted none, symbols converted one by one

// The first of the n symbols of entries [e, e + n), where they lie back to back in the table's
// uniform size; else null.
template <typename Offset>
const char* RunAt(SymbolTable<Offset>& table, uint64_t e, uint64_t n) {
  const char* from = nullptr;
  const char* to = nullptr;
  size_t size = 0;
  if (!table.Fetch(e - 1, from, size) || !table.Fetch(e - 2 + n, to, size) ||
      size != table.uniformSize() || to != from + (n - 1) * table.uniformSize()) {
    return nullptr;
  }
  return from;
}

// Appends the binary outputs of a run of entries from e on (below `last`) that the field reads as
// plain numbers, all at once, and moves e past them. `retryAt` is the entry the next run may start
// at: some entries on when this one read none, never for types and tables that don't read symbols
// so. False when the outputs can't be kept.
template <typename Offset>
bool AppendStreamRun(SymbolTable<Offset>& table, const TypeTraits& field, uint64_t& e,
                     uint64_t last, std::vector<char>& values, uint64_t& retryAt,
                     SymbolOutputs& outputs) {
  const size_t width = field.StreamValueWidth();
  const uint64_t n = std::min(kRun, last - e);
  const char* from = width == 4 || width == 8 ? RunAt(table, e, n) : nullptr;
  if (from == nullptr) {
    retryAt = UINT64_MAX;
    return true;
  }
  const size_t size = table.uniformSize();
  values.resize(kRun * width);
  const uint64_t read =
      field.ReadQvdSymbolsAsStream(from, size, n, table.metadata(), values.data());
  if (read == 0) {
    retryAt = e + kRetry;
  }
  e += read;
  return outputs.AppendValues(values.data(), read, width, field.nullable());
}

// Text runs of a field that prints every text of its type alike: the printing, and room to print
// a run in.
struct PrintedRuns {
  TypeTraits::AffixedPrinting printing;
  size_t width = 0;
  std::vector<const char*> symbols;
  std::vector<char> printed;

  // False where the field doesn't print so.
  bool Prepare(const TypeTraits& field) {
    if (field.LongestPlainText() == 0 || !field.PrintsAffixed(printing)) {
      return false;
    }
    width = 1 + printing.before.size() + field.LongestPlainText() + printing.after.size();
    symbols.resize(kRun);
    printed.resize(kRun * width + SymbolOutputs::kStageSlack);
    return width <= SymbolOutputs::kMaxWidth + 1;
  }
};

// As AppendStreamRun, for text: the entries from e on that the field prints plainly, printed a run
// at a time. None of them breaks the text, so all are clean.
template <typename Offset>
bool AppendPrintedRun(SymbolTable<Offset>& table, const TypeTraits& field, uint64_t& e,
                      uint64_t last, PrintedRuns& runs, uint64_t& retryAt, SymbolOutputs& outputs) {
  const uint64_t n = std::min(kRun, last - e);
  const char* from = RunAt(table, e, n);
  if (from == nullptr) {
    retryAt = UINT64_MAX;
    return true;
  }
  const size_t size = table.uniformSize();
  const uint64_t read = field.CountPlainSymbols(from, size, n, table.metadata());
  if (read == 0) {
    retryAt = e + kRetry;
  }
  for (uint64_t r = 0; r < read; ++r) {
    runs.symbols[r] = from + r * size;
  }
  field.PrintPlainValues(runs.symbols.data(), read, size, table.metadata(), runs.printing,
                         runs.printed.data(), runs.width);
  for (uint64_t r = 0; r < read; ++r) {
    const char* entry = runs.printed.data() + r * runs.width;
    if (!outputs.Append(std::string_view(entry + 1, static_cast<uint8_t>(entry[0])),
                        SymbolOutputs::kClean)) {
      return false;
    }
  }
  e += read;
  return true;
}

// Whether the field reads (and prints) every one of n symbols of `size` bytes at `bytes` plainly
// (TypeTraits::CountPlainSymbols): a large table in pieces that `pool`'s threads take too.
bool AllPlain(const TypeTraits& field, const char* bytes, uint64_t size, uint64_t n,
              const QvdFieldMetadata& metadata, TaskPool* pool) {
  return HoldsForEveryPiece(pool, n, kScanPiece, [&](uint64_t begin, uint64_t count) {
    return field.CountPlainSymbols(bytes + begin * size, size, count, metadata) == count;
  });
}

// Text outputs of a table of `symbols` symbols of `size` bytes at `bytes`, printed as the rows
// name them: where the rows name each symbol about once, every symbol reads as a run would read
// it, and the field prints every text of its type alike.
std::unique_ptr<SymbolOutputs> LendToPrint(const char* bytes, uint64_t symbols, uint64_t size,
                                           const QvdFieldMetadata& metadata,
                                           const TypeTraits& field,
                                           const SymbolConversion& conversion, TaskPool* pool) {
  TypeTraits::AffixedPrinting printing;
  if (!MayPrintAsRowsRead(metadata, field, conversion) || !field.PrintsAffixed(printing) ||
      !AllPlain(field, bytes, size, symbols, metadata, pool)) {
    return nullptr;
  }
  return SymbolOutputs::BorrowPrinted(bytes, symbols, size, field, metadata, std::move(printing));
}

// Appends the outputs of entries [first, last) (entry e: symbol e - 1, 0: null) to `outputs`;
// false when one can't be kept.
template <typename Offset>
bool ConvertEntries(SymbolTable<Offset>& table, TypeTraits& field,
                    const SymbolConversion& conversion, uint64_t first, uint64_t last,
                    SymbolOutputs& outputs) {
  std::string spilled;  // only a piece longer than the capture's buffer ends up here
  BufferedFileOutput capture(&spilled);
  // Outputs of an in-memory table of same-size symbols may go a run at a time: binary ones, and
  // text where the field prints every text alike.
  const bool text = conversion.textOutput;
  PrintedRuns runs;
  const bool quick = !table.onDisk() && table.uniformSize() != 0 &&
                     (text ? runs.Prepare(field) : !conversion.checkOutput && !conversion.nullText);
  uint64_t retryAt = quick ? 1 : UINT64_MAX;  // entry 0 is the null
  std::vector<char> values;
  for (uint64_t e = first; e < last; ++e) {
    if (e >= retryAt) {
      if (text ? !AppendPrintedRun(table, field, e, last, runs, retryAt, outputs)
               : !AppendStreamRun(table, field, e, last, values, retryAt, outputs)) {
        return false;
      }
      if (e == last) {
        break;
      }
    }
    const int64_t s = static_cast<int64_t>(e) - 1;
    SymbolOutputs::Mark mark = SymbolOutputs::kClean;
    capture.Discard();
    if (s == -1 && !field.nullable()) {
      outputs.AppendUnused();  // nulls need a nullable field, and the rows check that
      continue;
    }
    if (!ConvertSymbol(table, field, s, conversion)) {
      mark = SymbolOutputs::kUnreadable;
    } else {
      if (conversion.checkOutput && field.FindOutputErrors()) {
        mark = SymbolOutputs::kBreaksText;
      }
      WriteCurrent(field, conversion.textOutput, capture);
    }
    if (!spilled.empty() || !outputs.Append(capture.buffered(), mark)) {
      capture.Discard();
      return false;
    }
  }
  capture.Discard();
  return true;
}

// A table's outputs made in parts: each part's outputs, and how many parts are still under way.
template <typename Offset>
struct PartedOutputs {
  SymbolTable<Offset>* table = nullptr;
  const TypeTraitsCollection* layout = nullptr;
  size_t fieldIndex = 0;
  const SymbolConversion* conversion = nullptr;
  std::vector<std::unique_ptr<SymbolOutputs>> parts;
  std::atomic<size_t> left{0};
  std::function<void(std::unique_ptr<SymbolOutputs>)> done;

  uint64_t FirstEntry(size_t p) const {
    return (table->metadata().noOfSymbols + 1) * p / parts.size();
  }
  // Part p, converted with a copy of the layout of its own.
  void Make(size_t p) {
    TypeTraitsCollection copy = CopyLayout(*layout);
    auto outputs = std::make_unique<SymbolOutputs>(FirstEntry(p + 1) - FirstEntry(p),
                                                   OutputsBudget(table->length()));
    if (ConvertEntries(*table, copy[fieldIndex], *conversion, FirstEntry(p), FirstEntry(p + 1),
                       *outputs)) {
      parts[p] = std::move(outputs);
    }
  }
  // The parts appended in order, as one pass would have made them; that pass itself where a part
  // couldn't be kept (a part's widths grow otherwise than the whole table's).
  std::unique_ptr<SymbolOutputs> Join() {
    if (std::any_of(parts.begin(), parts.end(), [](const auto& part) { return !part; })) {
      parts.clear();
      return MakeSymbolOutputs(*table, (*layout)[fieldIndex], *conversion);
    }
    auto outputs = std::make_unique<SymbolOutputs>(table->metadata().noOfSymbols + 1,
                                                   OutputsBudget(table->length()));
    for (auto& part : parts) {
      if (!outputs->AppendAll(*part)) {
        return nullptr;
      }
      part.reset();
    }
    return outputs;
  }
};

}  // namespace

bool MayPrintAsRowsRead(const QvdFieldMetadata& metadata, const TypeTraits& field,
                        const SymbolConversion& conversion) {
  TypeTraits::AffixedPrinting printing;
  const uint64_t symbols = metadata.noOfSymbols;
  return conversion.textOutput && symbols >= conversion.leastBorrowed &&
         symbols >= conversion.rows / 2 && field.LongestPlainText() != 0 &&
         field.PrintsAffixed(printing) &&
         !(conversion.checkOutput && field.nullable() && field.findOutputNullErrors());
}

template <typename Offset>
std::unique_ptr<SymbolOutputs> LendSymbolOutputs(const SymbolTable<Offset>& table,
                                                 const TypeTraits& field,
                                                 const SymbolConversion& conversion,
                                                 TaskPool* pool) {
  const uint64_t size = table.uniformSize();
  const uint64_t symbols = table.metadata().noOfSymbols;
  const char* bytes = table.uniformBytes();
  if (bytes == nullptr || size == 0 || symbols < conversion.leastBorrowed ||
      symbols > table.length() / size || table.length() != symbols * size ||
      table.readableAfter() < SymbolOutputs::kSlack) {
    return nullptr;
  }
  if (conversion.textOutput) {
    return LendToPrint(bytes, symbols, size, table.metadata(), field, conversion, pool);
  }
  if (conversion.checkOutput || conversion.nullText) {
    return nullptr;
  }
  const uint8_t kind = field.PlainQvdSymbolKind(size);
  if (kind != 0 && field.StreamValueWidth() + 1 == size) {
    if (table.oneKind() != kind && KindRun(bytes, kind, size, symbols) != symbols) {
      return nullptr;
    }
    return SymbolOutputs::Borrow(bytes, symbols, size, size - 1, field.nullable());
  }
  // Values that take reading (days to seconds, say) are read as the rows name them, where the
  // rows name each symbol about once: that costs about what reading every symbol up front does,
  // without a table of outputs in fresh memory.
  if (symbols < conversion.rows / 2 ||
      !AllPlain(field, bytes, size, symbols, table.metadata(), pool)) {
    return nullptr;
  }
  return SymbolOutputs::BorrowRead(bytes, symbols, size, field, table.metadata());
}

template <typename Offset>
std::unique_ptr<SymbolOutputs> MakeSymbolOutputs(SymbolTable<Offset>& table, TypeTraits& field,
                                                 const SymbolConversion& conversion,
                                                 TaskPool* pool) {
  if (auto borrowed = LendSymbolOutputs(table, field, conversion, pool)) {
    return borrowed;
  }
  const uint64_t entries = table.metadata().noOfSymbols + 1;
  auto outputs = std::make_unique<SymbolOutputs>(entries, OutputsBudget(table.length()));
  if (!ConvertEntries(table, field, conversion, 0, entries, *outputs)) {
    return nullptr;
  }
  return outputs;
}

template <typename Offset>
void MakeSymbolOutputsInParts(TaskPool& pool, size_t parts, SymbolTable<Offset>& table,
                              const TypeTraitsCollection& layout, size_t fieldIndex,
                              const SymbolConversion& conversion,
                              std::function<void(std::unique_ptr<SymbolOutputs>)> done) {
  auto state = std::make_shared<PartedOutputs<Offset>>();
  state->table = &table;
  state->layout = &layout;
  state->fieldIndex = fieldIndex;
  state->conversion = &conversion;
  state->parts.resize(std::max<size_t>(parts, 1));
  state->left = state->parts.size();
  state->done = std::move(done);
  auto make = [state](size_t p) {
    state->Make(p);
    if (state->left.fetch_sub(1) == 1) {
      state->done(state->Join());
    }
  };
  for (size_t p = 1; p < state->parts.size(); ++p) {
    pool.Submit([make, p] { make(p); });
  }
  make(0);
}

#define ORV_SYMBOL_CONVERSION(Offset)                                                            \
  template std::unique_ptr<SymbolOutputs> LendSymbolOutputs(                                     \
      const SymbolTable<Offset>&, const TypeTraits&, const SymbolConversion&, TaskPool*);        \
  template std::unique_ptr<SymbolOutputs> MakeSymbolOutputs(SymbolTable<Offset>&, TypeTraits&,   \
                                                            const SymbolConversion&, TaskPool*); \
  template void MakeSymbolOutputsInParts(                                                        \
      TaskPool&, size_t, SymbolTable<Offset>&, const TypeTraitsCollection&, size_t,              \
      const SymbolConversion&, std::function<void(std::unique_ptr<SymbolOutputs>)>);
ORV_SYMBOL_CONVERSION(uint8_t)
ORV_SYMBOL_CONVERSION(uint16_t)
ORV_SYMBOL_CONVERSION(uint32_t)
ORV_SYMBOL_CONVERSION(uint64_t)
#undef ORV_SYMBOL_CONVERSION

}  // namespace orv
