// The worker pool and the ordered chunk run: chunks drain in fill order whatever order the work
// ends in, an early stop leaves no task behind, and thread counts parse strictly.
#include "runtime/workers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace orv {
namespace {

struct Chunk {
  int number = -1;
  int result = -1;
};

// Fills `total` chunks and drains until `stopAfter`; the work of early chunks takes longest, so
// later ones finish first on more than one thread. `callerRan` tells whether this thread did some.
std::vector<int> RunChunks(unsigned threads, size_t depth, int total, int stopAfter,
                           bool callerWorks = false, bool* callerRan = nullptr) {
  TaskPool pool(threads, callerWorks);
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> ranHere{false};
  int next = 0;
  std::vector<int> drained;
  RunOrdered<Chunk>(
      pool, depth,
      [&](Chunk& chunk) {
        if (next == total) {
          return false;
        }
        chunk.number = next++;
        return true;
      },
      [&](Chunk& chunk) {
        std::this_thread::sleep_for(std::chrono::microseconds((total - chunk.number) * 50));
        chunk.result = chunk.number * 10;
        ranHere = ranHere || std::this_thread::get_id() == caller;
      },
      [&](Chunk& chunk) {
        drained.push_back(chunk.result);
        return static_cast<int>(drained.size()) < stopAfter;
      });
  if (callerRan != nullptr) {
    *callerRan = ranHere;
  }
  return drained;
}

// Also when the calling thread is one of the pool's threads: it then takes queued chunks itself.
TEST(WorkersTest, ChunksDrainInFillOrderForEveryThreadCount) {
  for (const bool callerWorks : {false, true}) {
    for (unsigned threads : {1u, 2u, 4u}) {
      for (size_t depth : {size_t{1}, size_t{2}, size_t{7}}) {
        bool callerRan = false;
        const std::vector<int> drained =
            RunChunks(threads, depth, 40, 1000, callerWorks, &callerRan);
        ASSERT_EQ(drained.size(), 40u) << threads << " threads, depth " << depth;
        for (int i = 0; i < 40; ++i) {
          EXPECT_EQ(drained[static_cast<size_t>(i)], i * 10);
        }
        // Three workers may take every chunk before this thread looks; one worker can't.
        if (!callerWorks || threads != 4) {
          EXPECT_EQ(callerRan, threads == 1 || depth == 1 || callerWorks)
              << threads << ", " << depth;
        }
      }
    }
  }
}

TEST(WorkersTest, AStoppedRunDrainsNothingAfterTheStop) {
  for (const bool callerWorks : {false, true}) {
    for (unsigned threads : {1u, 3u}) {
      const std::vector<int> drained = RunChunks(threads, 4, 40, 5, callerWorks);
      EXPECT_EQ(drained, (std::vector<int>{0, 10, 20, 30, 40}));
    }
  }
}

TEST(WorkersTest, PoolRunsEveryTaskBeforeWaitReturns) {
  TaskPool pool(3);
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) {
    pool.Submit([&ran] { ran.fetch_add(1); });
  }
  pool.Wait();
  EXPECT_EQ(ran.load(), 100);
  EXPECT_EQ(pool.threads(), 3u);
  EXPECT_EQ(TaskPool(1).threads(), 1u);
  TaskPool sharing(2, true);  // one worker, and this thread in Wait
  for (int i = 0; i < 100; ++i) {
    sharing.Submit([&ran] { ran.fetch_add(1); });
  }
  sharing.Wait();
  EXPECT_EQ(ran.load(), 200);
  EXPECT_EQ(sharing.threads(), 2u);
}

// Shared pieces run once each, with each taker's own helper number, for any pool or none; with
// every worker busy elsewhere until the pieces are done, this thread runs them all.
TEST(WorkersTest, SharedPiecesRunOnceEachWhoeverTakesThem) {
  for (const unsigned threads : {0u, 1u, 2u, 4u}) {
    for (const uint64_t count : {0u, 1u, 7u, 500u}) {
      for (const bool busy : {false, true}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(count) +
                     (busy ? " pieces, workers busy" : " pieces"));
        std::atomic<bool> released{false};  // outlives the pool, whose workers read it
        TaskPool pool(std::max(threads, 1u));
        for (unsigned w = 0; busy && threads > 1 && w < threads; ++w) {
          pool.Submit([&released] {
            while (!released.load()) {
              std::this_thread::yield();
            }
          });
        }
        TaskPool* shared = threads == 0 ? nullptr : &pool;
        const unsigned helpers = SharedTakers(shared) - 1;
        std::vector<std::atomic<int>> ran(count);
        std::atomic<bool> helperInRange{true};
        std::atomic<bool> elsewhere{false};
        const std::thread::id here = std::this_thread::get_id();
        RunShared(shared, count, [&](uint64_t i, unsigned h) {
          std::this_thread::sleep_for(std::chrono::microseconds(20));
          ran[i].fetch_add(1);
          helperInRange =
              helperInRange && h <= helpers && (h == 0) == (std::this_thread::get_id() == here);
          elsewhere = elsewhere || std::this_thread::get_id() != here;
        });
        released = true;
        for (uint64_t i = 0; i < count; ++i) {
          ASSERT_EQ(ran[i].load(), 1) << i;
        }
        EXPECT_TRUE(helperInRange.load());
        if (busy || threads <= 1) {
          EXPECT_FALSE(elsewhere.load());
        }
      }
    }
  }
}

TEST(WorkersTest, ThreadCountsParseStrictly) {
  const struct {
    const char* text;
    unsigned count;
  } cases[] = {{"1", 1}, {"2", 2},  {"1024", 1024}, {"0", 0},  {"1025", 0},       {"-1", 0},
               {"", 0},  {"2x", 0}, {" 2", 0},      {"+2", 0}, {"99999999999", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(ParseThreadCount(c.text), c.count) << "'" << c.text << "'";
  }
  EXPECT_GE(AvailableCores(), 1u);
}

// A container's CPU limit, from either control group version: cores rounded up, none for "max",
// a quota of -1 or text that doesn't read.
TEST(Workers, CpuLimitsReadAsCoresRoundedUp) {
  const struct {
    const char* cpuMax;
    unsigned cores;
  } v2[] = {
      {"200000 100000", 2}, {"150000 100000\n", 2}, {"50000 100000", 1}, {"max 100000", 0}, {"", 0},
      {"100000", 0},        {"0 100000", 0},        {"100000 0", 0},     {"x 100000", 0}};
  for (const auto& c : v2) {
    EXPECT_EQ(CpuMaxCores(c.cpuMax), c.cores) << "'" << c.cpuMax << "'";
  }
  const struct {
    const char* quota;
    const char* period;
    unsigned cores;
  } v1[] = {{"400000\n", "100000\n", 4}, {"-1", "100000", 0},
            {"250000", "100000", 3},     {"", "", 0},
            {"100000", "", 0},           {"99999999999999", "1", 1024}};
  for (const auto& c : v1) {
    EXPECT_EQ(CfsQuotaCores(c.quota, c.period), c.cores) << c.quota << " / " << c.period;
  }
}

}  // namespace
}  // namespace orv
