#include "types/date.h"

#include "runtime/settings.h"
#include "types/calendar.h"

namespace orv {

const std::string& DateTypeTraits<date>::EffectiveFormat() const {
  return format_ ? *format_ : g_TypeTraitsOptions.dateFormat;
}

int DateTypeTraits<date>::Parse(IFileInput& input, size_t& size, bool recordFormat) {
  const char* format = EffectiveFormat().c_str();
  return ParseWith(input, size, recordFormat, [this, format](std::string_view, unsigned& v) {
    std::optional<date> parsed = ParseDateText(scratch_.c_str(), format);
    if (!parsed) {
      return false;
    }
    v = parsed->packed();
    return true;
  });
}

std::string_view DateTypeTraits<date>::FormatText(const void* value, size_t, char* scratch) const {
  uint32_t packed;
  memcpy(&packed, value, sizeof packed);
  return {scratch, FormatDateText(date::FromPacked(packed), EffectiveFormat().c_str(), scratch)};
}

}  // namespace orv
