// The QVX file form.
//
// QVX layout: an XML table header (root QvxTableHeader, one QvxFieldHeader per field), one 0x00
// byte, then the records back to back in the fields' value encodings.
#pragma once

#include "runtime/output.h"
#include "types/type_traits.h"

namespace orv {

// The table header and its ending 0x00.
void WriteQvxTableHeader(BufferedFileOutput& output, const TypeTraitsCollection& layout);

}  // namespace orv
