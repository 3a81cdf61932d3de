#include "types/qvx_value.h"

#include <string>

namespace orv::qvx_value {

void WriteFieldLines(BufferedFileOutput& output, const char* type, const char* extent,
                     unsigned width, int decimals, const char* formatType, const char* format) {
  std::string lines = "      <Type>";
  lines.append(type).append("</Type>\n      <Extent>").append(extent);
  lines.append("</Extent>\n      <ByteWidth>")
      .append(std::to_string(width))
      .append("</ByteWidth>\n");
  if (decimals >= 0) {
    lines.append("      <FixPointDecimals>").append(std::to_string(decimals));
    lines.append("</FixPointDecimals>\n");
  }
  lines.append("      <FieldFormat>\n        <Type>").append(formatType).append("</Type>\n");
  if (format != nullptr) {
    lines.append("        <Fmt>").append(format).append("</Fmt>\n");
  }
  lines.append("      </FieldFormat>\n");
  output.Write(lines);
}

}  // namespace orv::qvx_value
