// Writes one QVD file from collected symbols: the XML header, the symbol area, then one
// bit-packed index row per record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qvd/symbol_collector.h"
#include "runtime/output.h"
#include "runtime/workers.h"
#include "types/type_traits.h"

namespace orv {

// Significant bits of the largest stored index value of a field: of (max(symbols, 1) - 1 + F).
uint64_t QvdBitWidth(uint64_t noOfSymbols, uint8_t firstValueIndex);

// Writes the file to `output`; the fields' symbols in layout order. `tableName` goes into the
// header's TableName (XML-escaped). The index rows are put together in chunks on `pool`'s workers
// (none: on this thread) and written in order, so the bytes are the same for every thread count.
template <typename R>
void WriteQvd(BufferedFileOutput& output, const std::vector<FieldSymbols<R>>& fields,
              uint64_t records, const std::string& tableName = {}, TaskPool* pool = nullptr);

}  // namespace orv
