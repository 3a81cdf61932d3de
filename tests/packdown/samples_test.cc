// Every sample QVD file with independent rows, read as strings and written again by packdown with
// the same layout, reads back as exactly those rows.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/packdown/packdown_support.h"

namespace orv::packdown_test {
namespace {

TEST(PackdownSamples, RewrittenSamplesGiveTheIndependentRows) {
  size_t files = 0;
  ScratchDir dir;
  for (const auto& entry : std::filesystem::directory_iterator(ORV_SAMPLES_DIR)) {
    std::filesystem::path rows = entry.path();
    if (rows.extension() != ".rows") {
      continue;
    }
    ++files;
    const std::string qvd = std::filesystem::path(rows).replace_extension(".qvd").string();
    SCOPED_TRACE(qvd);
    // One string field per QvdFieldHeader element of the header.
    const std::string bytes = ReadFileBytes(qvd);
    const std::string header = bytes.substr(0, bytes.find("</QvdTableHeader>"));
    std::string layout;
    for (size_t at = header.find("<QvdFieldHeader>"), i = 0; at != std::string::npos;
         at = header.find("<QvdFieldHeader>", at + 1), ++i) {
      layout += "f" + std::to_string(i) + R"( string null="\\N" quote="\"";)";
    }
    const std::string d = " -d " + ShellQuote(layout);
    auto strings = RunProgram(
        "drawoff", "-i " + ShellQuote(qvd) + " -o " + ShellQuote(dir / "strings.bin") + d);
    auto packed = RunProgram("packdown", "-i " + ShellQuote(dir / "strings.bin") + " -o " +
                                             ShellQuote(dir / "again.qvd") + d);
    ASSERT_EQ(packed.status, 0) << strings.err << packed.err;
    auto text = RunProgram("drawoff", "-y -i " + ShellQuote(dir / "again.qvd") + d);
    EXPECT_TRUE(text.out == ReadFileBytes(rows.string())) << text.err;
  }
  EXPECT_EQ(files, 17u);
}

}  // namespace
}  // namespace orv::packdown_test
