// --help and --version: every option of a program in its help, one line each, and in the
// README's section of the program; the help alone, without reading anything.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "tests/drawoff/run_program.h"

namespace orv::testing {
namespace {

std::set<std::string> LongOptions(const std::string& text) {
  std::set<std::string> options;
  const std::regex option("--[a-z][a-z-]*[a-z]");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it) {
    options.insert(it->str());
  }
  return options;
}

// The README's section `## NAME`, up to the next section.
std::string ReadmeSection(const std::string& name) {
  std::ifstream in(std::string(ORV_SOURCE_DIR) + "/README.md");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t start = text.find("\n## " + name + "\n");
  EXPECT_NE(start, std::string::npos) << name;
  return text.substr(start, text.find("\n## ", start + 1) - start);
}

TEST(Help, ListsEveryOptionAsTheReadmeDoes) {
  for (const char* program : {"drawoff", "packdown", "feedout"}) {
    SCOPED_TRACE(program);
    const ProgramResult help = RunProgram(program, "--help -d 'not read'");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");  // nothing logged: no option is applied, no file opened
    EXPECT_TRUE(help.out.starts_with(std::string("Usage: ") + program));
    std::set<std::string> documented = LongOptions(ReadmeSection(program));
    documented.insert({"--help", "--version"});
    EXPECT_EQ(LongOptions(help.out), documented);
  }
}

TEST(Help, VersionNamesTheProgram) {
  for (const char* program : {"drawoff", "packdown", "feedout", "tablepeek"}) {
    const ProgramResult version = RunProgram(program, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex(std::string(program) + " [0-9.]+\n")))
        << version.out;
  }
}

}  // namespace
}  // namespace orv::testing
