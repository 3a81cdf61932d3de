#include "runtime/values.h"

namespace orv {

namespace {

constexpr __int128 Pow10(int n) {
  __int128 v = 1;
  for (int i = 0; i < n; ++i) {
    v *= 10;
  }
  return v;
}

}  // namespace

const __int128 decimalPow10[39] = {
    Pow10(0),  Pow10(1),  Pow10(2),  Pow10(3),  Pow10(4),  Pow10(5),  Pow10(6),  Pow10(7),
    Pow10(8),  Pow10(9),  Pow10(10), Pow10(11), Pow10(12), Pow10(13), Pow10(14), Pow10(15),
    Pow10(16), Pow10(17), Pow10(18), Pow10(19), Pow10(20), Pow10(21), Pow10(22), Pow10(23),
    Pow10(24), Pow10(25), Pow10(26), Pow10(27), Pow10(28), Pow10(29), Pow10(30), Pow10(31),
    Pow10(32), Pow10(33), Pow10(34), Pow10(35), Pow10(36), Pow10(37), Pow10(38)};

std::optional<date> date::FromEpochDays(int64_t days) {
  // Keep the arithmetic far from overflow before converting.
  constexpr int64_t kLimit = 40000000;
  if (days < -kLimit || days > kLimit) {
    return std::nullopt;
  }
  CivilDate civil = CivilFromDays(days);
  if (civil.year < 0 || civil.year > 0xFFFF) {
    return std::nullopt;
  }
  return date(static_cast<unsigned>(civil.year), civil.month, civil.day);
}

__int128 decimal::get_internal(uint8_t /*precision*/, uint8_t scale) const {
  if (scale == scale_) {
    return value_;
  }
  if (scale > scale_) {
    return value_ * decimalPow10[scale - scale_];
  }
  return value_ / decimalPow10[scale_ - scale];
}

}  // namespace orv
