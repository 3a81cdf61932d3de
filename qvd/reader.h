// drawoff: a QVD file's rows as records of a given layout, in the binary record stream or as
// delimited text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/qvd_format.h"
#include "runtime/tool.h"
#include "types/type_traits.h"

namespace orv {

enum class FilterOperator : int32_t {
  Equal = 0,
  NotEqual = 1,
  Less = 2,
  LessOrEqual = 3,
  Greater = 4,
  GreaterOrEqual = 5,
};

class ReadQvd : public Tool {
 public:
  ReadQvd(int argc, char** argv) : Tool("drawoff", argc, argv) {}
  ~ReadQvd() override;

  int ParseOptions(int argc, char** argv) override;
  int Run() override;

 private:
  struct Binding;

  // The opening steps: header, field binding, filter. kExitSuccess to go on with the rows.
  int Bind(IFileInput& input, Binding& binding);
  int BindFilter(Binding& binding);
  template <typename Offset>
  int Decode(IFileInput& input, Binding& binding);

  TypeTraitsCollection layout;
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
  std::optional<std::string> nullText;
  uint64_t firstRecord = 0;
  std::optional<std::string> filterText;
  bool lowMemory = false;
  bool guessUniformSymbolSize = false;
  bool matchFields = false;
  bool textOutput = false;
  bool unbuffered = false;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
  uint64_t dataStart = 0;
  uint64_t filterField = 0;
  FilterOperator filterOperator = FilterOperator::Equal;
  std::string filterValueText;
  std::optional<std::string> filterValue;
};

// The program: options, then the run; returns the exit status.
int DrawOffMain(int argc, char** argv);

}  // namespace orv
