// feedout: records to a QVX file.
#include <cstdio>

#include "qvx/qvx_writer.h"
#include "runtime/options.h"
#include "runtime/tool.h"

int main(int argc, char** argv) {
  if (!orv::Boot("feedout")) {
    return orv::kExitFailure;
  }
  return orv::FeedOutMain(argc, argv, stdin, stdout);
}
