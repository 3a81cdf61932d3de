// Writes a QVD file of N rows and 6 fields for the reader benchmark:
//   Id int (sequential, one symbol per row), Amount double (10,000 symbols), Name text (500),
//   Day date as day numbers (3,000), Stamp datetime as fractional days (20,000), Qty int (100).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

unsigned Bits(uint64_t symbols) {
  unsigned bits = 0;
  while ((uint64_t{1} << bits) < symbols) {
    ++bits;
  }
  return bits;
}

struct Field {
  const char* name;
  uint64_t symbols;
  std::string table;
  unsigned width = 0;
};

void Int(std::string& t, int32_t v) {
  t.push_back(1);
  t.append(reinterpret_cast<const char*>(&v), 4);
}

void Double(std::string& t, double v) {
  t.push_back(2);
  t.append(reinterpret_cast<const char*>(&v), 8);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: gen_qvd ROWS FILE\n");
    return 2;
  }
  const uint64_t rows = strtoull(argv[1], nullptr, 10);
  std::vector<Field> fields = {{"Id", rows, {}},  {"Amount", 10000, {}}, {"Name", 500, {}},
                               {"Day", 3000, {}}, {"Stamp", 20000, {}},  {"Qty", 100, {}}};
  for (uint64_t s = 0; s < rows; ++s) Int(fields[0].table, static_cast<int32_t>(s));
  for (uint64_t s = 0; s < 10000; ++s) Double(fields[1].table, static_cast<double>(s) / 7.0);
  for (uint64_t s = 0; s < 500; ++s) {
    fields[2].table.push_back(4);
    fields[2].table += "customer name " + std::to_string(s);
    fields[2].table.push_back(0);
  }
  for (uint64_t s = 0; s < 3000; ++s) Int(fields[3].table, static_cast<int32_t>(40000 + s));
  for (uint64_t s = 0; s < 20000; ++s)
    Double(fields[4].table, 44000.0 + static_cast<double>(s) / 97.0);
  for (uint64_t s = 0; s < 100; ++s) Int(fields[5].table, static_cast<int32_t>(s));

  unsigned total = 0;
  for (Field& f : fields) {
    f.width = Bits(f.symbols);
    total += f.width;
  }
  fields.back().width += (8 - total % 8) % 8;
  total += (8 - total % 8) % 8;
  const uint64_t recordBytes = total / 8;

  FILE* out = fopen(argv[2], "wb");
  if (out == nullptr) {
    return 1;
  }
  fprintf(out,
          "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<QvdTableHeader>\n"
          "  <TableName>bench</TableName>\n  <Fields>\n");
  uint64_t bitOffset = 0;
  uint64_t offset = 0;
  for (const Field& f : fields) {
    fprintf(
        out,
        "    <QvdFieldHeader>\n      <FieldName>%s</FieldName>\n      <BitOffset>%lu</BitOffset>\n"
        "      <BitWidth>%u</BitWidth>\n      <Bias>0</Bias>\n      "
        "<NoOfSymbols>%lu</NoOfSymbols>\n"
        "      <Offset>%lu</Offset>\n      <Length>%zu</Length>\n    </QvdFieldHeader>\n",
        f.name, bitOffset, f.width, f.symbols, offset, f.table.size());
    bitOffset += f.width;
    offset += f.table.size();
  }
  fprintf(out,
          "  </Fields>\n  <Compression></Compression>\n  <RecordByteSize>%lu</RecordByteSize>\n"
          "  <NoOfRecords>%lu</NoOfRecords>\n  <Offset>%lu</Offset>\n  <Length>%lu</Length>\n"
          "</QvdTableHeader>\r\n",
          recordBytes, rows, offset, recordBytes * rows);
  fputc(0, out);
  for (const Field& f : fields) fwrite(f.table.data(), 1, f.table.size(), out);
  std::vector<unsigned char> row(recordBytes + 8);
  uint64_t state = 88172645463325252ull;
  for (uint64_t r = 0; r < rows; ++r) {
    std::fill(row.begin(), row.end(), 0);
    unsigned bit = 0;
    for (size_t k = 0; k < fields.size(); ++k) {
      state ^= state << 13, state ^= state >> 7, state ^= state << 17;
      uint64_t v = k == 0 ? r : state % fields[k].symbols;
      for (unsigned b = 0; b < fields[k].width; ++b, ++bit) {
        if ((v >> b) & 1)
          row[bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
      }
    }
    fwrite(row.data(), 1, recordBytes, out);
  }
  return fclose(out) == 0 ? 0 : 1;
}
