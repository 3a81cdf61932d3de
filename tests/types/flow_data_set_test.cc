// Column store of one field's values, filled from text tokens or the binary record stream.
#include "types/flow_data_set.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/types/test_support.h"
#include "types/integral.h"

namespace orv {
namespace {

using V = std::vector<std::string>;

// Each value of a store as "null" or its bytes in hex.
V Values(const FlowDataSet& set) {
  V values;
  for (size_t i = 0; i < set.size(); ++i) {
    auto [data, size] = set.ValueAt(i);
    values.push_back(data == nullptr ? "null" : "[" + test::ToHex({data, size}) + "]");
  }
  return values;
}

// Reads values until the input ends; each value as "null" or its bytes in hex.
V ReadAll(const char* layout, const std::string& bytes, bool text, int lastStatus = kStatusEnd) {
  TypeTraitsCollection fields = test::Layout(layout);
  MemoryInput input(bytes.data(), bytes.size());
  std::unique_ptr<FlowDataSet> set = FlowDataSet::Create(fields[0], text);
  int status;
  while ((status = set->ReadValue(input)) == kStatusOk) {
  }
  EXPECT_EQ(status, lastStatus);
  return Values(*set);
}

TEST(FlowDataSet, StoresIntsStringsAndDecimalsWithTheirNulls) {
  EXPECT_EQ(ReadAll("v int nullable", "5\n\n-7\n", true),
            (V{"[05 00 00 00]", "null", "[f9 ff ff ff]"}));
  EXPECT_EQ(ReadAll("v int", "1\nx\n", true, kStatusBad), V{"[01 00 00 00]"});
  EXPECT_EQ(ReadAll("v string null=\"NULL\"", "a\n\nNULL\nbc\n", true),
            (V{"[61]", "[]", "null", "[62 63]"}));
  EXPECT_EQ(ReadAll("v string(2) nullable", "\nab\n", true), (V{"null", "[61 62]"}));
  const std::string stream = test::Hex("00 6a ff ff ff ff ff ff ff 01 00 39 30 00 00 00 00 00 00");
  EXPECT_EQ(ReadAll("v decimal(10,2) nullable", stream, false),
            (V{"[6a ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff]", "null",
               "[39 30 00 00 00 00 00 00 00 00 00 00 00 00 00 00]"}));
}

// Gives its bytes one at a time, so that no value is ever whole in the buffer.
class TrickleInput : public IFileInput {
 public:
  explicit TrickleInput(std::string bytes) : IFileInput(false), bytes_(std::move(bytes)) {}

 protected:
  long FillBuffer(char* buffer, size_t /*capacity*/) override {
    if (given_ == bytes_.size()) {
      return 0;
    }
    buffer[0] = bytes_[given_++];
    return 1;
  }

 private:
  std::string bytes_;
  size_t given_ = 0;
};

// Binary values taken straight from a buffer that holds them whole are stored as the descriptor
// reads them a byte at a time, up to the same failure: nulls, damaged flag bytes, invalid dates,
// lengths past the end.
TEST(FlowDataSet, BinaryValuesFromTheBufferEqualThoseTheDescriptorReads) {
  const struct {
    const char* layout;
    const char* stream;
    int lastStatus;
    size_t values;
  } cases[] = {
      {"v int nullable", "00 05 00 00 00 01 00 f9 ff ff ff", kStatusEnd, 3},
      {"v int nullable", "00 05 00 00 00 02 07 00 00 00", kStatusBad, 1},
      {"v date nullable", "01 00 1f 01 e5 07 00 02 0d e5 07", kStatusBad, 2},
      {"v decimal(10,2) nullable", "01 00 6a ff ff ff ff ff ff ff", kStatusEnd, 2},
      {"v string nullable", "00 02 00 00 00 61 62 01 00 00 00 00 00", kStatusEnd, 3},
      {"v string", "01 00 00 00 00 05 00 00 00 61", kStatusBad, 1},
      {"v string(2) nullable", "00 61 62 01", kStatusEnd, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.layout) + ": " + c.stream);
    const std::string stream = test::Hex(c.stream);
    const V whole = ReadAll(c.layout, stream, false, c.lastStatus);
    EXPECT_EQ(whole.size(), c.values);
    TypeTraitsCollection fields = test::Layout(c.layout);
    std::unique_ptr<FlowDataSet> set = FlowDataSet::Create(fields[0], false);
    TrickleInput input(stream);
    int status;
    while ((status = set->ReadValue(input)) == kStatusOk) {
    }
    EXPECT_EQ(status, c.lastStatus);
    EXPECT_EQ(Values(*set), whole);
  }
}

TEST(FlowDataSet, EmptyStringIsNotNullBeforeAnyByteIsStored) {
  EXPECT_EQ(ReadAll("v string null=\"NULL\"", "\n", true), V{"[]"});
  EXPECT_EQ(ReadAll("v string", "\n\n", true), (V{"[]", "[]"}));
  EXPECT_EQ(ReadAll("v string null=\"NULL\"", "NULL\n\n", true), (V{"null", "[]"}));
}

TEST(FlowDataSet, AMillionIntsCostAboutFourBytesEach) {
  for (const char* layout : {"v int", "v int nullable"}) {
    TypeTraitsCollection fields = test::Layout(layout);
    auto& field = static_cast<IntegralTypeTraits<int>&>(fields[0]);
    std::unique_ptr<FlowDataSet> set = FlowDataSet::Create(field, true);
    for (int i = 0; i < 1000000; ++i) {
      field.SetValue(i * 7);
      set->StoreCurrent();
    }
    EXPECT_GT(set->MemoryUsage(), 4000000u) << layout;
    EXPECT_LT(set->MemoryUsage(), 8500000u) << layout;
    ASSERT_EQ(set->size(), 1000000u);
    EXPECT_EQ(test::ToHex({set->ValueAt(999999).first, 4}), "b9 cf 6a 00");  // 6999993
  }
}

// Ends take 4 bytes while the strings' bytes stay under 4 GiB, and 8 from the end past it on,
// whichever way they come: pushed one by one, or set in room made for them.
TEST(StringEnds, WidenOnceTheBytesPass4GiB) {
  const uint64_t past = uint64_t{UINT32_MAX} + 10;
  StringEnds pushed;
  pushed.push_back(7);
  pushed.push_back(UINT32_MAX);
  EXPECT_EQ(pushed.MemoryUsage() / pushed.capacity(), 4u);
  pushed.push_back(past);
  EXPECT_EQ(pushed.MemoryUsage() / pushed.capacity(), 8u);
  EXPECT_EQ(pushed.size(), 3u);
  EXPECT_EQ(pushed[0], 7u);
  EXPECT_EQ(pushed[1], uint64_t{UINT32_MAX});
  EXPECT_EQ(pushed[2], past);
  for (uint64_t bytes : {uint64_t{UINT32_MAX}, past}) {
    StringEnds placed;
    placed.push_back(5);
    EXPECT_EQ(placed.Holds(bytes), bytes <= UINT32_MAX);
    placed.resize(3, bytes);
    EXPECT_TRUE(placed.Holds(bytes));
    placed.place().Set(1, 6);
    placed.place().Set(2, bytes);
    EXPECT_EQ(placed[0], 5u);
    EXPECT_EQ(placed[1], 6u);
    EXPECT_EQ(placed[2], bytes);
  }
}

// Values read in two pieces and copied in one after the other give what one store reading them
// all gives, at every split (null bits of a piece that starts inside a 64-bit word, empty pieces,
// a cleared store).
TEST(FlowDataSet, AppendedPiecesEqualOneStore) {
  for (const char* layout : {"v int nullable", "v string nullable", "v string(2) nullable"}) {
    std::string text;
    std::vector<size_t> lineStarts;
    for (int i = 0; i < 150; ++i) {
      lineStarts.push_back(text.size());
      text += i % 3 == 0 ? "\n" : std::to_string(i % 90 + 10) + "\n";
    }
    lineStarts.push_back(text.size());
    const V whole = ReadAll(layout, text, true);
    for (size_t split : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{100}, size_t{150}}) {
      SCOPED_TRACE(std::string(layout) + " split at " + std::to_string(split));
      const size_t at = lineStarts[split];
      TypeTraitsCollection fields = test::Layout(layout);
      std::unique_ptr<FlowDataSet> all = FlowDataSet::Create(fields[0], true);
      std::unique_ptr<FlowDataSet> piece = FlowDataSet::Create(fields[0], true);
      for (const std::string& part : {std::string("99\n"), text.substr(0, at), text.substr(at)}) {
        piece->Clear();
        MemoryInput input(part.data(), part.size());
        while (piece->ReadValue(input) == kStatusOk) {
        }
        const size_t first = all->size();
        const size_t firstByte = all->bytes();
        all->Extend(first + piece->size(), firstByte + piece->bytes());
        all->CopyAt(all->room(), *piece, first, firstByte);
        if (part == "99\n") {
          all->Clear();  // a cleared store takes values as a new one
        }
      }
      EXPECT_EQ(Values(*all), whole);
    }
  }
}

// Pieces copied into a store at once from several threads, each at its own place, last piece
// first: the store equals one that read them all, null bits shared by neighbouring pieces too.
TEST(FlowDataSet, PiecesCopiedAtTheirPlacesFromThreadsEqualOneStore) {
  for (const char* layout : {"v int nullable", "v string nullable"}) {
    SCOPED_TRACE(layout);
    TypeTraitsCollection fields = test::Layout(layout);
    std::string text;
    std::vector<std::unique_ptr<FlowDataSet>> pieces;
    size_t records = 0;
    size_t bytes = 0;
    for (const size_t count : {1, 63, 64, 65, 7, 130, 0, 100}) {
      std::string part;
      for (size_t i = 0; i < count; ++i) {
        part += (records + i) % 5 == 0 ? "\n" : std::to_string((records + i) * 7 % 1000) + "\n";
      }
      text += part;
      pieces.push_back(FlowDataSet::Create(fields[0], true));
      MemoryInput input(part.data(), part.size());
      while (pieces.back()->ReadValue(input) == kStatusOk) {
      }
      records += pieces.back()->size();
      bytes += pieces.back()->bytes();
    }
    std::unique_ptr<FlowDataSet> all = FlowDataSet::Create(fields[0], true);
    ASSERT_FALSE(all->Fits(records, bytes));
    all->Extend(records, bytes);
    ASSERT_TRUE(all->Fits(records, bytes));
    std::vector<std::thread> threads;
    for (size_t p = pieces.size(), first = records, firstByte = bytes; p-- > 0;) {
      first -= pieces[p]->size();
      firstByte -= pieces[p]->bytes();
      threads.emplace_back(
          [&, p, first, firstByte] { all->CopyAt(all->room(), *pieces[p], first, firstByte); });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    EXPECT_EQ(Values(*all), ReadAll(layout, text, true));
  }
}

}  // namespace
}  // namespace orv
