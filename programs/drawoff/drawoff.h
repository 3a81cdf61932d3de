// drawoff: a QVD file's rows as records of a given layout, in the binary record stream or as
// delimited text. The options and the run over the QVD table reader (qvd/table_reader.h).
#pragma once

#include <optional>
#include <string>

#include "qvd/table_reader.h"
#include "runtime/status.h"
#include "runtime/tool.h"
#include "types/type_traits.h"

namespace orv {

class ReadQvd : public Tool {
 public:
  ReadQvd(int argc, char** argv) : Tool("drawoff", argc, argv) {}
  ~ReadQvd() override;

  int ParseOptions(int argc, char** argv) override;
  int Run() override;

 private:
  // Takes one option; false after a FAIL line.
  bool OnOption(size_t id, const char* argument);
  Status Decode();

  TypeTraitsCollection layout;
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
  bool unbuffered = false;
  bool dosEol = false;
  bool macEol = false;
  TableReadOptions read;
};

// The program: options, then the run; returns the exit status.
int DrawOffMain(int argc, char** argv);

}  // namespace orv
