// Records of a layout from the binary record stream or delimited text: the settings and the read
// loop that packdown and feedout share.
//
// A record is its fields' values in layout order. The input ending before the first field of a
// record is the normal end; any other failure names the field and the 1-based record number, and
// an input the system can't read is an I/O error with the system's reason.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "runtime/input.h"
#include "runtime/stats.h"
#include "runtime/status.h"
#include "types/type_traits.h"

namespace orv {

// The command-line settings of a program that reads records.
struct RecordInputOptions {
  TypeTraitsCollection layout;
  bool textInput = false;
  bool allowMissingSeparator = false;
  bool unbuffered = false;
  std::string debugFile;  // where the bytes of a record that fails go; empty for none
};

// --allow-missing-separator-at-eof
Status AllowMissingSeparator(RecordInputOptions& options);
// The steps after the program's own rules: every field's type must have a form in the target
// format (`supports`), --allow-missing-separator-at-eof goes with text input only; then readies
// the layout for reading.
Status PrepareRecordInput(RecordInputOptions& options, bool (TypeTraits::*supports)() const);

class RecordReader {
 public:
  RecordReader(IFileInput& input, const RecordInputOptions& options)
      : input_(input),
        layout_(options.layout),
        text_(options.textInput),
        debugFile_(options.debugFile) {}

  // Reads records until the input ends. `readValue(i)` reads field i's value (ReadField, or a
  // store of the program's own) and returns its status word; `takeRecord()` has a whole record
  // and returns false to stop reading without a failure. Both are inlined into the loop.
  template <typename ReadValue, typename TakeRecord>
  Status ReadAll(ReadValue&& readValue, TakeRecord&& takeRecord) {
    IntervalStats stats("records");
    const size_t fieldCount = layout_.size();
    for (;;) {
      input_.BeginRecord();
      for (size_t i = 0; i < fieldCount; ++i) {
        if (const int status = readValue(i); status != kStatusOk) [[unlikely]] {
          if (status == kStatusEnd && i == 0) {
            stats.Success();
            return Status::Ok();
          }
          return Failure(i, status);
        }
      }
      ++records_;
      stats.Tick();
      if (!takeRecord()) {
        return Status::Ok();
      }
    }
  }

  // The next value of `field` through its descriptor: Parse for text, Read for the binary stream.
  int ReadField(TypeTraits& field) {
    size_t size = 0;
    return text_ ? field.Parse(input_, size, false) : field.Read(input_, size, false);
  }

  // For a `readValue` that refuses a value it has read: returns the word that makes ReadAll end
  // with `status`.
  int Refuse(Status status) {
    refusal_ = std::move(status);
    return kRefused;
  }

  // The whole records read.
  uint64_t records() const { return records_; }

  // The exit status for ReadAll's `status`: the FAIL line of a failure, then the bytes of a
  // record that could not be read into the debug file, when one was named.
  int Finish(const Status& status) const;

 private:
  static constexpr int kRefused = -1;  // apart from every input and codec status

  Status Failure(size_t field, int status);

  IFileInput& input_;
  const TypeTraitsCollection& layout_;
  bool text_;
  const std::string& debugFile_;
  uint64_t records_ = 0;
  bool failedRecord_ = false;
  Status refusal_;
};

}  // namespace orv
