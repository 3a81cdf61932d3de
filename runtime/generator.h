// Random value generators: every descriptor owns one (made by its Prepare) and draws values with
// it in Generate. A nullable generator first decides null with the process default probability
// (ORV_GENERATE_NULL_PROBABILITY, default 0.05) or its own.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>

namespace orv {

class Generator {
 public:
  explicit Generator(bool nullable);
  virtual ~Generator();
  Generator(const Generator&) = delete;
  Generator& operator=(const Generator&) = delete;

  // Takes the settings of a JSON object; false with `error` set for a setting it cannot use.
  virtual bool Configure(const rapidjson::Value& settings, std::string* error) = 0;
  // Writes the next value where `value` points, or sets `value` null for a null.
  virtual void Generate(void*& value) = 0;

  // Makes the draws repeatable.
  void Seed(uint32_t seed) { engine_.seed(seed); }
  // The canonical uniform double in [0, 1) from two successive 32-bit draws a, b:
  // (a + b * 2^32) * 2^-64, the largest double below 1 when that rounds up to 1.
  double Canonical();
  // The null decision of a nullable generator.
  bool DrawNull();
  // A uniform draw from [0, max].
  unsigned __int128 UniformIndex(unsigned __int128 max);

  static double DefaultNullProbability();

 protected:
  bool nullable_;
  std::mt19937 engine_;
  std::optional<double> nullProbability_;

 private:
  static double _defaultNullProbability;
  static bool init;
};

// Clamps a null probability into [0, 1] (NaN gives 0).
double ClampProbability(double p);

}  // namespace orv
