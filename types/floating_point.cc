#include "types/floating_point.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace orv {

bool ParseDoubleText(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  double v = strtod(text, &end);
  if (end == text) {
    return false;
  }
  if (errno == ERANGE && std::isinf(v)) {
    return false;  // overflow; an underflow gives the nearest small value
  }
  value = v;
  return true;
}

int FloatingPointTypeTraits<double>::Parse(IFileInput& input, size_t& size, bool recordFormat) {
  return ParseWith(input, size, recordFormat, [this](std::string_view, double& v) {
    return ParseDoubleText(scratch_.c_str(), v);
  });
}

std::string_view FloatingPointTypeTraits<double>::FormatText(const void* value, size_t,
                                                             char* scratch) const {
  double v;
  memcpy(&v, value, sizeof v);
  auto result = std::to_chars(scratch, scratch + 64, v, std::chars_format::general, 17);
  return {scratch, static_cast<size_t>(result.ptr - scratch)};
}

}  // namespace orv
