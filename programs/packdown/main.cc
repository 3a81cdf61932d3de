// packdown: records to a QVD file.
#include "qvd/pack_down.h"
#include "runtime/options.h"
#include "runtime/tool.h"

int main(int argc, char** argv) {
  if (!orv::Boot("packdown")) {
    return orv::kExitFailure;
  }
  return orv::PackDownMain(argc, argv);
}
