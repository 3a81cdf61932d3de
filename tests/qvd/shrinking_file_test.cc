// The table reader over a file that shrinks while it is read: nothing read as zeros goes out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "qvd/table_reader.h"
#include "runtime/file_mapping.h"
#include "tests/drawoff/qvd_builder.h"
#include "types/type_traits_parser.h"

namespace orv {
namespace {

struct Shrinking {
  const char* layout;
  std::string symbol;  // each of `symbols` symbols
  int symbols;
  size_t recordBytes;     // of each record written
  const char* lostTable;  // the message where the file's mapping is its table's
  const char* lostRows;   // the message where the table was converted before the loss
};

TEST(QvdTableReader, ReportsAFileThatShrinksWhileItIsRead) {
  // Texts of 100 bytes are read from the table as rows name them (in low memory through a
  // mapping of the table, else where the mapped file holds it); a few ints are converted up front,
  // before the file shrinks, so that only the mapped file's rows are lost (in low memory, the rows
  // are in the input's buffer: nothing is lost); many are read where the file holds them.
  const char* tableLost = "Error reading symbol table of field 't'.";
  for (const Shrinking& kind :
       {Shrinking{"t string", testing::TextSymbol(std::string(99, 'a')), 2000, 4 + 99, tableLost,
                  tableLost},
        Shrinking{"t int", testing::IntSymbol(7), 2000, 4, "", "Error reading input."},
        Shrinking{"t int", testing::IntSymbol(7), 65536, 4, tableLost, tableLost}}) {
    std::string symbols;
    std::string rows;
    for (int s = 0; s < kind.symbols; ++s) {
      symbols += kind.symbol;
      rows += testing::LittleEndian(static_cast<uint16_t>(kind.symbols - 1 - s));
    }
    const auto count = static_cast<uint64_t>(kind.symbols);
    testing::QvdTable table({{"t", 0, 16, 0, symbols, count}}, 2, rows);
    testing::ScratchDir dir;
    const std::string path = dir / "shrinks.qvd";
    for (const auto& [lowMemory, threads] : {std::pair{true, 1u}, {false, 1u}, {false, 2u}}) {
      for (bool shrink : {false, true}) {
        SCOPED_TRACE(::testing::Message() << kind.layout << lowMemory << threads << shrink);
        testing::WriteFileBytes(path, table.Bytes());
        TypeTraitsCollection layout;
        ASSERT_FALSE(TypeTraitsParser::ParseInlineFields(kind.layout, layout));
        layout.Prepare();
        FILE* file = fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        std::unique_ptr<IFileInput> input = IFileInput::Create(file, false, false, false);
        if (!lowMemory) {
          input = MappedFileInput::Open(file);
          ASSERT_NE(input, nullptr);
        }
        TableReadOptions options;
        options.lowMemory = lowMemory;
        options.path = path;
        options.threads = threads;
        options.chunkBatches = 1;
        QvdTableReader reader(layout, options);
        ASSERT_TRUE(reader.Open(*input).ok());
        if (shrink) {
          ASSERT_EQ(truncate(path.c_str(), 0), 0);
        }
        std::string records;
        BufferedFileOutput output(&records);
        IntervalStats stats("records");
        const Status status = reader.ReadRows(*input, output, stats);
        output.flush();
        const char* lost = lowMemory ? kind.lostTable : kind.lostRows;
        EXPECT_EQ(status.message(), shrink ? lost : "");
        EXPECT_EQ(records.size(), shrink && *lost != '\0' ? 0u : count * kind.recordBytes);
        input.reset();
        fclose(file);
      }
    }
  }
}

}  // namespace
}  // namespace orv
