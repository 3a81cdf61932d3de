#include "runtime/workers.h"

#include <sched.h>

#include <charconv>
#include <cstring>

namespace orv {

unsigned AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) {
      return static_cast<unsigned>(count);
    }
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? hardware : 1;
}

unsigned ParseThreadCount(const char* text) {
  const char* end = text + strlen(text);
  unsigned count = 0;
  const auto [at, error] = std::from_chars(text, end, count);
  if (error != std::errc() || at != end || count < 1 || count > kMaxThreads) {
    return 0;
  }
  return count;
}

TaskPool::TaskPool(unsigned threads) {
  if (threads <= 1) {
    return;
  }
  workers_.reserve(threads);
  for (unsigned t = 0; t < threads; ++t) {
    workers_.emplace_back([this] { Work(); });
  }
}

TaskPool::~TaskPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) {
    worker.join();
  }
}

void TaskPool::Submit(std::function<void()> task) {
  if (workers_.empty()) {
    task();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void TaskPool::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
}

// Takes tasks until the pool ends with none queued.
void TaskPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return ending_ || !queue_.empty(); });
    if (queue_.empty()) {
      return;
    }
    std::function<void()> task = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();
    task();
    lock.lock();
    --running_;
    if (queue_.empty() && running_ == 0) {
      idle_.notify_all();
    }
  }
}

}  // namespace orv
