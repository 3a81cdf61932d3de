// Text record throughput: tokenizing and converting delimited text, and printing it back.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "runtime/input.h"
#include "runtime/output.h"
#include "types/decimal_text.h"
#include "types/type_traits_parser.h"

namespace orv {
namespace {

constexpr const char* kLayout =
    "id int; amount decimal(12,2); ratio double; day date; stamp datetime; name string";

std::string MakeRecords(size_t count) {
  std::mt19937 engine(7);
  auto random = [&engine] { return static_cast<unsigned>(engine()); };
  std::string text;
  char line[256];
  for (size_t i = 0; i < count; ++i) {
    int n =
        snprintf(line, sizeof line, "%u,%u.%02u,%.6f,20%02u-0%u-1%u,2024-01-02 03:04:%02u,name%u\n",
                 random() % 1000000, random() % 100000, random() % 100, (random() % 100000) / 7.0,
                 random() % 30, 1 + random() % 9, random() % 10, random() % 60, random() % 5000);
    text.append(line, static_cast<size_t>(n));
  }
  return text;
}

void BM_ParseTextRecords(benchmark::State& state) {
  TypeTraitsCollection fields;
  (void)TypeTraitsParser::ParseInlineFields(kLayout, fields);
  fields.Prepare();
  std::string text = MakeRecords(100000);
  for (auto _ : state) {
    MemoryInput input(text.data(), text.size());
    size_t size = 0;
    for (;;) {
      if (fields[0].Parse(input, size, true) != kStatusOk) {
        break;
      }
      for (size_t f = 1; f < fields.size(); ++f) {
        (void)fields[f].Parse(input, size, true);
      }
    }
    benchmark::DoNotOptimize(size);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseTextRecords)->Unit(benchmark::kMillisecond);

void BM_PrintTextRecords(benchmark::State& state) {
  TypeTraitsCollection fields;
  (void)TypeTraitsParser::ParseInlineFields(kLayout, fields);
  fields.Prepare();
  std::string text = MakeRecords(1);
  MemoryInput input(text.data(), text.size());
  size_t size = 0;
  for (const auto& field : fields) {
    (void)field->Parse(input, size, true);
  }
  FILE* sink = fopen("/dev/null", "wb");
  BufferedFileOutput output(sink, false);
  for (auto _ : state) {
    for (const auto& field : fields) {
      field->Print(output);
    }
  }
  output.flush();
  fclose(sink);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_PrintTextRecords);

void BM_DecimalTextRoundTrip(benchmark::State& state) {
  DecimalTextSettings settings{18, 4};
  char printed[kDecimalTextCapacity];
  __int128 value = 1234567890123;
  for (auto _ : state) {
    size_t n = FormatDecimalText(value, settings, printed);
    value = *ParseDecimalText(std::string_view(printed, n), settings) + 1;
  }
  benchmark::DoNotOptimize(value);
}
BENCHMARK(BM_DecimalTextRoundTrip);

}  // namespace
}  // namespace orv
