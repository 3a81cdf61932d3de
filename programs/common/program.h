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
#include <string_view>
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

// Writes a program's option lines, then the lines every such usage ends with (--help, --version,
// the layout and the exit status), to standard output.
void PrintUsage(const char* options);

// Writes a usage text and its final newline to standard output.
void PrintHelp(const char* text);

// Writes "NAME VERSION" and a newline to standard output.
void PrintVersion(const char* name);

// Whether the command line asks for `word` (--help, --version) as an option of its own, before
// any "--".
bool AsksFor(int argc, char** argv, std::string_view word);

template <typename Options>
class Program : public Tool {
 public:
  int ParseOptions(int argc, char** argv) final {
    // --version, and --help where the table has no row of its own for it, stand alone: the rest
    // of the command line is neither checked nor logged.
    versionAsked_ = AsksFor(argc, argv, "--version");
    usageAsked_ = !HasRow("help") && AsksFor(argc, argv, "--help");
    if (versionAsked_ || usageAsked_) {
      return kExitSuccess;
    }
    std::vector<std::string> positionals;
    if (ParseOptionTable(argc, argv, table_, options_, positionals) != kExitSuccess) {
      return kExitFailure;
    }
    return Finish(CheckOptions(positionals));
  }

  int Run() final {
    // The usage or the version alone: no file is opened and no SUCC line written.
    if (versionAsked_) {
      PrintVersion(name_);
      return kExitSuccess;
    }
    if (help_ != nullptr && usageAsked_) {
      PrintUsage(help_);
      return kExitSuccess;
    }
    if (help_ != nullptr && HelpAsked()) {
      PrintHelp(help_);
      return kExitSuccess;
    }
    const int status = RunSteps();
    if (status == kExitSuccess) {
      g_Logger.Succ("%s", "");
    }
    return status;
  }

 protected:
  // `help`: the usage text, printed for --help.
  Program(const char* name, int argc, char** argv, std::span<const ProgramOption<Options>> table,
          const char* help = nullptr)
      : Tool(name, argc, argv), name_(name), table_(table), help_(help) {}

  // The rules over the whole command line once every option was applied.
  virtual Status CheckOptions(const std::vector<std::string>& positionals) = 0;
  // For a program whose table has a row for --help: whether it was given.
  virtual bool HelpAsked() const { return false; }
  // The work; kExitSuccess, or kExitFailure after the one FAIL line (see Finish and TimedStep).
  virtual int RunSteps() = 0;

  Options options_;

 private:
  bool HasRow(std::string_view longName) const {
    for (const ProgramOption<Options>& row : table_) {
      if (row.form.longName != nullptr && longName == row.form.longName) {
        return true;
      }
    }
    return false;
  }

  const char* name_;
  std::span<const ProgramOption<Options>> table_;
  const char* help_;
  bool versionAsked_ = false;
  bool usageAsked_ = false;
};

}  // namespace orv
