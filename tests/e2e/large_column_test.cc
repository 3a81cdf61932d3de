// Columns of more than 4 Mi values, which packdown sorts to spare memory (split in place, numbered
// by record): the QVD reads back as the records that went in, at one thread and at two.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

TEST(LargeColumn, RecordsComeBackFromTheQvd) {
  constexpr uint32_t kRecords = 4500000;
  // V: every 97th null, the others spread over 2^31 with some repeats; W: distinct doubles.
  std::string records;
  records.reserve(size_t{kRecords} * 13);
  for (uint32_t i = 0; i < kRecords; ++i) {
    const bool null = i % 97 == 4;
    records += null ? '\1' : '\0';
    if (!null) {
      const auto v = static_cast<int32_t>((uint64_t{i % 3000000} * 2654435761u) % 2147483647u);
      records += LittleEndian(v);
    }
    records += LittleEndian(static_cast<double>(i) * 1.000001 - 1e6);
  }
  ScratchDir dir;
  WriteFileBytes(dir / "in.bin", records);
  const std::string layout = "-d 'V int nullable; W double'";
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(threads);
    const ProgramResult run =
        Shell(dir, "$B/packdown -i in.bin " + layout + " -o out.qvd --threads=" + threads +
                       " && $B/drawoff -i out.qvd " + layout + " -o back.bin");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadFileBytes(dir / "back.bin") == records);
  }
}

}  // namespace
}  // namespace orv::testing
