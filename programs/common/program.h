// The frame every program shares over the runtime's Tool: start-up, the option table, the files a
// run reads and writes, and a run step's status turned into the one FAIL line and exit status 20.
// Library code returns statuses; only the programs write FAIL lines.
//
//   class PackDown : public Program<PackDownOptions> { ... };   // table, CheckOptions, RunSteps
//   int PackDownMain(int argc, char** argv) { return PackDown(argc, argv).Start(); }
//
// Start (runtime/tool.h) boots, then ParseOptions applies the table and CheckOptions, then Run
// runs the steps and writes the SUCC line of a run that ends well.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "programs/common/option_table.h"
#include "runtime/logger.h"
#include "runtime/output.h"
#include "runtime/stats.h"
#include "runtime/status.h"
#include "runtime/tool.h"
#include "types/type_traits.h"

namespace orv {

// Closes a FILE the run opened.
struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using OwnedFile = std::unique_ptr<FILE, FileCloser>;

// kExitSuccess for an ok status; otherwise writes the status's message as the FAIL line and
// returns kExitFailure.
int Finish(const Status& status);

// Runs `step` (returning a Status) timed by a ScopedTimeProfiler named `label`. A failed step's
// FAIL line comes before the timing line, so that the log keeps the order of events; returns the
// exit status.
template <typename Step>
int TimedStep(const char* label, Step&& step) {
  ScopedTimeProfiler profiler(label);
  return Finish(step());
}

// Opens `path` for reading into `owned` and points `file` at it; without a path `file` stays as
// the caller set it (standard input).
Status OpenInputFile(const std::optional<std::string>& path, OwnedFile& owned, FILE*& file);
// Opens `path` for writing (created or emptied) into `owned` and points `file` at it; without a
// path `file` stays as the caller set it (standard output).
Status OpenOutputFile(const std::optional<std::string>& path, OwnedFile& owned, FILE*& file);

// Flushes a run's output. A reader that went away (a closed pipe: `drawoff ... | head`) ends the
// run quietly, as a success with one INFO line; any other write error is "Error writing output.".
Status FlushOutput(BufferedFileOutput& output);

// Adds the fields of an inline data definition (-d) to the layout.
Status AddInlineFields(TypeTraitsCollection& layout, const char* text);

// Writes a usage text and its final newline to standard output.
void PrintHelp(const char* text);

template <typename Options>
class Program : public Tool {
 public:
  int ParseOptions(int argc, char** argv) final {
    std::vector<std::string> positionals;
    if (ParseOptionTable(argc, argv, table_, options_, positionals) != kExitSuccess) {
      return kExitFailure;
    }
    return Finish(CheckOptions(positionals));
  }

  int Run() final {
    if (help_ != nullptr && HelpAsked()) {
      PrintHelp(help_);  // the usage alone: no file is opened and no SUCC line written
      return kExitSuccess;
    }
    const int status = RunSteps();
    if (status == kExitSuccess) {
      g_Logger.Succ("%s", "");
    }
    return status;
  }

 protected:
  // `help`: the usage text of a program that has one, printed when HelpAsked().
  Program(const char* name, int argc, char** argv, std::span<const ProgramOption<Options>> table,
          const char* help = nullptr)
      : Tool(name, argc, argv), table_(table), help_(help) {}

  // The rules over the whole command line once every option was applied.
  virtual Status CheckOptions(const std::vector<std::string>& positionals) = 0;
  virtual bool HelpAsked() const { return false; }
  // The work; kExitSuccess, or kExitFailure after the one FAIL line (see Finish and TimedStep).
  virtual int RunSteps() = 0;

  Options options_;

 private:
  std::span<const ProgramOption<Options>> table_;
  const char* help_;
};

}  // namespace orv
