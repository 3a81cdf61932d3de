// Damaged input across the programs: real QVD files cut at every region boundary and at random
// offsets, with flipped bytes in the header, the symbol area and the rows, and damaged record
// streams. Every run must end with status 0 (the data was still valid) or with status 20 and
// exactly one FAIL line: never a crash, a sanitizer report or a hang.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "tests/drawoff/run_program.h"

namespace orv {
namespace {

using testing::ReadFileBytes;
using testing::ShellQuote;
using testing::WriteFileBytes;

struct Tally {
  int runs = 0;
  int succeeded = 0;
  int refused = 0;
};

size_t CountFails(const std::string& err) {
  size_t n = 0;
  for (size_t at = 0; (at = err.find("|FAIL|||", at)) != std::string::npos; ++at) {
    ++n;
  }
  return n;
}

class DamagedMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orv_damaged_XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs `program arguments < input` under a time limit and checks how it ended.
  void Check(const std::string& program, const std::string& arguments, const std::string& input,
             const std::string& what) {
    const std::string out = dir_ + "/out";
    const std::string err = dir_ + "/err";
    std::string command = "timeout 60 " + std::string(ORV_BIN_DIR) + "/" + program + " " +
                          arguments + " < " + ShellQuote(input) + " > " + out + " 2> " + err;
    int raw = std::system(command.c_str());
    int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::string log = ReadFileBytes(err);
    ++tally_.runs;
    SCOPED_TRACE(what);
    if (status == 0) {
      ++tally_.succeeded;
      EXPECT_EQ(CountFails(log), 0u) << log;
    } else {
      ++tally_.refused;
      EXPECT_EQ(status, 20) << log;
      EXPECT_EQ(CountFails(log), 1u) << log;
      EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
    }
  }

  std::string dir_;
  Tally tally_;
};

// The layout that reads a sample: the types tablepeek infers, or every field as a string.
std::string LayoutOf(const std::string& qvd, bool strings) {
  std::string command = std::string(ORV_BIN_DIR) + "/tablepeek " + ShellQuote(qvd) +
                        " --output=ord --inline -l '' " + (strings ? "--all-as-string" : "") +
                        " 2>/dev/null";
  std::string layout;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    layout.append(buffer, n);
  }
  pclose(pipe);
  return layout;
}

TEST_F(DamagedMatrix, CutAndFlippedSamplesEndCleanly) {
  std::mt19937 random(20261207);
  for (const char* name : {"qv11-tab2.qvd", "sense-test3.qvd", "lego-themes.qvd"}) {
    const std::string path = std::string(ORV_SAMPLES_DIR) + "/" + name;
    const std::string bytes = ReadFileBytes(path);
    const size_t headerEnd = bytes.find('\0');
    const std::string typed = ShellQuote(LayoutOf(path, false));
    const std::string strings = ShellQuote(LayoutOf(path, true));
    // Region boundaries: inside the header, at its end, just after it, mid-file, before the end.
    std::vector<size_t> cuts = {0,
                                1,
                                headerEnd / 2,
                                headerEnd,
                                headerEnd + 1,
                                headerEnd + 2,
                                bytes.size() / 2,
                                bytes.size() - 1};
    for (int k = 0; k < 6; ++k) {
      cuts.push_back(random() % bytes.size());
    }
    const std::string damaged = dir_ + "/damaged.qvd";
    for (size_t cut : cuts) {
      WriteFileBytes(damaged, bytes.substr(0, cut));
      std::string what = std::string(name) + " cut at " + std::to_string(cut);
      Check("drawoff", "-y -m -i " + damaged + " -d " + typed, "/dev/null", what);
      Check("drawoff", "-m --low-memory -i " + damaged + " -d " + strings, "/dev/null", what);
      Check("tablepeek", damaged + " --output=json", "/dev/null", what);
    }
    for (int k = 0; k < 24; ++k) {
      std::string flipped = bytes;
      // A third of the flips in the header, the rest in the symbol area and rows.
      size_t at = k % 3 == 0 ? random() % headerEnd
                             : headerEnd + 1 + random() % (bytes.size() - headerEnd - 1);
      flipped[at] = static_cast<char>(flipped[at] ^ (1 << (random() % 8)));
      WriteFileBytes(damaged, flipped);
      std::string what = std::string(name) + " flipped at " + std::to_string(at);
      Check("drawoff", "-y -m -i " + damaged + " -d " + typed, "/dev/null", what);
      Check("drawoff", "-m --guess-uniform-symbol-size -i " + damaged + " -d " + strings,
            "/dev/null", what);
    }
  }
  std::cout << "damaged QVD runs: " << tally_.runs << ", succeeded " << tally_.succeeded
            << ", refused " << tally_.refused << "\n";
}

TEST_F(DamagedMatrix, DamagedRecordStreamsEndCleanly) {
  const std::string layout = "'a int nullable; b decimal(12,2); c string; d date; e datetime'";
  const std::string text = dir_ + "/records.txt";
  WriteFileBytes(text,
                 "1,2.50,x,2024-02-29,2024-02-29 08:15:00\n,-0.01,,1900-01-01,"
                 "1969-12-31 23:59:59\n7,0,\"q\",2000-01-01,2000-01-01 00:00:00\n");
  const std::string binary = dir_ + "/records.bin";
  ASSERT_EQ(std::system((std::string(ORV_BIN_DIR) + "/packdown -x -d " + layout + " < " + text +
                         " 2>/dev/null | " + ORV_BIN_DIR + "/drawoff -d " + layout + " > " +
                         binary + " 2>/dev/null")
                            .c_str()),
            0);
  std::mt19937 random(7);
  const std::string damaged = dir_ + "/damaged";
  for (const auto& [source, flag] : {std::pair{text, "-x"}, std::pair{binary, ""}}) {
    const std::string bytes = ReadFileBytes(source);
    for (int k = 0; k < 20; ++k) {
      std::string copy = bytes;
      if (k % 2 == 0) {
        copy.resize(random() % copy.size());
      } else {
        size_t at = random() % copy.size();
        copy[at] = static_cast<char>(copy[at] ^ (1 << (random() % 8)));
      }
      WriteFileBytes(damaged, copy);
      std::string what = source + " damaged " + std::to_string(k);
      Check("packdown", std::string(flag) + " -d " + layout + " -o " + dir_ + "/out.qvd", damaged,
            what);
      Check("feedout", std::string(flag) + " -d " + layout, damaged, what);
    }
  }
  // Inputs that are no files at all, and outputs that cannot be written.
  Check("drawoff", "-i " + dir_ + " -d 'a string'", "/dev/null", "a directory as input");
  Check("packdown", "-x -d 'a int' -o /dev/full", text, "a full disk");
  Check("tablepeek", "/nonexistent/file.qvd", "/dev/null", "a missing path");
  // A closed standard output is a write error, not a success.
  for (const std::string program : {"feedout", "drawoff"}) {
    std::string command = std::string(ORV_BIN_DIR) + "/" + program +
                          (program == "feedout" ? " -x -d " + layout + " < " + text
                                                : " -d " + layout + " -i " + dir_ + "/out.qvd") +
                          " >&- 2> " + dir_ + "/err";
    int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 20) << program;
    EXPECT_EQ(CountFails(ReadFileBytes(dir_ + "/err")), 1u) << program;
    ++tally_.runs;
    ++tally_.refused;
  }
  std::cout << "damaged record runs: " << tally_.runs << ", succeeded " << tally_.succeeded
            << ", refused " << tally_.refused << "\n";
}

}  // namespace
}  // namespace orv
