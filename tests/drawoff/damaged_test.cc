// drawoff on damaged and hostile QVD files: every run ends in exactly one FAIL line and exit status
// 20, with the records read before the damage written and nothing after.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/drawoff/qvd_builder.h"
#include "tests/drawoff/run_program.h"

namespace orv {
namespace {

using testing::DoubleSymbol;
using testing::FailLines;
using testing::FailMessage;
using testing::HexBytes;
using testing::IntSymbol;
using testing::QvdTable;
using testing::TextSymbol;

// f: 10, 20; g: a, b. Two rows: "10,a" and "20,b".
QvdTable GoodTable() {
  return {{{"f", 0, 2, 0, IntSymbol(10) + IntSymbol(20), 2},
           {"g", 2, 2, 0, TextSymbol("a") + TextSymbol("b"), 2}},
          1,
          HexBytes("00 05")};
}

// f's symbols become `first` and `second`.
std::function<void(QvdTable&)> Symbols(std::string first, std::string second) {
  return [first, second](QvdTable& t) { t.fields[0].symbols = first + second; };
}

// Rows of two bytes, g's bits first; the header counts 3 rows, of which `rows` is held.
std::function<void(QvdTable&)> TwoByteRows(std::string rows) {
  return [rows](QvdTable& t) {
    t.fields[0].bitOffset = 8;
    t.fields[1].bitOffset = 0;
    t.recordByteSize = 2;
    t.rows = rows;
    t.noOfRecords = 3;
  };
}

struct Damage {
  const char* what;
  std::function<void(QvdTable&)> damage;
  const char* type;  // f's type in the layout
  const char* out;
  const char* message;
};

void ExpectOneFailure(const testing::ProgramResult& result, const std::string& message,
                      const std::string& out) {
  EXPECT_EQ(result.status, 20);
  EXPECT_EQ(FailMessage(result.err), message);
  EXPECT_EQ(FailLines(result.err), 1u) << result.err;
  EXPECT_TRUE(result.out == out) << result.out;
}

// Each damaged copy of GoodTable, read in every mode, ends in its one FAIL line after the rows
// before the damage.
void ExpectEachFails(const std::vector<Damage>& cases) {
  testing::TempDir dir;
  std::string path = dir.Path("t.qvd");
  for (const Damage& c : cases) {
    QvdTable table = GoodTable();
    c.damage(table);
    testing::WriteFileBytes(path, table.Bytes());
    for (const char* mode : {"", "--low-memory", "--guess-uniform-symbol-size"}) {
      SCOPED_TRACE(std::string(c.what) + " " + mode);
      auto result = testing::RunProgram(
          "drawoff", std::string(mode) + " -y -i " + path + " -d 'f " + c.type + "; g string'");
      ExpectOneFailure(result, c.message, c.out);
    }
  }
}

TEST(DrawoffDamaged, BadSymbolsTablesAndRowsEndInOneFailLine) {
  const char* kSymbolsF = "Symbol table of field 'f' is damaged.";
  ExpectEachFails({
      {"symbol beyond the table", [](QvdTable& t) { t.rows += '\x03'; }, "int", "10,a\n20,b\n",
       "Field reading failed: 'f' (record no. 3)."},
      {"stored 1 under bias -2",
       [](QvdTable& t) {
         t.fields[0].bias = -2;
         t.rows = HexBytes("02 00 01");
       },
       "int nullable", "10,a\n,a\n", "Field reading failed: 'f' (record no. 3)."},
      {"text past the table",
       [](QvdTable& t) { t.fields[1].symbols = TextSymbol("a") + HexBytes("04 62"); }, "int", "",
       "Symbol table of field 'g' is damaged."},
      {"kind 0", [](QvdTable& t) { t.fields[0].symbols[0] = 0; }, "int", "", kSymbolsF},
      {"kind 3", [](QvdTable& t) { t.fields[0].symbols[0] = 3; }, "int", "", kSymbolsF},
      {"kind 7", [](QvdTable& t) { t.fields[0].symbols[0] = 7; }, "int", "", kSymbolsF},
      {"more symbols than held", [](QvdTable& t) { t.fields[0].noOfSymbols = 3; }, "int", "",
       kSymbolsF},
      {"length beyond the file", [](QvdTable& t) { t.fields[1].length = uint64_t{1} << 40; }, "int",
       "", "Error reading symbol table of field 'g'."},
      {"cut in the first table", [](QvdTable& t) { t.dataBytes = 3; }, "int", "",
       "Error reading symbol table of field 'f'."},
      {"cut in the second table", [](QvdTable& t) { t.dataBytes = 12; }, "int", "",
       "Error reading symbol table of field 'g'."},
      {"cut inside a row", TwoByteRows(HexBytes("0000 0101 00")), "int", "10,a\n20,b\n",
       "Error reading field data: 'f'."},
      {"cut before a row", TwoByteRows(HexBytes("0000 0101")), "int", "10,a\n20,b\n",
       "Error reading field data: 'g'."},
      {"far more rows than held", [](QvdTable& t) { t.noOfRecords = uint64_t{1} << 40; }, "int",
       "10,a\n20,b\n", "Error reading field data: 'f'."},
  });
}

TEST(DrawoffDamaged, BadHeadersAndValuesEndInOneFailLine) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const char* kRead = "Field reading failed: 'f' (record no. 2).";
  const char* kBadF = "Bad bit layout of field 'f' in QVD table header.";
  const char* kBadG = "Bad bit layout of field 'g' in QVD table header.";
  ExpectEachFails({
      {"33 bits",
       [](QvdTable& t) {
         t.fields[0].bitWidth = 33;
         t.fields[1].bitOffset = 33;
         t.recordByteSize = 5;
       },
       "int", "", kBadF},
      {"overlapping bits", [](QvdTable& t) { t.fields[1].bitOffset = 1; }, "int", "", kBadG},
      {"bits beyond the row", [](QvdTable& t) { t.fields[1].bitWidth = 7; }, "int", "", kBadG},
      {"record count overflow",
       [](QvdTable& t) {
         t.recordByteSize = 2;
         t.noOfRecords = uint64_t{1} << 63;
       },
       "int", "", "Bad record count in QVD table header."},
      {"compressed", [](QvdTable& t) { t.extraElements = "  <Compression>zlib</Compression>\n"; },
       "int", "", "Can't read a QVD table with Compression: 'zlib'."},
      {"encrypted", [](QvdTable& t) { t.extraElements = "  <EncryptionInfo>k</EncryptionInfo>\n"; },
       "int", "", "Can't read a QVD table with EncryptionInfo: 'k'."},
      {"NaN date", Symbols(IntSymbol(36526), DoubleSymbol(nan)), "date", "2000-01-01,a\n", kRead},
      {"NaN datetime", Symbols(DoubleSymbol(25569), DoubleSymbol(nan)), "datetime",
       "1970-01-01 00:00:00,a\n", kRead},
      {"infinite datetime", Symbols(DoubleSymbol(25569), DoubleSymbol(inf)), "datetime",
       "1970-01-01 00:00:00,a\n", kRead},
      {"NaN decimal", Symbols(IntSymbol(1), DoubleSymbol(nan)), "decimal(10,2)", "1.00,a\n", kRead},
      {"infinite decimal", Symbols(IntSymbol(1), DoubleSymbol(-inf)), "decimal(10,2)", "1.00,a\n",
       kRead},
      {"decimal beyond 2^127", Symbols(IntSymbol(1), DoubleSymbol(1e39)), "decimal(38,0)", "1,a\n",
       kRead},
      {"year beyond 16 bits", Symbols(IntSymbol(36526), IntSymbol(2147483647)), "date",
       "2000-01-01,a\n", kRead},
  });
}

TEST(DrawoffDamaged, RefusesUnreadableHeaders) {
  const struct {
    std::string bytes;
    const char* message;
  } cases[] = {
      {"", "Error reading QVD table header."},
      {"<QvdTableHeader></QvdTableHeader>\r\n", "Error reading QVD table header."},
      {std::string("<QvdTableHeader><Fields>\0", 25), "Error parsing QVD table header."},
      {std::string("<Other></Other>\0", 16), "Error parsing QVD table header."},
      {std::string("<QvdTableHeader><NoOfRecords>x</NoOfRecords></QvdTableHeader>\0", 62),
       "Error parsing QVD table header."},
  };
  testing::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    testing::WriteFileBytes(dir.Path("h.qvd"), c.bytes);
    ExpectOneFailure(testing::RunProgram("drawoff", "-d 'a int' -i " + dir.Path("h.qvd")),
                     c.message, "");
    ExpectOneFailure(testing::RunProgram("drawoff", "-d 'a int'", dir.Path("h.qvd")), c.message,
                     "");
  }
}

TEST(DrawoffDamaged, CreatesNoOutputFileBeforeTheRows) {
  testing::TempDir dir;
  QvdTable damaged = GoodTable();
  damaged.fields[1].noOfSymbols = 5;
  for (const std::string& bytes : {damaged.Bytes(), std::string("<QvdTableHeader>")}) {
    testing::WriteFileBytes(dir.Path("t.qvd"), bytes);
    std::string out = dir.Path("out");
    auto result = testing::RunProgram(
        "drawoff", "-i " + dir.Path("t.qvd") + " -o " + out + " -d 'f int; g string'");
    EXPECT_EQ(result.status, 20);
    struct stat info;
    EXPECT_NE(stat(out.c_str(), &info), 0) << "output file created";
  }
}

TEST(DrawoffDamaged, CutSampleFailsCleanlyWhereverCut) {
  const std::string sample = std::string(ORV_SAMPLES_DIR) + "/lego-colors.qvd";
  const std::string bytes = testing::ReadFileBytes(sample);
  const std::string rows =
      testing::ReadFileBytes(std::string(ORV_SAMPLES_DIR) + "/lego-colors.rows");
  const size_t dataStart = bytes.find('\0') + 1;
  const std::string layout =
      R"('id string null="\\N" quote="\""; name string null="\\N" quote="\""; )"
      R"(rgb string null="\\N" quote="\""; is_trans string null="\\N" quote="\""')";
  // Header, first and third symbol tables, first row, a middle row, last byte.
  for (size_t keep : {size_t{0}, size_t{100}, dataStart - 1, dataStart, dataStart + 10,
                      dataStart + 3500, dataStart + 4150, dataStart + 4350, bytes.size() - 1}) {
    testing::TempDir dir;
    testing::WriteFileBytes(dir.Path("cut.qvd"), bytes.substr(0, keep));
    for (const char* mode : {"", "--low-memory"}) {
      SCOPED_TRACE(std::to_string(keep) + " " + mode);
      auto result = testing::RunProgram(
          "drawoff", std::string(mode) + " -y -i " + dir.Path("cut.qvd") + " -d " + layout);
      EXPECT_EQ(result.status, 20);
      EXPECT_EQ(FailLines(result.err), 1u) << result.err;
      EXPECT_EQ(rows.compare(0, result.out.size(), result.out), 0) << "not a prefix";
      EXPECT_LT(result.out.size(), rows.size());
    }
  }
}

}  // namespace
}  // namespace orv
