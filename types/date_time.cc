#include "types/date_time.h"

#include "runtime/settings.h"
#include "types/calendar.h"

namespace orv {

const std::string& DateTimeTypeTraits<datetime>::EffectiveFormat() const {
  return format_ ? *format_ : g_TypeTraitsOptions.dateTimeFormat;
}

int DateTimeTypeTraits<datetime>::Parse(IFileInput& input, size_t& size, bool recordFormat) {
  const char* format = EffectiveFormat().c_str();
  return ParseWith(input, size, recordFormat, [this, format](std::string_view, long& v) {
    std::optional<int64_t> parsed = ParseDateTimeText(scratch_.c_str(), format);
    if (!parsed) {
      return false;
    }
    v = *parsed;
    return true;
  });
}

std::string_view DateTimeTypeTraits<datetime>::FormatText(const void* value, size_t,
                                                          char* scratch) const {
  long seconds;
  memcpy(&seconds, value, sizeof seconds);
  return {scratch, FormatDateTimeText(seconds, EffectiveFormat().c_str(), scratch)};
}

}  // namespace orv
