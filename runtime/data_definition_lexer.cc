#include "runtime/data_definition_lexer.h"

#include <algorithm>

#include "runtime/text_util.h"

namespace orv {

namespace {

bool IsWordStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsWordChar(char c) {
  return IsWordStart(c) || IsDigit(c) || c == '-';
}

}  // namespace

bool DefinitionLexer::Next(DefinitionToken& token, std::string& error) {
  using Kind = DefinitionToken::Kind;
  SkipBlanksAndComments();
  token = DefinitionToken{};
  token.line = line_;
  token.column = column_;
  if (at_ == text_.size()) {
    token.kind = Kind::kEnd;
    return true;
  }
  char c = text_[at_];
  if (c == '\r' && at_ + 1 < text_.size() && text_[at_ + 1] == '\n') {
    Advance();  // CR LF ends a field as LF does
    c = '\n';
  }
  if (c == '\n' || c == ';') {
    token.kind = Kind::kEndOfField;
    token.text = std::string(1, c);
    Advance();
    return true;
  }
  if (IsWordStart(c)) {
    Run(token, Kind::kWord, IsWordChar);
    return true;
  }
  if (IsDigit(c)) {
    Run(token, Kind::kNumber, IsDigit);
    return true;
  }
  if (c == '"') {
    return String(token, error);
  }
  if (c == '(' || c == ')' || c == ',' || c == '=') {
    token.kind = Kind::kPunct;
    token.text = std::string(1, c);
    Advance();
    return true;
  }
  error = Where(token) + "unexpected character '" + Escape(std::string(1, c)) + "'.";
  return false;
}

std::string DefinitionLexer::Where(const DefinitionToken& token) {
  return "Data definition error at line " + std::to_string(token.line) + ", column " +
         std::to_string(token.column) + ": ";
}

void DefinitionLexer::Advance() {
  if (text_[at_] == '\n') {
    ++line_;
    column_ = 1;
  } else {
    ++column_;
  }
  ++at_;
}

void DefinitionLexer::SkipBlanksAndComments() {
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

void DefinitionLexer::Run(DefinitionToken& token, DefinitionToken::Kind kind, bool (*part)(char)) {
  size_t start = at_;
  while (at_ < text_.size() && part(text_[at_])) {
    Advance();
  }
  token.kind = kind;
  token.text = std::string(text_.substr(start, at_ - start));
}

bool DefinitionLexer::String(DefinitionToken& token, std::string& error) {
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
  token.kind = DefinitionToken::Kind::kString;
  token.text = std::move(*text);
  return true;
}

bool IsBareFieldName(std::string_view name) {
  if (name.empty() || !IsWordStart(name[0])) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) { return IsWordStart(c) || IsDigit(c); });
}

}  // namespace orv
