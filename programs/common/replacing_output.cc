#include "programs/common/replacing_output.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace orv {

namespace {

constexpr int kCleanupSignals[] = {SIGHUP, SIGINT, SIGTERM};

// The temporary file a signal handler removes: the path is written before the flag is set, both
// while the signals are blocked.
char g_temporaryPath[PATH_MAX];
volatile sig_atomic_t g_temporaryArmed = 0;

extern "C" void RemoveTemporaryAndReraise(int signal) {
  if (g_temporaryArmed != 0) {
    unlink(g_temporaryPath);
  }
  // SA_RESETHAND restored the default action; the signal stays blocked until the handler returns,
  // then ends the process as it would have without the handler.
  raise(signal);
}

// Installs the handlers once, leaving alone a signal the process inherited as ignored (nohup, a
// shell's background job), and ignores SIGXFSZ unless someone asked for it.
void InstallSignalHandlers() {
  static bool installed = false;
  if (installed) {
    return;
  }
  installed = true;
  struct sigaction old;
  for (int signal : kCleanupSignals) {
    if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action = {};
    action.sa_handler = RemoveTemporaryAndReraise;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
  if (sigaction(SIGXFSZ, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
    signal(SIGXFSZ, SIG_IGN);
  }
}

// Holds the cleanup signals back while the temporary file and its registration change together.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kCleanupSignals) {
      sigaddset(&set, signal);
    }
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t old_;
};

// The permission bits of the new file: the old file's, or what creating it would give.
mode_t NewFileMode(const struct stat* old) {
  if (old != nullptr) {
    return old->st_mode & 0777;
  }
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// The folder part of `path` with its final slash ("" for a bare name).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A rename is durable once its folder is synced; a file system that can't sync a folder still
// holds the renamed file, so a failure here is no failure of the run.
void SyncFolder(const std::string& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

}  // namespace

ReplacingOutput::~ReplacingOutput() {
  if (replacing() && !committed_) {
    SignalBlock block;
    unlink(temporaryPath_.c_str());
    g_temporaryArmed = 0;
  }
}

Status ReplacingOutput::Prepare(const std::optional<std::string>& path) {
  path_ = path;
  if (!path) {
    return Status::Ok();
  }
  // A symbolic link stays a link: the file it names is replaced. A dangling link, a FIFO, a
  // device or a folder is opened as before.
  struct stat info;
  const bool exists = stat(path->c_str(), &info) == 0;
  struct stat link;
  if (exists ? !S_ISREG(info.st_mode) : lstat(path->c_str(), &link) == 0) {
    return Status::Ok();
  }
  const Status cannot = Status::IoError("Can't open output file: '" + *path + "'.");
  if (exists && faccessat(AT_FDCWD, path->c_str(), W_OK, AT_EACCESS) != 0) {
    return cannot;  // a file that opening for writing would refuse is not replaced either
  }
  target_ = *path;
  if (exists) {
    std::unique_ptr<char, decltype(&free)> real(realpath(path->c_str(), nullptr), &free);
    if (real == nullptr) {
      return Status::Ok();
    }
    target_ = real.get();
  }
  const std::string base = target_.substr(FolderOf(target_).size());
  const std::string name = FolderOf(target_) + "." + base.substr(0, 200) + ".XXXXXX";
  if (name.size() >= sizeof g_temporaryPath) {
    return cannot;
  }
  InstallSignalHandlers();
  SignalBlock block;
  memcpy(g_temporaryPath, name.c_str(), name.size() + 1);
  const int fd = mkstemp(g_temporaryPath);
  if (fd < 0) {
    return cannot;
  }
  temporaryPath_ = g_temporaryPath;
  g_temporaryArmed = 1;
  file_.reset(fchmod(fd, NewFileMode(exists ? &info : nullptr)) == 0 ? fdopen(fd, "wb") : nullptr);
  if (file_ == nullptr) {
    close(fd);
    return cannot;  // the destructor removes the temporary file
  }
  return Status::Ok();
}

Status ReplacingOutput::Open(FILE*& file) {
  if (replacing()) {
    file = file_.get();
    return Status::Ok();
  }
  return OpenOutputFile(path_, file_, file);
}

Status ReplacingOutput::Commit() {
  if (!replacing()) {
    return Status::Ok();
  }
  const Status failed = Status::IoError("Error writing output.");
  if (fflush(file_.get()) != 0 || ferror(file_.get()) || fsync(fileno(file_.get())) != 0) {
    return failed;
  }
  {
    SignalBlock block;
    if (rename(temporaryPath_.c_str(), target_.c_str()) != 0) {
      return failed;
    }
    committed_ = true;
    g_temporaryArmed = 0;
  }
  SyncFolder(FolderOf(target_));
  return Status::Ok();
}

}  // namespace orv
