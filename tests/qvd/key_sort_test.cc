// The radix sort of symbol collection, through the in-place split that large columns take (small
// scratch forces it onto small inputs), and the directory its records' keys are then found in.
#include "qvd/key_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <utility>
#include <vector>

namespace orv {
namespace {

TEST(KeySort, SplitInPlaceSortsAsAComparisonSortDoes) {
  std::mt19937_64 rng(11);
  const struct {
    const char* name;
    size_t n;
    unsigned low;
    unsigned high;
    uint64_t (*draw)(std::mt19937_64&);
  } cases[] = {
      {"uniform keys above record bits", 200000, 20, 52, [](std::mt19937_64& g) { return g(); }},
      {"most keys in one top group", 100000, 0, 40,
       [](std::mt19937_64& g) { return g() % 10 == 0 ? g() : g() & 0xFFFFFF; }},
      {"few distinct keys", 100000, 0, 33, [](std::mt19937_64& g) { return (g() % 5) << 28; }},
      {"one key", 50000, 0, 64, [](std::mt19937_64&) { return uint64_t{42}; }},
      {"full 64-bit keys", 150000, 0, 64, [](std::mt19937_64& g) { return g(); }},
      {"fewer entries than a counted group", 100, 0, 64, [](std::mt19937_64& g) { return g(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t keyMask =
        c.high - c.low == 64 ? ~uint64_t{0} : ((uint64_t{1} << (c.high - c.low)) - 1) << c.low;
    std::vector<std::pair<uint64_t, uint32_t>> entries(c.n);
    for (size_t i = 0; i < c.n; ++i) {
      entries[i] = {c.draw(rng) & keyMask, static_cast<uint32_t>(i)};
    }
    auto keyOf = [](const std::pair<uint64_t, uint32_t>& e) { return e.first; };
    auto sorted = entries;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const size_t room : {size_t{512}, size_t{5000}, c.n}) {
      SCOPED_TRACE(room);
      auto result = entries;
      std::vector<std::pair<uint64_t, uint32_t>> scratch(room);
      key_sort::ByDigits(result.data(), result.size(), c.low, c.high, keyOf, scratch.data(), room);
      ASSERT_TRUE(std::equal(result.begin(), result.end(), sorted.begin(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }));
      // Every entry is still there once: sorted by record, they are the input again.
      std::sort(result.begin(), result.end(),
                [](const auto& a, const auto& b) { return a.second < b.second; });
      ASSERT_TRUE(result == entries);
    }
  }
}

// A large sort with workers: the groups of its first split, sorted by whoever takes them, give
// the order one thread gives, keys of every width of split included.
TEST(KeySort, LargeSortsWithWorkersOrderAsOneThread) {
  std::mt19937_64 rng(5);
  std::vector<uint32_t> keys(kLargeColumn + 1000);
  for (uint32_t& key : keys) {
    key = static_cast<uint32_t>(rng());
  }
  for (const unsigned high : {32u, 5u}) {  // a split of 8 bits; of all 5
    SCOPED_TRACE(high);
    std::vector<uint32_t> input(keys);
    for (uint32_t& key : input) {
      key &= static_cast<uint32_t>((uint64_t{1} << high) - 1);
    }
    std::vector<uint32_t> expected(input);
    std::sort(expected.begin(), expected.end());
    TaskPool pool(3);
    RadixSort(
        input, 0, high, [](uint32_t k) { return uint64_t{k}; }, &pool);
    ASSERT_TRUE(input == expected);
  }
}

// The directory finds every key at its place, whether the keys spread over their range or bunch
// up as doubles' do, when looked up in ascending order with its loads started ahead, as the
// numbering of records does, up to the last keys, whose runs end the table.
TEST(KeyDirectory, FindsEveryKeyAtItsPlace) {
  std::mt19937_64 rng(3);
  auto doubleKey = [&] {  // the bits of a double from 1 to 10,000, as an order key keeps them
    const double v = 1 + static_cast<double>(rng() % 999'900'000) / 100'000;
    uint64_t bits;
    memcpy(&bits, &v, sizeof bits);
    return bits - 0x3FF0'0000'0000'0000;
  };
  const struct {
    const char* name;
    size_t n;
    std::function<uint64_t()> draw;
  } cases[] = {
      {"one key", 1, [&] { return uint64_t{7}; }},
      {"spread", 100'000, [&] { return rng() >> 8; }},
      {"bunched", 100'000, doubleKey},
      {"few", 40, [&] { return rng() % 1000; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint64_t> keys;
    for (size_t i = 0; i < c.n; ++i) {
      keys.push_back(c.draw());
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    const unsigned bits = std::max(1u, BitWidth(keys.back()));
    const KeyDirectory<uint64_t> directory(keys.data(), keys.size(), bits);
    for (size_t j = 0; j < keys.size(); ++j) {
      directory.PrefetchRun(keys[std::min(j + 16, keys.size() - 1)]);
      directory.PrefetchKeys(keys[std::min(j + 8, keys.size() - 1)]);
      ASSERT_EQ(directory.Find(keys[j]), j);
    }
  }
}

}  // namespace
}  // namespace orv
