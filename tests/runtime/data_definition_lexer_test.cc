// Data-definition tokens: kinds, texts and the places they start, which every error message names.
#include "runtime/data_definition_lexer.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

// The tokens of `text` as "kind:text@line:column" joined by spaces, or the lexical error.
std::string Tokens(std::string_view text) {
  static const char* const kKinds[] = {"word", "number", "string", "punct", "eof", "end"};
  DefinitionLexer lexer(text);
  std::string out;
  for (int guard = 0; guard < 100; ++guard) {
    DefinitionToken token;
    std::string error;
    if (!lexer.Next(token, error)) {
      return out + error;
    }
    out += std::string(kKinds[static_cast<int>(token.kind)]) + ":" + token.text + "@" +
           std::to_string(token.line) + ":" + std::to_string(token.column);
    if (token.kind == DefinitionToken::Kind::kEnd) {
      return out;
    }
    out += " ";
  }
  return out + "no end";
}

TEST(DefinitionLexer, CutsTokensAndNamesWhereEachStarts) {
  const std::pair<const char*, const char*> rows[] = {
      {"", "end:@1:1"},
      {"Id  int", "word:Id@1:1 word:int@1:5 end:@1:8"},
      {"qvd-format x_1 _9", "word:qvd-format@1:1 word:x_1@1:12 word:_9@1:16 end:@1:18"},
      {"d(12,3)=",
       "word:d@1:1 punct:(@1:2 number:12@1:3 punct:,@1:5 number:3@1:6 punct:)@1:7 "
       "punct:=@1:8 end:@1:9"},
      {"12ab", "number:12@1:1 word:ab@1:3 end:@1:5"},
      {"a;b", "word:a@1:1 eof:;@1:2 word:b@1:3 end:@1:4"},
      {"a\nb", "word:a@1:1 eof:\n@1:2 word:b@2:1 end:@2:2"},
      {"a\r\n\tb", "word:a@1:1 eof:\n@1:2 word:b@2:2 end:@2:3"},
      {"a\rb\r", "word:a@1:1 word:b@1:3 end:@1:5"},
      {"# note; \"x\n  a # b\n", "eof:\n@1:11 word:a@2:3 eof:\n@2:8 end:@3:1"},
      {"\"a\\\"b\\x41\" \"\"", "string:a\"bA@1:1 string:@1:12 end:@1:14"},
      {"\"x\ny\" z", "string:x\ny@1:1 word:z@2:4 end:@2:5"},
      {"a !", "word:a@1:1 Data definition error at line 1, column 3: unexpected character '!'."},
      {"\x01", "Data definition error at line 1, column 1: unexpected character '\\x01'."},
      {"-a", "Data definition error at line 1, column 1: unexpected character '-'."},
      {"\n \"ab",
       "eof:\n@1:1 Data definition error at line 2, column 2: unterminated quoted text."},
      {"\"ab\\\"", "Data definition error at line 1, column 1: unterminated quoted text."},
      {"\"a\\q\"", "Data definition error at line 1, column 1: bad escape in quoted text."},
  };
  for (const auto& [text, tokens] : rows) {
    EXPECT_EQ(Tokens(text), tokens) << text;
  }
}

// A name written bare must come back as one word the parser takes as a name.
TEST(DefinitionLexer, BareFieldNamesAreWordsWithoutDashes) {
  const std::pair<const char*, bool> rows[] = {
      {"Id", true},  {"_x9", true},  {"int", true},      {"", false},
      {"9x", false}, {"a-b", false}, {"a b", false},     {"a;", false},
      {"é", false},  {"a\"", false}, {"nullable", true}, {"Z_", true},
  };
  for (const auto& [name, bare] : rows) {
    EXPECT_EQ(IsBareFieldName(name), bare) << name;
  }
}

}  // namespace
}  // namespace orv
