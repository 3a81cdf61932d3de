// An output file that is written whole or not at all (packdown's QVD file): a run that fails or is
// stopped part way leaves an old file of that name untouched and no partial file behind.
//
// A target that is a regular file, or a name not taken yet, is written as a temporary file in the
// same directory, `.NAME.XXXXXX`, which Commit flushes, syncs and renames over the target after
// the last byte. Its mode is the old file's, or for a new file 0666 less the umask, as a file
// created in place would get. Until then the destructor removes it, and so does a handler of
// SIGHUP, SIGINT and SIGTERM (async-signal-safe: it unlinks the registered path and re-raises the
// signal, so the process still ends by it); a signal the process inherited as ignored stays
// ignored. SIGXFSZ is ignored while the temporary file exists, so that a file-size limit fails the
// write like a full disk, with a FAIL line. One temporary file per process.
//
// Standard output and targets that are not regular files (a FIFO, /dev/null, a terminal) can't be
// replaced and stream as before.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "programs/common/program.h"
#include "runtime/status.h"

namespace orv {

class ReplacingOutput {
 public:
  ReplacingOutput() = default;
  // Removes a temporary file that was not committed.
  ~ReplacingOutput();
  ReplacingOutput(const ReplacingOutput&) = delete;
  ReplacingOutput& operator=(const ReplacingOutput&) = delete;

  // Without a path, nothing. For a regular file or a free name, creates the temporary file now,
  // so that a directory where none can be made fails before any input is read: "Can't open output
  // file: 'PATH'.". Other targets are opened by Open.
  Status Prepare(const std::optional<std::string>& path);
  // Points `file` at the stream to write: the temporary file, or the target opened for writing
  // (created or emptied); without a path `file` stays as the caller set it (standard output).
  Status Open(FILE*& file);
  // After the last byte was written through `file`: flushes and syncs the temporary file and
  // renames it over the target ("Error writing output." when any of it fails). Nothing for a
  // streamed output.
  Status Commit();

  bool replacing() const { return !temporaryPath_.empty(); }

 private:
  std::optional<std::string> path_;
  std::string target_;  // the name the temporary file replaces (a symbolic link's target)
  std::string temporaryPath_;
  OwnedFile file_;
  bool committed_ = false;
};

}  // namespace orv
