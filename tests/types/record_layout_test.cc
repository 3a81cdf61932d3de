// Record bytes of every type: the in-memory record buffer and the binary record stream.
#include <gtest/gtest.h>

#include <random>

#include "runtime/input.h"
#include "tests/types/test_support.h"

namespace orv {
namespace {

using test::Capture;
using test::Hex;
using test::Layout;
using test::ToHex;

std::string BufferOf(const TypeTraits& field) {
  char buffer[64];
  char* out = buffer;
  field.WriteToBuffer(out, true);
  return std::string(buffer, out);
}

TEST(RecordBytes, GoldenStreamAndBufferBytesPerType) {
  const std::string ff15 = " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff";
  const std::string zero15 = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
  struct Row {
    const char* layout;
    const char* text;
    std::string stream;
    std::string buffer;
    size_t plainSize;  // Parse and Read without the record format
  } rows[] = {
      {"v int nullable", "", "01", "01", 0},
      {"v int nullable", "7", "00 07 00 00 00", "00 07 00 00 00", 4},
      {"v int", "2147483647", "ff ff ff 7f", "ff ff ff 7f", 4},
      {"v int", "-2147483648", "00 00 00 80", "00 00 00 80", 4},
      {"v string null=\"NULL\"", "", "00 00 00 00 00", "00 00 00 00 00 00 00 00 00", 0},
      {"v string nullable", "ab", "00 02 00 00 00 61 62", "00 02 00 00 00 00 00 00 00 61 62", 2},
      {"v string(3)", "ab", "61 62 20", "61 62 20", 3},
      {"v date", "2024-02-29", "1d 02 e8 07", "1d 02 e8 07", 4},
      {"v date nullable", "", "01", "01", 0},
      {"v decimal(10,2) nullable", "-1.5", "00 6a ff ff ff ff ff ff ff", "00 6a" + ff15, 16},
      {"v decimal(20,2) nullable", "1", "00 64" + zero15, "00 64" + zero15, 16},
      {"v decimal(38,0)", "-1", "ff" + ff15, "ff" + ff15, 16},
      {"v double", "-0.0", "00 00 00 00 00 00 00 80", "00 00 00 00 00 00 00 80", 8},
      {"v double", "nan", "00 00 00 00 00 00 f8 7f", "00 00 00 00 00 00 f8 7f", 8},
      {"v datetime nullable", "1969-12-31 23:59:59", "00 ff ff ff ff ff ff ff ff",
       "00 ff ff ff ff ff ff ff ff", 8},
      {"v datetime", "1970-01-02 00:00:01", "81 51 01 00 00 00 00 00", "81 51 01 00 00 00 00 00",
       8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.layout) + " <- '" + row.text + "'");
    TypeTraitsCollection fields = Layout(row.layout);
    TypeTraits& field = fields[0];
    const std::string line = std::string(row.text) + "\n";
    const std::string buffer = Hex(row.buffer);
    size_t size = 0;
    MemoryInput plainText(line.data(), line.size());
    ASSERT_EQ(field.Parse(plainText, size, false), kStatusOk);
    EXPECT_EQ(size, row.plainSize);
    size = 0;
    MemoryInput text(line.data(), line.size());
    ASSERT_EQ(field.Parse(text, size, true), kStatusOk);
    EXPECT_EQ(size, buffer.size());
    EXPECT_EQ(ToHex(BufferOf(field)), row.buffer);
    const std::string stream = Capture([&](BufferedFileOutput& out) { field.Write(out); });
    EXPECT_EQ(ToHex(stream), row.stream);

    // Back from the stream, and from the buffer to the stream.
    MemoryInput streamInput(stream.data(), stream.size());
    size = 0;
    ASSERT_EQ(field.Read(streamInput, size, true), kStatusOk);
    EXPECT_EQ(size, buffer.size());
    EXPECT_EQ(ToHex(BufferOf(field)), row.buffer);
    MemoryInput plainStream(stream.data(), stream.size());
    size = 0;
    ASSERT_EQ(field.Read(plainStream, size, false), kStatusOk);
    EXPECT_EQ(size, row.plainSize);
    const char* data = buffer.data();
    EXPECT_EQ(ToHex(Capture([&](BufferedFileOutput& out) {
                field.Write(out, data, field.nullable());
              })),
              row.stream);
    EXPECT_EQ(data, buffer.data() + buffer.size());
  }
}

TEST(RecordStream, CutShortIsEndBeforeTheFirstByteAndBadAfterIt) {
  struct Row {
    const char* layout;
    const char* bytes;
    int status;
  } rows[] = {
      {"v int nullable", "", kStatusEnd},      {"v int nullable", "00", kStatusBad},
      {"v int nullable", "00 01 02", kStatusBad}, {"v int", "", kStatusEnd},
      {"v int", "01 02", kStatusBad},          {"v string nullable", "", kStatusEnd},
      {"v string nullable", "00", kStatusBad}, {"v string nullable", "00 02 00 00 00 61", kStatusBad},
      {"v string", "", kStatusEnd},            {"v string", "02 00", kStatusBad},
      {"v string", "02 00 00 00", kStatusBad}, {"v string(3)", "61 62", kStatusBad},
      {"v string(3)", "", kStatusEnd},         {"v decimal(10,2)", "01 02 03 04", kStatusBad},
      {"v decimal(20,2) nullable", "00 01 02 03 04 05 06 07 08", kStatusBad},
      {"v date", "1d 02 e8", kStatusBad},      {"v datetime nullable", "", kStatusEnd},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.layout) + " <- " + row.bytes);
    TypeTraitsCollection fields = Layout(row.layout);
    const std::string bytes = Hex(row.bytes);
    size_t size = 0;
    MemoryInput input(bytes.data(), bytes.size());
    EXPECT_EQ(fields[0].Read(input, size, true), row.status);
    EXPECT_EQ(fields[0].status(), row.status);
    char buffer[32];
    char* out = buffer;
    bool isNull = false;
    MemoryInput again(bytes.data(), bytes.size());
    EXPECT_EQ(fields[0].ReadFixedSize(again, out, isNull), row.status);
  }
}

TEST(RecordBuffer, FieldsLieBackToBackAndPrintFromTheBuffer) {
  TypeTraitsCollection fields =
      Layout("a int nullable; b string; c decimal(12,3) nullable; d date; e string(2) nullable");
  const std::string line = "5,xy,,2000-01-01,ab\n";
  MemoryInput input(line.data(), line.size());
  char buffer[128];
  char* out = buffer;
  size_t size = 0;
  for (const auto& field : fields) {
    ASSERT_EQ(field->Parse(input, size, true), kStatusOk);
    field->WriteToBuffer(out, true);
  }
  const std::string record(buffer, out);
  EXPECT_EQ(size, record.size());
  EXPECT_EQ(ToHex(record),
            "00 05 00 00 00 02 00 00 00 00 00 00 00 78 79 01 01 01 d0 07 00 61 62");
  const char* data = record.data();
  EXPECT_EQ(Capture([&](BufferedFileOutput& o) {
              for (const auto& field : fields) {
                field->Print(o, data, field->nullable());
              }
            }),
            line);
  data = record.data();
  EXPECT_EQ(ToHex(Capture([&](BufferedFileOutput& o) {
              for (const auto& field : fields) {
                field->Write(o, data, field->nullable());
              }
            })),
            "00 05 00 00 00 02 00 00 00 78 79 01 01 01 d0 07 00 61 62");
}

TEST(RecordStream, RandomStreamsSurviveTheTripThroughRecordBuffers) {
  const unsigned seed = 20240229;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  TypeTraitsCollection fields =
      Layout("a int nullable; b double; c decimal(10,2) nullable; d decimal(30,5); e date; "
             "f datetime nullable; g string nullable; h string(3)");
  const size_t streamWidths[] = {4, 8, 8, 16, 4, 8, 0, 3};
  std::string stream;
  for (int record = 0; record < 300; ++record) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].nullable()) {
        bool isNull = random() % 4 == 0;
        stream.push_back(isNull ? 1 : 0);
        if (isNull) {
          continue;
        }
      }
      size_t width = streamWidths[i];
      if (width == 0) {
        width = random() % 6;
        stream.append(std::string("\0\0\0\0", 4).replace(0, 1, 1, static_cast<char>(width)));
      }
      for (size_t k = 0; k < width; ++k) {
        stream.push_back(static_cast<char>(random()));
      }
    }
  }
  MemoryInput input(stream.data(), stream.size());
  std::string written = Capture([&](BufferedFileOutput& o) {
    for (;;) {
      char buffer[256];
      char* out = buffer;
      size_t size = 0;
      int status = fields[0].Read(input, size, true);
      if (status == kStatusEnd) {
        break;
      }
      ASSERT_EQ(status, kStatusOk);
      fields[0].WriteToBuffer(out, true);
      for (size_t i = 1; i < fields.size(); ++i) {
        ASSERT_EQ(fields[i].Read(input, size, true), kStatusOk);
        fields[i].WriteToBuffer(out, true);
      }
      ASSERT_EQ(size, static_cast<size_t>(out - buffer));
      const char* data = buffer;
      for (const auto& field : fields) {
        field->Write(o, data, field->nullable());
      }
    }
  });
  EXPECT_EQ(written, stream);
}

}  // namespace
}  // namespace orv
