#include "runtime/tool.h"

#include <malloc.h>

#include <csignal>

#include "runtime/logger.h"
#include "runtime/settings.h"

namespace orv {

bool Boot(const char* programName) {
  g_Logger.SetPrefix(programName);
  // A reader that goes away is a write error to report, not a signal that ends the program
  // silently.
  signal(SIGPIPE, SIG_IGN);
  // Blocks of 128 KiB and more get mappings of their own, which go back to the system once freed.
  // Left to itself, malloc raises that bound to the largest such block freed so far, and then keeps
  // freed chunk buffers of a megabyte in its heaps for the rest of the run.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  if (std::optional<std::string> error = LoadSettingsFromEnvironment()) {
    g_Logger.Fail("%s", error->c_str());
    return false;
  }
  return true;
}

Tool::Tool(const char* programName, int argc, char** argv)
    : programName_(programName), argc_(argc), argv_(argv) {}

Tool::~Tool() = default;

int Tool::Start() {
  if (!Boot(programName_.c_str())) {
    return kExitFailure;
  }
  if (ParseOptions(argc_, argv_) != kExitSuccess) {
    return kExitFailure;
  }
  return Run();
}

std::unique_ptr<BufferedFileOutput> Tool::createOutput(FILE* file, bool unbuffered) {
  return IFileOutput::Create(file, unbuffered);
}

IntervalStats& Tool::initOutputStats() {
  outputStats_ = std::make_unique<IntervalStats>("records");
  return *outputStats_;
}

bool Tool::fieldSubset() const {
  return g_Options.fieldSubset;
}

}  // namespace orv
