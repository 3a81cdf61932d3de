#include "runtime/large_allocator.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace orv {

namespace {

size_t MappedBytes(size_t bytes) {
  return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

// A mapping of its own for `bytes`, starting on a huge page boundary and advised to be backed by
// huge pages; its pages exist once touched. Null when there is no memory for it.
void* MapLarge(size_t bytes) {
  const size_t mapped = MappedBytes(bytes);
  if (mapped < bytes || mapped + kHugePage < mapped) {
    return nullptr;
  }
  // Map a huge page more than needed, then give back what lies before and after the first huge
  // page boundary.
  void* region = mmap(nullptr, mapped + kHugePage, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (region == MAP_FAILED) {
    return nullptr;
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

// Blocks below kLargeBytes come from malloc, so that growing one moves its pages (glibc remaps a
// block it mapped on its own) rather than copying them into fresh ones.
void* AllocateSmall(size_t bytes) {
  void* memory = malloc(std::max<size_t>(bytes, 1));
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}

}  // namespace

void* AllocateLarge(size_t bytes) {
  if (bytes < kLargeBytes) {
    return AllocateSmall(bytes);
  }
  void* memory = MapLarge(bytes);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}

void FreeLarge(void* memory, size_t bytes) noexcept {
  if (bytes < kLargeBytes) {
    free(memory);
    return;
  }
  munmap(memory, MappedBytes(bytes));
}

void* ReallocateLarge(void* memory, size_t oldBytes, size_t newBytes) {
  if (oldBytes >= kLargeBytes && newBytes > oldBytes) {
    // The old pages are moved to the start of a new mapping, which keeps its huge page boundary.
    void* grown = MapLarge(newBytes);
    const size_t mapped = MappedBytes(oldBytes);
    if (grown == nullptr ||
        mremap(memory, mapped, mapped, MREMAP_MAYMOVE | MREMAP_FIXED, grown) == MAP_FAILED) {
      if (grown != nullptr) {
        munmap(grown, MappedBytes(newBytes));
      }
      throw std::bad_alloc();
    }
    return grown;
  }
  if (oldBytes < kLargeBytes && newBytes < kLargeBytes) {
    void* grown = realloc(memory, std::max<size_t>(newBytes, 1));
    if (grown == nullptr) {
      throw std::bad_alloc();
    }
    return grown;
  }
  void* copy = AllocateLarge(newBytes);
  memcpy(copy, memory, std::min(oldBytes, newBytes));
  FreeLarge(memory, oldBytes);
  return copy;
}

void ReleaseLargePages(void* memory, size_t bytes, size_t begin, size_t end) noexcept {
  if (bytes < kLargeBytes) {
    return;
  }
  constexpr uintptr_t kPage = 4096;
  const auto start = reinterpret_cast<uintptr_t>(memory);
  const uintptr_t from = (start + begin + kPage - 1) & ~(kPage - 1);
  const uintptr_t to = end >= bytes ? start + MappedBytes(bytes) : (start + end) & ~(kPage - 1);
  if (from < to) {
    madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  }
}

void ReleaseLargeRoom(void* memory, size_t bytes, size_t used) noexcept {
  // The huge pages that hold the values; the room after them goes back whole.
  const size_t held = std::min(MappedBytes(bytes), MappedBytes(used));
  const bool mostlyRoom = used < held && held - used > used / 4;
  ReleaseLargePages(memory, bytes, mostlyRoom ? used : held, bytes);
}

bool LargeBuffer::Reserve(size_t size) {
  Release();
  void* p = MapLarge(std::max<size_t>(size, 1));
  if (p == nullptr) {
    return false;
  }
  data_ = static_cast<char*>(p);
  size_ = size;
  mapped_ = true;
  return true;
}

bool LargeBuffer::Allocate(size_t size) {
  if (size >= kLargeBytes && Reserve(size)) {
    return true;
  }
  Release();
  data_ = new (std::nothrow) char[std::max<size_t>(size, 1)]();
  size_ = data_ != nullptr ? size : 0;
  return data_ != nullptr;
}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

void LargeBuffer::Release() {
  if (data_ != nullptr) {
    if (mapped_) {
      munmap(data_, MappedBytes(std::max<size_t>(size_, 1)));
    } else {
      delete[] data_;
    }
  }
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

}  // namespace orv
