// Starting to load memory that is read soon.
#pragma once

namespace orv {

// Starts loading the cache line at `address` for reading; an address that is not mapped is
// ignored. On x86 this is an asm statement rather than __builtin_prefetch: GCC drops a builtin
// prefetch on some branchy paths (one of two address computations, each under its own test).
inline void PrefetchLine(const void* address) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
#else
  __builtin_prefetch(address);
#endif
}

// As PrefetchLine, for a line that is about to be written.
inline void PrefetchLineForWrite(const void* address) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetchw %0" : : "m"(*static_cast<const char*>(address)));
#else
  __builtin_prefetch(address, 1);
#endif
}

}  // namespace orv
