// The option table every program parses its command line with: actions in command-line order, an
// INFO line per logged option, and a refused option ending the parse with its one FAIL line.
#include "programs/common/option_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "runtime/logger.h"

namespace orv {
namespace {

struct Seen {
  std::vector<std::string> applied;
};

constexpr ProgramOption<Seen> kRows[] = {
    {{"name", 'n', ArgumentKind::kRequired},
     [](Seen& s, const char* a) {
       s.applied.push_back(std::string("name=") + a);
       return Status::Ok();
     }},
    {{"flag", 'f', ArgumentKind::kNone},
     [](Seen& s, const char*) {
       s.applied.push_back("flag");
       return Status::Ok();
     }},
    {{"maybe", 0, ArgumentKind::kOptional},
     [](Seen& s, const char* a) {
       s.applied.push_back(a == nullptr ? "maybe" : std::string("maybe=") + a);
       return Status::Ok();
     }},
    {{"secret", 0, ArgumentKind::kRequired},
     [](Seen& s, const char*) {
       s.applied.push_back("secret");
       return Status::Ok();
     },
     OptionLog::kQuiet},
    {{"refuse", 'r', ArgumentKind::kRequired},
     [](Seen&, const char* a) { return Status::Invalid(std::string("No '") + a + "' here."); }},
    {{nullptr, 'e', ArgumentKind::kNone},
     [](Seen& s, const char*) {
       s.applied.push_back("e");
       return Status::Ok();
     },
     OptionLog::kQuiet},
};

// The log lines of one parse, without their prefix and time.
struct Parsed {
  int status;
  Seen seen;
  std::vector<std::string> positionals;
  std::vector<std::string> log;
};

Parsed Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "prog");
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  char* data = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&data, &size);
  g_Logger.SetStream(stream);
  Parsed parsed;
  parsed.status = ParseOptionTable<Seen>(static_cast<int>(words.size()), argv.data(), kRows,
                                         parsed.seen, parsed.positionals);
  g_Logger.SetStream(stderr);
  fclose(stream);
  std::string text(data, size);
  free(data);
  static const std::regex kLine("[^|\n]*\\|[^|\n]*\\|([^\n]*)\n");
  for (std::sregex_iterator it(text.begin(), text.end(), kLine), end; it != end; ++it) {
    parsed.log.push_back((*it)[1]);
  }
  return parsed;
}

TEST(OptionTable, AppliesAndLogsInCommandLineOrderAndStopsAtTheFirstRefusal) {
  using Words = std::vector<std::string>;
  const struct {
    Words words;
    int status;
    Words applied, log, positionals;
  } cases[] = {
      {{"-f", "--name=x", "pos", "--maybe", "-e", "--secret", "s", "--maybe=v"},
       kExitSuccess,
       {"flag", "name=x", "maybe", "e", "secret", "maybe=v"},
       {"INFO|flag||", "INFO|name|x|", "INFO|maybe||", "INFO|maybe|v|"},
       {"pos"}},
      {{"-n", "a", "-r", "b", "-f"},
       kExitFailure,
       {"name=a"},
       {"INFO|name|a|", "FAIL|||No 'b' here."},
       {}},
      {{"-f", "--name"},
       kExitFailure,
       {"flag"},
       {"INFO|flag||", "FAIL|||Option '--name' requires an argument."},
       {}},
      {{"--secret=s", "-x"}, kExitFailure, {"secret"}, {"FAIL|||Unrecognized option: '-x'."}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words.front());
    Parsed parsed = Parse(c.words);
    EXPECT_EQ(parsed.status, c.status);
    EXPECT_EQ(parsed.seen.applied, c.applied);
    EXPECT_EQ(parsed.log, c.log);
    EXPECT_EQ(parsed.positionals, c.positionals);
  }
}

}  // namespace
}  // namespace orv
