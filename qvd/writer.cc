#include "qvd/writer.h"

#include <charconv>
#include <numeric>

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

// Symbol area: each field's null symbol, then its value symbols in ascending order.
template <typename R>
void WriteSymbols(BufferedFileOutput& output, const std::vector<FieldSymbols<R>>& fields) {
  for (const FieldSymbols<R>& f : fields) {
    const TypeTraits& field = f.dataSet->field();
    if (f.nullSymbol) {
      output.WriteByte(4);
      output.Write(*f.nullSymbol);
      output.WriteByte('\0');
    }
    constexpr uint64_t kAhead = 16;  // symbols are in value order, their records in any
    for (uint64_t k = 0; k < f.symbolCount; ++k) {
      if (k + kAhead < f.symbolCount) {
        f.dataSet->Prefetch(f.order[k + kAhead]);
      }
      auto [value, size] = f.dataSet->ValueAt(f.order[k]);
      field.WriteQvdSymbol(output, value, size);
    }
  }
}

// Index rows: each field's stored value at its bit offset, lowest bit first. A row is put
// together in 64-bit words, then written as its recordByteSize bytes.
template <typename R>
void WriteIndexRows(BufferedFileOutput& output, const std::vector<FieldSymbols<R>>& fields,
                    const std::vector<uint64_t>& widths, uint64_t recordByteSize,
                    uint64_t records) {
  struct Packed {
    const R* stored;
    uint64_t width;
  };
  std::vector<Packed> packed;  // fields of width 0 take no bits
  for (size_t i = 0; i < fields.size(); ++i) {
    if (widths[i] > 0) {
      packed.push_back({fields[i].stored.data(), widths[i]});
    }
  }
  IntervalStats stats("rows");
  std::vector<uint64_t> row(static_cast<size_t>((recordByteSize + 7) / 8) + 1);
  std::vector<char> rowBytes(row.size() * 8);
  for (uint64_t r = 0; r < records; ++r) {
    unsigned __int128 bits = 0;
    uint64_t pending = 0;
    size_t word = 0;
    for (const Packed& p : packed) {
      bits |= static_cast<unsigned __int128>(p.stored[r]) << pending;
      pending += p.width;
      if (pending >= 64) {
        row[word++] = static_cast<uint64_t>(bits);
        bits >>= 64;
        pending -= 64;
      }
    }
    if (pending > 0) {
      row[word] = static_cast<uint64_t>(bits);
    }
    // The words' bytes, lowest first.
    for (size_t w = 0; w < row.size(); ++w) {
      for (size_t b = 0; b < 8; ++b) {
        rowBytes[w * 8 + b] = static_cast<char>(row[w] >> (8 * b));
      }
    }
    output.Write(rowBytes.data(), static_cast<size_t>(recordByteSize));
    stats.Tick();
  }
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
              uint64_t records, const std::string& tableName) {
  const std::vector<uint64_t> widths = RowBitWidths(fields);
  uint64_t recordByteSize = std::accumulate(widths.begin(), widths.end(), uint64_t{0}) / 8;
  // A table of constant fields still gets a byte per row: readers that refuse rows of no bytes
  // take a padded row, whose bits belong to no field.
  if (recordByteSize == 0 && records > 0) {
    recordByteSize = 1;
  }
  WriteHeader(output, fields, widths, recordByteSize, records, tableName);
  WriteSymbols(output, fields);
  WriteIndexRows(output, fields, widths, recordByteSize, records);
}

template void WriteQvd(BufferedFileOutput&, const std::vector<FieldSymbols<uint8_t>>&, uint64_t,
                       const std::string&);
template void WriteQvd(BufferedFileOutput&, const std::vector<FieldSymbols<uint16_t>>&, uint64_t,
                       const std::string&);
template void WriteQvd(BufferedFileOutput&, const std::vector<FieldSymbols<uint32_t>>&, uint64_t,
                       const std::string&);
template void WriteQvd(BufferedFileOutput&, const std::vector<FieldSymbols<uint64_t>>&, uint64_t,
                       const std::string&);

}  // namespace orv
