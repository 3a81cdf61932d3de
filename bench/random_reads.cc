// The memory floor of decoding rows that name symbols at random: per row, one read of a random
// entry in each of several tables (sized as a reader's per-symbol output tables), copied to an
// output buffer, in batches with the entries' loading started ahead, as drawoff does. A table
// given as SYMBOLS:WIDTH:inorder is read in order instead (row r reads entry r modulo SYMBOLS), as
// a field of unique ids in record order is.
// Usage: random_reads ROWS SYMBOLS:WIDTH[:inorder]...  Prints the seconds of the reading loop.
#include <sys/mman.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Table {
  uint64_t symbols;
  size_t width;
  bool inOrder;
  char* bytes;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: random_reads ROWS SYMBOLS:WIDTH[:inorder]...\n");
    return 2;
  }
  const uint64_t rows = strtoull(argv[1], nullptr, 10);
  std::vector<Table> tables;
  for (int i = 2; i < argc; ++i) {
    char* colon = nullptr;
    Table t{strtoull(argv[i], &colon, 10), 0, false, nullptr};
    char* end = colon;
    t.width = *colon == ':' ? strtoull(colon + 1, &end, 10) : 0;
    t.inOrder = strcmp(end, ":inorder") == 0;
    if (t.symbols == 0 || t.width == 0 || t.width > 64 || (*end != 0 && !t.inOrder)) {
      fprintf(stderr, "bad table: %s\n", argv[i]);
      return 2;
    }
    const size_t size = t.symbols * t.width + 64;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
      return 1;
    }
    madvise(p, size, MADV_HUGEPAGE);
    t.bytes = static_cast<char*>(p);
    memset(t.bytes, 1, size);
    tables.push_back(t);
  }
  // The symbol numbers of every row, drawn up front (a reader takes them from the row bits).
  std::mt19937_64 random(1);
  std::vector<uint32_t> numbers(rows * tables.size());
  for (uint64_t r = 0; r < rows; ++r) {
    for (size_t k = 0; k < tables.size(); ++k) {
      const uint64_t n = tables[k].inOrder ? r : random();
      numbers[r * tables.size() + k] = static_cast<uint32_t>(n % tables[k].symbols);
    }
  }
  constexpr uint64_t kBatch = 256;
  std::vector<const char*> entries(kBatch * tables.size());
  std::vector<char> out(65536);
  FILE* sink = fopen("/dev/null", "wb");
  size_t used = 0;
  const auto start = std::chrono::steady_clock::now();
  for (uint64_t r0 = 0; r0 < rows; r0 += kBatch) {
    const uint64_t n = std::min(kBatch, rows - r0);
    for (size_t k = 0; k < tables.size(); ++k) {
      for (uint64_t r = 0; r < n; ++r) {
        const char* at = tables[k].bytes + numbers[(r0 + r) * tables.size() + k] * tables[k].width;
        entries[k * kBatch + r] = at;
        __builtin_prefetch(at);
      }
    }
    for (uint64_t r = 0; r < n; ++r) {
      if (out.size() - used < 64 * tables.size()) {
        fwrite(out.data(), 1, used, sink);
        used = 0;
      }
      for (size_t k = 0; k < tables.size(); ++k) {
        memcpy(out.data() + used, entries[k * kBatch + r], tables[k].width);
        used += tables[k].width;
      }
    }
  }
  fwrite(out.data(), 1, used, sink);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  fclose(sink);
  printf("%.4f\n", seconds);
  return 0;
}
