#include "runtime/stats.h"

#include <cstdio>

#include "runtime/logger.h"

namespace orv {

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Fixed3(double value) {
  char text[64];
  snprintf(text, sizeof text, "%.3f", value);
  return text;
}

}  // namespace

IntervalStats::IntervalStats(std::string name)
    : name_(std::move(name)), start_(std::chrono::steady_clock::now()), lastLine_(start_) {}

void IntervalStats::Check() {
  auto now = std::chrono::steady_clock::now();
  if (now - lastLine_ >= std::chrono::seconds(1)) {
    lastLine_ = now;
    g_Logger.Info(name_, std::to_string(count_));
  }
}

void IntervalStats::Success() {
  double seconds = SecondsSince(start_);
  g_Logger.Info(name_, std::to_string(count_));
  double rate = seconds > 0 ? static_cast<double>(count_) / seconds : 0;
  g_Logger.Info("rate", Fixed3(rate) + " " + name_ + "/s");
}

ScopedTimeProfiler::ScopedTimeProfiler(std::string label)
    : label_(std::move(label)), start_(std::chrono::steady_clock::now()) {}

ScopedTimeProfiler::~ScopedTimeProfiler() {
  g_Logger.Info(label_, Fixed3(SecondsSince(start_)));
}

}  // namespace orv
