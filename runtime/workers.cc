#include "runtime/workers.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace orv {

namespace {

// The whole number that `text` is (blanks around it allowed); nullopt when it is none.
std::optional<long long> WholeNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\n')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  long long value = 0;
  const auto [at, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || at != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

unsigned QuotaCores(std::optional<long long> quota, std::optional<long long> period) {
  if (!quota || !period || *quota <= 0 || *period <= 0) {
    return 0;
  }
  const long long cores = (*quota + *period - 1) / *period;
  return static_cast<unsigned>(std::min<long long>(cores, kMaxThreads));
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  return text;
}

// The CPU limit of the control group this process is in and of every group above it, the least
// of them; 0 when there is none. Only what the process can see counts (in a container, its own
// groups).
unsigned CgroupCores() {
  std::ifstream groups("/proc/self/cgroup");
  unsigned least = 0;
  auto take = [&least](unsigned cores) {
    least = cores != 0 && (least == 0 || cores < least) ? cores : least;
  };
  for (std::string line; std::getline(groups, line);) {
    // "0::/PATH" (v2) or "N:cpu,cpuacct:/PATH" (v1).
    const size_t first = line.find(':');
    const size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) {
      continue;
    }
    std::string_view controllers(line.data() + first + 1, second - first - 1);
    const bool v2 = controllers.empty();
    bool cpu = false;
    while (!controllers.empty()) {
      const size_t comma = std::min(controllers.find(','), controllers.size());
      cpu = cpu || controllers.substr(0, comma) == "cpu";
      controllers.remove_prefix(std::min(comma + 1, controllers.size()));
    }
    if (!v2 && !cpu) {
      continue;
    }
    const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/cpu";
    // The group's own limit, then those of the groups above it up to the root.
    for (std::string path = line.substr(second + 1);;) {
      const std::string dir = root + (path == "/" ? "" : path);
      take(v2 ? CpuMaxCores(ReadSmallFile(dir + "/cpu.max"))
              : CfsQuotaCores(ReadSmallFile(dir + "/cpu.cfs_quota_us"),
                              ReadSmallFile(dir + "/cpu.cfs_period_us")));
      const size_t slash = path.rfind('/');
      if (path == "/" || slash == std::string::npos) {
        break;
      }
      path = slash == 0 ? "/" : path.substr(0, slash);
    }
  }
  return least;
}

}  // namespace

unsigned CpuMaxCores(std::string_view cpuMax) {
  const size_t blank = cpuMax.find(' ');
  if (blank == std::string_view::npos) {
    return 0;
  }
  return QuotaCores(WholeNumber(cpuMax.substr(0, blank)), WholeNumber(cpuMax.substr(blank + 1)));
}

unsigned CfsQuotaCores(std::string_view quota, std::string_view period) {
  return QuotaCores(WholeNumber(quota), WholeNumber(period));
}

unsigned AvailableCores() {
  unsigned cores = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    cores = static_cast<unsigned>(std::max(CPU_COUNT(&set), 0));
  }
  if (cores == 0) {
    cores = std::max(std::thread::hardware_concurrency(), 1u);
  }
  const unsigned limit = CgroupCores();
  return limit != 0 ? std::min(cores, limit) : cores;
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

TaskPool::TaskPool(unsigned threads, bool callerWorks) {
  if (threads <= 1) {
    return;
  }
  callerWorks_ = callerWorks;
  const unsigned workers = callerWorks ? threads - 1 : threads;
  workers_.reserve(workers);
  for (unsigned t = 0; t < workers; ++t) {
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
  while (callerWorks_ && RunQueued()) {
  }
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
}

bool TaskPool::RunQueued() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (queue_.empty()) {
    return false;
  }
  RunFront(lock);
  return true;
}

void TaskPool::RunFront(std::unique_lock<std::mutex>& lock) {
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

// Takes tasks until the pool ends with none queued.
void TaskPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return ending_ || !queue_.empty(); });
    if (queue_.empty()) {
      return;
    }
    RunFront(lock);
  }
}

void RunShared(TaskPool* pool, uint64_t count,
               const std::function<void(uint64_t, unsigned)>& piece) {
  // Tasks that start late hold the state alive, and read no more than its counter.
  struct State {
    const std::function<void(uint64_t, unsigned)>* piece = nullptr;
    uint64_t count = 0;
    std::atomic<uint64_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    uint64_t done = 0;
  };
  auto state = std::make_shared<State>();
  state->piece = &piece;
  state->count = count;
  auto take = [](State& s, unsigned taker) {
    uint64_t ran = 0;
    for (uint64_t i = s.next.fetch_add(1); i < s.count; i = s.next.fetch_add(1), ++ran) {
      (*s.piece)(i, taker);
    }
    if (ran != 0) {
      std::lock_guard<std::mutex> lock(s.mutex);
      s.done += ran;
      s.finished.notify_all();
    }
  };
  for (unsigned t = 1; t < SharedTakers(pool) && t < count; ++t) {
    pool->Submit([state, t, take] { take(*state, t); });
  }
  take(*state, 0);
  std::unique_lock<std::mutex> lock(state->mutex);
  state->finished.wait(lock, [&] { return state->done == state->count; });
}

bool HoldsForEveryPiece(TaskPool* pool, uint64_t n, uint64_t piece,
                        const std::function<bool(uint64_t begin, uint64_t count)>& holds) {
  std::atomic<bool> all{true};
  RunShared(pool, (n + piece - 1) / piece, [&](uint64_t p, unsigned /*taker*/) {
    const uint64_t begin = p * piece;
    if (all.load(std::memory_order_relaxed) && !holds(begin, std::min(n, begin + piece) - begin)) {
      all.store(false, std::memory_order_relaxed);
    }
  });
  return all.load();
}

}  // namespace orv
