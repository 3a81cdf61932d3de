// The generators of the record types. An integral generator draws uniformly from a list of single
// values and inclusive ranges: index i below the number of values picks that value, else it
// walks the ranges in order. A generator without configuration covers its default range.
//
// Configuration, a JSON object: "values" (array; a null element allows null), "range"
// ({"min": .., "max": ..}), "null" (its own null probability). Strings also take "length"
// ({"min": .., "max": ..}) and text elements in "values"; doubles take numbers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/generator.h"

namespace orv {

template <typename T>
class IntegralGenerator : public Generator {
 public:
  // Configured values must lie within [low, high]; `first`..`last` is the default range.
  IntegralGenerator(bool nullable, T low, T high, T first, T last);

  bool Configure(const rapidjson::Value& settings, std::string* error) override;
  void Generate(void*& value) override;

  // The outcome of index i of [0, count - 1]: the walk over single values, then ranges.
  T ValueAt(unsigned __int128 index) const;
  unsigned __int128 MaxIndex() const { return maxIndex_; }
  bool nullAllowed() const { return nullAllowed_; }

 protected:
  T Draw() { return ValueAt(UniformIndex(maxIndex_)); }

 private:
  void Normalize();

  T low_;
  T high_;
  T first_;
  T last_;
  std::vector<T> values_;
  std::vector<std::pair<T, T>> ranges_;
  unsigned __int128 maxIndex_ = 0;
  bool nullAllowed_ = false;
};

// Day numbers from 0000-01-01 written as packed dates; years 0 to 9999, by default 1900 to 2099.
class DateGenerator : public IntegralGenerator<unsigned int> {
 public:
  explicit DateGenerator(bool nullable);
  void Generate(void*& value) override;
};

// Seconds since 1970-01-01; years 0 to 9999, by default 1970 to 2037.
class DateTimeGenerator : public IntegralGenerator<long> {
 public:
  explicit DateTimeGenerator(bool nullable);
};

// Scaled values of a decimal, within its precision (by default all of them).
class DecimalGenerator : public IntegralGenerator<__int128> {
 public:
  DecimalGenerator(bool nullable, uint8_t precision);
};

// One of the single values when there are any, else uniform over half-open ranges laid end to
// end; by default [-1000000, 1000000).
class FloatingPointGenerator : public Generator {
 public:
  explicit FloatingPointGenerator(bool nullable);
  bool Configure(const rapidjson::Value& settings, std::string* error) override;
  void Generate(void*& value) override;

 private:
  std::vector<double> values_;
  std::vector<std::pair<double, double>> ranges_;
  long double width_ = 0;
};

// Letters and digits, a length drawn from [min, max] (by default 0 to 10, at most 1 MiB), or one
// of the configured texts; a fixed-size field gets exactly its size. Writes into a std::string.
class VariableStringGenerator : public Generator {
 public:
  VariableStringGenerator(bool nullable, size_t fixedSize);
  bool Configure(const rapidjson::Value& settings, std::string* error) override;
  void Generate(void*& value) override;

 private:
  size_t fixedSize_;
  size_t minLength_ = 0;
  size_t maxLength_ = 10;
  std::vector<std::string> values_;
};

}  // namespace orv
