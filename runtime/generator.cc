#include "runtime/generator.h"

#include <cmath>
#include <cstdlib>

namespace orv {

double Generator::_defaultNullProbability = 0.05;
bool Generator::init = true;

double ClampProbability(double p) {
  if (p >= 1.0) {
    return 1.0;
  }
  if (!(p > 0.0)) {
    return 0.0;
  }
  return p;
}

Generator::Generator(bool nullable) : nullable_(nullable) {
  std::random_device device("default");
  engine_.seed(device());
  if (init) {
    init = false;
    if (const char* text = getenv("ORV_GENERATE_NULL_PROBABILITY")) {
      char* end = nullptr;
      double p = strtod(text, &end);
      if (end != text) {
        _defaultNullProbability = ClampProbability(p);
      }
    }
  }
}

Generator::~Generator() = default;

double Generator::DefaultNullProbability() {
  return _defaultNullProbability;
}

double Generator::Canonical() {
  const double a = engine_();
  const double b = engine_();
  double u = (a + b * 4294967296.0) * 0x1p-64;
  return u >= 1.0 ? std::nextafter(1.0, 0.0) : u;
}

bool Generator::DrawNull() {
  if (!nullable_) {
    return false;
  }
  const double p = nullProbability_.value_or(_defaultNullProbability);
  if (p == 1.0) {
    return true;
  }
  return p > 0.0 && p > Canonical();
}

unsigned __int128 Generator::UniformIndex(unsigned __int128 max) {
  if (max <= UINT64_MAX) {
    std::uniform_int_distribution<uint64_t> index(0, static_cast<uint64_t>(max));
    return index(engine_);
  }
  // Rejection over the smallest power of two above max.
  int bits = 128;
  while (bits > 64 && ((max >> (bits - 1)) & 1) == 0) {
    --bits;
  }
  const unsigned __int128 mask = bits == 128 ? ~static_cast<unsigned __int128>(0)
                                             : (static_cast<unsigned __int128>(1) << bits) - 1;
  for (;;) {
    unsigned __int128 v = 0;
    for (int k = 0; k < 4; ++k) {
      v = (v << 32) | engine_();
    }
    v &= mask;
    if (v <= max) {
      return v;
    }
  }
}

}  // namespace orv
