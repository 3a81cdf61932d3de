#include "runtime/large_allocator.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace orv {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t MappedBytes(size_t bytes) {
  return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

void* AllocateLarge(size_t bytes) {
  if (bytes < kLargeBytes) {
    return ::operator new(bytes);
  }
  // Map a huge page more than needed, then give back what lies before and after the first huge
  // page boundary, so that the array starts on one.
  const size_t mapped = MappedBytes(bytes);
  if (mapped < bytes || mapped + kHugePage < mapped) {
    throw std::bad_alloc();
  }
  void* region =
      mmap(nullptr, mapped + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) {
    throw std::bad_alloc();
  }
  const auto start = reinterpret_cast<uintptr_t>(region);
  const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
  if (aligned > start) {
    munmap(region, aligned - start);
  }
  if (const size_t after = start + kHugePage - aligned; after > 0) {
    munmap(reinterpret_cast<void*>(aligned + mapped), after);
  }
  auto* memory = reinterpret_cast<void*>(aligned);
  madvise(memory, mapped, MADV_HUGEPAGE);  // only advice: small pages serve as well
  return memory;
}

void FreeLarge(void* memory, size_t bytes) noexcept {
  if (bytes < kLargeBytes) {
    ::operator delete(memory);
    return;
  }
  munmap(memory, MappedBytes(bytes));
}

}  // namespace orv
