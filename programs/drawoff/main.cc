// drawoff: QVD file to binary or text records.
#include "qvd/reader.h"

int main(int argc, char** argv) {
  return orv::DrawOffMain(argc, argv);
}
