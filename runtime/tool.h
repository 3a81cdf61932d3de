// Program start-up and the tool frame: Start parses the options, then runs.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "runtime/input.h"
#include "runtime/options.h"
#include "runtime/output.h"
#include "runtime/stats.h"

namespace orv {

// First call of a program: names the log lines and reads the environment settings. False (after a
// FAIL line) when a setting is bad.
bool Boot(const char* programName);

class Tool {
 public:
  Tool(const char* programName, int argc, char** argv);
  virtual ~Tool();
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  // Returns kExitSuccess or kExitFailure.
  virtual int ParseOptions(int argc, char** argv) = 0;
  // Returns the exit status.
  virtual int Run() = 0;
  // Boot, ParseOptions, then Run when the options were good; the status for main.
  int Start();

  static std::unique_ptr<BufferedFileOutput> createOutput(FILE* file, bool unbuffered);
  IntervalStats& initOutputStats();

  // Whether a layout may name a subset of the input's fields (ORV_FIELD_SUBSET).
  bool fieldSubset() const;
  uint64_t writtenRecords() const { return writtenRecords_; }

 protected:
  uint64_t writtenRecords_ = 0;

 private:
  std::string programName_;
  int argc_;
  char** argv_;
  std::unique_ptr<IntervalStats> outputStats_;
};

}  // namespace orv
