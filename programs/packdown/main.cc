// packdown: records to a QVD file.
#include "programs/packdown/pack_down.h"

int main(int argc, char** argv) {
  return orv::PackDownMain(argc, argv);
}
