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

// A directory of its own under /tmp, removed with everything in it.
struct ScratchDir {
  std::string path = [] {
    char name[] = "/tmp/orv_feedout_XXXXXX";
    return std::string(mkdtemp(name));
  }();
  ~ScratchDir() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// "01 ff" is the two bytes 0x01 0xFF; blanks are ignored.
inline std::string Hex(const std::string& hex) {
  std::string bytes;
  for (size_t at = 0; at < hex.size(); ++at) {
    if (hex[at] != ' ') {
      bytes.push_back(static_cast<char>(std::stoi(hex.substr(at++, 2), nullptr, 16)));
    }
  }
  return bytes;
}

template <typename Number>
std::string LittleEndian(Number value) {
  std::string bytes(sizeof value, '\0');
  memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

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
