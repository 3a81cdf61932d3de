// tablepeek: prints a QVD file's header, one fact of it, or a report.
#include "inspect/table_peek.h"
#include "runtime/options.h"
#include "runtime/tool.h"

int main(int argc, char** argv) {
  if (!orv::Boot("tablepeek")) {
    return orv::kExitFailure;
  }
  return orv::TablePeekMain(argc, argv);
}
