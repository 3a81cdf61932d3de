// Record readers over memory, regular files and pipes.
#include "runtime/input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "runtime/file_mapping.h"

namespace orv {
namespace {

// A temporary regular file holding `bytes`, positioned at its start.
FILE* FileWith(const std::string& bytes) {
  FILE* file = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), file);
  rewind(file);
  return file;
}

TEST(Input, ReadUntilAndSkipUntilReportAMissingDelimiter) {
  const std::string text = "ab,cd";
  MemoryInput input(text.data(), text.size()), skipping(text.data(), text.size());
  std::string out;
  uint64_t count = 0;
  EXPECT_EQ(input.ReadUntil(',', out), kInputOk);
  EXPECT_EQ(out, "ab");
  EXPECT_EQ(input.BytesConsumed(), 3u);
  EXPECT_EQ(input.ReadUntil(',', out), kInputTruncated);
  EXPECT_EQ(out, "cd");
  EXPECT_EQ(input.BytesConsumed(), 5u);
  EXPECT_EQ(input.ReadUntil(',', out), kInputEnd);
  EXPECT_EQ(skipping.SkipUntil(',', count), kInputOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(skipping.SkipUntil(',', count), kInputTruncated);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(skipping.SkipUntil(',', count), kInputEnd);
}

// The same reads and skips over memory, a seekable file, a file read with a debug dump (which
// reads instead of seeking) and an unbuffered file.
TEST(Input, SkipAndReadAgreeOnEverySource) {
  std::string data(200000, 0);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>(i * 31 + i / 7);
  }
  for (int source = 0; source < 4; ++source) {
    SCOPED_TRACE("source " + std::to_string(source));
    FILE* file = source == 0 ? nullptr : FileWith(data);
    std::unique_ptr<IFileInput> input =
        file == nullptr ? std::make_unique<MemoryInput>(data.data(), data.size())
                        : IFileInput::Create(file, source == 3, source == 2, false);
    char c = 0;
    std::string block(40000, 0);
    EXPECT_EQ(input->Skip(4), kInputOk);
    EXPECT_EQ(input->ReadByte(c), kInputOk);
    EXPECT_EQ(c, data[4]);
    EXPECT_EQ(input->Skip(150000), kInputOk);
    EXPECT_EQ(input->BytesConsumed(), 150005u);
    ASSERT_EQ(input->Read(block.data(), block.size()), kInputOk);
    EXPECT_TRUE(block == data.substr(150005, block.size()));
    EXPECT_EQ(input->Skip(100000), kInputTruncated);
    EXPECT_EQ(input->BytesConsumed(), 200000u);
    EXPECT_EQ(input->Skip(1), kInputEnd);
    EXPECT_EQ(input->ReadByte(c), kInputEnd);
    if (file != nullptr) {
      fclose(file);
    }
  }
}

// Reads of any size give the bytes in order and count them, whether they come through the buffer
// or, into an empty one, straight from the source (a pipe gives them a piece at a time); the
// input ending inside a read is reported as truncated, after the bytes it had.
TEST(Input, ReadsOfAnySizeKeepTheOrderAndTheCount) {
  std::string data(500000, 0);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>(i * 13 + i / 11);
  }
  const size_t steps[] = {3, 70000, 65536, 10, 200000, 150000};
  for (int source = 0; source < 4; ++source) {  // file, unbuffered, with a debug dump, pipe
    SCOPED_TRACE("source " + std::to_string(source));
    int fds[2] = {-1, -1};
    ASSERT_EQ(source < 3 || pipe(fds) == 0, true);
    std::thread writer([&] {
      if (source == 3) {
        for (size_t at = 0; at < data.size(); at += 4096) {
          ASSERT_GT(write(fds[1], data.data() + at, std::min<size_t>(4096, data.size() - at)), 0);
        }
        close(fds[1]);
      }
    });
    FILE* file = source < 3 ? FileWith(data) : fdopen(fds[0], "rb");
    auto input = IFileInput::Create(file, source == 1, source == 2, false);
    size_t at = 0;
    std::string block;
    for (const size_t step : steps) {
      block.assign(step, '\0');
      ASSERT_EQ(input->Read(block.data(), step), kInputOk);
      EXPECT_TRUE(block == data.substr(at, step)) << at;
      at += step;
      EXPECT_EQ(input->BytesConsumed(), at);
    }
    block.assign(100000, '\0');
    EXPECT_EQ(input->Read(block.data(), block.size()), kInputTruncated);
    EXPECT_TRUE(block.substr(0, data.size() - at) == data.substr(at));
    EXPECT_EQ(input->BytesConsumed(), data.size());
    EXPECT_EQ(input->Read(block.data(), 1), kInputEnd);
    writer.join();
    fclose(file);
  }
}

TEST(Input, DebugDumpKeepsTheRecordAcrossBufferRefills) {
  const std::string record = std::string(140000, 'b') + "\n";
  FILE* file = FileWith(std::string(65530, 'a') + "\n" + record + "tail\n");
  std::unique_ptr<IFileInput> input = IFileInput::Create(file, false, true, false);
  std::string out;
  ASSERT_EQ(input->ReadUntil('\n', out), kInputOk);
  input->BeginRecord();
  ASSERT_EQ(input->ReadUntil('\n', out), kInputOk);
  EXPECT_TRUE(input->DebugDump() == record) << input->DebugDump().size();
  char path[] = "/tmp/orv_dump_XXXXXX";
  close(mkstemp(path));
  ASSERT_TRUE(input->LogDebugDump(path));
  std::ostringstream written;
  written << std::ifstream(path, std::ios::binary).rdbuf();
  remove(path);
  EXPECT_TRUE(written.str() == record);
  input->BeginRecord();
  ASSERT_EQ(input->ReadUntil('\n', out), kInputOk);
  EXPECT_EQ(input->DebugDump(), "tail\n");
  fclose(file);
}

// Ensure keeps the unread bytes when the buffer must grow to hold them; the bytes come back in
// order across every refill.
TEST(Input, EnsureKeepsTheUnreadTailWhenTheBufferGrows) {
  std::string bytes(300000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(i * 7 % 251);
  }
  FILE* file = FileWith(bytes);
  auto input = IFileInput::Create(file, false, false, false);
  size_t at = 0;
  for (size_t step : {65530u, 13u, 70000u, 3u, 100000u}) {
    ASSERT_TRUE(input->Ensure(step + 9));
    ASSERT_EQ(std::string(input->BufferPos(), step + 9), bytes.substr(at, step + 9));
    input->Advance(step);
    at += step;
  }
  EXPECT_EQ(input->BytesConsumed(), at);
  fclose(file);
}

TEST(Input, SkipsOnlyACompleteByteOrderMark) {
  const std::string bom = "\xEF\xBB\xBF";
  struct Row {
    std::string bytes;
    bool skipBom, unbuffered;
    std::string expected;
  } rows[] = {{bom + "abc", true, false, "abc"},    {bom + "abc", true, true, "abc"},
              {bom + "a", false, false, bom + "a"}, {"\xEF\xBBx", true, false, "\xEF\xBBx"},
              {"\xEF\xBB", true, true, "\xEF\xBB"}, {bom, true, false, ""}};
  for (const Row& row : rows) {
    FILE* file = FileWith(row.bytes);
    std::string out;
    IFileInput::Create(file, row.unbuffered, false, row.skipBom)->ReadUntil('\n', out);
    EXPECT_EQ(out, row.expected);
    fclose(file);
  }
  // Unbuffered input reads no byte beyond what is asked for; the mark is still skipped.
  for (bool unbuffered : {true, false}) {
    FILE* file = FileWith(bom + "line1\nline2\n");
    std::unique_ptr<IFileInput> input = IFileInput::Create(file, unbuffered, false, true);
    std::string out;
    char two[2];
    ASSERT_EQ(input->ReadUntil('\n', out), kInputOk);
    EXPECT_EQ(out, "line1");
    EXPECT_EQ(lseek(fileno(file), 0, SEEK_CUR), unbuffered ? 9 : 15);
    ASSERT_EQ(input->Read(two, 2), kInputOk);
    EXPECT_EQ(lseek(fileno(file), 0, SEEK_CUR), unbuffered ? 11 : 15);
    fclose(file);
  }
}

TEST(MappedFileInput, HoldsTheRestOfARegularFileInPlace) {
  const std::string bytes(10000, 'x');
  struct Case {
    long skip;  // bytes the file was read past before it is mapped
    bool mapped;
  };
  for (const Case& c : {Case{0, true}, Case{4099, true}, Case{10000, false}}) {
    SCOPED_TRACE(c.skip);
    FILE* file = FileWith(bytes);
    ASSERT_EQ(fseek(file, c.skip, SEEK_SET), 0);
    std::unique_ptr<MappedFileInput> input = MappedFileInput::Open(file);
    ASSERT_EQ(input != nullptr, c.mapped);  // no bytes left: read the usual way
    if (input != nullptr) {
      EXPECT_TRUE(input->Pinned());
      const char* start = input->BufferPos();
      EXPECT_EQ(std::string(start, input->BufferEnd()), bytes.substr(c.skip));
      // Past the end: the bytes stay where they are.
      EXPECT_FALSE(input->Ensure(bytes.size() - static_cast<size_t>(c.skip) + 1));
      EXPECT_EQ(input->BufferPos(), start);
      input->Prefault(start + 1, input->BufferEnd());
      EXPECT_EQ(std::string(start, input->BufferEnd()), bytes.substr(c.skip));
      input->Discard(start, input->BufferEnd());  // pages given back read from the file again
      EXPECT_EQ(std::string(start, input->BufferEnd()), bytes.substr(c.skip));
      EXPECT_FALSE(input->Lost());
    }
    fclose(file);
  }
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  FILE* reading = fdopen(ends[0], "rb");
  EXPECT_EQ(MappedFileInput::Open(reading), nullptr);
  fclose(reading);
  close(ends[1]);
}

TEST(MappedFileInput, APageTheFileLostReadsAsZerosAndIsReported) {
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  FILE* file = FileWith(std::string(3 * page, 'x'));
  std::unique_ptr<MappedFileInput> input = MappedFileInput::Open(file);
  ASSERT_NE(input, nullptr);
  ASSERT_EQ(ftruncate(fileno(file), static_cast<off_t>(page)), 0);
  const char* bytes = input->BufferPos();
  input->Prefault(bytes, input->BufferEnd());  // stops at the lost pages, without a signal
  EXPECT_FALSE(FileMapping::AnyLost());
  EXPECT_EQ(bytes[0], 'x');
  EXPECT_FALSE(FileMapping::AnyLost());
  EXPECT_EQ(bytes[2 * page], '\0');
  EXPECT_TRUE(input->Lost());
  EXPECT_TRUE(FileMapping::LostIn(bytes + 2 * page, 1));
  EXPECT_FALSE(FileMapping::LostIn(bytes, page));
  input.reset();
  EXPECT_FALSE(FileMapping::AnyLost());  // forgotten with its mapping
  fclose(file);
}

// CopyOut reads the file itself: the mapped range only, after the caller closed its FILE (whose
// descriptor number a new file may take), and not past where the file now ends.
TEST(MappedFileInput, CopiesOutTheFilesBytesWhereItHoldsThem) {
  std::string bytes(3 * 4096 + 10, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>('a' + i % 26);
  }
  FILE* file = FileWith(bytes);
  ASSERT_EQ(fseek(file, 100, SEEK_SET), 0);
  std::unique_ptr<MappedFileInput> input = MappedFileInput::Open(file);
  ASSERT_NE(input, nullptr);
  const int descriptor = dup(fileno(file));
  fclose(file);
  FILE* other = FileWith(std::string(bytes.size(), '#'));  // may take the closed number
  const char* at = input->BufferPos();
  const size_t held = bytes.size() - 100;
  struct Case {
    size_t from, count;
    bool copied;
  };
  for (const Case& c : {Case{0, held, true}, Case{4000, 300, true}, Case{held - 1, 1, true},
                        Case{held - 1, 2, false}, Case{held, 1, false}}) {
    SCOPED_TRACE(::testing::Message() << c.from << "+" << c.count);
    std::string out(c.count, '?');
    EXPECT_EQ(input->CopyOut(at + c.from, c.count, out.data()), c.copied);
    EXPECT_EQ(out, c.copied ? bytes.substr(100 + c.from, c.count) : std::string(c.count, '?'));
  }
  char byte = 0;
  EXPECT_FALSE(input->CopyOut(at - 1, 1, &byte));
  ASSERT_EQ(ftruncate(descriptor, 4096), 0);  // the file shrinks: its bytes past 4096 are gone
  EXPECT_TRUE(input->CopyOut(at + 3995, 1, &byte));
  EXPECT_FALSE(input->CopyOut(at + 3996, 1, &byte));
  EXPECT_FALSE(input->Lost());  // the mapping's lost pages were never touched
  close(descriptor);
  fclose(other);
}

}  // namespace
}  // namespace orv
