// Symbol table scans on literal bytes: the damage each names, how tables tile the symbol area,
// fetching symbols, and the checks of number tables in pieces on threads and from a stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "qvd/symbol_table.h"
#include "runtime/input.h"
#include "runtime/workers.h"
#include "tests/drawoff/qvd_builder.h"

namespace orv {
namespace {

using testing::DoubleSymbol;
using testing::DualIntSymbol;
using testing::IntSymbol;
using testing::TextSymbol;

// A new temporary file that holds `bytes`, its name in `path`; its descriptor, or -1.
int TemporaryFile(std::string_view bytes, std::string& path) {
  char name[] = "/tmp/orv_table_XXXXXX";
  const int fd = mkstemp(name);
  path = name;
  if (fd >= 0 && write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    close(fd);
    return -1;
  }
  return fd;
}

// The metadata of a table "F" of `symbols` symbols in `length` bytes.
QvdFieldMetadata TableField(uint64_t symbols, uint64_t length) {
  QvdFieldMetadata field = testing::FieldMetadata("F", 0, 0);
  field.noOfSymbols = symbols;
  field.length = length;
  return field;
}

// Each case with each of `flags`.
template <typename Case>
std::vector<std::pair<Case, bool>> WithEach(const std::vector<Case>& cases,
                                            std::initializer_list<bool> flags) {
  std::vector<std::pair<Case, bool>> all;
  for (const Case& c : cases) {
    for (const bool flag : flags) {
      all.emplace_back(c, flag);
    }
  }
  return all;
}

struct TableCase {
  const char* name;
  std::string bytes;
  uint64_t noOfSymbols;
  std::string message;  // empty: loads
  uint64_t uniformSize = 0;
};

TEST(SymbolTable, LoadsOrNamesTheDamage) {
  const std::string damaged = "Symbol table of field 'F' is damaged.";
  const std::string cut = "Error reading symbol table of field 'F'.";
  const std::vector<TableCase> cases = {
      {"ints", IntSymbol(1) + IntSymbol(-7), 2, "", 5},
      {"doubles", DoubleSymbol(0.5) + DoubleSymbol(-0.0), 2, "", 9},
      {"texts of one size", TextSymbol("ab") + TextSymbol("cd"), 2, "", 4},
      {"mixed sizes", IntSymbol(1) + TextSymbol("x") + DualIntSymbol(3, "3"), 3, "", 0},
      {"empty table", "", 0, "", 0},
      {"unknown kind", std::string("\x03", 1) + "abcd", 1, damaged},
      {"text without its end", TextSymbol("ab").substr(0, 3), 1, damaged},
      {"int cut in its payload", IntSymbol(5).substr(0, 3), 1, damaged},
      {"more symbols than bytes", IntSymbol(5), 2, damaged},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.name);
    const QvdFieldMetadata field = TableField(c.noOfSymbols, c.bytes.size());
    SymbolTable<uint32_t> table(field);
    MemoryInput input(c.bytes.data(), c.bytes.size());
    LargeBuffer spare;
    const Status status = table.LoadInMemory(input, false, spare);
    EXPECT_EQ(status.message(), c.message);
    if (status.ok()) {
      EXPECT_EQ(table.uniformSize(), c.uniformSize);
    }
  }
  // The file ends inside the table.
  const QvdFieldMetadata field = TableField(2, 10);
  const std::string bytes = IntSymbol(1);
  SymbolTable<uint8_t> table(field);
  MemoryInput input(bytes.data(), bytes.size());
  LargeBuffer spare;
  EXPECT_EQ(table.LoadInMemory(input, false, spare).message(), cut);
}

TEST(SymbolTable, TablesMustTileTheSymbolAreaInHeaderOrder) {
  auto fields = [](std::optional<uint64_t> a, std::optional<uint64_t> b) {
    std::vector<QvdFieldMetadata> result = {testing::FieldMetadata("A", 0, 1),
                                            testing::FieldMetadata("B", 1, 1)};
    result[0].offset = a;
    result[0].length = 10;
    result[1].offset = b;
    result[1].length = 5;
    return result;
  };
  const std::string bad = "Bad symbol table offset of field 'B' in QVD table header.";
  EXPECT_TRUE(CheckSymbolArea(fields(0, 10)).ok());
  EXPECT_TRUE(CheckSymbolArea(fields(std::nullopt, std::nullopt)).ok());
  EXPECT_EQ(CheckSymbolArea(fields(5, 0)).message(),
            "Bad symbol table offset of field 'A' in QVD table header.");  // stored B, then A
  EXPECT_EQ(CheckSymbolArea(fields(0, 11)).message(), bad);
  std::vector<QvdFieldMetadata> huge = fields(0, std::nullopt);
  huge[0].length = UINT64_MAX;
  EXPECT_EQ(CheckSymbolArea(huge).message(), bad);
}

TEST(SymbolTable, FetchesEachSymbolAndNothingBeyond) {
  const std::string bytes = IntSymbol(1) + TextSymbol("hello") + DoubleSymbol(2.5);
  const QvdFieldMetadata field = TableField(3, bytes.size());
  SymbolTable<uint8_t> table(field);
  MemoryInput input(bytes.data(), bytes.size());
  LargeBuffer spare;
  ASSERT_TRUE(table.LoadInMemory(input, false, spare).ok());
  const char* symbol = nullptr;
  size_t size = 0;
  ASSERT_TRUE(table.Fetch(1, symbol, size));
  EXPECT_EQ(std::string(symbol, size), TextSymbol("hello"));
  ASSERT_TRUE(table.Fetch(2, symbol, size));
  EXPECT_EQ(std::string(symbol, size), DoubleSymbol(2.5));
  EXPECT_FALSE(table.Fetch(3, symbol, size));
}

// A table of numbers large enough to be checked in pieces on several threads: one odd pair of
// symbols in any piece (two texts that together take two numbers' bytes) makes it a table of
// mixed sizes, scanned symbol by symbol.
TEST(SymbolTable, PiecesOnThreadsFindAnOddSymbolAnywhere) {
  constexpr uint64_t kCount = 600000;
  const std::string odd = TextSymbol("a") + TextSymbol("bcdef");
  ASSERT_EQ(odd.size(), 2 * IntSymbol(0).size());
  for (const uint64_t at : {uint64_t{0}, uint64_t{1}, uint64_t{300000}, kCount - 2, kCount}) {
    std::string bytes;
    for (uint64_t s = 0; s < kCount; ++s) {
      bytes += s == at ? odd : s == at + 1 ? "" : IntSymbol(static_cast<int32_t>(s));
    }
    for (const unsigned threads : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::to_string(at) + " on " + std::to_string(threads) + " threads");
      const QvdFieldMetadata field = TableField(kCount, bytes.size());
      SymbolTable<uint32_t> table(field);
      MemoryInput input(bytes.data(), bytes.size());
      LargeBuffer spare;
      TaskPool pool(threads);
      ASSERT_TRUE(table.ReadInMemory(input, false, spare).ok());
      ASSERT_TRUE(table.ScanInMemory(&pool).ok());
      EXPECT_EQ(table.uniformSize(), at == kCount ? 5u : 0u);
      const char* symbol = nullptr;
      size_t size = 0;
      ASSERT_TRUE(table.Fetch(std::min(at, kCount - 1), symbol, size));
      EXPECT_EQ(std::string(symbol, size), at == kCount ? IntSymbol(kCount - 1) : TextSymbol("a"));
    }
  }
}

// A table kept on disk is scanned from the stream: numbers of one kind a buffer at a time (a
// symbol may straddle two buffers), then symbol by symbol from the first one of another kind.
// Left to scan later, it is scanned through its mapping, with the same outcome.
TEST(SymbolTable, OnDiskScanFindsAnOddSymbolAnywhere) {
  constexpr uint64_t kCount = 100000;  // 500,000 bytes: several of the input's buffers
  const std::string odd = TextSymbol("a") + TextSymbol("bcdef");
  struct Case {
    uint64_t at;  // where the odd pair (or a bad kind byte) lies; kCount: nowhere
    bool badKind;
    uint64_t fileBytes;  // of the table's bytes, those in the file
    bool unbuffered;
    std::string message;
  };
  const std::vector<Case> cases = {
      {0, false, 0, false, ""},
      {1, false, 0, false, ""},
      {13107, false, 0, false, ""},  // the pair straddles the first buffer's end
      {kCount - 2, false, 0, false, ""},
      {kCount, false, 0, false, ""},
      {13107, false, 0, true, ""},
      {50000, true, 0, false, "Symbol table of field 'F' is damaged."},
      {kCount, false, 250002, false, "Error reading symbol table of field 'F'."},
  };
  for (const auto& [c, later] : WithEach(cases, {false, true})) {
    SCOPED_TRACE(std::to_string(c.at) + (c.badKind ? " bad kind" : "") +
                 (c.unbuffered ? " unbuffered" : "") + (later ? " later" : ""));
    std::string bytes;
    for (uint64_t s = 0; s < kCount; ++s) {
      bytes += s == c.at ? odd : s == c.at + 1 ? "" : IntSymbol(static_cast<int32_t>(s));
    }
    if (c.badKind) {
      bytes[c.at * 5] = '\x03';
    }
    std::string path;
    const size_t kept = c.fileBytes == 0 ? bytes.size() : c.fileBytes;
    const int fd = TemporaryFile(std::string_view(bytes).substr(0, kept), path);
    ASSERT_GE(fd, 0);
    close(fd);
    FILE* file = fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    const QvdFieldMetadata field = TableField(kCount, bytes.size());
    SymbolTable<uint32_t> table(field);
    auto input = IFileInput::Create(file, c.unbuffered, false, false);
    Status status = table.LoadOnDisk(*input, false, path, later);
    if (status.ok()) {
      status = table.ScanInMemory();
    }
    EXPECT_EQ(status.message(), c.message);
    if (c.message.empty()) {
      EXPECT_EQ(table.uniformSize(), c.at == kCount ? 5u : 0u);
      const char* symbol = nullptr;
      size_t size = 0;
      for (uint64_t s = c.at == 0 ? 0 : c.at - 1; s < std::min(c.at + 2, kCount); ++s) {
        ASSERT_TRUE(table.Fetch(s, symbol, size));
        EXPECT_EQ(std::string(symbol, size), s == c.at       ? TextSymbol("a")
                                             : s == c.at + 1 ? TextSymbol("bcdef")
                                                             : IntSymbol(static_cast<int32_t>(s)));
      }
    }
    fclose(file);
    unlink(path.c_str());
  }
}

// A table left to scan is scanned where the file holds it: a file that shrank since the input
// passed the table is reported as one that ends inside it, as the stream's scan would, not as a
// damaged table.
TEST(SymbolTable, OnDiskScanLaterReportsAFileThatShrank) {
  constexpr uint64_t kCount = 4096;
  std::string bytes;
  for (uint64_t s = 0; s < kCount; ++s) {
    bytes += s % 2 == 0 ? IntSymbol(static_cast<int32_t>(s)) : TextSymbol("x");
  }
  std::string path;
  const int fd = TemporaryFile(bytes, path);
  ASSERT_GE(fd, 0);
  FILE* file = fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  const QvdFieldMetadata field = TableField(kCount, bytes.size());
  {
    SymbolTable<uint32_t> table(field);
    auto input = IFileInput::Create(file, false, false, false);
    ASSERT_TRUE(table.LoadOnDisk(*input, false, path, true).ok());
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    EXPECT_EQ(table.ScanInMemory().message(), "Error reading symbol table of field 'F'.");
    EXPECT_TRUE(table.lost());
  }
  EXPECT_FALSE(FileMapping::AnyLost());  // forgotten with the table's mapping
  fclose(file);
  close(fd);
  unlink(path.c_str());
}

}  // namespace
}  // namespace orv
