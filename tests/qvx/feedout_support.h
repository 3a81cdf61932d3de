// Shared pieces of the feedout tests: a scratch directory, bytes from hexadecimal text, and a
// runner that gives feedout its standard input from bytes.
#pragma once

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/drawoff/run_program.h"

namespace orv::qvx_test {

using testing::ProgramResult;

using testing::LittleEndian;
using testing::ScratchDir;
inline constexpr auto& Hex = testing::HexBytes;

inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// feedout with `arguments` (already quoted for the shell) and `input` on its standard input.
inline ProgramResult Feedout(const ScratchDir& dir, const std::string& arguments,
                             const std::string& input) {
  testing::WriteFileBytes(dir / "input", input);
  return testing::RunProgram("feedout", arguments, dir / "input");
}

// The bytes after the header's ending 0x00.
inline std::string RecordBytes(const std::string& file) {
  const size_t end = file.find('\0');
  return end == std::string::npos ? "<no 0x00>" : file.substr(end + 1);
}

}  // namespace orv::qvx_test
