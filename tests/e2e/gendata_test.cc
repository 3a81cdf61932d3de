// Runs the built gendata with ORV_GENERATE_NULL_PROBABILITY set, the one way to vary the process
// default null probability, and counts the nulls of a nullable and a non-nullable field.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

namespace orv {
namespace {

const std::string kGendata = ORV_BIN_DIR "/../bench/gendata";

TEST(GeneratorNullEnvironment, ProcessDefaultNullProbability) {
  if (!std::filesystem::exists(kGendata)) {
    GTEST_SKIP() << "gendata is built only with -DORV_BENCH=ON";
  }
  const struct {
    const char* setting;
    double p;
  } rows[] = {{"1.5", 1.0}, {"-1", 0.0}, {"abc", 0.05}, {" 0.5", 0.5}, {"1", 1.0}};
  constexpr size_t kRecords = 20000;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("ORV_GENERATE_NULL_PROBABILITY='") + row.setting + "'");
    // Binary records: "a" is a flag byte (1 = null) and 4 bytes when present; "b" has no flag
    // and always 4 bytes, so that a null there, which writes nothing, would break the walk.
    const std::string command = "env -i ORV_GENERATE_NULL_PROBABILITY='" +
                                std::string(row.setting) + "' " + kGendata + " -n " +
                                std::to_string(kRecords) + " -d 'a int nullable; b int' --seed 41";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string bytes;
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      bytes.append(buffer, n);
    }
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    size_t records = 0, nulls = 0, at = 0;
    while (at < bytes.size()) {
      const char flag = bytes[at];
      ASSERT_TRUE(flag == 0 || flag == 1) << "record " << records;
      nulls += flag;
      at += flag == 1 ? 5 : 9;
      ++records;
    }
    ASSERT_EQ(at, bytes.size());
    ASSERT_EQ(records, kRecords);
    const double n = kRecords;
    EXPECT_NEAR(static_cast<double>(nulls), n * row.p, 6.0 * std::sqrt(n * row.p * (1.0 - row.p)));
  }
}

}  // namespace
}  // namespace orv
