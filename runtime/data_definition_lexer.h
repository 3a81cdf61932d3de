// The tokens of data-definition text, each with the line and column where it starts (both from 1).
//
//   word    a letter or '_', then letters, digits, '_' and '-'   (Id, decimal, qvd-format)
//   number  decimal digits                                      (12)
//   string  text in double quotes, with backslash escapes       ("Unit Price")
//   punct   one of ( ) , =
//   end of field  a line end (LF or CR LF) or ';'
//
// Blanks (space, tab, a CR not before LF) and comments from '#' to the line end separate tokens.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv {

struct DefinitionToken {
  enum class Kind { kWord, kNumber, kString, kPunct, kEndOfField, kEnd };

  Kind kind = Kind::kEnd;
  std::string text;  // a string's text after escapes; "\n" for any line end
  size_t line = 1;
  size_t column = 1;
};

class DefinitionLexer {
 public:
  explicit DefinitionLexer(std::string_view text) : text_(text) {}

  // Reads the next token; false with `error` set on a lexical error. After the last token every
  // call gives kEnd.
  bool Next(DefinitionToken& token, std::string& error);

  // "Data definition error at line L, column C: ", the start of every message about `token`.
  static std::string Where(const DefinitionToken& token);

 private:
  void Advance();
  void SkipBlanksAndComments();
  // Reads a word or a number: the bytes from the read position on for which `part` holds.
  void Run(DefinitionToken& token, DefinitionToken::Kind kind, bool (*part)(char));
  bool String(DefinitionToken& token, std::string& error);

  std::string_view text_;
  size_t at_ = 0;
  size_t line_ = 1;
  size_t column_ = 1;
};

// True when `name` reads back as a single word the parser takes as a field name, so that it may
// be written without quotes.
bool IsBareFieldName(std::string_view name);

}  // namespace orv
