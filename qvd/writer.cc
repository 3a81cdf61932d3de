#include "qvd/writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <numeric>
#include <optional>
#include <string>

#include "runtime/stats.h"
#include "runtime/text_util.h"

namespace orv {

namespace {

// One header line: `before`, the number in decimal, `after`.
void NumberLine(BufferedFileOutput& output, const char* before, int64_t number, const char* after) {
  char digits[24];
  output.Write(before);
  output.Write(digits,
               static_cast<size_t>(std::to_chars(digits, digits + 24, number).ptr - digits));
  output.Write(after);
}

void UnsignedLine(BufferedFileOutput& output, const char* before, uint64_t number,
                  const char* after) {
  char digits[24];
  output.Write(before);
  output.Write(digits,
               static_cast<size_t>(std::to_chars(digits, digits + 24, number).ptr - digits));
  output.Write(after);
}

// Each field's bit width in an index row; the last field takes the padding up to a whole byte.
template <typename R>
std::vector<uint64_t> RowBitWidths(const std::vector<FieldSymbols<R>>& fields) {
  std::vector<uint64_t> widths(fields.size());
  uint64_t totalBits = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldSymbols<R>& f = fields[i];
    widths[i] = QvdBitWidth(f.symbolCount + (f.nullSymbol ? 1 : 0), f.firstValueIndex);
    totalBits += widths[i];
    if (i + 1 == fields.size() && totalBits % 8 != 0) {
      widths[i] += 8 - totalBits % 8;
    }
  }
  return widths;
}

// The XML header with its closing CR LF and NUL. `recordByteSize` is the widths' sum in bytes.
template <typename R>
void WriteHeader(BufferedFileOutput& output, const std::vector<FieldSymbols<R>>& fields,
                 const std::vector<uint64_t>& widths, uint64_t recordByteSize, uint64_t records,
                 const std::string& tableName) {
  output.Write(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<QvdTableHeader>\n"
      "  <QvBuildNo>50500</QvBuildNo>\n"
      "  <CreatorDoc></CreatorDoc>\n"
      "  <CreateUtcTime></CreateUtcTime>\n"
      "  <SourceCreateUtcTime></SourceCreateUtcTime>\n"
      "  <SourceFileUtcTime></SourceFileUtcTime>\n"
      "  <SourceFileSize>-1</SourceFileSize>\n"
      "  <StaleUtcTime></StaleUtcTime>\n"
      "  <TableName>");
  output.Write(XmlEscape(tableName));
  output.Write(
      "</TableName>\n"
      "  <Fields>\n");
  uint64_t bitOffset = 0;
  uint64_t symbolOffset = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldSymbols<R>& f = fields[i];
    output.Write("    <QvdFieldHeader>\n");
    f.dataSet->field().WriteQvdHeader(output);
    UnsignedLine(output, "      <BitOffset>", bitOffset, "</BitOffset>\n");
    UnsignedLine(output, "      <BitWidth>", widths[i], "</BitWidth>\n");
    NumberLine(output, "      <Bias>", f.firstValueIndex == 2 ? -2 : 0, "</Bias>\n");
    UnsignedLine(output, "      <NoOfSymbols>", f.symbolCount + (f.nullSymbol ? 1 : 0),
                 "</NoOfSymbols>\n");
    UnsignedLine(output, "      <Offset>", symbolOffset, "</Offset>\n");
    UnsignedLine(output, "      <Length>", f.symbolBytes, "</Length>\n");
    output.Write("      <Comment></Comment>\n    </QvdFieldHeader>\n");
    bitOffset += widths[i];
    symbolOffset += f.symbolBytes;
  }
  output.Write("  </Fields>\n  <Compression></Compression>\n");
  UnsignedLine(output, "  <RecordByteSize>", recordByteSize, "</RecordByteSize>\n");
  UnsignedLine(output, "  <NoOfRecords>", records, "</NoOfRecords>\n");
  UnsignedLine(output, "  <Offset>", symbolOffset, "</Offset>\n");
  UnsignedLine(output, "  <Length>", recordByteSize * records, "</Length>\n");
  output.Write("  <Comment></Comment>\n  <Lineage></Lineage>\n</QvdTableHeader>");
  output.Write("\r\n\0", 3);
}

// Symbols [begin, end) of a field, the null symbol first when the run starts the field. A symbol
// that is a kind byte and the value's bytes (ints, doubles) is written here, others by the type.
template <typename R>
void WriteSymbolRun(const FieldSymbols<R>& f, uint64_t begin, uint64_t end,
                    BufferedFileOutput& output) {
  const TypeTraits& field = f.dataSet->field();
  if (begin == 0 && f.nullSymbol) {
    output.WriteByte(4);
    output.Write(*f.nullSymbol);
    output.WriteByte('\0');
  }
  // Symbols are in value order, their records in any: a record's value (a string's offsets) is
  // fetched 2 × kAhead symbols before it is written, a string's bytes kAhead before.
  constexpr uint64_t kAhead = 16;
  auto each = [&](auto write) {
    for (uint64_t k = begin; k < end; ++k) {
      if (k + 2 * kAhead < end) {
        f.dataSet->Prefetch(f.RecordOf(k + 2 * kAhead));
      }
      if (k + kAhead < end) {
        f.dataSet->PrefetchStringBytes(f.RecordOf(k + kAhead));
      }
      auto [value, size] = f.dataSet->ValueAt(f.RecordOf(k));
      write(value, size);
    }
  };
  char symbol[17];  // a plain symbol: its kind byte, then the value's bytes
  const size_t width = field.ValueWidth();
  if (const uint8_t kind =
          width == 0 || width >= sizeof symbol ? 0 : field.PlainQvdSymbolKind(width + 1);
      kind != 0) {
    symbol[0] = static_cast<char>(kind);
    each([&](const char* value, size_t) {
      memcpy(symbol + 1, value, width);
      output.Write(symbol, width + 1);
    });
  } else {
    each([&](const char* value, size_t size) { field.WriteQvdSymbol(output, value, size); });
  }
}

// Symbols [begin, end) of a field.
struct SymbolRun {
  size_t field = 0;
  uint64_t begin = 0;
  uint64_t end = 0;
};

// A run, written into `bytes` on a worker.
struct SymbolChunk {
  SymbolRun run;
  BufferedFileOutput bytes{BufferedFileOutput::InMemory{}};
};

// Symbol area: each field's null symbol, then its value symbols in ascending order; written in
// runs on `pool`'s workers, in order here.
template <typename R>
void WriteSymbols(BufferedFileOutput& output, const std::vector<FieldSymbols<R>>& fields,
                  TaskPool& pool) {
  if (pool.threads() == 1) {
    for (const FieldSymbols<R>& f : fields) {
      WriteSymbolRun(f, 0, f.symbolCount, output);
    }
    return;
  }
  // The runs, each field's first one holding its null symbol: a field of neither has none.
  constexpr uint64_t kChunkSymbols = 16384;
  std::vector<SymbolRun> runs;
  for (size_t i = 0; i < fields.size(); ++i) {
    const uint64_t count = fields[i].symbolCount;
    for (uint64_t begin = 0; begin < count || (begin == 0 && fields[i].nullSymbol);
         begin += kChunkSymbols) {
      runs.push_back({i, begin, std::min(begin + kChunkSymbols, count)});
    }
  }
  size_t next = 0;
  RunOrdered<SymbolChunk>(
      pool, 2 * size_t{pool.threads()},
      [&](SymbolChunk& chunk) {
        if (next == runs.size()) {
          return false;
        }
        chunk.run = runs[next++];
        return true;
      },
      [&](SymbolChunk& chunk) {
        chunk.bytes.Discard();
        WriteSymbolRun(fields[chunk.run.field], chunk.run.begin, chunk.run.end, chunk.bytes);
      },
      [&](SymbolChunk& chunk) {
        output.Write(chunk.bytes.buffered());
        return true;
      });
}

// A run of consecutive index rows, put together on a worker.
struct RowChunk {
  uint64_t begin = 0;
  size_t rows = 0;
  std::vector<uint64_t> columns;  // a block's stored values, field after field
  std::vector<char> bytes;        // the rows, recordByteSize bytes each
};

// Rows are put together a block at a time, from the fields' stored values for the block, widened
// into a few kilobytes that stay in the nearest cache.
constexpr size_t kPackedRows = 256;

// Rows [first, first + rows) of the chunk (rows <= kPackedRows) into its bytes: each field's stored
// value at its bit offset, lowest bit first; a row is put together in 64-bit words, then its
// recordByteSize bytes are taken, lowest first.
template <typename R>
void PackBlock(const std::vector<const FieldSymbols<R>*>& packed,
               const std::vector<uint64_t>& widths, size_t rowBytes, size_t first, size_t rows,
               RowChunk& chunk) {
  uint64_t* columns = chunk.columns.data();
  for (size_t i = 0; i < packed.size(); ++i) {
    packed[i]->stored.Read(chunk.begin + first, rows, columns + i * kPackedRows);
  }
  for (size_t j = 0; j < rows; ++j) {
    char* out = chunk.bytes.data() + (first + j) * rowBytes;
    unsigned __int128 bits = 0;
    uint64_t pending = 0;
    size_t written = 0;
    auto put = [&](uint64_t word) {
      if constexpr (std::endian::native == std::endian::little) {
        memcpy(out + written, &word, 8);
        written += 8;
      } else {
        for (size_t b = 0; b < 8; ++b) {
          out[written++] = static_cast<char>(word >> (8 * b));
        }
      }
    };
    for (size_t i = 0; i < packed.size(); ++i) {
      bits |= static_cast<unsigned __int128>(columns[i * kPackedRows + j]) << pending;
      pending += widths[i];
      if (pending >= 64) {
        put(static_cast<uint64_t>(bits));
        bits >>= 64;
        pending -= 64;
      }
    }
    if (pending > 0) {
      put(static_cast<uint64_t>(bits));  // the next row overwrites the bytes past this one
    }
  }
}

// The chunk's rows, a block at a time.
template <typename R>
void PackRows(const std::vector<const FieldSymbols<R>*>& packed,
              const std::vector<uint64_t>& widths, uint64_t recordByteSize, RowChunk& chunk) {
  const auto rowBytes = static_cast<size_t>(recordByteSize);
  chunk.columns.resize(packed.size() * kPackedRows);
  chunk.bytes.resize(chunk.rows * rowBytes + 8);
  if (packed.empty()) {
    std::fill(chunk.bytes.begin(), chunk.bytes.end(), 0);  // a padded row of no field
  }
  for (size_t first = 0; first < chunk.rows; first += kPackedRows) {
    PackBlock(packed, widths, rowBytes, first, std::min(kPackedRows, chunk.rows - first), chunk);
  }
}

// Index rows in chunks: put together on the pool, written here in row order.
template <typename R>
void WriteIndexRows(BufferedFileOutput& output, const std::vector<FieldSymbols<R>>& fields,
                    const std::vector<uint64_t>& widths, uint64_t recordByteSize, uint64_t records,
                    TaskPool& pool) {
  std::vector<const FieldSymbols<R>*> packed;  // fields of width 0 take no bits
  std::vector<uint64_t> packedWidths;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (widths[i] > 0) {
      packed.push_back(&fields[i]);
      packedWidths.push_back(widths[i]);
    }
  }
  constexpr uint64_t kChunkRows = 16384;
  IntervalStats stats("rows");
  uint64_t next = 0;
  RunOrdered<RowChunk>(
      pool, 2 * size_t{pool.threads()},
      [&](RowChunk& chunk) {
        chunk.begin = next;
        chunk.rows = static_cast<size_t>(std::min(kChunkRows, records - next));
        next += chunk.rows;
        return chunk.rows > 0;
      },
      [&](RowChunk& chunk) { PackRows(packed, packedWidths, recordByteSize, chunk); },
      [&](RowChunk& chunk) {
        output.Write(chunk.bytes.data(), chunk.rows * static_cast<size_t>(recordByteSize));
        stats.Tick(chunk.rows);
        return true;
      });
  stats.Success();
}

}  // namespace

uint64_t QvdBitWidth(uint64_t noOfSymbols, uint8_t firstValueIndex) {
  uint64_t largest = (noOfSymbols == 0 ? 0 : noOfSymbols - 1) + firstValueIndex;
  uint64_t bits = 0;
  while (largest != 0) {
    ++bits;
    largest >>= 1;
  }
  return bits;
}

template <typename R>
void WriteQvd(BufferedFileOutput& output, const std::vector<FieldSymbols<R>>& fields,
              uint64_t records, const std::string& tableName, TaskPool* pool) {
  const std::vector<uint64_t> widths = RowBitWidths(fields);
  uint64_t recordByteSize = std::accumulate(widths.begin(), widths.end(), uint64_t{0}) / 8;
  // A table of constant fields still gets a byte per row: readers that refuse rows of no bytes
  // take a padded row, whose bits belong to no field.
  if (recordByteSize == 0 && records > 0) {
    recordByteSize = 1;
  }
  WriteHeader(output, fields, widths, recordByteSize, records, tableName);
  std::optional<TaskPool> single;
  TaskPool& workers = pool != nullptr ? *pool : single.emplace(1);
  WriteSymbols(output, fields, workers);
  WriteIndexRows(output, fields, widths, recordByteSize, records, workers);
}

template void WriteQvd(BufferedFileOutput&, const std::vector<FieldSymbols<uint8_t>>&, uint64_t,
                       const std::string&, TaskPool*);
template void WriteQvd(BufferedFileOutput&, const std::vector<FieldSymbols<uint16_t>>&, uint64_t,
                       const std::string&, TaskPool*);
template void WriteQvd(BufferedFileOutput&, const std::vector<FieldSymbols<uint32_t>>&, uint64_t,
                       const std::string&, TaskPool*);
template void WriteQvd(BufferedFileOutput&, const std::vector<FieldSymbols<uint64_t>>&, uint64_t,
                       const std::string&, TaskPool*);

}  // namespace orv
