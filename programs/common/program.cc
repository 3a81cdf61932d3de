#include "programs/common/program.h"

#include <cerrno>

#include "runtime/logger.h"
#include "runtime/options.h"
#include "types/type_traits_parser.h"

namespace orv {

int Finish(const Status& status) {
  if (status.ok()) {
    return kExitSuccess;
  }
  g_Logger.Fail("%s", status.message().c_str());
  return kExitFailure;
}

Status OpenInputFile(const std::optional<std::string>& path, OwnedFile& owned, FILE*& file) {
  if (!path) {
    return Status::Ok();
  }
  owned.reset(fopen(path->c_str(), "rb"));
  if (owned == nullptr) {
    return Status::IoError("Can't open input file: '" + *path + "'.");
  }
  file = owned.get();
  return Status::Ok();
}

Status OpenOutputFile(const std::optional<std::string>& path, OwnedFile& owned, FILE*& file) {
  if (!path) {
    return Status::Ok();
  }
  owned.reset(fopen(path->c_str(), "wb"));
  if (owned == nullptr) {
    return Status::IoError("Can't open output file: '" + *path + "'.");
  }
  file = owned.get();
  return Status::Ok();
}

void PrintHelp(const char* text) {
  fputs(text, stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

void PrintUsage(const char* options) {
  fputs(options, stdout);
  fputs(
      "      --help                    print this help and exit\n"
      "      --version                 print the program name and version and exit\n"
      "\n"
      "The layout comes from -d or from LAYOUT_FILE. Exit status 0 on success, 20 after a failure, "
      "with\n"
      "one FAIL line on standard error.\n",
      stdout);
  fflush(stdout);
}

void PrintVersion(const char* name) {
  fprintf(stdout, "%s %s\n", name, ORV_VERSION);
  fflush(stdout);
}

bool AsksFor(int argc, char** argv, std::string_view word) {
  for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    if (word == argv[i]) {
      return true;
    }
  }
  return false;
}

Status FlushOutput(BufferedFileOutput& output) {
  if (output.flush()) {
    return Status::Ok();
  }
  if (output.error() == EPIPE) {
    g_Logger.Info("output closed", "the reader of the output went away");
    return Status::Ok();
  }
  return Status::IoError("Error writing output.");
}

Status AddInlineFields(TypeTraitsCollection& layout, const char* text) {
  if (std::optional<std::string> error = TypeTraitsParser::ParseInlineFields(text, layout)) {
    return Status::Invalid(*error);
  }
  return Status::Ok();
}

}  // namespace orv
