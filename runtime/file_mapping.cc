#include "runtime/file_mapping.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace orv {

namespace {

// The mapped ranges that a SIGBUS may fall in, and the first page lost in one of them. A SIGBUS
// outside them keeps its default effect.
constexpr size_t kMaxMappings = 256;
std::atomic<uintptr_t> g_mappingStart[kMaxMappings];
std::atomic<uintptr_t> g_mappingEnd[kMaxMappings];
std::atomic<uintptr_t> g_lostPage{0};
uintptr_t g_pageSize = 4096;

void OnBusError(int, siginfo_t* info, void*) {
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (size_t i = 0; i < kMaxMappings; ++i) {
    if (address >= g_mappingStart[i].load() && address < g_mappingEnd[i].load()) {
      const uintptr_t page = address & ~(g_pageSize - 1);
      if (mmap(reinterpret_cast<void*>(page), g_pageSize, PROT_READ,
               MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) {
        uintptr_t none = 0;
        g_lostPage.compare_exchange_strong(none, page);
        return;
      }
      break;
    }
  }
  signal(SIGBUS, SIG_DFL);  // the access faults again, with the default effect
}

// A slot in the table of mapped ranges, the handler installed; kMaxMappings when none is free.
size_t RegisterMapping(uintptr_t start, uintptr_t end) {
  static const bool installed = [] {
    g_pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  for (size_t i = 0; installed && i < kMaxMappings; ++i) {
    uintptr_t none = 0;
    if (g_mappingEnd[i].load() == 0 && g_mappingStart[i].compare_exchange_strong(none, start)) {
      g_mappingEnd[i].store(end);
      return i;
    }
  }
  return kMaxMappings;
}

}  // namespace

bool FileMapping::Map(int fd, uint64_t position, size_t length, bool sequential) {
  const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const auto delta = static_cast<size_t>(position % page);
  if (start_ != nullptr || length == 0 || length > SIZE_MAX - delta) {
    return false;
  }
  void* p = mmap(nullptr, length + delta, PROT_READ, MAP_PRIVATE, fd,
                 static_cast<off_t>(position - delta));
  if (p == MAP_FAILED) {
    return false;
  }
  const auto start = reinterpret_cast<uintptr_t>(p);
  slot_ = RegisterMapping(start, start + length + delta);
  if (slot_ == kMaxMappings) {
    munmap(p, length + delta);
    return false;
  }
  start_ = static_cast<char*>(p);
  length_ = length + delta;
  delta_ = delta;
  madvise(p, length_, sequential ? MADV_SEQUENTIAL : MADV_RANDOM);
  return true;
}

FileMapping::~FileMapping() {
  if (start_ == nullptr) {
    return;
  }
  if (Lost()) {
    g_lostPage.store(0);
  }
  g_mappingEnd[slot_].store(0);
  g_mappingStart[slot_].store(0);
  munmap(start_, length_);
}

bool FileMapping::LostIn(const void* begin, size_t size) {
  const uintptr_t page = g_lostPage.load(std::memory_order_relaxed);
  const auto start = reinterpret_cast<uintptr_t>(begin);
  return begin != nullptr && page != 0 && page + g_pageSize > start && page < start + size;
}

bool FileMapping::AnyLost() {
  return g_lostPage.load(std::memory_order_relaxed) != 0;
}

void FileMapping::Drop(const char* begin, const char* end) {
  const auto first = (reinterpret_cast<uintptr_t>(begin) + g_pageSize - 1) & ~(g_pageSize - 1);
  const auto last = reinterpret_cast<uintptr_t>(end) & ~(g_pageSize - 1);
  if (first < last) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
  }
}

void FileMapping::Populate(const char* begin, const char* end) {
#ifdef MADV_POPULATE_READ
  const auto first = reinterpret_cast<uintptr_t>(begin) & ~(g_pageSize - 1);
  const auto last = reinterpret_cast<uintptr_t>(end);
  if (first < last) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_READ);
  }
#else
  (void)begin;
  (void)end;
#endif
}

std::unique_ptr<MappedFileInput> MappedFileInput::Open(FILE* file) {
  const int fd = fileno(file);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return nullptr;
  }
  const off_t position = ftello(file);
  if (position < 0 || info.st_size <= position ||
      static_cast<uint64_t>(info.st_size - position) > SIZE_MAX / 2) {
    return nullptr;
  }
  auto mapping = std::make_unique<FileMapping>();
  if (!mapping->Map(fd, static_cast<uint64_t>(position),
                    static_cast<size_t>(info.st_size - position), true)) {
    return nullptr;
  }
  // A descriptor of its own, for CopyOut: the file's may be closed, and its number reused, first.
  const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  return std::unique_ptr<MappedFileInput>(
      new MappedFileInput(std::move(mapping), own, static_cast<uint64_t>(position)));
}

MappedFileInput::MappedFileInput(std::unique_ptr<FileMapping> mapping, int fd, uint64_t position)
    : MemoryInput(mapping->data(), mapping->size()),
      mapping_(std::move(mapping)),
      fd_(fd),
      position_(position) {}

MappedFileInput::~MappedFileInput() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

// Reads the bytes from the file, which leaves the mapping's pages untouched; a file that ends
// before them (it shrank) or a failed read leaves them to be read in the mapping.
bool MappedFileInput::CopyOut(const char* at, size_t n, char* out) {
  const char* begin = mapping_->data();
  if (fd_ < 0 || at < begin || n > mapping_->size() ||
      static_cast<size_t>(at - begin) > mapping_->size() - n) {
    return false;
  }
  const uint64_t offset = position_ + static_cast<uint64_t>(at - begin);
  for (size_t done = 0; done < n;) {
    const ssize_t got = pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got <= 0) {
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

std::unique_ptr<IFileInput> OpenProgramInput(FILE* file, bool mapped, bool unbuffered,
                                             bool keepDebugDump, bool skipBom) {
  std::unique_ptr<MappedFileInput> input;
  if (mapped && !unbuffered && !keepDebugDump) {
    input = MappedFileInput::Open(file);
  }
  if (input == nullptr) {
    return IFileInput::Create(file, unbuffered, keepDebugDump, skipBom);
  }
  static constexpr char kBom[] = "\xEF\xBB\xBF";
  if (skipBom && input->Ensure(3) && memcmp(input->BufferPos(), kBom, 3) == 0) {
    input->Advance(3);
  }
  return input;
}

}  // namespace orv
