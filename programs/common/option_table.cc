#include "programs/common/option_table.h"

#include "programs/common/program.h"

namespace orv {

int ParseOptionRows(int argc, char** argv, std::span<const OptionSpec> forms,
                    const std::function<Status(size_t, const char*)>& apply,
                    std::vector<std::string>& positionals) {
  auto onOption = [&apply](size_t index, const char* argument) {
    return Finish(apply(index, argument)) == kExitSuccess;
  };
  return ParseCommandLine(argc, argv, forms, onOption, positionals);
}

}  // namespace orv
