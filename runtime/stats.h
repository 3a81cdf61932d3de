// Progress and timing lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace orv {

// Counts work items; logs an INFO progress line at most once a second while work goes on and the
// total with its rate on Success.
class IntervalStats {
 public:
  explicit IntervalStats(std::string name = "records");
  void Tick() {
    if ((++count_ & kClockMask) == 0) {
      Check();
    }
  }
  // Counts n items at once.
  void Tick(uint64_t n) {
    if (((count_ + n) & ~kClockMask) != (count_ & ~kClockMask)) {
      Check();
    }
    count_ += n;
  }
  uint64_t count() const { return count_; }
  void Success();

 private:
  static constexpr uint64_t kClockMask = 4095;  // read the clock every 4,096 ticks
  void Check();

  std::string name_;
  uint64_t count_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastLine_;
};

// Logs "label|seconds" as an INFO line when the scope ends.
class ScopedTimeProfiler {
 public:
  explicit ScopedTimeProfiler(std::string label);
  ~ScopedTimeProfiler();
  ScopedTimeProfiler(const ScopedTimeProfiler&) = delete;
  ScopedTimeProfiler& operator=(const ScopedTimeProfiler&) = delete;

 private:
  std::string label_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace orv
