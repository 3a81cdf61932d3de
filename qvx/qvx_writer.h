// feedout: records from standard input to a QVX file on standard output.
//
// QVX layout: an XML table header (root QvxTableHeader, one QvxFieldHeader per field), one 0x00
// byte, then the records back to back in the fields' value encodings.
#pragma once

#include "runtime/output.h"
#include "types/type_traits.h"

namespace orv {

// The table header and its ending 0x00.
void WriteQvxTableHeader(BufferedFileOutput& output, const TypeTraitsCollection& layout);

// The program after Boot; `in` and `out` stand for standard input and output.
int FeedOutMain(int argc, char** argv, FILE* in, FILE* out);

}  // namespace orv
