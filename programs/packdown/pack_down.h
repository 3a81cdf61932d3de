// packdown: records (binary record stream or delimited text) to one QVD file. The whole input is
// read into one column store per field, then each column becomes its symbols, then the file is
// written in one pass; nothing is written unless every record was read.
#pragma once

namespace orv {

// The whole program: start-up, options, the run; returns the exit status.
int PackDownMain(int argc, char** argv);

}  // namespace orv
