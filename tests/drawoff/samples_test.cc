// Every real QVD file read as strings, compared byte for byte with the rows an independent reader
// got from it, in each reading mode and from a file and from standard input.
#include <gtest/gtest.h>

#include <filesystem>

#include "qvd/header_parser.h"
#include "runtime/input.h"
#include "tests/drawoff/run_program.h"

namespace orv {
namespace {

using testing::ReadFileBytes;
using testing::RunProgram;
using testing::ShellQuote;

size_t FieldCount(const std::string& path) {
  std::string bytes = ReadFileBytes(path);
  MemoryInput input(bytes.data(), bytes.size());
  std::string header;
  uint64_t dataStart = 0;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
  EXPECT_EQ(ReadQvdHeader(input, header, dataStart, table, fields), std::nullopt) << path;
  return fields.size();
}

std::string StringLayout(size_t count) {
  std::string layout;
  for (size_t i = 0; i < count; ++i) {
    layout += "f" + std::to_string(i) + R"( string null="\\N" quote="\"";)";
  }
  return layout;
}

TEST(DrawoffSamples, EveryModeReproducesTheIndependentRows) {
  const char* modes[] = {"", "--low-memory", "--guess-uniform-symbol-size",
                         "--low-memory --guess-uniform-symbol-size", "--unbuffered"};
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ORV_SAMPLES_DIR)) {
    std::filesystem::path rows = entry.path();
    if (rows.extension() != ".rows") {
      continue;
    }
    std::string qvd = std::filesystem::path(rows).replace_extension(".qvd").string();
    std::string expected = ReadFileBytes(rows.string());
    std::string layout = ShellQuote(StringLayout(FieldCount(qvd)));
    ++files;
    for (const char* mode : modes) {
      SCOPED_TRACE(qvd + " " + mode);
      auto result =
          RunProgram("drawoff", std::string(mode) + " -y -i " + ShellQuote(qvd) + " -d " + layout);
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_TRUE(result.out == expected);
    }
    SCOPED_TRACE(qvd + " from standard input");
    auto piped = RunProgram("drawoff", "-y -d " + layout, qvd);
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(piped.out == expected);
  }
  EXPECT_EQ(files, 17u);
}

TEST(DrawoffSamples, FileWithoutHeaderEndIsRefused) {
  auto result =
      RunProgram("drawoff", "-y -d 'a string' -i " +
                                ShellQuote(std::string(ORV_SAMPLES_DIR) + "/sense-damaged.qvd"));
  EXPECT_EQ(result.status, 20);
  EXPECT_EQ(testing::FailMessage(result.err), "Error reading QVD table header.");
  EXPECT_EQ(result.out, "");
}

}  // namespace
}  // namespace orv
