// The checks a program makes on its output before it writes a byte, so that no output destroys a
// file the user still needs:
//
//   - an output that is the run's input, under any name: the same device and inode, whether named
//     by the same path, another path, a hard link, or standard output redirected onto the file
//     that standard input reads;
//   - (tablepeek) an existing output file that is a QVD file, the likely result of a mistyped
//     command line such as `tablepeek a.qvd b.qvd --no-of-records`.
//
// Only regular files are compared: /dev/null or a terminal on both sides is no conflict.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "runtime/status.h"

namespace orv {

// Refuses an output that is the input file. `input` is the open input (a file the program opened,
// or standard input); the output is `outputPath`, or `standardOutput` without one. The messages:
// "Output file 'PATH' is the input file; not overwritten." and
// "Standard output is the input file; not written."
Status RefuseInputAsOutput(FILE* input, const std::optional<std::string>& outputPath,
                           FILE* standardOutput);

// The bytes a QVD file's opening must show within: its XML declaration and root element.
inline constexpr size_t kQvdSniffBytes = 4096;

// Whether the file at `path` is a QVD file: after an optional UTF-8 byte-order mark and blanks
// (space, tab, CR, LF) its first kQvdSniffBytes bytes start with `<?xml` and hold
// `<QvdTableHeader`, and a 0x00 byte (the end of a QVD header) lies within its first
// kMaxQvdHeaderBytes + 1 bytes. A header saved as text (tablepeek's own output) has no 0x00 and is
// not a QVD file. A file that can't be read is not one either.
bool IsQvdFile(const std::string& path);

// Refuses to overwrite an existing QVD file at `outputPath`:
// "Output file 'PATH' is a QVD file; not overwritten."
Status RefuseQvdOverwrite(const std::optional<std::string>& outputPath);

}  // namespace orv
