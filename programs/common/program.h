// What every program shares around the runtime's Tool frame: a run step's status turned into the
// one FAIL line and the exit status, and the files a run reads and writes. Library code returns
// statuses; only the programs write FAIL lines.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "runtime/status.h"

namespace orv {

// Closes a FILE the run opened.
struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using OwnedFile = std::unique_ptr<FILE, FileCloser>;

// kExitSuccess for an ok status; otherwise writes the status's message as the FAIL line and
// returns kExitFailure.
int Finish(const Status& status);

// Opens `path` for reading into `owned` and points `file` at it; without a path `file` stays as
// the caller set it (standard input).
Status OpenInputFile(const std::optional<std::string>& path, OwnedFile& owned, FILE*& file);
// Opens `path` for writing (created or emptied) into `owned` and points `file` at it; without a
// path `file` stays as the caller set it (standard output).
Status OpenOutputFile(const std::optional<std::string>& path, OwnedFile& owned, FILE*& file);

}  // namespace orv
