// QVD → CSV → QVD → CSV on every real sample: the second CSV has the same bytes as the first, the
// layout inferred from the CSV in between and nothing else given.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

TEST(CsvRoundTrip, EverySampleComesBackAsTheSameBytes) {
  ScratchDir dir;
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ORV_SAMPLES_DIR)) {
    if (entry.path().extension() != ".rows") {
      continue;  // sense-damaged.qvd has no rows: it is unreadable
    }
    ++files;
    const std::string qvd = std::filesystem::path(entry.path()).replace_extension(".qvd");
    SCOPED_TRACE(qvd);
    const ProgramResult result = Shell(
        dir, "$B/drawoff --csv -i " + ShellQuote(qvd) +
                 " > a.csv && $B/packdown --csv -i a.csv -o b.qvd && $B/drawoff --csv -i b.qvd > "
                 "b.csv && cmp a.csv b.csv && echo same");
    EXPECT_EQ(result.out, "same\n") << result.err;
  }
  EXPECT_EQ(files, 17u);
}

}  // namespace
}  // namespace orv::testing
