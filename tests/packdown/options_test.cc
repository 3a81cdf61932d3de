// The packdown command line: refusals with their one FAIL line, the options that change how input
// is read, and the INFO lines that name the options in effect.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/packdown/packdown_support.h"

namespace orv::packdown_test {
namespace {

// '@' stands for the scratch directory.
std::string Place(std::string text, const std::string& dir) {
  for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + dir.size())) {
    text.replace(at, 1, dir);
  }
  return text;
}

struct Refusal {
  const char* arguments;
  std::string input, message;
};

// Each run fails with its one FAIL line, exit status 20 and no output file.
void ExpectEachRefused(const std::vector<Refusal>& cases) {
  ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    auto result =
        Packdown(dir, Place(std::string("-o @/out.qvd ") + c.arguments, dir.path), c.input);
    EXPECT_EQ(result.status, 20);
    EXPECT_EQ(FailLines(result.err), 1u) << result.err;
    EXPECT_EQ(testing::FailMessage(result.err), Place(c.message, dir.path));
    EXPECT_FALSE(std::filesystem::exists(dir / "out.qvd"));
  }
}

TEST(PackdownOptions, RefusalsWriteOneFailLineAndNoOutput) {
  const std::string token65 = std::string(30, '9') + std::string(35, 'z'), token64(64, 'q');
  const std::string zeroByte = "Field 'a' holds a 0x00 byte, which a QVD text symbol can't store";
  ExpectEachRefused({
      {"-d 'a int' --input", "", "Option '--input' requires an argument."},
      {"-d 'a int' --bogus", "", "Unrecognized option: '--bogus'."},
      {"-a -d 'a int' -b", "",
       "--text-input-dos-eol can't be used with --text-input-mac-eol option."},
      {"-d 'a int' --allow-missing-separator-at-eof", "",
       "--allow-missing-separator-at-eof option can be used with --text-input option only."},
      {"-d 'a int' -i @/none.bin", "", "Can't open input file: '@/none.bin'."},
      {"-d 'a int' -o @/no/out.qvd", Hex("01000000"), "Can't open output file: '@/no/out.qvd'."},
      {"", "", "Data definition has no fields."},
      {"-d 'a strng'", "", "Data definition error at line 1, column 3: unknown type 'strng'."},
      {"-x -d 'a int; b string'", "1,p\n2,q\nx,r\n",
       "Field reading failed: 'a' (record no. 3), \"x\" is not 'int'."},
      {"-x -d 'a int; b string'", "1,p\n2",
       "Field reading failed: 'a' (record no. 2), \"2\" is not 'int'."},
      {"-x -d 'a int; b string'", "1,p\n2,q",
       "Field reading failed: 'b' (record no. 2), \"q\" is not 'string'."},
      {"-x -d 'a int'",
       "\xEF\xBB\xBF"
       "5\n",
       "Field reading failed: 'a' (record no. 1), \"\xEF\xBB\xBF"
       "5\" is not 'int'."},
      {"-x -d 'a int'", "1\n" + token65 + "\n",
       "Field reading failed: 'a' (record no. 2), \"" + token65.substr(0, 61) +
           "...\" is not 'int'."},
      {"-x -d 'a int'", token64 + "\n",
       "Field reading failed: 'a' (record no. 1), \"" + token64 + "\" is not 'int'."},
      {"-d 'a int; b int'", Hex("01000000 02000000 01000000"),
       "Field reading failed: 'b' (record no. 2)."},
      {"-d 'a int; b int'", Hex("01000000 02000000 0100"),
       "Field reading failed: 'a' (record no. 2)."},
      {"-d 'a string nullable'", Hex("00"), "Field reading failed: 'a' (record no. 1)."},
      {"-d 'a string'", Hex("05000000 616263"), "Field reading failed: 'a' (record no. 1)."},
      {"-d 'b int; a string'", Hex("01000000 01000000 61  02000000 03000000 780079"),
       zeroByte + " (record no. 2)."},
      {"-d 'a string(3) nullable'", Hex("01  00 610062"), zeroByte + " (record no. 2)."},
      {"-x -d 'a string'", std::string("ok\nb\0d\n", 7), zeroByte + " (record no. 2)."},
  });
}

TEST(PackdownOptions, ValuesNoneOfTheirTypeWriteOneFailLineAndNoOutput) {
  ExpectEachRefused({
      // Text tokens are taken whole, a token is read only as far as its type can use, and a
      // calendar value must name a real day and second.
      {"-x -a -d 'a int'", "1\n2\r\n",
       "Field reading failed: 'a' (record no. 1), \"1\\n2\" is not 'int'."},
      {"-x -d 'A int; B int'", "1,2,3\n",
       "Field reading failed: 'B' (record no. 1), \"2,3\" is not 'int'."},
      {"-x -d 'a double'", "1,5\n",
       "Field reading failed: 'a' (record no. 1), \"1,5\" is not 'double'."},
      {"-x -d 'a int'", "1\n" + std::string(1 << 20, '7') + "\n",
       "Field reading failed: 'a' (record no. 2), \"" + std::string(61, '7') +
           "...\" is not 'int'."},
      {"-x -d 'a date'", "2024-02-29\n2021-02-30\n",
       "Field reading failed: 'a' (record no. 2), \"2021-02-30\" is not 'date(%Y-%m-%d)'."},
      {"-x -d 'a datetime'", "2021-12-31 23:59:60\n",
       "Field reading failed: 'a' (record no. 1), \"2021-12-31 23:59:60\" is not "
       "'datetime(%Y-%m-%d %H:%M:%S)'."},
      // Binary values that are no value of their type, and flag bytes other than 0 and 1.
      {"-d 'a date'", Hex("ffffffff"), "Field reading failed: 'a' (record no. 1)."},
      {"-d 'a date'", Hex("1d02e807 1e02e707"), "Field reading failed: 'a' (record no. 2)."},
      {"-d 'a date nullable'", Hex("00 1d02e807 00 00010000"),
       "Field reading failed: 'a' (record no. 2)."},
      {"-d 'a datetime'", LittleEndian(INT64_MIN), "Field reading failed: 'a' (record no. 1)."},
      {"-d 'a datetime nullable'", Hex("00") + LittleEndian(int64_t{2005949145600}),
       "Field reading failed: 'a' (record no. 1)."},
      {"-d 'a decimal(5,2)'", LittleEndian(INT64_MIN), "Field reading failed: 'a' (record no. 1)."},
      {"-d 'a decimal(5,2)'", LittleEndian(int64_t{-99999}) + LittleEndian(int64_t{100000}),
       "Field reading failed: 'a' (record no. 2)."},
      {"-d 'a decimal(20,2)'", LittleEndian(__int128{100000000000} * 1000000000),
       "Field reading failed: 'a' (record no. 1)."},
      {"-d 'a int nullable'", Hex("02 01000000"), "Field reading failed: 'a' (record no. 1)."},
      {"-d 'a int; b string nullable'", Hex("01000000 00 01000000 61  02000000 ff 01000000 62"),
       "Field reading failed: 'b' (record no. 2)."},
  });
}

TEST(PackdownOptions, DebugFileHoldsTheFailingRecordOnly) {
  ScratchDir dir;
  auto result = Packdown(dir, "-d 'a int; b int' --debug-file " + ShellQuote(dir / "dump"),
                         Hex("01000000 02000000  03000000 04"));
  EXPECT_EQ(result.status, 20);
  EXPECT_EQ(ReadFileBytes(dir / "dump"), Hex("03000000 04"));
}

TEST(PackdownOptions, FailedWriteIsNotASuccess) {
  ScratchDir dir;
  auto result = Packdown(dir, "-x -d 'a int' -o /dev/full", "1\n");
  EXPECT_EQ(result.status, 20);
  EXPECT_EQ(FailLines(result.err), 1u) << result.err;
  EXPECT_EQ(result.err.find("|SUCC|"), std::string::npos);
}

// The same records read in other ways, or with -e anywhere, give the same file as plain text.
TEST(PackdownOptions, InputVariantsGiveTheSameFile) {
  ScratchDir dir;
  const std::string layout = " -d 'a int nullable; b string'", lf = "5,p\n,q\n3,p\n";
  auto plain = Packdown(dir, "-x" + layout, lf);
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::pair<const char*, std::string> variants[] = {
      {"-e -x", lf},
      {"-xe", lf},
      {"-x --unbuffered", lf},
      {"-a", "5,p\r\n,q\r\n3,p\r\n"},
      {"-b", "5,p\r,q\r3,p\r"},
      {"-x -s", "\xEF\xBB\xBF" + lf},
      {"-x --allow-missing-separator-at-eof", "5,p\n,q\n3,p"},
      {"--allow-missing-separator-at-eof -b", "5,p\r,q\r3,p"},
      {"", Hex("00 05000000 01000000 70  01 01000000 71  00 03000000 01000000 70")},
  };
  for (const auto& [options, input] : variants) {
    SCOPED_TRACE(options);
    EXPECT_EQ(Packdown(dir, options + layout, input).out, plain.out);
  }
  auto named = Packdown(dir, "-x" + layout + " -o " + ShellQuote(dir / "out.qvd") + " -e", lf);
  EXPECT_EQ(named.out, "");
  EXPECT_EQ(ReadFileBytes(dir / "out.qvd"), plain.out);
}

TEST(PackdownOptions, InfoLinesNameEachOptionAndTheFieldCount) {
  ScratchDir dir;
  const std::string in = dir / "in.txt", out = dir / "out.qvd", dump = dir / "dump";
  WriteFileBytes(in, "1,x\n");
  auto result = RunProgram("packdown", "-x -s -nNULL --unbuffered -e -d 'a int; b string' -i " +
                                           ShellQuote(in) + " -o " + ShellQuote(out) +
                                           " --debug-file " + ShellQuote(dump));
  ASSERT_EQ(result.status, 0) << result.err;
  for (const std::string& line : std::vector<std::string>{
           "|INFO|text-input||\n", "|INFO|skip-bom||\n", "|INFO|null-as-string|NULL|\n",
           "|INFO|unbuffered||\n", "|INFO|fields|2|\n", "|INFO|input|" + in + "|\n",
           "|INFO|output|" + out + "|\n", "|INFO|debug-file|" + dump + "|\n"}) {
    EXPECT_NE(result.err.find(line), std::string::npos) << line << result.err;
  }
  EXPECT_EQ(result.err.find("data-definition"), std::string::npos);
  auto bare = Packdown(dir, "-n -a --allow-missing-separator-at-eof -d 'a int'", "1");
  for (const char* line : {"|INFO|null-as-string||\n", "|INFO|text-input-dos-eol||\n",
                           "|INFO|allow-missing-separator-at-eof||\n", "|INFO|fields|1|\n"}) {
    EXPECT_NE(bare.err.find(line), std::string::npos) << line << bare.err;
  }
}

TEST(PackdownOptions, DataDefinitionFileComesFromTheFirstPositionalArgument) {
  ScratchDir dir;
  WriteFileBytes(dir / "layout.ord", "# two fields\na int\n\nb string\n");
  auto inlined = Packdown(dir, "-x -d 'a int; b string'", "1,x\n");
  auto fromFile = Packdown(dir, "-x " + ShellQuote(dir / "layout.ord") + " ignored", "1,x\n");
  EXPECT_EQ(fromFile.out, inlined.out);
  // With --data-definition the positional argument is not opened; a WARNING names it, and -i.
  auto both = Packdown(dir, "-x -d 'a int; b string' " + ShellQuote(dir / "none.ord"), "1,x\n");
  EXPECT_EQ(both.out, inlined.out);
  EXPECT_NE(both.err.find("|WARNING|||Argument '" + dir / "none.ord" +
                          "' is ignored: the layout comes from -d; name the input with -i."),
            std::string::npos)
      << both.err;
}

}  // namespace
}  // namespace orv::packdown_test
