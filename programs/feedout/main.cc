// feedout: records to a QVX file.
#include <cstdio>

#include "programs/feedout/feed_out.h"

int main(int argc, char** argv) {
  return orv::FeedOutMain(argc, argv, stdin, stdout);
}
