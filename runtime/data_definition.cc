#include "runtime/data_definition.h"

#include <algorithm>
#include <charconv>

#include "runtime/data_definition_lexer.h"
#include "runtime/text_util.h"

namespace orv {

namespace {

using Kind = DefinitionToken::Kind;

// Recursive descent over the tokens, one method per part of a field; the first error ends it.
class Parser {
 public:
  explicit Parser(std::string_view text) : lexer_(text) {}

  std::optional<std::string> Parse(std::vector<FieldSpec>& fields) {
    if (!Advance()) {
      return error_;
    }
    while (token_.kind != Kind::kEnd) {
      if (token_.kind == Kind::kEndOfField) {
        if (!Advance()) {
          return error_;
        }
        continue;
      }
      FieldSpec field;
      if (!Field(field)) {
        return error_;
      }
      fields.push_back(std::move(field));
    }
    return std::nullopt;
  }

 private:
  bool Advance() { return lexer_.Next(token_, error_); }

  bool Fail(const DefinitionToken& at, const std::string& message) {
    error_ = DefinitionLexer::Where(at) + message;
    return false;
  }

  static std::string Describe(const DefinitionToken& token) {
    switch (token.kind) {
      case Kind::kEnd:
        return "end of text";
      case Kind::kEndOfField:
        return token.text == ";" ? "';'" : "end of line";
      case Kind::kString:
        return "quoted text";
      default:
        return "'" + token.text + "'";
    }
  }

  bool At(Kind kind, const char* text) const { return token_.kind == kind && token_.text == text; }

  bool Expect(Kind kind, const char* text, const char* what) {
    if (token_.kind != kind || (text != nullptr && token_.text != text)) {
      return Fail(token_, std::string("expected ") + what + ", found " + Describe(token_) + ".");
    }
    return true;
  }

  bool Number(unsigned& value, const char* what) {
    if (!Expect(Kind::kNumber, nullptr, what)) {
      return false;
    }
    const std::string& digits = token_.text;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || value > 100000000) {
      return Fail(token_, std::string(what) + " out of range: '" + digits + "'.");
    }
    return Advance();
  }

  // A field: its name, its type, then options up to the end of the field.
  bool Field(FieldSpec& field) {
    DefinitionToken nameToken = token_;
    if (token_.kind == Kind::kWord) {
      if (token_.text.find('-') != std::string::npos) {
        return Fail(token_, "bad field name '" + token_.text + "' (quote it).");
      }
    } else if (token_.kind != Kind::kString) {
      return Fail(token_, "expected a field name, found " + Describe(token_) + ".");
    }
    field.name = token_.text;
    if (std::string_view(trim(field.name)).empty()) {
      return Fail(nameToken, "empty field name.");
    }
    if (!Advance()) {
      return false;
    }
    if (!Type(field)) {
      return false;
    }
    while (token_.kind != Kind::kEndOfField && token_.kind != Kind::kEnd) {
      if (!Option(field)) {
        return false;
      }
    }
    return true;
  }

  // --- Types: a type word, then for some types parameters in parentheses ---

  bool Type(FieldSpec& field) {
    if (!TypeWord(field)) {
      return false;
    }
    if (!At(Kind::kPunct, "(")) {
      return true;  // every type has a form without parameters
    }
    if (field.type == "int" || field.type == "double") {
      return Fail(token_, "type '" + field.type + "' takes no parameters.");
    }
    if (!Advance()) {
      return false;
    }
    const bool parameters = field.type == "decimal"  ? DecimalParameters(field)
                            : field.type == "string" ? StringSize(field)
                                                     : Format(field);
    return parameters && Expect(Kind::kPunct, ")", "')'") && Advance();
  }

  bool TypeWord(FieldSpec& field) {
    if (token_.kind != Kind::kWord) {
      return Fail(token_, "expected a type, found " + Describe(token_) + ".");
    }
    static constexpr const char* kTypes[] = {"int",  "double",   "decimal",
                                             "date", "datetime", "string"};
    if (std::find_if(std::begin(kTypes), std::end(kTypes),
                     [&](const char* t) { return token_.text == t; }) == std::end(kTypes)) {
      return Fail(token_, "unknown type '" + token_.text + "'.");
    }
    field.type = token_.text;
    return Advance();
  }

  // decimal(P) or decimal(P,S); the ranges are checked once both are read.
  bool DecimalParameters(FieldSpec& field) {
    unsigned precision = 0;
    unsigned scale = 0;
    DefinitionToken precisionToken = token_;
    if (!Number(precision, "precision")) {
      return false;
    }
    DefinitionToken scaleToken = token_;
    if (At(Kind::kPunct, ",")) {
      if (!Advance()) {
        return false;
      }
      scaleToken = token_;
      if (!Number(scale, "scale")) {
        return false;
      }
    }
    if (precision < 1 || precision > 38) {
      return Fail(precisionToken, "decimal precision must be 1 to 38.");
    }
    if (scale > precision) {
      return Fail(scaleToken, "decimal scale must not exceed the precision.");
    }
    field.precision = precision;
    field.scale = scale;
    return true;
  }

  bool StringSize(FieldSpec& field) {
    unsigned size = 0;
    DefinitionToken sizeToken = token_;
    if (!Number(size, "size")) {
      return false;
    }
    if (size == 0) {
      return Fail(sizeToken, "string size must be at least 1.");
    }
    field.size = size;
    return true;
  }

  // date("FORMAT"), datetime("FORMAT").
  bool Format(FieldSpec& field) {
    if (!Expect(Kind::kString, nullptr, "a quoted format")) {
      return false;
    }
    if (token_.text.empty()) {
      return Fail(token_, "empty format.");
    }
    field.format = token_.text;
    return Advance();
  }

  // --- Options: a word, some followed by "= quoted text" ---

  bool Option(FieldSpec& field) {
    const DefinitionToken at = token_;
    if (token_.kind != Kind::kWord) {
      return Fail(token_, "expected an option, found " + Describe(token_) + ".");
    }
    const std::string word = token_.text;
    if (!Advance()) {
      return false;
    }
    if (word == "nullable") {
      field.nullable = true;
      return true;
    }
    if (word == "descending") {
      field.descending = true;
      return true;
    }
    if (word == "null") {
      return NullToken(field);
    }
    if (word == "separator") {
      return Separator(field);
    }
    if (word == "quote") {
      return Quote(field);
    }
    if (word == "time" || word == "interval") {
      return TimeOrInterval(field, at, word);
    }
    if (word == "qvd-format") {
      const bool dated = field.type == "date" || field.type == "datetime";
      return ValueForTypes(field.qvdFormat, at, word, dated, "date and datetime");
    }
    if (word == "collation") {
      return ValueForTypes(field.collation, at, word, field.type == "string", "string");
    }
    return Fail(at, "unknown option '" + word + "'.");
  }

  // Reads "= quoted text" after an option word.
  bool Value(std::string& value, const char* option) {
    if (!Expect(Kind::kPunct, "=", "'='")) {
      return false;
    }
    if (!Advance()) {
      return false;
    }
    if (token_.kind != Kind::kString) {
      return Fail(token_, std::string("expected quoted text after ") + option + "=, found " +
                              Describe(token_) + ".");
    }
    value = token_.text;
    return Advance();
  }

  bool NullToken(FieldSpec& field) {
    std::string value;
    if (!Value(value, "null")) {
      return false;
    }
    field.nullable = true;
    field.nullTokens.push_back(value);
    return true;
  }

  // separator="X", separator="XY" or separator=none (the field ends without one).
  bool Separator(FieldSpec& field) {
    if (!Expect(Kind::kPunct, "=", "'='") || !Advance()) {
      return false;
    }
    if (At(Kind::kWord, "none")) {
      field.separator = std::string();
      return Advance();
    }
    if (token_.kind != Kind::kString) {
      return Fail(token_,
                  "expected quoted text or none after separator=, found " + Describe(token_) + ".");
    }
    if (token_.text.empty() || token_.text.size() > 2) {
      return Fail(token_, "a separator has one or two bytes (or is none).");
    }
    field.separator = token_.text;
    return Advance();
  }

  bool Quote(FieldSpec& field) {
    DefinitionToken valueToken = token_;  // the '=': a wrong length is reported there
    std::string value;
    if (!Value(value, "quote")) {
      return false;
    }
    if (value.size() != 1) {
      return Fail(valueToken, "a quote is one byte.");
    }
    field.quote = value[0];
    return true;
  }

  bool TimeOrInterval(FieldSpec& field, const DefinitionToken& at, const std::string& word) {
    if (field.type != "datetime") {
      return Fail(at, "option '" + word + "' is for datetime fields only.");
    }
    (word == "time" ? field.time : field.interval) = true;
    if (field.time && field.interval) {
      return Fail(at, "a datetime field is either time or interval, not both.");
    }
    return true;
  }

  // An option with a quoted value that only fields of some types take; the value is read
  // before the type is checked.
  bool ValueForTypes(std::optional<std::string>& target, const DefinitionToken& at,
                     const std::string& word, bool typeTakesIt, const char* types) {
    std::string value;
    if (!Value(value, word.c_str())) {
      return false;
    }
    if (!typeTakesIt) {
      return Fail(at, "option '" + word + "' is for " + types + " fields only.");
    }
    target = value;
    return true;
  }

  DefinitionLexer lexer_;
  DefinitionToken token_;
  std::string error_;
};

}  // namespace

std::optional<std::string> ParseDataDefinition(std::string_view text,
                                               std::vector<FieldSpec>& fields) {
  return Parser(text).Parse(fields);
}

}  // namespace orv
