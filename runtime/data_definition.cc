#include "runtime/data_definition.h"

#include <algorithm>
#include <charconv>

#include "runtime/text_util.h"

namespace orv {

namespace {

enum class TokenKind { kWord, kNumber, kString, kPunct, kEndOfField, kEnd };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;  // a string's text after escapes
  size_t line = 1;
  size_t column = 1;
};

bool IsWordStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsWordChar(char c) {
  return IsWordStart(c) || IsDigit(c) || c == '-';
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  // Reads the next token; false with `error` set on a lexical error.
  bool Next(Token& token, std::string& error) {
    SkipBlanksAndComments();
    token = Token{};
    token.line = line_;
    token.column = column_;
    if (at_ == text_.size()) {
      token.kind = TokenKind::kEnd;
      return true;
    }
    char c = text_[at_];
    if (c == '\n' || c == ';') {
      token.kind = TokenKind::kEndOfField;
      token.text = std::string(1, c);
      Advance();
      return true;
    }
    if (c == '\r' && at_ + 1 < text_.size() && text_[at_ + 1] == '\n') {
      Advance();
      token.kind = TokenKind::kEndOfField;
      token.text = "\n";
      Advance();
      return true;
    }
    if (IsWordStart(c)) {
      size_t start = at_;
      while (at_ < text_.size() && IsWordChar(text_[at_])) {
        Advance();
      }
      token.kind = TokenKind::kWord;
      token.text = std::string(text_.substr(start, at_ - start));
      return true;
    }
    if (IsDigit(c)) {
      size_t start = at_;
      while (at_ < text_.size() && IsDigit(text_[at_])) {
        Advance();
      }
      token.kind = TokenKind::kNumber;
      token.text = std::string(text_.substr(start, at_ - start));
      return true;
    }
    if (c == '"') {
      return String(token, error);
    }
    if (c == '(' || c == ')' || c == ',' || c == '=') {
      token.kind = TokenKind::kPunct;
      token.text = std::string(1, c);
      Advance();
      return true;
    }
    error = Where(token) + "unexpected character '" + Escape(std::string(1, c)) + "'.";
    return false;
  }

  static std::string Where(const Token& token) {
    return "Data definition error at line " + std::to_string(token.line) + ", column " +
           std::to_string(token.column) + ": ";
  }

 private:
  void Advance() {
    if (text_[at_] == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
    ++at_;
  }

  void SkipBlanksAndComments() {
    while (at_ < text_.size()) {
      char c = text_[at_];
      if (c == ' ' || c == '\t' ||
          (c == '\r' && !(at_ + 1 < text_.size() && text_[at_ + 1] == '\n'))) {
        Advance();
      } else if (c == '#') {
        while (at_ < text_.size() && text_[at_] != '\n') {
          Advance();
        }
      } else {
        break;
      }
    }
  }

  bool String(Token& token, std::string& error) {
    Advance();  // opening quote
    size_t start = at_;
    while (at_ < text_.size() && text_[at_] != '"') {
      if (text_[at_] == '\\' && at_ + 1 < text_.size()) {
        Advance();
      }
      Advance();
    }
    if (at_ == text_.size()) {
      error = Where(token) + "unterminated quoted text.";
      return false;
    }
    std::optional<std::string> text = UnEscape(text_.substr(start, at_ - start), true);
    Advance();  // closing quote
    if (!text) {
      error = Where(token) + "bad escape in quoted text.";
      return false;
    }
    token.kind = TokenKind::kString;
    token.text = std::move(*text);
    return true;
  }

  std::string_view text_;
  size_t at_ = 0;
  size_t line_ = 1;
  size_t column_ = 1;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lexer_(text) {}

  std::optional<std::string> Parse(std::vector<FieldSpec>& fields) {
    if (!Advance()) {
      return error_;
    }
    while (token_.kind != TokenKind::kEnd) {
      if (token_.kind == TokenKind::kEndOfField) {
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

  bool Fail(const Token& at, const std::string& message) {
    error_ = Lexer::Where(at) + message;
    return false;
  }

  std::string Describe(const Token& token) {
    switch (token.kind) {
      case TokenKind::kEnd:
        return "end of text";
      case TokenKind::kEndOfField:
        return token.text == ";" ? "';'" : "end of line";
      case TokenKind::kString:
        return "quoted text";
      default:
        return "'" + token.text + "'";
    }
  }

  bool Expect(TokenKind kind, const char* text, const char* what) {
    if (token_.kind != kind || (text != nullptr && token_.text != text)) {
      return Fail(token_, std::string("expected ") + what + ", found " + Describe(token_) + ".");
    }
    return true;
  }

  bool Number(unsigned& value, const char* what) {
    if (!Expect(TokenKind::kNumber, nullptr, what)) {
      return false;
    }
    const std::string& digits = token_.text;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || value > 100000000) {
      return Fail(token_, std::string(what) + " out of range: '" + digits + "'.");
    }
    return Advance();
  }

  bool Field(FieldSpec& field) {
    Token nameToken = token_;
    if (token_.kind == TokenKind::kWord) {
      if (token_.text.find('-') != std::string::npos) {
        return Fail(token_, "bad field name '" + token_.text + "' (quote it).");
      }
    } else if (token_.kind != TokenKind::kString) {
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
    while (token_.kind != TokenKind::kEndOfField && token_.kind != TokenKind::kEnd) {
      if (!Option(field)) {
        return false;
      }
    }
    return true;
  }

  bool Type(FieldSpec& field) {
    if (token_.kind != TokenKind::kWord) {
      return Fail(token_, "expected a type, found " + Describe(token_) + ".");
    }
    static constexpr const char* kTypes[] = {"int",  "double",   "decimal",
                                             "date", "datetime", "string"};
    if (std::find_if(std::begin(kTypes), std::end(kTypes),
                     [&](const char* t) { return token_.text == t; }) == std::end(kTypes)) {
      return Fail(token_, "unknown type '" + token_.text + "'.");
    }
    field.type = token_.text;
    if (!Advance()) {
      return false;
    }
    if (token_.kind != TokenKind::kPunct || token_.text != "(") {
      return true;  // every type has a form without parameters
    }
    if (field.type == "int" || field.type == "double") {
      return Fail(token_, "type '" + field.type + "' takes no parameters.");
    }
    if (!Advance()) {
      return false;
    }
    if (field.type == "decimal") {
      unsigned precision = 0;
      unsigned scale = 0;
      Token precisionToken = token_;
      if (!Number(precision, "precision")) {
        return false;
      }
      Token scaleToken = token_;
      if (token_.kind == TokenKind::kPunct && token_.text == ",") {
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
    } else if (field.type == "string") {
      unsigned size = 0;
      Token sizeToken = token_;
      if (!Number(size, "size")) {
        return false;
      }
      if (size == 0) {
        return Fail(sizeToken, "string size must be at least 1.");
      }
      field.size = size;
    } else {
      if (!Expect(TokenKind::kString, nullptr, "a quoted format")) {
        return false;
      }
      if (token_.text.empty()) {
        return Fail(token_, "empty format.");
      }
      field.format = token_.text;
      if (!Advance()) {
        return false;
      }
    }
    return Expect(TokenKind::kPunct, ")", "')'") && Advance();
  }

  // Reads "= quoted text" after an option word.
  bool Value(std::string& value, const char* option) {
    if (!Expect(TokenKind::kPunct, "=", "'='")) {
      return false;
    }
    if (!Advance()) {
      return false;
    }
    if (token_.kind != TokenKind::kString) {
      return Fail(token_, std::string("expected quoted text after ") + option + "=, found " +
                              Describe(token_) + ".");
    }
    value = token_.text;
    return Advance();
  }

  bool Option(FieldSpec& field) {
    Token at = token_;
    if (token_.kind != TokenKind::kWord) {
      return Fail(token_, "expected an option, found " + Describe(token_) + ".");
    }
    std::string word = token_.text;
    if (!Advance()) {
      return false;
    }
    std::string value;
    if (word == "nullable") {
      field.nullable = true;
    } else if (word == "null") {
      if (!Value(value, "null")) {
        return false;
      }
      field.nullable = true;
      field.nullTokens.push_back(value);
    } else if (word == "separator") {
      if (token_.kind == TokenKind::kPunct && token_.text == "=") {
        if (!Advance()) {
          return false;
        }
        if (token_.kind == TokenKind::kWord && token_.text == "none") {
          field.separator = std::string();
          return Advance();
        }
        if (token_.kind != TokenKind::kString) {
          return Fail(token_, "expected quoted text or none after separator=, found " +
                                  Describe(token_) + ".");
        }
        Token valueToken = token_;
        if (token_.text.empty() || token_.text.size() > 2) {
          return Fail(valueToken, "a separator has one or two bytes (or is none).");
        }
        field.separator = token_.text;
        return Advance();
      }
      return Expect(TokenKind::kPunct, "=", "'='");
    } else if (word == "quote") {
      Token valueToken = token_;
      if (!Value(value, "quote")) {
        return false;
      }
      if (value.size() != 1) {
        return Fail(valueToken, "a quote is one byte.");
      }
      field.quote = value[0];
    } else if (word == "time" || word == "interval") {
      if (field.type != "datetime") {
        return Fail(at, "option '" + word + "' is for datetime fields only.");
      }
      (word == "time" ? field.time : field.interval) = true;
      if (field.time && field.interval) {
        return Fail(at, "a datetime field is either time or interval, not both.");
      }
    } else if (word == "qvd-format") {
      if (!Value(value, "qvd-format")) {
        return false;
      }
      if (field.type != "date" && field.type != "datetime") {
        return Fail(at, "option 'qvd-format' is for date and datetime fields only.");
      }
      field.qvdFormat = value;
    } else if (word == "descending") {
      field.descending = true;
    } else if (word == "collation") {
      if (!Value(value, "collation")) {
        return false;
      }
      if (field.type != "string") {
        return Fail(at, "option 'collation' is for string fields only.");
      }
      field.collation = value;
    } else {
      return Fail(at, "unknown option '" + word + "'.");
    }
    return true;
  }

  Lexer lexer_;
  Token token_;
  std::string error_;
};

bool IsBareName(std::string_view name) {
  if (name.empty() || !IsWordStart(name[0])) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) { return IsWordStart(c) || IsDigit(c); });
}

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted.append(Escape(text)).push_back('"');
  return quoted;
}

std::string RenderName(std::string_view name) {
  return IsBareName(name) ? std::string(name) : Quoted(name);
}

std::string RenderType(const FieldSpec& field) {
  std::string type = field.type;
  if (field.type == "decimal" && field.precision) {
    type += "(" + std::to_string(*field.precision) + "," + std::to_string(field.scale.value_or(0)) +
            ")";
  } else if (field.type == "string" && field.size > 0) {
    type += "(" + std::to_string(field.size) + ")";
  } else if ((field.type == "date" || field.type == "datetime") && field.format) {
    type += "(" + Quoted(*field.format) + ")";
  }
  return type;
}

std::string RenderOptions(const FieldSpec& field) {
  std::string options;
  auto add = [&](const std::string& option) {
    options.push_back(' ');
    options += option;
  };
  if (field.nullable && field.nullTokens.empty()) {
    add("nullable");
  }
  for (const std::string& token : field.nullTokens) {
    add("null=" + Quoted(token));
  }
  if (field.separator) {
    add(field.separator->empty() ? std::string("separator=none")
                                 : "separator=" + Quoted(*field.separator));
  }
  if (field.quote) {
    add("quote=" + Quoted(std::string(1, *field.quote)));
  }
  if (field.time) {
    add("time");
  }
  if (field.interval) {
    add("interval");
  }
  if (field.qvdFormat) {
    add("qvd-format=" + Quoted(*field.qvdFormat));
  }
  if (field.descending) {
    add("descending");
  }
  if (field.collation) {
    add("collation=" + Quoted(*field.collation));
  }
  return options;
}

}  // namespace

std::optional<std::string> ParseDataDefinition(std::string_view text,
                                               std::vector<FieldSpec>& fields) {
  return Parser(text).Parse(fields);
}

std::string RenderDataDefinition(const std::vector<FieldSpec>& fields, bool inlineForm) {
  std::string out;
  if (inlineForm) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) {
        out += "; ";
      }
      out += RenderName(fields[i].name) + " " + RenderType(fields[i]) + RenderOptions(fields[i]);
    }
    return out;
  }
  std::vector<std::string> names;
  std::vector<std::string> types;
  size_t nameWidth = 0;
  size_t typeWidth = 0;
  for (const FieldSpec& field : fields) {
    names.push_back(RenderName(field.name));
    types.push_back(RenderType(field));
    nameWidth = std::max(nameWidth, names.back().size());
    typeWidth = std::max(typeWidth, types.back().size());
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string options = RenderOptions(fields[i]);
    std::string line = names[i];
    line.append(nameWidth - names[i].size() + 1, ' ');
    line += types[i];
    if (!options.empty()) {
      line.append(typeWidth - types[i].size(), ' ');
      line += options;
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace orv
