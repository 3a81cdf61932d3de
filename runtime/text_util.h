// Small text helpers shared by the option parsers, the data-definition text and messages.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv {

// Resolves the escapes \\ \" \t \n \r \0 and \xHH. An unknown or cut-off escape is an error when
// `strict`; otherwise it is kept as written.
std::optional<std::string> UnEscape(std::string_view text, bool strict);

// The inverse for quoted data-definition text: escapes the backslash, the double quote and every
// control byte; other bytes (UTF-8 letters among them) stay as they are.
std::string Escape(std::string_view text);

// Replaces control bytes and bytes that are not part of valid UTF-8 by '_'; a valid UTF-8 name
// without control bytes comes back unchanged.
std::string NormalizeName(std::string_view name);

// Strips blanks (space and tab) from both ends.
std::string_view trim(std::string_view text);

// A token of up to 64 bytes unchanged; a longer one as its first 61 bytes and "...".
std::string Shorten(std::string_view token);

// Escapes '&', '<' and '>' for XML element text.
std::string XmlEscape(std::string_view text);

// Doubles every `quote` byte of `text`.
std::string DoubleQuotes(std::string_view text, char quote);

}  // namespace orv
