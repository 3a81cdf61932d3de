// Binary, text and CSV records read in chunks on several threads: feedout and packdown give the
// same output bytes, log lines and FAIL line for every --threads=N. Small chunks (ORV_CHUNK_BYTES)
// put many cuts into each input, inside quoted line ends too.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

// The log without what changes from run to run: the time stamp, rates, seconds and the thread
// count given.
std::string StableLog(const std::string& err) {
  std::istringstream lines(err);
  std::string stable;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> parts;
    std::istringstream fields(line);
    for (std::string part; std::getline(fields, part, '|');) {
      parts.push_back(part);
    }
    if (parts.size() >= 5 && parts[2] == "INFO" &&
        (parts[3] == "rate" || parts[3] == "threads" || parts[4].find('.') != std::string::npos)) {
      parts[4] = "#";
    }
    for (size_t i = 0; i < parts.size(); ++i) {
      stable += i == 1 ? "" : parts[i] + "|";
    }
    stable += "\n";
  }
  return stable;
}

// `count` CSV lines `i,NAME,AMOUNT` ending in `eol`: every seventh name quoted with line ends and
// doubled quotes in it, every eleventh null.
std::string CsvRecords(int count, const std::string& eol) {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    const std::string name = i % 7 == 0    ? "\"line\n" + n + " \"\"q\"\"\r\nend,\""
                             : i % 11 == 0 ? ""
                                           : "name" + n;
    text += n + "," + name + "," + n + "." + std::to_string(i % 100) + eol;
  }
  return text;
}

// Text records `i|'NAME'|AMOUNT`: every fifth name quoted with line ends.
std::string TextRecords(int count, const std::string& eol) {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    text += n + "|" + (i % 5 == 0 ? "'x\n" + n + "\n'" : "n" + n) + "|" + n + ".5" + eol;
  }
  return text;
}

// Binary records of kBinaryLayout: every eleventh name and thirteenth quantity null, every
// seventeenth name empty.
std::string BinaryRecords(int count) {
  std::string bytes;
  for (int i = 1; i <= count; ++i) {
    const std::string name = i % 17 == 0 ? "" : "name" + std::to_string(i);
    bytes += LittleEndian<int32_t>(i);
    bytes += LittleEndian<int64_t>(int64_t{i} * 100 + i % 100);
    bytes += i % 11 == 0 ? '\1' : '\0';
    if (i % 11 != 0) {
      bytes += LittleEndian(static_cast<uint32_t>(name.size()));
      bytes += name;
    }
    bytes += i % 13 == 0 ? '\1' : '\0';
    if (i % 13 != 0) {
      bytes += LittleEndian<int32_t>(-i);
    }
    bytes += "abc";
  }
  return bytes;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

const char kCsvLayout[] = "Id int; Name string nullable; Amount decimal(10,2)";
const char kTextLayout[] =
    "Id int separator=\"|\"\nName string quote=\"'\" separator=\"|\"\n"
    "Amount double\n";
const std::string kHeader = "Id,Name,Amount\n";
const char kBinaryLayout[] =
    "-d 'Id int; Amount decimal(10,2); Name string nullable; Qty int nullable; Code string(3)'";

struct Case {
  const char* name;
  std::string input;
  std::string options;  // for both programs
  std::string packdownOnly;
  bool fails;
};

std::vector<Case> Cases() {
  const std::string csv = "--csv -d '" + std::string(kCsvLayout) + "'";
  const std::string text = "-x text.ord";
  const std::string records = CsvRecords(3000, "\n");
  const std::string binary = BinaryRecords(3000);
  std::string scales;  // decimals of two fraction digits, then one of one
  for (int i = 1; i <= 3000; ++i) {
    scales += std::to_string(i) + ",n," + std::to_string(i) + (i == 2900 ? ".5\n" : ".25\n");
  }
  return {
      {"csv, quoted line ends", kHeader + records, csv, "", false},
      {"csv, CR LF, no final line end", kHeader + CsvRecords(3000, "\r\n") + "9,z,1", csv, "",
       false},
      {"csv, layout inferred", kHeader + records, "--csv", "packdown", false},
      {"csv, layout inferred, a stray quote", kHeader + Replace(records, "name1500", "na\"me1500"),
       "--csv", "packdown", false},
      {"csv, layout inferred, a second scale late", kHeader + scales, "--csv", "packdown", false},
      {"csv, layout inferred, a short line midway", kHeader + Replace(records, ",1500.0", ""),
       "--csv", "packdown", true},
      {"csv, byte-order mark, no header", "\xEF\xBB\xBF" + records, csv + " --no-header", "",
       false},
      {"csv, by name, a column left out", kHeader + records,
       "--csv -m -d 'Amount decimal(10,2); Id int'", "", false},
      {"csv, blank lines", kHeader + Replace(records, "\n50,", "\n\n\n50,"), csv, "", false},
      {"csv, header only", kHeader, csv, "", false},
      {"csv, empty", "", csv, "", true},
      {"csv, bad value early", kHeader + Replace(records, "\n3,", "\n3x,"), csv, "", true},
      {"csv, bad value late", kHeader + Replace(records, "2999.", "2y."), csv, "", true},
      {"csv, too few values", kHeader + Replace(records, ",1500.0", ""), csv, "", true},
      {"csv, open quote at the end", kHeader + records + "1,\"abc\n", csv, "", true},
      {"csv, 0x00 in a string", kHeader + Replace(records, "name2000", "na\\0me"), csv, "packdown",
       true},
      {"text, quoted line ends", TextRecords(3000, "\n"), text, "", false},
      {"text, no final line end", TextRecords(3000, "\n") + "1|a|2", text, "", true},
      {"text, no final line end allowed", TextRecords(3000, "\n") + "1|a|2",
       text + " --allow-missing-separator-at-eof", "", false},
      {"text, bad value", Replace(TextRecords(3000, "\n"), "1700.5", "1.7.0"), text, "", true},
      {"text, short record", Replace(TextRecords(3000, "\n"), "|n2222", ""), text, "", true},
      {"text, CR LF", TextRecords(3000, "\r\n"), "-a text.ord", "packdown", false},
      {"text, CR", TextRecords(3000, "\r"), "-b text.ord", "packdown", false},
      {"binary", binary, kBinaryLayout, "", false},
      {"binary, empty", "", kBinaryLayout, "", false},
      {"binary, cut short", binary.substr(0, binary.size() - 2), kBinaryLayout, "", true},
      {"binary, length past the end",
       Replace(binary, std::string("\x08\0\0\0name2500", 12), "\xff\xff\xff\x7fname2500"),
       kBinaryLayout, "", true},
      {"binary, 0x00 in a string", Replace(binary, "name2000", "na\\0e2000"), kBinaryLayout,
       "packdown", true},
      {"binary, 0x00 in a fixed-size string", Replace(binary, "abc", "a\\0c"), kBinaryLayout,
       "packdown", true},
  };
}

TEST(ParallelInput, EveryThreadCountGivesTheSameBytesAndLog) {
  ScratchDir dir;
  WriteFileBytes(dir / "text.ord", kTextLayout);
  for (const Case& c : Cases()) {
    std::string input = c.input;
    if (const size_t zero = input.find("\\0"); zero != std::string::npos) {
      input.replace(zero, 2, std::string(1, '\0'));
    }
    WriteFileBytes(dir / "in", input);
    for (const char* program : {"feedout", "packdown"}) {
      if (!c.packdownOnly.empty() && c.packdownOnly != program) {
        continue;
      }
      SCOPED_TRACE(std::string(c.name) + ", " + program);
      const std::string command =
          "ORV_CHUNK_BYTES=300 $B/" + std::string(program) + " -i in " + c.options + " --threads=";
      const ProgramResult one = Shell(dir, command + "1");
      EXPECT_EQ(one.status, c.fails ? 20 : 0) << one.err;
      EXPECT_EQ(FailLines(one.err), c.fails ? 1u : 0u);
      for (const char* threads : {"2", "3", "8"}) {
        SCOPED_TRACE(std::string("--threads=") + threads);
        const ProgramResult many = Shell(dir, command + threads);
        EXPECT_EQ(many.status, one.status);
        EXPECT_TRUE(many.out == one.out) << many.out.size() << " bytes, not " << one.out.size();
        EXPECT_EQ(StableLog(many.err), StableLog(one.err));
      }
    }
  }
}

}  // namespace
}  // namespace orv::testing
