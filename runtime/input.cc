#include "runtime/input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orv {

namespace {

class FileDescriptorInput : public IFileInput {
 public:
  FileDescriptorInput(FILE* file, bool unbuffered, bool keepDebugDump)
      : IFileInput(keepDebugDump), fd_(fileno(file)) {
    fillSize_ = unbuffered ? 1 : 65536;
    struct stat info {};
    if (fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
      off_t position = lseek(fd_, 0, SEEK_CUR);
      if (position >= 0) {
        seekable_ = true;
        remaining_ = info.st_size > position ? static_cast<uint64_t>(info.st_size - position) : 0;
      }
    }
  }

 protected:
  long FillBuffer(char* buffer, size_t capacity) override {
    for (;;) {
      ssize_t n = ::read(fd_, buffer, capacity);
      if (n >= 0) {
        remaining_ -= std::min<uint64_t>(remaining_, static_cast<uint64_t>(n));
        return static_cast<long>(n);
      }
      if (errno != EINTR) {
        return -1;
      }
    }
  }

  long long SeekForward(uint64_t n) override {
    if (!seekable_) {
      return -1;
    }
    uint64_t step = std::min(n, remaining_);
    if (lseek(fd_, static_cast<off_t>(step), SEEK_CUR) < 0) {
      return -1;
    }
    remaining_ -= step;
    return static_cast<long long>(step);
  }

 private:
  int fd_;
  bool seekable_ = false;
  uint64_t remaining_ = 0;
};

}  // namespace

std::unique_ptr<IFileInput> IFileInput::Create(FILE* file, bool unbuffered, bool keepDebugDump,
                                               bool skipBom) {
  std::unique_ptr<IFileInput> input =
      std::make_unique<FileDescriptorInput>(file, unbuffered, keepDebugDump);
  if (skipBom) {
    // Look at up to three bytes; only a complete mark is dropped.
    static constexpr char kBom[] = "\xEF\xBB\xBF";
    while (input->end_ - input->pos_ < 3 && input->Refill(3 - (input->end_ - input->pos_))) {
    }
    if (input->end_ - input->pos_ >= 3 && memcmp(input->pos_, kBom, 3) == 0) {
      input->pos_ += 3;
    }
  }
  return input;
}

MemoryInput::MemoryInput(const void* data, size_t size, bool keepDebugDump)
    : IFileInput(keepDebugDump) {
  SetBuffer(static_cast<const char*>(data), size);
  pinned_ = true;
}

bool IFileInput::Refill(size_t wanted) {
  if (pinned_) {  // every byte is in the buffer already, which must not move
    status_ = kInputEnd;
    return false;
  }
  // Keep the unread tail and the record bytes that a dump still needs.
  if (keepDump_ && dumpMark_ != nullptr) {
    dump_.append(dumpMark_, pos_);
    dumpMark_ = nullptr;
  }
  size_t tail = static_cast<size_t>(end_ - pos_);
  bufferOffset_ += static_cast<uint64_t>(pos_ - data_);
  size_t capacity = std::max(fillSize_, wanted);
  if (storage_.size() < tail + capacity) {
    // Growing moves the storage: keep the unread tail by position, not by pointer.
    const bool tailInStorage =
        !storage_.empty() && pos_ >= storage_.data() && pos_ <= storage_.data() + storage_.size();
    const size_t tailAt = tailInStorage ? static_cast<size_t>(pos_ - storage_.data()) : 0;
    std::vector<char> grown(std::max(storage_.size() * 2, tail + capacity));
    if (tail > 0) {
      memcpy(grown.data(), tailInStorage ? storage_.data() + tailAt : pos_, tail);
    }
    storage_.swap(grown);
  } else if (tail > 0 && pos_ != storage_.data()) {
    memmove(storage_.data(), pos_, tail);
  }
  SetBuffer(storage_.data(), tail);
  if (keepDump_) {
    dumpMark_ = data_;
  }
  size_t filled = 0;
  while (filled < wanted) {
    const long n = FillChecked(storage_.data() + tail + filled,
                               fillSize_ == 1 ? wanted - filled : capacity - filled);
    if (n <= 0) {
      break;
    }
    filled += static_cast<size_t>(n);
  }
  end_ = data_ + tail + filled;
  return filled > 0;
}

// A read of at least a buffer's worth, once the buffer is empty, goes straight to `out`: the
// buffer would only grow to hold it and copy it once more.
int IFileInput::ReadSlow(char* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    if (pos_ == end_ && !pinned_ && !keepDump_ && n - done >= fillSize_) {
      size_t got = 0;
      if (!FillDirect(out + done, n - done, got)) {
        return done == 0 ? status_ : (status_ == kInputEnd ? kInputTruncated : status_);
      }
      done += got;
      continue;
    }
    if (pos_ == end_ && !Refill(n - done)) {
      return done == 0 ? status_ : (status_ == kInputEnd ? kInputTruncated : status_);
    }
    size_t step = std::min(n - done, static_cast<size_t>(end_ - pos_));
    memcpy(out + done, pos_, step);
    pos_ += step;
    done += step;
  }
  return kInputOk;
}

long IFileInput::FillChecked(char* buffer, size_t capacity) {
  const long n = FillBuffer(buffer, capacity);
  if (n < 0) {
    status_ = kInputError;
    errorNumber_ = errno;
  } else if (n == 0) {
    status_ = kInputEnd;
  }
  return n;
}

bool IFileInput::FillDirect(char* out, size_t n, size_t& got) {
  bufferOffset_ += static_cast<uint64_t>(pos_ - data_);
  SetBuffer(pos_, 0);
  const long filled = FillChecked(out, n);
  if (filled <= 0) {
    return false;
  }
  got = static_cast<size_t>(filled);
  bufferOffset_ += got;
  return true;
}

int IFileInput::Skip(uint64_t n) {
  uint64_t buffered = std::min<uint64_t>(n, static_cast<uint64_t>(end_ - pos_));
  pos_ += buffered;
  n -= buffered;
  if (n == 0) {
    return kInputOk;
  }
  bool skippedAny = buffered > 0;
  if (!keepDump_) {
    long long step = SeekForward(n);
    if (step >= 0) {
      bufferOffset_ += static_cast<uint64_t>(step);
      n -= static_cast<uint64_t>(step);
      if (n == 0) {
        return kInputOk;
      }
      status_ = kInputEnd;
      return skippedAny || step > 0 ? kInputTruncated : kInputEnd;
    }
  }
  while (n > 0) {
    if (!Refill(1)) {
      return skippedAny ? (status_ == kInputEnd ? kInputTruncated : status_) : status_;
    }
    uint64_t step = std::min<uint64_t>(n, static_cast<uint64_t>(end_ - pos_));
    pos_ += step;
    n -= step;
    skippedAny = true;
  }
  return kInputOk;
}

int IFileInput::ReadUntil(char delimiter, std::string& out) {
  out.clear();
  for (;;) {
    if (pos_ == end_ && !Refill(1)) {
      return out.empty() ? status_ : (status_ == kInputEnd ? kInputTruncated : status_);
    }
    const char* found = static_cast<const char*>(memchr(pos_, delimiter, end_ - pos_));
    if (found != nullptr) {
      out.append(pos_, found);
      pos_ = found + 1;
      return kInputOk;
    }
    out.append(pos_, end_);
    pos_ = end_;
  }
}

int IFileInput::SkipUntil(char delimiter, uint64_t& count) {
  count = 0;
  for (;;) {
    if (pos_ == end_ && !Refill(1)) {
      return count == 0 ? status_ : (status_ == kInputEnd ? kInputTruncated : status_);
    }
    const char* found = static_cast<const char*>(memchr(pos_, delimiter, end_ - pos_));
    if (found != nullptr) {
      count += static_cast<uint64_t>(found - pos_);
      pos_ = found + 1;
      return kInputOk;
    }
    count += static_cast<uint64_t>(end_ - pos_);
    pos_ = end_;
  }
}

void IFileInput::BeginRecord() {
  if (keepDump_) {
    dump_.clear();
    dumpMark_ = pos_;
  }
}

std::string IFileInput::DebugDump() const {
  std::string dump = dump_;
  if (keepDump_ && dumpMark_ != nullptr) {
    dump.append(dumpMark_, pos_);
  }
  return dump;
}

bool IFileInput::LogDebugDump(const std::string& path) const {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  std::string dump = DebugDump();
  bool ok = fwrite(dump.data(), 1, dump.size(), file) == dump.size();
  return fclose(file) == 0 && ok;
}

}  // namespace orv
