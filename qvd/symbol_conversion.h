// A field's symbols turned into its descriptor's value and into output bytes: one symbol at a
// time as rows name them, or every symbol up front into a SymbolOutputs table.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "qvd/symbol_outputs.h"
#include "qvd/symbol_table.h"
#include "runtime/workers.h"
#include "types/type_traits.h"

namespace orv {

// How symbols become output: `nullText` is a text that stands for null as well (which only text
// output can show for a field that isn't nullable); `checkOutput` marks printed values that would
// break the text stream.
struct SymbolConversion {
  std::optional<std::string> nullText;
  bool textOutput = false;
  bool checkOutput = false;
  uint64_t leastBorrowed =
      65536;  // smaller tables are copied even where they could lend (tests: 1)
  // The rows that will name the symbols: text is printed as the rows name them only where each
  // symbol is named about once (half as many symbols as rows at least).
  uint64_t rows = 0;
};

// Makes symbol s (-1: null) the current value of `field`; false when the symbol is missing or
// can't be converted.
template <typename Offset>
inline bool ConvertSymbol(SymbolTable<Offset>& table, TypeTraits& field, int64_t s,
                          const SymbolConversion& conversion) {
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
  const std::optional<std::string>& nullText = conversion.nullText;
  if (nullText && static_cast<uint8_t>(symbol[0]) == qvd::kSymbolText &&
      length >= nullText->size() + 2 && symbol[1 + nullText->size()] == '\0' &&
      memcmp(symbol + 1, nullText->data(), nullText->size()) == 0) {
    if (!conversion.textOutput && !field.nullable()) {
      return false;
    }
    field.SetNull(size, false);
    return true;
  }
  return field.ReadQvdSymbol(symbol, length, table.metadata(), size);
}

// The output bytes of null and of every symbol, made in one pass over the table. Null when an
// output is too long to keep this way, or the table would take more than three times the
// symbol table's bytes (plus room for small tables): the field is then decoded as rows name its
// symbols. With `pool`, the check of a table to lend is shared with its threads.
template <typename Offset>
std::unique_ptr<SymbolOutputs> MakeSymbolOutputs(SymbolTable<Offset>& table, TypeTraits& field,
                                                 const SymbolConversion& conversion,
                                                 TaskPool* pool = nullptr);

// The outputs of a large table of same-size symbols, borrowed from the table's bytes: binary
// outputs where every symbol's payload is its value's output (an int table's 5-byte integers for
// an int field, say; a nullable field's flag byte added as the rows read them) or, where the rows
// name each symbol about once, where the field reads every symbol's value as the rows name it
// (see TypeTraits::ReadPlainValues); text outputs where the field prints every symbol as the rows
// name it (see TypeTraits::PrintPlainValues). Null where the table isn't such a one. `field` must
// outlive the outputs. With `pool`, a large table's symbols are checked in pieces on its threads
// too.
template <typename Offset>
std::unique_ptr<SymbolOutputs> LendSymbolOutputs(const SymbolTable<Offset>& table,
                                                 const TypeTraits& field,
                                                 const SymbolConversion& conversion,
                                                 TaskPool* pool = nullptr);

// Whether LendSymbolOutputs may lend a table of `metadata` text outputs for `field`, as far as the
// header and the field tell: the table's bytes decide.
bool MayPrintAsRowsRead(const QvdFieldMetadata& metadata, const TypeTraits& field,
                        const SymbolConversion& conversion);

// As MakeSymbolOutputs for field `fieldIndex` of `layout`, in `parts` runs of symbols: this
// thread makes the first, `pool`'s workers the others, each with a copy of the layout of its own.
// Whichever finishes last appends the runs in order and calls `done` with the outputs that
// MakeSymbolOutputs would have made. The table, the layout and `conversion` must outlive that
// call.
template <typename Offset>
void MakeSymbolOutputsInParts(TaskPool& pool, size_t parts, SymbolTable<Offset>& table,
                              const TypeTraitsCollection& layout, size_t fieldIndex,
                              const SymbolConversion& conversion,
                              std::function<void(std::unique_ptr<SymbolOutputs>)> done);

// Writes the field's current value as output bytes.
inline void WriteCurrent(const TypeTraits& field, bool textOutput, BufferedFileOutput& output) {
  if (textOutput) {
    field.Print(output);
  } else {
    field.Write(output);
  }
}

}  // namespace orv
