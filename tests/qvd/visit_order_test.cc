// The visit order of a column's values is the order std::partition leaves them in when it moves
// the nulls to the front: ties (NaNs, strings a collation calls equal) depend on it.
#include "qvd/visit_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "types/type_traits_parser.h"

namespace orv {
namespace {

TEST(VisitOrder, MatchesPartitioningTheNullsToTheFront) {
  std::mt19937 rng(11);
  for (const unsigned nullPercent : {0u, 10u, 50u, 90u, 100u}) {
    for (const size_t records : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, size_t{300}}) {
      SCOPED_TRACE(std::to_string(records) + " records, " + std::to_string(nullPercent) + "%");
      std::string text;
      for (size_t r = 0; r < records; ++r) {
        text += rng() % 100 < nullPercent ? "\n" : std::to_string(r) + "\n";
      }
      TypeTraitsCollection layout;
      ASSERT_EQ(TypeTraitsParser::ParseInlineFields("a int nullable", layout), std::nullopt);
      layout.Prepare();
      auto data = FlowDataSet::Create(layout[0], true);
      MemoryInput input(text.data(), text.size());
      while (data->ReadValue(input) == kStatusOk) {
      }
      std::vector<uint64_t> partitioned(records);
      std::iota(partitioned.begin(), partitioned.end(), 0);
      auto values = std::partition(partitioned.begin(), partitioned.end(),
                                   [&](uint64_t r) { return data->ValueAt(r).first == nullptr; });
      const auto nulls = static_cast<uint64_t>(values - partitioned.begin());
      std::vector<uint64_t> visited;
      VisitOrder(*data, records, nulls).ForEach([&](uint64_t r) {
        visited.push_back(r);
        return true;
      });
      EXPECT_EQ(visited, std::vector<uint64_t>(values, partitioned.end()));
    }
  }
}

}  // namespace
}  // namespace orv
