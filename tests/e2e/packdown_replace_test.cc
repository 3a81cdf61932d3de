// packdown replaces a file output only after its last byte: a run that fails (a bad record, a full
// disk, a file-size limit) or is stopped by a signal leaves the old file untouched and no
// temporary file beside it; a run that ends well leaves the new file with the old file's mode, or
// the umask's for a new one. Standard output, FIFOs and devices stream as before.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

const char kOld[] = "an old file that must survive a failed run";

std::string ManyStrings() {
  std::string text;
  for (int i = 0; i < 20000; ++i) {
    text += "value number " + std::to_string(i) + "\n";
  }
  return text;
}

// A folder with the inputs of the cases and an old out.qvd of mode 0604 (no umask gives that).
void Prepare(const ScratchDir& dir) {
  WriteFileBytes(dir / "good.txt", "1\n2\n3\n");
  WriteFileBytes(dir / "bad.txt", "1\nx\n3\n");
  WriteFileBytes(dir / "many.txt", ManyStrings());
  WriteFileBytes(dir / "out.qvd", kOld);
  fs::permissions(dir / "out.qvd", static_cast<fs::perms>(0604));
}

unsigned ModeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(PackdownReplace, OldFileSurvivesEveryFailureAndIsReplacedOnlyBySuccess) {
  const std::string good = "$B/packdown -x -d 'a int' -i good.txt ";
  const std::string many = "exec $B/packdown -x -d 'a string' -i many.txt -o out.qvd";
  const struct {
    std::string command;
    std::string message;     // empty: the run succeeds
    const char* newFile;     // where the QVD of good.txt must be; null: out.qvd is the old file
    unsigned mode;           // of newFile, when not 0
    bool asNonRoot = false;  // root may write any file
  } cases[] = {
      {"$B/packdown -x -d 'a int' -i bad.txt -o out.qvd",
       "Field reading failed: 'a' (record no. 2), \"x\" is not 'int'.", nullptr, 0},
      {"(trap '' XFSZ; ulimit -f 16; " + many + ")", "Error writing output.", nullptr, 0},
      {"(ulimit -f 16; " + many + ")", "Error writing output.", nullptr, 0},
      {good + "-o /dev/full", "Error writing output.", nullptr, 0},
      {"chmod 444 out.qvd && " + good + "-o out.qvd", "Can't open output file: 'out.qvd'.", nullptr,
       0, true},
      {good + "-o out.qvd", "", "out.qvd", 0604},
      {"umask 027 && " + good + "-o new.qvd", "", "new.qvd", 0640},
      {"umask 077 && " + good + "-o sub/../new.qvd", "", "new.qvd", 0600},
      {"ln -s out.qvd link.qvd && " + good + "-o link.qvd && test -L link.qvd", "", "out.qvd",
       0604},
      {"mkfifo f && { cat f > got.qvd & } && " + good + "-o f && wait", "", "got.qvd", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    if (c.asNonRoot && geteuid() == 0) {
      continue;
    }
    ScratchDir dir;
    Prepare(dir);
    fs::create_directory(dir / "sub");
    const ProgramResult reference = Shell(dir, good);
    ASSERT_EQ(reference.status, 0) << reference.err;
    const ProgramResult result = Shell(dir, c.command);
    if (c.message.empty()) {
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(FailLines(result.err), 0u);
    } else {
      ExpectOneFail(result, c.message);
    }
    if (c.newFile == nullptr) {
      EXPECT_EQ(ReadFileBytes(dir / "out.qvd"), kOld);
    } else {
      EXPECT_EQ(ReadFileBytes(dir / c.newFile), reference.out);
    }
    if (c.mode != 0) {
      EXPECT_EQ(ModeOf(dir / c.newFile), c.mode);
    }
    EXPECT_EQ(HiddenFiles(dir), std::vector<std::string>());
  }
}

// Calls `done` every 10 ms until it holds or 60 s have passed; whether it held.
template <typename Condition>
bool PollFor(Condition&& done) {
  for (int i = 0; i < 6000; ++i) {
    if (done()) {
      return true;
    }
    usleep(10000);
  }
  return done();
}

// packdown reading a FIFO that never ends, started with the cleanup signals at their defaults
// but `ignored` ignored (0: none), as a shell starts a command.
pid_t StartEndlessPackdown(const ScratchDir& dir, int ignored) {
  const std::string program = ORV_BIN_DIR "/packdown";
  const std::string folder = dir.path;
  const pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal : {SIGHUP, SIGINT, SIGTERM}) {
      ::signal(signal, signal == ignored ? SIG_IGN : SIG_DFL);
    }
    const int err = open((folder + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(folder.c_str()) != 0 || err < 0 || dup2(err, 2) < 0) {
      _exit(127);
    }
    execl(program.c_str(), "packdown", "-d", "a int", "-i", "in.fifo", "-o", "out.qvd", nullptr);
    _exit(127);
  }
  return pid;
}

TEST(PackdownReplace, ASignalRemovesTheTemporaryFileAndStillEndsTheProcess) {
  const struct {
    int ignored;  // ignored when packdown starts (0: none)
    std::vector<int> sent;
    int endedBy;
  } cases[] = {
      {0, {SIGTERM}, SIGTERM},
      {0, {SIGINT}, SIGINT},
      {0, {SIGHUP}, SIGHUP},
      {SIGINT, {SIGINT, SIGTERM}, SIGTERM},  // an inherited ignore stays
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.endedBy);
    ScratchDir dir;
    WriteFileBytes(dir / "out.qvd", kOld);
    ASSERT_EQ(mkfifo((dir / "in.fifo").c_str(), 0600), 0);
    // Open for reading and writing: never blocks, and keeps the FIFO from ending.
    const int fifo = open((dir / "in.fifo").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    ASSERT_EQ(write(fifo, "\x01\0\0\0\x02\0\0\0", 8), 8);
    const pid_t pid = StartEndlessPackdown(dir, c.ignored);
    ASSERT_GT(pid, 0);
    int raw = 0;
    bool ended = false;
    auto reap = [&] {
      ended = ended || waitpid(pid, &raw, WNOHANG) == pid;
      return ended;
    };
    const bool started = PollFor([&] { return !HiddenFiles(dir).empty() || reap(); });
    EXPECT_TRUE(started && !ended) << ReadFileBytes(dir / "stderr.txt");
    EXPECT_EQ(HiddenFiles(dir).size(), 1u);
    for (int signal : c.sent) {
      kill(pid, signal);
    }
    if (!PollFor(reap)) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      ADD_FAILURE() << "packdown did not end";
    }
    close(fifo);
    EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == c.endedBy) << raw;
    EXPECT_EQ(HiddenFiles(dir), std::vector<std::string>());
    EXPECT_EQ(ReadFileBytes(dir / "out.qvd"), kOld);
  }
}

}  // namespace
}  // namespace orv::testing
