// drawoff: a QVD file's rows as records of a given layout, in the binary record stream or as
// delimited text. The options and the run over the QVD table reader (qvd/table_reader.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "programs/common/program.h"
#include "qvd/table_reader.h"
#include "types/type_traits.h"

namespace orv {

struct DrawOffOptions {
  TypeTraitsCollection layout;
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
  bool unbuffered = false;
  bool dosEol = false;
  bool macEol = false;
  bool csv = false;       // --csv: a header line, then each row as a CSV record (implies text)
  bool noHeader = false;  // --no-header
  std::optional<char> delimiter;  // --delimiter; ',' by default
  unsigned threads = 0;           // --threads; 0: the cores this process may run on
  TableReadOptions read;
};

class ReadQvd : public Program<DrawOffOptions> {
 public:
  ReadQvd(int argc, char** argv);
  ~ReadQvd() override;

 protected:
  Status CheckOptions(const std::vector<std::string>& positionals) override;
  int RunSteps() override;

 private:
  Status Decode();
  // --csv without a layout: every field of the file as a string holding the stored text.
  Status LayoutFromHeader(const std::vector<QvdFieldMetadata>& fields);
  char delimiter() const { return options_.delimiter.value_or(','); }
};

// The program: options, then the run; returns the exit status.
int DrawOffMain(int argc, char** argv);

}  // namespace orv
