#include "qvx/qvx_writer.h"

namespace orv {

void WriteQvxTableHeader(BufferedFileOutput& output, const TypeTraitsCollection& layout) {
  output.Write(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<QvxTableHeader>\n"
      "  <MajorVersion>1</MajorVersion>\n"
      "  <MinorVersion>0</MinorVersion>\n"
      "  <TableName></TableName>\n"
      "  <Fields>\n");
  for (const auto& field : layout) {
    output.Write("    <QvxFieldHeader>\n");
    field->WriteQvxHeader(output);
    output.Write("    </QvxFieldHeader>\n");
  }
  output.Write("  </Fields>\n</QvxTableHeader>");
  output.WriteByte('\0');
}

}  // namespace orv
