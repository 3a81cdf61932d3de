// feedout: records (binary record stream or delimited text) from standard input to a QVX file on
// standard output, written as they are read.
#pragma once

#include <cstdio>

namespace orv {

// The whole program: start-up, options, the run; `in` and `out` stand for standard input and
// output. Returns the exit status.
int FeedOutMain(int argc, char** argv, FILE* in, FILE* out);

}  // namespace orv
