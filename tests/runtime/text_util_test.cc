#include "runtime/text_util.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(UnEscape, ResolvesEveryEscape) {
  EXPECT_EQ(UnEscape(R"(a\\b\"c\td\ne\rf\0g\x41\x7e)", true),
            std::string("a\\b\"c\td\ne\rf\0gA~", 15));
}

TEST(UnEscape, UnknownEscapeFailsStrictAndStaysLenient) {
  EXPECT_EQ(UnEscape(R"(\q)", true), std::nullopt);
  EXPECT_EQ(UnEscape(R"(\q)", false), R"(\q)");
  EXPECT_EQ(UnEscape("\\", false), "\\");
  EXPECT_EQ(UnEscape(R"(\x4)", false), R"(\x4)");
  EXPECT_EQ(UnEscape(R"(\x4)", true), std::nullopt);
}

TEST(Escape, RoundTripsThroughUnEscape) {
  std::string all;
  for (int c = 0; c < 256; ++c) {
    all.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(UnEscape(Escape(all), true), all);
}

TEST(NormalizeName, KeepsValidUtf8AndReplacesTheRest) {
  EXPECT_EQ(NormalizeName("Unit Price \"x\" Größe 価格"), "Unit Price \"x\" Größe 価格");
  EXPECT_EQ(NormalizeName("a\tb\x7f"), "a_b_");
  EXPECT_EQ(NormalizeName("\xC3"), "_");            // cut-off sequence
  EXPECT_EQ(NormalizeName("\xC0\x80"), "__");       // overlong
  EXPECT_EQ(NormalizeName("\xED\xA0\x80"), "___");  // surrogate
}

TEST(Shorten, KeepsUpTo64BytesAndCutsLongerTo61PlusDots) {
  std::string s64(64, 'a');
  EXPECT_EQ(Shorten(s64), s64);
  std::string s65(65, 'b');
  EXPECT_EQ(Shorten(s65), std::string(61, 'b') + "...");
}

TEST(Trim, StripsBlanksOnly) {
  EXPECT_EQ(trim(" \t a b \t"), "a b");
  EXPECT_EQ(trim("   "), "");
  EXPECT_EQ(trim("\na\n"), "\na\n");
}

}  // namespace
}  // namespace orv
