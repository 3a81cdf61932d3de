#include "types/text_token.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "runtime/settings.h"
#include "types/type_traits.h"

namespace orv::text_token {

namespace {

// Makes two bytes available at the read position when the input has them.
bool HaveTwo(IFileInput& input) {
  while (input.BufferEnd() - input.BufferPos() < 2) {
    if (!input.Refill(static_cast<size_t>(2 - (input.BufferEnd() - input.BufferPos())))) {
      return false;
    }
  }
  return true;
}

// True when the separator starts at the read position (its first byte already seen there).
bool SeparatorHere(IFileInput& input, const char* separator, size_t length) {
  return length == 1 || (HaveTwo(input) && input.BufferPos()[1] == separator[1]);
}

// The first byte in [p, e) that is a or b; e when there is none. Tokens are short, so this looks
// at 16 bytes at a time where it can rather than calling a library search.
inline const char* FindEither(const char* p, const char* e, char a, char b) {
#if defined(__SSE2__)
  const __m128i wantA = _mm_set1_epi8(a);
  const __m128i wantB = _mm_set1_epi8(b);
  for (; e - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int found =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, wantA), _mm_cmpeq_epi8(bytes, wantB)));
    if (found != 0) {
      return p + std::countr_zero(static_cast<unsigned>(found));
    }
  }
#endif
  while (p != e && *p != a && *p != b) {
    ++p;
  }
  return p;
}

// Quoted state: the opening quote is consumed; runs to the closing quote, a doubled quote standing
// for one. kStatusBad when the input ends first or the token outgrows `limit`.
int ReadQuotedRun(IFileInput& input, char quote, size_t limit, std::string& token) {
  for (;;) {
    const char* p = input.BufferPos();
    const char* e = input.BufferEnd();
    if (p == e) {
      if (!input.Refill(1)) {
        return input.status() == kInputEnd ? kStatusBad : input.status();
      }
      continue;
    }
    const char* q = static_cast<const char*>(memchr(p, quote, static_cast<size_t>(e - p)));
    token.append(p, q == nullptr ? e : q);
    input.Advance(static_cast<size_t>((q == nullptr ? e : q) - p));
    if (token.size() > limit) {
      return kStatusBad;
    }
    if (q == nullptr) {
      continue;
    }
    const bool doubled = HaveTwo(input) && input.BufferPos()[1] == quote;
    input.Advance(doubled ? 2 : 1);
    if (!doubled) {
      return kStatusOk;
    }
    token.push_back(quote);
  }
}

}  // namespace

int CutOffAtEnd(bool lastField) {
  return lastField && g_TypeTraitsOptions.allowMissingSeparatorAtEof ? kStatusOk : kStatusBad;
}

int ReadUnquoted(IFileInput& input, const TokenEnds& ends, std::string& token) {
  const char s0 = ends.separator[0];
  const char r0 = ends.recordSeparator[0];
  for (;;) {
    const char* p = input.BufferPos();
    const char* e = input.BufferEnd();
    if (p == e) {
      if (!input.Refill(1)) {
        return input.status() != kInputEnd ? input.status() : CutOffAtEnd(ends.lastField);
      }
      continue;
    }
    const char* q = FindEither(p, e, s0, ends.checkRecord ? r0 : s0);
    token.append(p, q);
    input.Advance(static_cast<size_t>(q - p));
    if (token.size() > ends.limit) {
      return kStatusBad;
    }
    if (q == e) {
      continue;
    }
    const char c = *q;
    if (c == s0 && SeparatorHere(input, ends.separator, ends.separatorLength)) {
      input.Advance(ends.separatorLength);
      return kStatusOk;
    }
    if (ends.checkRecord && c == r0 &&
        SeparatorHere(input, ends.recordSeparator, ends.recordSeparatorLength)) {
      return kStatusBad;
    }
    token.push_back(c);  // a first separator byte without its second
    input.Advance(1);
  }
}

int ReadQuoted(IFileInput& input, char quote, const TokenEnds& ends, std::string& token) {
  input.Advance(1);
  if (const int status = ReadQuotedRun(input, quote, ends.limit, token); status != kStatusOk) {
    return status;
  }
  char next = 0;
  int status = input.PeekByte(next);
  if (status != kInputOk) {
    return status != kInputEnd ? status : CutOffAtEnd(ends.lastField);
  }
  if (next == ends.separator[0] && SeparatorHere(input, ends.separator, ends.separatorLength)) {
    input.Advance(ends.separatorLength);
    return kStatusOk;
  }
  return kStatusBad;
}

namespace {

// After a CSV value: what follows at the read position ends it, or the value is bad.
int CsvValueEnd(IFileInput& input, char delimiter, CsvEnd& end) {
  char next = 0;
  int status = input.PeekByte(next);
  if (status != kInputOk) {
    end = CsvEnd::kInput;
    return status == kInputEnd ? kStatusOk : status;
  }
  if (next == '\r' && HaveTwo(input) && input.BufferPos()[1] == '\n') {
    input.Advance(1);
    next = '\n';
  }
  if (next != delimiter && next != '\n') {
    return kStatusBad;
  }
  input.Advance(1);
  end = next == '\n' ? CsvEnd::kLine : CsvEnd::kValue;
  return kStatusOk;
}

// Unquoted state: runs to the delimiter, a line end or the end of the input.
int ReadCsvUnquoted(IFileInput& input, char delimiter, size_t limit, std::string& token,
                    CsvEnd& end) {
  for (;;) {
    const char* p = input.BufferPos();
    const char* e = input.BufferEnd();
    if (p == e) {
      if (!input.Refill(1)) {
        end = CsvEnd::kInput;
        return input.status() != kInputEnd ? input.status() : kStatusOk;
      }
      continue;
    }
    const char* q = FindEither(p, e, delimiter, '\n');
    token.append(p, q);
    input.Advance(static_cast<size_t>(q - p));
    if (token.size() > limit) {
      return kStatusBad;
    }
    if (q != e) {
      input.Advance(1);
      end = *q == delimiter ? CsvEnd::kValue : CsvEnd::kLine;
      return kStatusOk;
    }
  }
}

}  // namespace

int ReadCsv(IFileInput& input, char delimiter, size_t limit, std::string& token, bool& quoted,
            CsvEnd& end) {
  end = CsvEnd::kNone;
  char first = 0;
  int status = input.PeekByte(first);
  quoted = status == kInputOk && first == '"';
  if (quoted) {
    input.Advance(1);
    status = ReadQuotedRun(input, '"', limit, token);
    return status == kStatusOk ? CsvValueEnd(input, delimiter, end) : status;
  }
  status = ReadCsvUnquoted(input, delimiter, limit, token, end);
  if (end != CsvEnd::kValue && !token.empty() && token.back() == '\r') {
    token.pop_back();  // the CR of a CR LF line end
  }
  return status;
}

int StartCsvRecord(IFileInput& input, bool skipBlankLines) {
  for (;;) {
    char first = 0;
    const int status = input.PeekByte(first);
    if (status != kInputOk) {
      return status;
    }
    if (!skipBlankLines || (first != '\n' && first != '\r')) {
      return kStatusOk;
    }
    if (first == '\r' && !(HaveTwo(input) && input.BufferPos()[1] == '\n')) {
      return kStatusOk;
    }
    input.Advance(first == '\r' ? 2 : 1);
  }
}

}  // namespace orv::text_token

namespace orv {

// Flattened: the token readers run once per value, and a call into them costs as much as the
// scan of a short token.
[[gnu::flatten]] int TypeTraits::readParseToken(IFileInput& input) {
  scratch_.clear();
  if (csv_) {
    return text_token::ReadCsv(input, csvDelimiter_, tokenLimit_, scratch_, csvQuoted_, csvEnd_);
  }
  if (separatorLength_ == 0) {
    return ReadFixedToken(input);
  }
  char first = 0;
  int status = input.PeekByte(first);
  if (status != kInputOk) {
    if (status != kInputEnd) {
      return status;
    }
    return firstField_ ? kStatusEnd : text_token::CutOffAtEnd(lastField_);
  }
  const text_token::TokenEnds ends{
      separator_,       separatorLength_, recordSeparator_, recordSeparatorLength_,
      recordEndsToken_, lastField_,       tokenLimit_};
  if (quoting_ && first == quote_) {
    return text_token::ReadQuoted(input, quote_, ends, scratch_);
  }
  return text_token::ReadUnquoted(input, ends, scratch_);
}

int TypeTraits::ReadFixedToken(IFileInput& input) {
  if (fixedSize_ == 0) {
    return kStatusBad;
  }
  scratch_.resize(fixedSize_);
  int status = input.Read(scratch_.data(), fixedSize_);
  if (status == kInputOk) {
    return kStatusOk;
  }
  scratch_.clear();
  if (status == kInputEnd) {
    return firstField_ ? kStatusEnd : kStatusBad;
  }
  return status == kInputTruncated ? kStatusBad : status;
}

bool TypeTraits::IsNullToken() const {
  return std::find(nullTokens_.begin(), nullTokens_.end(), scratch_) != nullTokens_.end();
}

}  // namespace orv
