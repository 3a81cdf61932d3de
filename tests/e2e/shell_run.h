// Runs the built programs through the shell in a scratch folder, for tests of what they leave in
// it: the command line as a user types it, standard output read, standard error kept in a file.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/drawoff/run_program.h"

namespace orv::testing {

namespace fs = std::filesystem;

// Runs `command` through the shell in `dir`, $B naming the folder of the built programs; standard
// error goes to the file `stderr.txt` there.
inline ProgramResult Shell(const ScratchDir& dir, const std::string& command) {
  const std::string line =
      "cd " + ShellQuote(dir.path) + " && B=" ORV_BIN_DIR " && { " + command + "\n} 2> stderr.txt";
  ProgramResult result;
  FILE* pipe = popen(line.c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.out.append(buffer, n);
  }
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.err = ReadFileBytes(dir / "stderr.txt");
  return result;
}

// The names in `dir` that start with a dot: temporary files left behind.
inline std::vector<std::string> HiddenFiles(const ScratchDir& dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.path)) {
    if (entry.path().filename().string().starts_with(".")) {
      names.push_back(entry.path().filename().string());
    }
  }
  return names;
}

// Exit status 20 and exactly one FAIL line, `message`.
inline void ExpectOneFail(const ProgramResult& result, const std::string& message) {
  EXPECT_EQ(result.status, 20);
  EXPECT_EQ(FailLines(result.err), 1u) << result.err;
  EXPECT_EQ(FailMessage(result.err), message);
}

}  // namespace orv::testing
