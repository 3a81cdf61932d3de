#include "programs/common/output_checks.h"

#include <sys/stat.h>

#include <cstring>
#include <string_view>

#include "programs/common/program.h"
#include "qvd/header_parser.h"

namespace orv {

namespace {

bool SameRegularFile(const struct stat& a, const struct stat& b) {
  return S_ISREG(a.st_mode) && S_ISREG(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The opening of a QVD file: optional byte-order mark and blanks, the XML declaration, and the
// root element within the first kQvdSniffBytes bytes.
bool HasQvdOpening(std::string_view bytes) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (bytes.starts_with(kBom)) {
    bytes.remove_prefix(kBom.size());
  }
  const size_t start = bytes.find_first_not_of(" \t\r\n");
  return start != std::string_view::npos && bytes.substr(start).starts_with("<?xml") &&
         bytes.find("<QvdTableHeader") != std::string_view::npos;
}

}  // namespace

Status RefuseInputAsOutput(FILE* input, const std::optional<std::string>& outputPath,
                           FILE* standardOutput) {
  struct stat in;
  if (fstat(fileno(input), &in) != 0 || !S_ISREG(in.st_mode)) {
    return Status::Ok();
  }
  struct stat out;
  if (outputPath) {
    if (stat(outputPath->c_str(), &out) == 0 && SameRegularFile(in, out)) {
      return Status::Invalid("Output file '" + *outputPath +
                             "' is the input file; not overwritten.");
    }
  } else if (fstat(fileno(standardOutput), &out) == 0 && SameRegularFile(in, out)) {
    return Status::Invalid("Standard output is the input file; not written.");
  }
  return Status::Ok();
}

bool IsQvdFile(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  OwnedFile file(fopen(path.c_str(), "rb"));
  if (file == nullptr) {
    return false;
  }
  // The opening first, then the rest of the header in chunks of the same size: a file that does
  // not open like a QVD file costs one short read.
  char chunk[kQvdSniffBytes];
  size_t n = fread(chunk, 1, sizeof chunk, file.get());
  if (!HasQvdOpening(std::string_view(chunk, n))) {
    return false;
  }
  for (size_t scanned = 0; n > 0 && scanned <= kMaxQvdHeaderBytes;
       scanned += n, n = fread(chunk, 1, sizeof chunk, file.get())) {
    if (const void* zero = memchr(chunk, 0, n)) {
      return scanned + static_cast<size_t>(static_cast<const char*>(zero) - chunk) <=
             kMaxQvdHeaderBytes;
    }
  }
  return false;
}

Status RefuseQvdOverwrite(const std::optional<std::string>& outputPath) {
  if (outputPath && IsQvdFile(*outputPath)) {
    return Status::Invalid("Output file '" + *outputPath + "' is a QVD file; not overwritten.");
  }
  return Status::Ok();
}

}  // namespace orv
