// Runs a built program as a user would, through the shell: arguments, standard input from a file
// or nothing, standard output and error captured.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace orv::testing {

struct ProgramResult {
  int status = -1;
  std::string out;
  std::string err;
};

// A directory of its own under /tmp, removed with everything in it.
struct ScratchDir {
  std::string path = [] {
    char name[] = "/tmp/orv_test_XXXXXX";
    return std::string(mkdtemp(name));
  }();
  ~ScratchDir() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Bytes from hexadecimal text; blanks between digit pairs are ignored: "01 ff" is 0x01 0xFF.
inline std::string HexBytes(const std::string& hex) {
  std::string bytes;
  for (size_t at = 0; at < hex.size(); ++at) {
    if (hex[at] != ' ') {
      bytes.push_back(static_cast<char>(std::stoi(hex.substr(at++, 2), nullptr, 16)));
    }
  }
  return bytes;
}

// The bytes of a number, little-endian.
template <typename Number>
std::string LittleEndian(Number value) {
  std::string bytes(sizeof value, '\0');
  memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Single-quotes a word for the shell.
inline std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

// `arguments` are already quoted for the shell; `input` is a path for standard input or empty.
inline ProgramResult RunProgram(const std::string& program, const std::string& arguments,
                                const std::string& input = "") {
  char outPath[] = "/tmp/orv_out_XXXXXX";
  char errPath[] = "/tmp/orv_err_XXXXXX";
  close(mkstemp(outPath));
  close(mkstemp(errPath));
  std::string command = std::string(ORV_BIN_DIR) + "/" + program + " " + arguments +
                        (input.empty() ? " < /dev/null" : " < " + ShellQuote(input)) + " > " +
                        outPath + " 2> " + errPath;
  int raw = std::system(command.c_str());
  ProgramResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadFileBytes(outPath);
  result.err = ReadFileBytes(errPath);
  unlink(outPath);
  unlink(errPath);
  return result;
}

// The number of FAIL lines in a run's standard error.
inline size_t FailLines(const std::string& err) {
  size_t count = 0;
  for (size_t at = err.find("|FAIL|"); at != std::string::npos; at = err.find("|FAIL|", at + 1)) {
    ++count;
  }
  return count;
}

// The message of the FAIL line in `err`, or empty when there is none.
inline std::string FailMessage(const std::string& err) {
  size_t at = err.find("|FAIL|||");
  if (at == std::string::npos) {
    return {};
  }
  size_t start = at + 8;
  return err.substr(start, err.find('\n', start) - start);
}

}  // namespace orv::testing
