// Worker threads for the programs' parallel steps, and the one rule that keeps their output the
// same for every thread count: work is cut into chunks that are filled and drained in order on
// the calling thread, and only the work in between runs anywhere: on the workers, and on the
// calling thread while it waits, when that counts as one of the pool's threads.
//
//   TaskPool pool(threads, true);                       // threads - 1 workers and this thread
//   RunOrdered(pool, 2 * threads, fill, work, drain);   // fill and drain in order, work anywhere
//
// Tasks must not log: only the calling thread writes log lines, in the order of the records.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace orv {

// The cores this process may run on (its CPU affinity), at least 1, and no more than the CPU
// time its control groups allow (a container's CPU limit), rounded up.
unsigned AvailableCores();

// A control group's CPU limit in cores, rounded up, from the text of cgroup v2's `cpu.max`
// ("200000 100000"; "max 100000" is no limit) or of v1's `cpu.cfs_quota_us` and
// `cpu.cfs_period_us` (a quota of -1 is none); 0 for no limit or text that doesn't read.
unsigned CpuMaxCores(std::string_view cpuMax);
unsigned CfsQuotaCores(std::string_view quota, std::string_view period);

// The thread count of --threads=N: a whole number from 1 to kMaxThreads, or 0 when it isn't one.
inline constexpr unsigned kMaxThreads = 1024;
unsigned ParseThreadCount(const char* text);

class TaskPool {
 public:
  // With `threads` <= 1 there are no workers and each task runs at once, inside Submit. With
  // `callerWorks`, one of the `threads` is the calling thread, which runs queued tasks while it
  // waits (Wait, Await), so that no more threads than that compete for the cores.
  explicit TaskPool(unsigned threads, bool callerWorks = false);
  // Waits for the tasks submitted, then ends the workers.
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  void Submit(std::function<void()> task);
  // Returns once every task submitted so far has run (taking queued ones when the caller works).
  void Wait();
  unsigned threads() const {
    return workers_.empty() ? 1 : static_cast<unsigned>(workers_.size()) + (callerWorks_ ? 1 : 0);
  }
  // Waits on `changed` with `lock` held until `ready()`; a caller that works runs queued tasks
  // first (with the lock released), until none is left or it is ready.
  template <typename Ready>
  void Await(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, Ready ready) {
    while (callerWorks_ && !ready()) {
      lock.unlock();
      const bool ran = RunQueued();
      lock.lock();
      if (!ran) {
        break;
      }
    }
    changed.wait(lock, ready);
  }

 private:
  void Work();
  // Runs one queued task on the calling thread; false when none is queued.
  bool RunQueued();
  // Runs the task at the queue's front; `lock` holds mutex_, and holds it again after.
  void RunFront(std::unique_lock<std::mutex>& lock);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a task was queued, or the pool ends
  std::condition_variable idle_;  // a task finished
  std::deque<std::function<void()>> queue_;
  size_t running_ = 0;
  bool ending_ = false;
  bool callerWorks_ = false;
};

// How many may take the pieces of a RunShared on `pool`: this thread and each worker but one
// (the one this thread may be).
inline unsigned SharedTakers(const TaskPool* pool) {
  return pool == nullptr ? 1 : pool->threads();
}

// Runs `piece(i, taker)` for every i in [0, count): on this thread (taker 0) and on tasks queued
// on `pool` (takers 1 to SharedTakers(pool) - 1, for scratch of their own), each taking the next
// piece not yet taken. Returns once every piece has run. A task that starts only after the pieces
// ran out does nothing, so the pieces never wait for workers busy elsewhere. Without a pool, or
// with a pool of one thread, every piece runs here.
void RunShared(TaskPool* pool, uint64_t count,
               const std::function<void(uint64_t, unsigned)>& piece);

// Whether `holds(begin, count)` is true for every piece of [0, n), `piece` items each (the last
// may be shorter), the pieces shared as RunShared shares them; pieces not yet begun once one is
// false are skipped.
bool HoldsForEveryPiece(TaskPool* pool, uint64_t n, uint64_t piece,
                        const std::function<bool(uint64_t begin, uint64_t count)>& holds);

// Numbered pieces of work on `pool`, which the caller waits for one by one: a piece is done once
// some task on the pool (its own, or the last of several it handed on to) calls Done(number).
class NumberedTasks {
 public:
  NumberedTasks(TaskPool& pool, size_t count) : pool_(pool), done_(count, 0) {}
  // Waits for every task on the pool: they refer to this object.
  ~NumberedTasks() { pool_.Wait(); }
  NumberedTasks(const NumberedTasks&) = delete;
  NumberedTasks& operator=(const NumberedTasks&) = delete;

  void Done(size_t number) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_[number] = 1;
    finished_.notify_all();
  }
  void WaitFor(size_t number) {
    std::unique_lock<std::mutex> lock(mutex_);
    pool_.Await(lock, finished_, [this, number] { return done_[number] != 0; });
  }

 private:
  TaskPool& pool_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<char> done_;
};

// Runs chunks through three steps: `fill(chunk)` on this thread in chunk order until it returns
// false; `work(chunk)` on the pool; `drain(chunk)` on this thread in chunk order, false to stop
// early. At most `depth` chunks are in flight, and their objects are reused, so memory stays
// bounded by `depth` chunks. With one thread every chunk is filled, worked and drained in turn.
// Returns once no task refers to a chunk any more.
template <typename Chunk, typename Fill, typename Work, typename Drain>
void RunOrdered(TaskPool& pool, size_t depth, Fill fill, Work work, Drain drain) {
  if (pool.threads() <= 1 || depth <= 1) {
    Chunk chunk;
    while (fill(chunk)) {
      work(chunk);
      if (!drain(chunk)) {
        return;
      }
    }
    return;
  }
  struct Slot {
    Chunk chunk;
    bool done = false;
  };
  std::vector<Slot> ring(depth);
  std::mutex mutex;
  std::condition_variable finished;
  size_t filled = 0;
  size_t drained = 0;
  bool more = true;
  bool stopped = false;
  while (!stopped) {
    while (more && filled - drained < depth) {
      Slot& slot = ring[filled % depth];
      if (!fill(slot.chunk)) {
        more = false;
        break;
      }
      pool.Submit([&slot, &work, &mutex, &finished] {
        work(slot.chunk);
        std::lock_guard<std::mutex> lock(mutex);
        slot.done = true;
        finished.notify_all();
      });
      ++filled;
    }
    if (drained == filled) {
      break;
    }
    Slot& slot = ring[drained % depth];
    {
      std::unique_lock<std::mutex> lock(mutex);
      // A caller that works takes chunks still queued while the oldest one is under way.
      pool.Await(lock, finished, [&slot] { return slot.done; });
      slot.done = false;
    }
    stopped = !drain(slot.chunk);
    ++drained;
  }
  pool.Wait();  // chunks given up on may still be under way
}

}  // namespace orv
