// drawoff: QVD file to binary or text records.
#include "programs/drawoff/drawoff.h"

int main(int argc, char** argv) {
  return orv::DrawOffMain(argc, argv);
}
