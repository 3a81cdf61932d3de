// Replays every saved fuzz input (corpus and past crashes) through the fuzz entry points, so that
// findings stay fixed in the ordinary build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/targets.h"

namespace orv {
namespace {

void Replay(const char* target, void (*entry)(const uint8_t*, size_t)) {
  std::filesystem::path folder = std::filesystem::path(ORV_SOURCE_DIR) / "fuzz" / "corpus" / target;
  size_t count = 0;
  for (const auto& file : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(file.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(file.path().string());
    entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  EXPECT_GT(count, 0u);
}

TEST(FuzzCorpus, QvdHeader) {
  Replay("qvd_header", fuzz::QvdHeader);
}
TEST(FuzzCorpus, DataDefinition) {
  Replay("data_definition", fuzz::DataDefinition);
}
TEST(FuzzCorpus, TextRecords) {
  Replay("text_records", fuzz::TextRecords);
}
TEST(FuzzCorpus, DecimalText) {
  Replay("decimal_text", fuzz::DecimalText);
}
TEST(FuzzCorpus, QvdReader) {
  Replay("qvd_reader", fuzz::QvdReader);
}
TEST(FuzzCorpus, PackDownRecords) {
  Replay("packdown_records", fuzz::PackDownRecords);
}
TEST(FuzzCorpus, PackDownCsv) {
  Replay("packdown_csv", fuzz::PackDownCsv);
}
TEST(FuzzCorpus, DrawOffCsv) {
  Replay("drawoff_csv", fuzz::DrawOffCsv);
}
TEST(FuzzCorpus, FeedOutRecords) {
  Replay("feedout_records", fuzz::FeedOutRecords);
}

}  // namespace
}  // namespace orv
