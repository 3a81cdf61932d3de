#include "runtime/text_util.h"

namespace orv {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Length of the valid UTF-8 sequence at text[i], or 0 when the bytes there are not one.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t length;
  unsigned minimum;
  unsigned code;
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, code = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) {
    return 0;
  }
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) {
      return 0;
    }
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

}  // namespace

std::optional<std::string> UnEscape(std::string_view text, bool strict) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (i + 1 == text.size()) {
      if (strict) {
        return std::nullopt;
      }
      out.push_back(c);
      continue;
    }
    char e = text[i + 1];
    switch (e) {
      case '\\':
        out.push_back('\\');
        ++i;
        continue;
      case '"':
        out.push_back('"');
        ++i;
        continue;
      case 't':
        out.push_back('\t');
        ++i;
        continue;
      case 'n':
        out.push_back('\n');
        ++i;
        continue;
      case 'r':
        out.push_back('\r');
        ++i;
        continue;
      case '0':
        out.push_back('\0');
        ++i;
        continue;
      case 'x':
        if (i + 3 < text.size() && HexDigit(text[i + 2]) >= 0 && HexDigit(text[i + 3]) >= 0) {
          out.push_back(static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3])));
          i += 3;
          continue;
        }
        break;
      default:
        break;
    }
    if (strict) {
      return std::nullopt;
    }
    out.push_back(c);
  }
  return out;
}

std::string Escape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out.append("\\\\");
        break;
      case '"':
        out.append("\\\"");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\0':
        out.append("\\0");
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          out.append("\\x").push_back(kHex[u >> 4]);
          out.push_back(kHex[u & 15]);
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

std::string NormalizeName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    size_t length = Utf8SequenceLength(name, i);
    auto u = static_cast<unsigned char>(name[i]);
    if (length == 0 || (length == 1 && (u < 0x20 || u == 0x7F))) {
      out.push_back('_');
      ++i;
      continue;
    }
    out.append(name.substr(i, length));
    i += length;
  }
  return out;
}

std::string_view trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) {
    return {};
  }
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

std::string Shorten(std::string_view token) {
  constexpr size_t kLimit = 64;
  constexpr size_t kKept = kLimit - 3;
  if (token.size() <= kLimit) {
    return std::string(token);
  }
  return std::string(token.substr(0, kKept)) + "...";
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string DoubleQuotes(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    out.push_back(c);
    if (c == quote) {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace orv
