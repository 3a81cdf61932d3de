#include "types/generators.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "runtime/values.h"

namespace orv {

namespace {

constexpr size_t kMaxStringLength = 1048576;

// The JSON number as T when it is an integer within [low, high].
template <typename T>
bool IntegerWithin(const rapidjson::Value& v, T low, T high, T& out) {
  __int128 n;
  if (v.IsInt64()) {
    n = v.GetInt64();
  } else if (v.IsUint64()) {
    n = v.GetUint64();
  } else {
    return false;
  }
  if (n < static_cast<__int128>(low) || n > static_cast<__int128>(high)) {
    return false;
  }
  out = static_cast<T>(n);
  return true;
}

void ReadNullProbability(const rapidjson::Value& settings, std::optional<double>& probability) {
  auto member = settings.FindMember("null");
  if (member != settings.MemberEnd() && member->value.IsNumber()) {
    probability = ClampProbability(member->value.GetDouble());
  }
}

}  // namespace

template <typename T>
IntegralGenerator<T>::IntegralGenerator(bool nullable, T low, T high, T first, T last)
    : Generator(nullable), low_(low), high_(high), first_(first), last_(last) {
  ranges_.emplace_back(first_, last_);
  Normalize();
}

template <typename T>
bool IntegralGenerator<T>::Configure(const rapidjson::Value& settings, std::string* error) {
  if (!settings.IsObject()) {
    *error = "a generator configuration is a JSON object";
    return false;
  }
  values_.clear();
  ranges_.clear();
  nullAllowed_ = false;
  nullProbability_.reset();
  auto values = settings.FindMember("values");
  if (values != settings.MemberEnd() && values->value.IsArray()) {
    for (const rapidjson::Value& v : values->value.GetArray()) {
      T n;
      if (v.IsNull()) {
        nullAllowed_ = true;
      } else if (IntegerWithin(v, low_, high_, n)) {
        values_.push_back(n);
      }
    }
  }
  auto range = settings.FindMember("range");
  if (range != settings.MemberEnd() && range->value.IsObject()) {
    T min{};
    T max{};
    auto minMember = range->value.FindMember("min");
    auto maxMember = range->value.FindMember("max");
    bool okMin = minMember == range->value.MemberEnd()
                     ? (T{} >= low_ && T{} <= high_)
                     : IntegerWithin(minMember->value, low_, high_, min);
    bool okMax = maxMember == range->value.MemberEnd()
                     ? (T{} >= low_ && T{} <= high_)
                     : IntegerWithin(maxMember->value, low_, high_, max);
    if (okMin && okMax) {
      if (min == max) {
        values_.push_back(min);
      } else {
        ranges_.emplace_back(std::min(min, max), std::max(min, max));
      }
    }
  }
  ReadNullProbability(settings, nullProbability_);
  if (values_.empty() && ranges_.empty()) {
    ranges_.emplace_back(first_, last_);
  }
  Normalize();
  if (nullAllowed_ && !nullProbability_) {
    // Null as likely as each single allowed value.
    nullProbability_ = 1.0 / (static_cast<double>(maxIndex_) + 2.0);
  }
  return true;
}

template <typename T>
void IntegralGenerator<T>::Normalize() {
  // Ranges sorted and merged where they overlap or touch; single values inside a range dropped.
  std::sort(ranges_.begin(), ranges_.end());
  std::vector<std::pair<T, T>> merged;
  for (const auto& r : ranges_) {
    if (!merged.empty() &&
        (r.first <= merged.back().second ||
         (merged.back().second < high_ && r.first == merged.back().second + 1))) {
      merged.back().second = std::max(merged.back().second, r.second);
    } else {
      merged.push_back(r);
    }
  }
  ranges_ = std::move(merged);
  std::sort(values_.begin(), values_.end());
  values_.erase(std::unique(values_.begin(), values_.end()), values_.end());
  std::erase_if(values_, [this](T v) {
    return std::any_of(ranges_.begin(), ranges_.end(),
                       [v](const auto& r) { return v >= r.first && v <= r.second; });
  });
  // The largest index: every outcome counted once, less one (so that a full 128-bit range fits).
  unsigned __int128 count = values_.size() + ranges_.size();
  unsigned __int128 spans = 0;
  for (const auto& r : ranges_) {
    spans += static_cast<unsigned __int128>(r.second) - static_cast<unsigned __int128>(r.first);
  }
  maxIndex_ = count == 0 ? 0 : spans + (count - 1);
}

template <typename T>
T IntegralGenerator<T>::ValueAt(unsigned __int128 index) const {
  if (index < values_.size()) {
    return values_[static_cast<size_t>(index)];
  }
  index -= values_.size();
  for (const auto& [low, high] : ranges_) {
    const auto span = static_cast<unsigned __int128>(high) - static_cast<unsigned __int128>(low);
    if (index <= span) {
      return static_cast<T>(static_cast<unsigned __int128>(low) + index);
    }
    index -= span + 1;
  }
  return T{};
}

template <typename T>
void IntegralGenerator<T>::Generate(void*& value) {
  if (DrawNull()) {
    value = nullptr;
    return;
  }
  T v = Draw();
  memcpy(value, &v, sizeof v);
}

template class IntegralGenerator<int>;
template class IntegralGenerator<long>;
template class IntegralGenerator<unsigned int>;
template class IntegralGenerator<__int128>;

// --- Dates, datetimes, decimals ------------------------------------------------------------------

namespace {

constexpr int64_t kYearZero = DaysFromCivil(0, 1, 1);

unsigned DayNumber(int year, unsigned month, unsigned day) {
  return static_cast<unsigned>(DaysFromCivil(year, month, day) - kYearZero);
}

long Seconds(int year, unsigned month, unsigned day) {
  return DaysFromCivil(year, month, day) * 86400;
}

}  // namespace

DateGenerator::DateGenerator(bool nullable)
    : IntegralGenerator(nullable, 0, DayNumber(9999, 12, 31), DayNumber(1900, 1, 1),
                        DayNumber(2099, 12, 31)) {}

void DateGenerator::Generate(void*& value) {
  if (DrawNull()) {
    value = nullptr;
    return;
  }
  const uint32_t packed = date::FromEpochDays(kYearZero + Draw())->packed();
  memcpy(value, &packed, sizeof packed);
}

DateTimeGenerator::DateTimeGenerator(bool nullable)
    : IntegralGenerator(nullable, Seconds(0, 1, 1), Seconds(10000, 1, 1) - 1, 0,
                        Seconds(2038, 1, 1) - 1) {}

DecimalGenerator::DecimalGenerator(bool nullable, uint8_t precision)
    : IntegralGenerator(nullable, 1 - decimalPow10[precision], decimalPow10[precision] - 1,
                        1 - decimalPow10[precision], decimalPow10[precision] - 1) {}

// --- Doubles
// ----------------------------------------------------------------------------------------

FloatingPointGenerator::FloatingPointGenerator(bool nullable) : Generator(nullable) {
  ranges_.emplace_back(-1e6, 1e6);
  width_ = 2e6L;
}

bool FloatingPointGenerator::Configure(const rapidjson::Value& settings, std::string* error) {
  if (!settings.IsObject()) {
    *error = "a generator configuration is a JSON object";
    return false;
  }
  values_.clear();
  ranges_.clear();
  width_ = 0;
  nullProbability_.reset();
  bool nullAllowed = false;
  auto values = settings.FindMember("values");
  if (values != settings.MemberEnd() && values->value.IsArray()) {
    for (const rapidjson::Value& v : values->value.GetArray()) {
      if (v.IsNumber()) {
        values_.push_back(v.GetDouble());
      } else if (v.IsNull()) {
        nullAllowed = true;
      }
    }
  }
  auto range = settings.FindMember("range");
  if (range != settings.MemberEnd() && range->value.IsObject()) {
    auto get = [&](const char* name) {
      auto m = range->value.FindMember(name);
      return m != range->value.MemberEnd() && m->value.IsNumber() ? m->value.GetDouble() : 0.0;
    };
    double low = std::min(get("min"), get("max"));
    double high = std::max(get("min"), get("max"));
    if (high > low) {
      ranges_.emplace_back(low, high);
    } else {
      values_.push_back(low);
    }
  }
  ReadNullProbability(settings, nullProbability_);
  if (values_.empty() && ranges_.empty()) {
    ranges_.emplace_back(-1e6, 1e6);
  }
  for (const auto& [low, high] : ranges_) {
    width_ += static_cast<long double>(high) - low;
  }
  if (nullAllowed && !nullProbability_) {
    // Null as likely as each single value (or as the one range).
    nullProbability_ = 1.0 / (static_cast<double>(values_.empty() ? 1 : values_.size()) + 1.0);
  }
  return true;
}

void FloatingPointGenerator::Generate(void*& value) {
  if (DrawNull()) {
    value = nullptr;
    return;
  }
  double v = 0.0;
  if (!values_.empty()) {
    v = values_[static_cast<size_t>(UniformIndex(values_.size() - 1))];
  } else if (!ranges_.empty()) {
    long double offset = static_cast<long double>(Canonical()) * width_;
    v = ranges_.back().first;
    for (const auto& [low, high] : ranges_) {
      const long double span = static_cast<long double>(high) - low;
      if (span > offset) {
        v = static_cast<double>(low + offset);
        break;
      }
      offset -= span;
    }
  }
  memcpy(value, &v, sizeof v);
}

// --- Strings ------------------------------------------------------------------------------------

VariableStringGenerator::VariableStringGenerator(bool nullable, size_t fixedSize)
    : Generator(nullable), fixedSize_(fixedSize) {}

bool VariableStringGenerator::Configure(const rapidjson::Value& settings, std::string* error) {
  if (!settings.IsObject()) {
    *error = "a generator configuration is a JSON object";
    return false;
  }
  values_.clear();
  nullProbability_.reset();
  minLength_ = 0;
  maxLength_ = 10;
  bool nullAllowed = false;
  auto values = settings.FindMember("values");
  if (values != settings.MemberEnd() && values->value.IsArray()) {
    for (const rapidjson::Value& v : values->value.GetArray()) {
      if (v.IsString()) {
        values_.emplace_back(v.GetString(), v.GetStringLength());
      } else if (v.IsNull()) {
        nullAllowed = true;
      }
    }
  }
  auto length = settings.FindMember("length");
  if (length != settings.MemberEnd() && length->value.IsObject()) {
    auto get = [&](const char* name, size_t fallback) {
      auto m = length->value.FindMember(name);
      return m != length->value.MemberEnd() && m->value.IsUint64()
                 ? std::min<size_t>(m->value.GetUint64(), kMaxStringLength)
                 : fallback;
    };
    minLength_ = get("min", 0);
    maxLength_ = std::max(minLength_, get("max", minLength_));
  }
  ReadNullProbability(settings, nullProbability_);
  if (nullAllowed && !nullProbability_) {
    nullProbability_ = 1.0 / (static_cast<double>(values_.size()) + 1.0);
  }
  return true;
}

void VariableStringGenerator::Generate(void*& value) {
  if (DrawNull()) {
    value = nullptr;
    return;
  }
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  auto& text = *static_cast<std::string*>(value);
  if (!values_.empty()) {
    text = values_[static_cast<size_t>(UniformIndex(values_.size() - 1))];
  } else {
    size_t n = minLength_ + static_cast<size_t>(UniformIndex(maxLength_ - minLength_));
    text.resize(n);
    for (char& c : text) {
      c = kAlphabet[static_cast<size_t>(UniformIndex(sizeof kAlphabet - 2))];
    }
  }
  if (fixedSize_ != 0) {
    text.resize(fixedSize_, ' ');
  }
}

}  // namespace orv
