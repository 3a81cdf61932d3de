#include "types/qvd_symbol.h"

#include "runtime/text_util.h"

namespace orv::qvd_symbol {

void WriteTags(BufferedFileOutput& output, std::initializer_list<const char*> tags) {
  output.Write("      <Tags>\n");
  for (const char* tag : tags) {
    output.Write("        <String>");
    output.Write(tag);
    output.Write("</String>\n");
  }
  output.Write("      </Tags>\n");
}

void WriteNumberFormat(BufferedFileOutput& output, const char* type, std::string_view format,
                       unsigned decimals) {
  output.Write("      <NumberFormat>\n        <Type>");
  output.Write(type);
  output.Write("</Type>\n        <nDec>");
  output.Write(std::to_string(decimals));
  output.Write("</nDec>\n        <UseThou>0</UseThou>\n        <Fmt>");
  output.Write(XmlEscape(format));
  output.Write("</Fmt>\n        <Dec></Dec>\n        <Thou></Thou>\n      </NumberFormat>\n");
}

}  // namespace orv::qvd_symbol
