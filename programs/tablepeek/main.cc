// tablepeek: prints a QVD file's header, one fact of it, or a report.
#include "programs/tablepeek/table_peek.h"

int main(int argc, char** argv) {
  return orv::TablePeekMain(argc, argv);
}
