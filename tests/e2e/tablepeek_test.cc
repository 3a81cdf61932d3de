// Runs the built tablepeek as a user would and checks its output bytes, log lines and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

namespace orv {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

const std::string kSamples = ORV_SAMPLES_DIR;
const std::string kTab1 = kSamples + "/qv11-tab1.qvd";

struct Result {
  std::string out;  // standard output bytes
  Lines log;        // standard error lines without the program name and time
  int status = -1;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// This process's scratch folder, also the program's working directory.
const std::string& Dir() {
  static const std::string dir = [] {
    std::string path = testing::TempDir() + "tablepeek_e2e_" + std::to_string(getpid());
    std::filesystem::create_directories(path);
    return path;
  }();
  return dir;
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  std::string path = Dir() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

// Runs the program through the shell: `input` piped to standard input, standard output read from
// a pipe, standard error into a file; an empty environment, free of ORV_ settings.
Result RunPeek(const Lines& args, const std::string& input = "") {
  const std::string errPath = Dir() + "/stderr.txt";
  std::string command = "cd '" + Dir() + "' && cat '" + WriteFile("stdin.bin", input) +
                        "' | env -i " ORV_BIN_DIR "/tablepeek";
  for (const std::string& a : args) {
    command += " '" + std::regex_replace(a, std::regex("'"), "'\\''") + "'";
  }
  command += " 2>'" + errPath + "'";
  Result r;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    r.out.append(buffer, n);
  }
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

  // A line ends where the next one starts: a separator value in an INFO line may be a newline.
  static const std::regex kLine(R"(tablepeek\|\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\|([^]*)\n)");
  const std::string err = ReadAll(errPath);
  for (size_t start = 0, end; start < err.size(); start = end + 1) {
    end = std::min(err.find("\ntablepeek|", start), err.size() - 1);
    std::string line = err.substr(start, end + 1 - start);
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, kLine)) << line;
    r.log.push_back(match.size() > 1 ? match[1].str() : line);
  }
  return r;
}

std::string HeaderOf(const std::string& bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

// A header with a Lineage element, an entity, blanks around a number and data after the NUL.
const std::string kCustom =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<QvdTableHeader>\n"
    "  <TableName>Sales &amp; Costs</TableName>\n"
    "  <Fields><QvdFieldHeader><FieldName>Id</FieldName></QvdFieldHeader></Fields>\n"
    "  <Lineage><LineageInfo><Statement>LOAD</Statement></LineageInfo></Lineage>\n"
    "  <NoOfRecords>  42 </NoOfRecords>\n"
    "</QvdTableHeader>\r\n\0\x04\x41\0"s;

TEST(TablePeek, WithoutOptionsCopiesTheHeaderBytesBeforeTheNul) {
  for (const std::string& path : {kTab1, WriteFile("custom.qvd", kCustom)}) {
    const std::string header = HeaderOf(ReadAll(path));
    ASSERT_TRUE(header.ends_with("</QvdTableHeader>\r\n"));
    Result fromFile = RunPeek({path});
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromFile.out, header);
    EXPECT_EQ(fromFile.log, (Lines{"INFO|input file|" + path + "|", "SUCC|||"}));
    Result fromStdin = RunPeek({}, ReadAll(path));
    EXPECT_EQ(fromStdin.status, 0);
    EXPECT_EQ(fromStdin.out, header);
    EXPECT_EQ(fromStdin.log, Lines{"SUCC|||"});
  }
}

TEST(TablePeek, PrintsOneFactOfTheHeaderAndANewline) {
  // The XML declaration names the encoding; texts come out as UTF-8.
  const std::string latin1 =
      WriteFile("latin1.qvd",
                "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                "<QvdTableHeader><TableName>Caf\xE9</TableName><Fields/></QvdTableHeader>\0"s);
  std::pair<Lines, std::string> cases[] = {
      {{kTab1, "--table-name"}, "tab1\n"},
      {{"--no-of-records", kTab1}, "5\n"},
      {{kTab1, "--tag=QvBuildNo"}, "7314\n"},
      {{kTab1, "--tag", "CreatorDoc"}, "\n"},
      {{"--no-of-records"}, "  42 \n"},  // the custom header from standard input
      {{"--table-name"}, "Sales & Costs\n"},
      {{"--tag=Lineage"},
       "<Lineage>\n  <LineageInfo>\n    <Statement>LOAD</Statement>\n  </LineageInfo>\n"
       "</Lineage>\n"},
      {{"--fields", "--unbuffered"},
       "<Fields>\n  <QvdFieldHeader>\n    <FieldName>Id</FieldName>\n  </QvdFieldHeader>\n"
       "</Fields>\n"},
      {{latin1, "--table-name"}, "Caf\xC3\xA9\n"},
      {{latin1, "--fields"}, "<Fields/>\n"},
  };
  for (const auto& [args, out] : cases) {
    Result r = RunPeek(args, kCustom);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.out, out) << args[0];
    EXPECT_EQ(r.log.empty() ? "" : r.log.back(), "SUCC|||") << args[0];
  }
}

TEST(TablePeek, WritesTheResultToTheSecondPositionalArgument) {
  const std::string out = Dir() + "/name.txt";
  Result r = RunPeek({"--table-name", kTab1, out, "ignored"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadAll(out), "tab1\n");
  EXPECT_EQ(r.log, (Lines{"INFO|table-name||", "INFO|input file|" + kTab1 + "|",
                          "INFO|output file|" + out + "|", "SUCC|||"}));
  EXPECT_EQ(RunPeek({kTab1, out}).status, 0);
  EXPECT_EQ(ReadAll(out), HeaderOf(ReadAll(kTab1)));
}

TEST(TablePeek, OutputFileKeepsItsContentsWhenTheHeaderCannotBeRead) {
  const std::string out = WriteFile("stale.txt", "old contents");
  Result r = RunPeek({kSamples + "/sense-damaged.qvd", out, "--table-name"});
  EXPECT_EQ(r.log,
            (Lines{"INFO|table-name||", "INFO|input file|" + kSamples + "/sense-damaged.qvd|",
                   "INFO|output file|" + out + "|", "FAIL|||Error reading QVD table header."}));
  EXPECT_EQ(ReadAll(out), "old contents");
}

TEST(TablePeek, HelpPrintsTheUsageWithoutOpeningFilesOrSucceedingLine) {
  Result r = RunPeek({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "tablepeek - get QVD's header and provide various information,\n"
            "             in JSON, XML or ORD (ORV data definition file)\n"
            "\n"
            "tablepeek <file.qvd> --output=ord\n"
            "           [--all-as-string]\n"
            "           [--real-as-decimal[=precision,scale]]\n"
            "           [--date=<format>]\n"
            "           [--datetime=<format>]\n"
            "           [--inline]\n"
            "           [-l|--null=<string>]\n"
            "           [-q|--quote=<char>]\n"
            "           [-r|--record-separator=<char>]\n"
            "           [-s|--field-separator=<char>]\n"
            "\n"
            "tablepeek <file.qvd> --output=(json|xml)\n"
            "           [--fields]\n"
            "\n"
            "tablepeek <file.qvd>\n"
            "           [ --table-name | --no-of-records | --fields | --tag=<xml_tag_name> ])\n"
            "\n"
            "tablepeek --help\n");
  EXPECT_TRUE(r.log.empty());

  Result missing = RunPeek({"/no/such/in.qvd", "--help", "/no/such/out.txt"});
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.out, r.out);
  EXPECT_EQ(missing.log,
            (Lines{"INFO|input file|/no/such/in.qvd|", "INFO|output file|/no/such/out.txt|"}));
}

TEST(TablePeek, EveryFailureWritesOneFailLineAndExits20) {
  const std::string missingIn = Dir() + "/missing.qvd";
  const std::string missingOut = Dir() + "/no-dir/out.txt";
  const std::string only1 =
      "Only one of --fields, --help, --no-of-records, --table-name, --tag options can be used at "
      "a time.";
  const std::string only2 = "Only one of 'ord', 'json', 'xml' outputs can be used at a time.";
  const std::string rule3 =
      "--output option can't be used with --help, --no-of-records, --table-name, --tag options.";
  const std::string rule5 =
      "--all-as-string, --date, --datetime, --field-separator, --inline, --null, --quote, "
      "--real-as-decimal, --record-separator options can be used for 'ord' output only.";
  const std::string parsing = "Error parsing QVD table header.";
  std::pair<Lines, std::string> cases[] = {
      {{"--table-name", "--table-name"}, only1},
      {{"--help", "--table-name"}, only1},
      {{"--output=json", "--output=xml", "--fields", "--tag=x"}, only1},
      {{"--output=json", "--output=json"}, only2},
      {{"--output=ord", "--output=ord", "--tag=x"}, only2},
      {{"--output=json", "--tag=x"}, rule3},
      {{"--output=json", "--table-name", "--null=x"}, rule3},
      {{"--output=ord", "--fields", "--inline"}, "--fields option can't be used for 'ord' output."},
      {{"--null=NULL"}, rule5},
      {{"--null=NULL", "--help"}, rule5},
      {{"--fields", "--output=xml", "--all-as-string"}, rule5},
      {{"--table-name", "-q", ""}, rule5},
      {{"--output=ord", "--real-as-decimal=10,2x"},
       "Invalid 'real-as-decimal' option argument: '10,2x'."},
      {{"--output=ord", "--real-as-decimal=10"},
       "Invalid 'real-as-decimal' option argument: '10'."},
      {{"--output=ord", "--real-as-decimal=,2"},
       "Invalid 'real-as-decimal' option argument: ',2'."},
      {{"--output=ord", "--real-as-decimal="}, "Invalid 'real-as-decimal' option argument: ''."},
      {{"--output=JSON", "--output=json"}, "Unknown output: 'JSON'."},
      {{kTab1, "--tag"}, "Option '--tag' requires an argument."},
      {{kTab1, "-s"}, "Option '-s' requires an argument."},
      {{"--bogus", "--table-name", "--table-name"}, "Unrecognized option: '--bogus'."},
      {{missingIn}, "Can't open input file: '" + missingIn + "'."},
      {{kTab1, missingOut, "--table-name"}, "Can't open output file: '" + missingOut + "'."},
      {{kTab1, "--tag=tablename"}, "Unrecorgnized tag: 'tablename'."},
      {{WriteFile("nofields.qvd", "<QvdTableHeader/>\0"s), "--fields"},
       "Unrecorgnized tag: 'Fields'."},
      {{kSamples + "/sense-damaged.qvd"}, "Error reading QVD table header."},
      {{"--table-name"}, "Error reading QVD table header."},  // empty standard input
      {{WriteFile("garbage.qvd", "not a header\r\n\0\x01"s)}, parsing},
      {{WriteFile("root.qvd", "<QvdFileHeader/>\0"s)}, parsing},
      {{WriteFile("count.qvd",
                  "<QvdTableHeader><NoOfRecords>ten</NoOfRecords></QvdTableHeader>\0"s),
        "--table-name"},
       parsing},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    Result r = RunPeek(args);
    EXPECT_EQ(r.status, 20);
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.log.empty());
    EXPECT_EQ(r.log.back(), "FAIL|||" + message);
    EXPECT_EQ(std::count_if(r.log.begin(), r.log.end(),
                            [](const std::string& l) { return l.find("|||") != l.npos; }),
              1);
  }
}

TEST(TablePeek, InfoLinesFollowTheCommandLineOrder) {
  const std::string out = Dir() + "/layout.ord";
  Result r = RunPeek({"--output=ord", "-s", "\\t", kTab1, "--null=NULL", "-q", "", "-r", "",
                      "--date=YYYY-MM-DD", "--datetime=YYYY-MM-DD hh:mm:ss", "--inline",
                      "--all-as-string", "--real-as-decimal=10,2", "--unbuffered", out});
  const Lines expected{"INFO|output|ord|",
                       "INFO|field-separator|\t|",
                       "INFO|null|NULL|",
                       "INFO|quote||",
                       "INFO|record-separator||",
                       "INFO|date|YYYY-MM-DD|",
                       "INFO|datetime|YYYY-MM-DD hh:mm:ss|",
                       "INFO|inline||",
                       "INFO|all-as-string||",
                       "INFO|real-as-decimal||",
                       "INFO|unbuffered||",
                       "INFO|input file|" + kTab1 + "|",
                       "INFO|output file|" + out + "|"};
  ASSERT_EQ(r.log.size(), expected.size() + 1);  // and the run's own last line
  EXPECT_EQ(Lines(r.log.begin(), r.log.end() - 1), expected);

  // A separate word is not the optional argument: it becomes the input path.
  EXPECT_EQ(RunPeek({"--output=ord", "--real-as-decimal", "10,2"}).log,
            (Lines{"INFO|output|ord|", "INFO|real-as-decimal||", "INFO|input file|10,2|",
                   "FAIL|||Can't open input file: '10,2'."}));
  EXPECT_EQ(RunPeek({"--fields", "--output=csv"}).log,
            (Lines{"INFO|fields||", "INFO|output|csv|", "FAIL|||Unknown output: 'csv'."}));
}

TEST(TablePeek, LongSeparatorArgumentsWarnAndKeepTheFirstCharacter) {
  std::tuple<Lines, std::string, std::string> cases[] = {
      {{"-s", "ab"}, "Field separator contains 2", "INFO|field-separator|a|"},
      {{"-r", "\\n\\r\\n"}, "Record separator contains 3", "INFO|record-separator|\\n|"},
      {{"--quote=\\t"}, "Quote contains 2", "INFO|quote|\\|"},  // no unescaping
  };
  for (auto [args, warning, info] : cases) {
    args.insert(args.end(), {"--output=ord", kTab1});
    Result r = RunPeek(args);
    EXPECT_EQ(std::count(r.log.begin(), r.log.end(),
                         "WARNING|||" + warning + " characters, using first character."),
              1);
    EXPECT_EQ(std::count(r.log.begin(), r.log.end(), info), 1);
  }
}

}  // namespace
}  // namespace orv
