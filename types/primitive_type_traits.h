// What every fixed-width type shares: the scratch cell that holds the current value, nulls, the
// in-memory record and binary stream codecs, and the comparison functors over the stored type S.
#pragma once

#include <cstring>
#include <string_view>
#include <type_traits>

#include "runtime/values.h"
#include "types/compare.h"
#include "types/type_traits.h"

namespace orv {

template <typename S, typename V>
class PrimitiveTypeTraits : public TypeTraits {
 public:
  PrimitiveTypeTraits(std::string_view name, std::string_view typeWord)
      : TypeTraits(name, typeWord) {
    SetValue(S{});
  }

  size_t ValueWidth() const override { return sizeof(S); }
  // The current value; meaningful only when not null.
  S current() const { return cell_; }
  void SetValue(S v) {
    cell_ = v;
    value_ = &cell_;
    valueLength_ = sizeof(S);
  }

  void Generate(size_t& size, bool recordFormat) override {
    void* slot = &cell_;
    generator_->Generate(slot);
    size += recordFormat && nullable() ? 1 : 0;
    if (slot == nullptr) {
      value_ = nullptr;
    } else {
      SetValue(cell_);
      size += sizeof(S);
    }
  }

  // --- In-memory record -------------------------------------------------------------------------
  void WriteToBuffer(char*& out, bool recordFormat) const override {
    if (recordFormat && nullable()) {
      *out++ = IsNull() ? 1 : 0;
    }
    if (!IsNull()) {
      memcpy(out, &cell_, sizeof(S));
      out += sizeof(S);
    }
  }

  // --- Binary record stream ---------------------------------------------------------------------
  size_t FixedStreamWidth() const override { return streamWidth_; }
  size_t StreamValueWidth() const override { return streamWidth_; }
  bool DecodeStreamValue(const char* in, char* out) const override {
    S v;
    if constexpr (std::is_same_v<S, __int128>) {
      if (streamWidth_ == 8) {
        int64_t low;
        memcpy(&low, in, sizeof low);
        v = low;
      } else {
        memcpy(&v, in, sizeof v);
      }
    } else {
      memcpy(&v, in, sizeof v);
    }
    memcpy(out, &v, sizeof v);
    return StreamValueValid(v);
  }

  int Read(IFileInput& input, size_t& size, bool recordFormat) override {
    S v{};
    bool isNull = false;
    if (int status = ReadStream(input, v, isNull); status != kStatusOk) {
      return Status(status);
    }
    size += recordFormat && nullable() ? 1 : 0;
    if (isNull) {
      value_ = nullptr;
    } else {
      SetValue(v);
      size += sizeof(S);
    }
    return Status(kStatusOk);
  }

  int ReadFixedSize(IFileInput& input, char*& out, bool& isNull) override {
    S v{};
    if (int status = ReadStream(input, v, isNull); status != kStatusOk) {
      return Status(status);
    }
    if (!isNull) {
      memcpy(out, &v, sizeof(S));
      out += sizeof(S);
    }
    return Status(kStatusOk);
  }

  void Write(BufferedFileOutput& output) const override {
    WriteStream(output, IsNull() ? nullptr : &cell_, nullable());
  }

  void Write(BufferedFileOutput& output, const char*& data, bool nullable) const override {
    size_t length;
    const char* value = getDataAndAdvance(data, sizeof(S), nullable, length);
    WriteStream(output, value, nullable);
  }

  // --- Comparison -------------------------------------------------------------------------------
  LessFunctor getLessFunctor(bool flag) const override {
    return MakeLessFunctor<S>(nullable(), sortDirection() == 1, flag);
  }
  LessFunctor getEqualFunctor(bool flag) const override {
    return MakeEqualFunctor<S>(nullable(), flag);
  }
  CompareFunctor getCompareFunctor(bool flag) const override {
    return MakeCompareFunctor<S, false>(nullable(), sortDirection() == 1, flag);
  }
  CompareFunctor getFullCompareFunctor(bool flag) const override {
    return MakeCompareFunctor<S, true>(nullable(), sortDirection() == 1, flag);
  }

 protected:
  // Bytes of a value in the binary stream; decimals of precision 18 or less take 8.
  size_t streamWidth_ = sizeof(S);
  // Decimals: 10^precision - 1, the largest magnitude of a value.
  S valueMagnitude_{};

  // Whether bytes of the binary stream hold a value of the type: a day of the calendar, an instant
  // on a day that a date can hold, a decimal within its precision. Others hold any bytes.
  bool StreamValueValid(S v) const {
    if constexpr (std::is_same_v<V, date>) {
      return date::FromPacked(v).IsValid();
    } else if constexpr (std::is_same_v<V, datetime>) {
      return datetime::InRange(v);
    } else if constexpr (std::is_same_v<V, decimal>) {
      // One comparison: -m .. m maps onto 0 .. 2m, every other value beyond.
      using U = unsigned __int128;
      return static_cast<U>(v) + static_cast<U>(valueMagnitude_) <=
             2 * static_cast<U>(valueMagnitude_);
    } else {
      return true;
    }
  }

  int Status(int status) {
    setStatus(status);
    return status;
  }

  // Makes `v` the current value of a QVD symbol read.
  bool AcceptSymbolValue(S v, size_t& size) {
    SetValue(v);
    size += sizeof(S);
    return true;
  }

  // The text conversion shared by the leaf classes: reads a token, recognises null, converts the
  // rest with `convert(token, value) -> bool`. The token is followed by a 0x00.
  template <typename Convert>
  int ParseWith(IFileInput& input, size_t& size, bool recordFormat, Convert convert) {
    if (int status = readParseToken(input); status != kStatusOk) {
      return Status(status);
    }
    const bool flag = recordFormat && nullable();
    if (isParseTokenNull()) {
      value_ = nullptr;
      size += flag ? 1 : 0;
      return Status(kStatusOk);
    }
    S v{};
    if (!convert(std::string_view(scratch_), v)) {
      return Status(kStatusBad);
    }
    SetValue(v);
    size += sizeof(S) + (flag ? 1 : 0);
    return Status(kStatusOk);
  }

 private:
  // The flag byte of a nullable field, then the value; the input ending after the first byte of
  // the field is a truncated record, a read error stays one.
  int ReadStream(IFileInput& input, S& v, bool& isNull) {
    const bool flagged = nullable();
    if (flagged) {
      if (int status = readNullFlag(input, isNull); status != kInputOk || isNull) {
        return status;
      }
    } else {
      isNull = false;
    }
    if (int status = ReadStreamValue(input, v); status != kInputOk) {
      return status == kInputError || (!flagged && status == kInputEnd) ? status : kStatusBad;
    }
    return StreamValueValid(v) ? kStatusOk : kStatusBad;
  }

  int ReadStreamValue(IFileInput& input, S& v) {
    if constexpr (std::is_same_v<S, __int128>) {
      if (streamWidth_ == 8) {
        int64_t low;
        int status = input.Read(&low, sizeof low);
        v = low;
        return status;
      }
    }
    return input.Read(&v, sizeof(S));
  }

  void WriteStream(BufferedFileOutput& output, const void* value, bool flagged) const {
    if (flagged) {
      output.WriteByte(value == nullptr ? 1 : 0);
    }
    if (value == nullptr) {
      return;
    }
    if constexpr (std::is_same_v<S, __int128>) {
      if (streamWidth_ == 8) {
        __int128 v;
        memcpy(&v, value, sizeof v);
        auto low = static_cast<int64_t>(v);
        output.Write(&low, sizeof low);
        return;
      }
    }
    output.Write(value, sizeof(S));
  }

  S cell_;
};

}  // namespace orv
