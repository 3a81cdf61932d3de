// Read-only mappings of files, and an input that reads a whole regular file through one.
//
// A mapped file that shrinks while it is read raises SIGBUS at the first touch of a lost page. A
// handler puts a page of zeros in its place, so that the read goes on, and notes the page; readers
// ask Lost before they let what they read go out, and report the file as unreadable instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "runtime/input.h"

namespace orv {

class FileMapping {
 public:
  FileMapping() = default;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  ~FileMapping();

  // Maps `length` (> 0) bytes of the file `fd` from byte `position`; false when the system refuses
  // or too many mappings are held already (the caller then reads the bytes another way).
  // `sequential`: the bytes will mostly be read in order, so the kernel may read ahead.
  bool Map(int fd, uint64_t position, size_t length, bool sequential);

  const char* data() const { return start_ != nullptr ? start_ + delta_ : nullptr; }
  size_t size() const { return length_ - delta_; }
  // Whether a page of this mapping was lost (read as zeros) because the file shrank.
  bool Lost() const { return LostIn(start_, length_); }

  // Whether a lost page overlaps [begin, begin + size); AnyLost for any mapping.
  static bool LostIn(const void* begin, size_t size);
  static bool AnyLost();
  // Hands back the pages that lie wholly inside [begin, end) of a mapping: reading them again
  // maps them from the file anew.
  static void Drop(const char* begin, const char* end);
  // Maps the pages of [begin, end) of a mapping in one call. Only advice: a page lost meanwhile
  // is found, as ever, when it is read.
  static void Populate(const char* begin, const char* end);

 private:
  char* start_ = nullptr;
  size_t length_ = 0;  // of the mapping, from start_
  size_t delta_ = 0;   // the mapped bytes' first within the mapping (page alignment)
  size_t slot_ = 0;    // in the table of mapped ranges
};

// The whole of a regular file from its current position, read through a mapping: every byte is
// in the buffer (Pinned), and bytes handed back with Discard leave the process's memory.
class MappedFileInput : public MemoryInput {
 public:
  // Null where `file` is not a regular file with bytes left, or can't be mapped.
  static std::unique_ptr<MappedFileInput> Open(FILE* file);

  void Discard(const char* begin, const char* end) override { FileMapping::Drop(begin, end); }
  void Prefault(const char* begin, const char* end) override { FileMapping::Populate(begin, end); }
  bool Lost() const { return mapping_->Lost(); }
  bool CopyOut(const char* at, size_t n, char* out) override;
  ~MappedFileInput() override;
  MappedFileInput(const MappedFileInput&) = delete;
  MappedFileInput& operator=(const MappedFileInput&) = delete;

 private:
  MappedFileInput(std::unique_ptr<FileMapping> mapping, int fd, uint64_t position);

  std::unique_ptr<FileMapping> mapping_;
  int fd_;             // a duplicate of the file's, or -1
  uint64_t position_;  // of the mapping's first byte in the file
};

// The input of a program that reads `file` once, from where it stands: with `mapped`, a mapping
// of a regular file where one can be had and the input may read ahead (no debug dump); else
// reads, as IFileInput::Create makes them. `skipBom` drops a UTF-8 byte-order mark at the start.
std::unique_ptr<IFileInput> OpenProgramInput(FILE* file, bool mapped, bool unbuffered,
                                             bool keepDebugDump, bool skipBom);

}  // namespace orv
