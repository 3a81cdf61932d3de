// The outcome of an operation that can fail for a reason the user must hear about. A failed
// status carries the exact text of the FAIL line the program writes for it; library code never
// writes that line itself, so that tests, fuzz targets and other callers see the same message.
#pragma once

#include <string>
#include <utility>

namespace orv {

class [[nodiscard]] Status {
 public:
  enum class Kind {
    kOk,
    kIoError,      // the system refused a read, a write or an open
    kDamaged,      // the input's bytes contradict themselves (a cut or corrupted file)
    kInvalid,      // the input or the request is well formed but wrong (bad value, bad option)
    kUnsupported,  // the input is sound but uses something this system can't read
  };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status IoError(std::string message) { return {Kind::kIoError, std::move(message)}; }
  static Status Damaged(std::string message) { return {Kind::kDamaged, std::move(message)}; }
  static Status Invalid(std::string message) { return {Kind::kInvalid, std::move(message)}; }
  static Status Unsupported(std::string message) {
    return {Kind::kUnsupported, std::move(message)};
  }

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }
  // The FAIL text; empty for a success.
  const std::string& message() const { return message_; }

 private:
  Status(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  Kind kind_ = Kind::kOk;
  std::string message_;
};

// Returns a failed status from the enclosing function.
#define ORV_RETURN_IF_ERROR(expression)       \
  do {                                        \
    ::orv::Status orv_status_ = (expression); \
    if (!orv_status_.ok()) {                  \
      return orv_status_;                     \
    }                                         \
  } while (false)

}  // namespace orv
