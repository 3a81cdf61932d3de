// The record loop that packdown and feedout share, over an input whose system read fails part way:
// the failure is an I/O error with the system's reason wherever in a record it happens, apart
// from the end of input, which names the field and the record.
#include "programs/common/record_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tests/drawoff/run_program.h"
#include "tests/types/test_support.h"

namespace orv {
namespace {

// Gives `bytes`, then fails with `error` (or ends, for error 0).
class FailingInput : public IFileInput {
 public:
  FailingInput(std::string bytes, int error) : IFileInput(false), bytes_(bytes), error_(error) {}

 protected:
  long FillBuffer(char* buffer, size_t capacity) override {
    if (given_ < bytes_.size()) {
      const size_t n = std::min(capacity, bytes_.size() - given_);
      memcpy(buffer, bytes_.data() + given_, n);
      given_ += n;
      return static_cast<long>(n);
    }
    if (error_ == 0) {
      return 0;
    }
    errno = error_;
    return -1;
  }

 private:
  std::string bytes_;
  size_t given_ = 0;
  int error_;
};

TEST(RecordReader, ReadErrorIsAnIoErrorWhereverItHappensInARecord) {
  using testing::HexBytes;
  const struct {
    const char* layout;
    bool text;
    std::string bytes;
    int error;
    Status::Kind kind;
    std::string message;
    uint64_t records;
  } cases[] = {
      {"a int", false, "", EISDIR, Status::Kind::kIoError, "Error reading input: Is a directory.",
       0},
      {"a int; b int", false, HexBytes("01000000 02000000 03"), EIO, Status::Kind::kIoError,
       "Error reading input: Input/output error.", 1},
      {"a int nullable", false, HexBytes("00 01000000 00"), EIO, Status::Kind::kIoError,
       "Error reading input: Input/output error.", 1},
      {"a decimal(30,2) nullable", false, HexBytes("00"), EIO, Status::Kind::kIoError,
       "Error reading input: Input/output error.", 0},
      {"a string", false, HexBytes("03000000 61"), EIO, Status::Kind::kIoError,
       "Error reading input: Input/output error.", 0},
      {"a string nullable", false, HexBytes("00"), EIO, Status::Kind::kIoError,
       "Error reading input: Input/output error.", 0},
      {"a string(2)", false,
       "ab"
       "c",
       EIO, Status::Kind::kIoError, "Error reading input: Input/output error.", 1},
      {"a int; b string", true, "1,x\n2,", EIO, Status::Kind::kIoError,
       "Error reading input: Input/output error.", 1},
      {"a int; b string quote=\"'\"", true, "1,'x", EIO, Status::Kind::kIoError,
       "Error reading input: Input/output error.", 0},
      // The same places at the end of the input instead.
      {"a int nullable", false, HexBytes("00 01000000 00"), 0, Status::Kind::kDamaged,
       "Field reading failed: 'a' (record no. 2).", 1},
      {"a string", false, HexBytes("03000000 61"), 0, Status::Kind::kDamaged,
       "Field reading failed: 'a' (record no. 1).", 0},
      {"a int; b string", true, "1,x\n2,", 0, Status::Kind::kInvalid,
       "Field reading failed: 'b' (record no. 2), \"\" is not 'string'.", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.layout) + (c.text ? " text" : " binary"));
    RecordInputOptions options;
    options.layout = test::Layout(c.layout);
    options.textInput = c.text;
    FailingInput input(c.bytes, c.error);
    RecordReader reader(input, options);
    uint64_t taken = 0;
    const Status status = reader.ReadAll(
        [&](size_t i) { return reader.ReadField(options.layout[i]); }, [&] { return ++taken > 0; });
    EXPECT_EQ(status.kind(), c.kind);
    EXPECT_EQ(status.message(), c.message);
    EXPECT_EQ(reader.records(), c.records);
    EXPECT_EQ(taken, c.records);
  }
}

TEST(RecordReader, RefusedValueEndsTheLoopWithItsStatusAndARecordStopsItCleanly) {
  RecordInputOptions options;
  options.layout = test::Layout("a int");
  options.textInput = true;
  const std::string text = "1\n2\n3\n4\n";
  MemoryInput input(text.data(), text.size());
  RecordReader reader(input, options);
  auto refuseThree = [&](size_t i) {
    const int status = reader.ReadField(options.layout[i]);
    return *static_cast<const int*>(options.layout[i].value()) == 3
               ? reader.Refuse(Status::Invalid("three"))
               : status;
  };
  const Status refused = reader.ReadAll(refuseThree, [] { return true; });
  EXPECT_EQ(refused.message(), "three");
  EXPECT_EQ(reader.records(), 2u);

  MemoryInput again(text.data(), text.size());
  RecordReader stopping(again, options);
  EXPECT_TRUE(stopping
                  .ReadAll([&](size_t i) { return stopping.ReadField(options.layout[i]); },
                           [&] { return stopping.records() < 2; })
                  .ok());
  EXPECT_EQ(stopping.records(), 2u);
}

}  // namespace
}  // namespace orv
