// Record bytes of every type: the in-memory record buffer and the binary record stream.
#include <gtest/gtest.h>

#include "runtime/input.h"
#include "tests/types/test_support.h"

namespace orv {
namespace {

using test::Capture;
using test::Hex;
using test::ToHex;

TEST(RecordBytes, GoldenStreamAndBufferBytesPerType) {
  const std::string ff7 = " ff ff ff ff ff ff ff", zero7 = " 00 00 00 00 00 00 00";
  struct Row {
    const char* layout;
    const char* text;
    std::string stream, buffer;  // an empty buffer: the same bytes as the stream
    size_t plainSize;            // counted by Parse and Read without the record format
  } rows[] = {
      {"v int nullable", "", "01", "", 0},
      {"v int nullable", "7", "00 07 00 00 00", "", 4},
      {"v int; w int", "2147483647,-2147483648", "ff ff ff 7f 00 00 00 80", "", 8},
      {"v string null=\"NULL\"", "", "00 00 00 00 00", "00 00 00 00 00 00 00 00 00", 0},
      {"v string nullable", "ab", "00 02 00 00 00 61 62", "00 02" + zero7 + " 61 62", 2},
      {"v string(3)", "ab", "61 62 20", "", 3},
      {"v date", "2024-02-29", "1d 02 e8 07", "", 4},
      {"v date(\"%d.%m.%Y\") nullable", "29.02.2024", "00 1d 02 e8 07", "", 4},
      {"v decimal(10,2) nullable", "-1.5", "00 6a" + ff7, "00 6a" + ff7 + " ff" + ff7, 16},
      {"v decimal(20,2) nullable", "1", "00 64" + zero7 + " 00" + zero7, "", 16},
      {"v decimal(38,0)", "-1", "ff" + ff7 + " ff" + ff7, "", 16},
      {"v double; w double", "-0.0,nan", "00 00 00 00 00 00 00 80 00 00 00 00 00 00 f8 7f", "", 16},
      {"v datetime nullable", "1969-12-31 23:59:59", "00 ff" + ff7, "", 8},
      {"v datetime(\"%d/%m/%Y %H.%M\")", "02/01/1970 10.30", "28 e5 01 00 00 00 00 00", "", 8},
      {"a int nullable; b string; c decimal(12,3) nullable; d date; e string(2) nullable",
       "5,xy,,2000-01-01,ab", "00 05 00 00 00 02 00 00 00 78 79 01 01 01 d0 07 00 61 62",
       "00 05 00 00 00 02" + zero7 + " 78 79 01 01 01 d0 07 00 61 62", 12},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.layout) + " <- '" + row.text + "'");
    TypeTraitsCollection fields = test::Layout(row.layout);
    const std::string line = std::string(row.text) + "\n";
    const std::string bufferHex = row.buffer.empty() ? row.stream : row.buffer;
    const std::string buffer = Hex(bufferHex);
    char record[256];
    // Every producer counts the bytes its value takes; with the record format they are the
    // bytes WriteToBuffer writes.
    auto produce = [&](IFileInput& input, bool text, bool recordFormat) {
      size_t size = 0;
      char* out = record;
      for (const auto& field : fields) {
        ASSERT_EQ(
            text ? field->Parse(input, size, recordFormat) : field->Read(input, size, recordFormat),
            kStatusOk);
        field->WriteToBuffer(out, true);
      }
      EXPECT_EQ(ToHex(std::string(record, out)), bufferHex);
      EXPECT_EQ(size, recordFormat ? buffer.size() : row.plainSize);
    };
    for (bool recordFormat : {false, true}) {
      MemoryInput text(line.data(), line.size());
      produce(text, true, recordFormat);
    }
    const std::string printed = Capture([&](BufferedFileOutput& out) {
      for (const auto& field : fields) {
        field->Print(out);
      }
    });
    const std::string stream = Capture([&](BufferedFileOutput& out) {
      for (const auto& field : fields) {
        field->Write(out);
      }
    });
    EXPECT_EQ(ToHex(stream), row.stream);
    for (bool recordFormat : {false, true}) {
      MemoryInput input(stream.data(), stream.size());
      produce(input, false, recordFormat);
    }
    // From the record buffer: back to the stream, and printed as the current values print.
    for (bool print : {false, true}) {
      const char* data = buffer.data();
      std::string bytes = Capture([&](BufferedFileOutput& out) {
        for (const auto& field : fields) {
          print ? field->Print(out, data, field->nullable())
                : field->Write(out, data, field->nullable());
        }
      });
      EXPECT_EQ(print ? bytes : ToHex(bytes), print ? printed : row.stream);
      EXPECT_EQ(data, buffer.data() + buffer.size());
    }
  }
}

TEST(RecordStream, CutShortIsEndBeforeTheFirstByteAndBadAfterIt) {
  struct Row {
    const char* layout;
    std::vector<std::pair<const char*, int>> cases;  // stream bytes, status
  } rows[] = {
      {"v int nullable", {{"", kStatusEnd}, {"00", kStatusBad}, {"00 01 02", kStatusBad}}},
      {"v int", {{"", kStatusEnd}, {"01 02", kStatusBad}}},
      {"v string nullable", {{"", 1}, {"00", kStatusBad}, {"00 02 00 00 00 61", kStatusBad}}},
      {"v string", {{"", kStatusEnd}, {"02 00", kStatusBad}, {"02 00 00 00", kStatusBad}}},
      {"v string(3)", {{"", kStatusEnd}, {"61 62", kStatusBad}}},
      {"v decimal(10,2)", {{"01 02 03 04", kStatusBad}, {"", kStatusEnd}}},
      {"v decimal(20,2) nullable", {{"00 01 02 03 04 05 06 07 08", kStatusBad}}},
      {"v date", {{"1d 02 e8", kStatusBad}}},
  };
  for (const Row& row : rows) {
    TypeTraitsCollection fields = test::Layout(row.layout);
    for (auto [hex, status] : row.cases) {
      SCOPED_TRACE(std::string(row.layout) + " <- " + hex);
      const std::string bytes = Hex(hex);
      size_t size = 0;
      char buffer[32];
      char* out = buffer;
      bool isNull = false;
      MemoryInput input(bytes.data(), bytes.size()), again(bytes.data(), bytes.size());
      EXPECT_EQ(fields[0].Read(input, size, true), status);
      EXPECT_EQ(fields[0].ReadFixedSize(again, out, isNull), status);
    }
  }
}

}  // namespace
}  // namespace orv
