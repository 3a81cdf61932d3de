#include "programs/common/record_reader.h"

#include <cstring>

#include "programs/common/program.h"
#include "runtime/logger.h"
#include "runtime/options.h"
#include "runtime/settings.h"
#include "types/type_traits_parser.h"

namespace orv {

Status AllowMissingSeparator(RecordInputOptions& options) {
  options.allowMissingSeparator = true;
  g_TypeTraitsOptions.allowMissingSeparatorAtEof = true;
  return Status::Ok();
}

Status PrepareRecordInput(RecordInputOptions& options, bool (TypeTraits::*supports)() const) {
  ORV_RETURN_IF_ERROR(CheckLayoutSupport(options.layout, supports));
  ORV_RETURN_IF_ERROR(
      CheckMissingSeparatorOption(options.allowMissingSeparator, options.textInput));
  options.layout.Prepare();
  return Status::Ok();
}

Status RecordReader::Failure(size_t field, int status) {
  if (status == kRefused) {
    return std::move(refusal_);
  }
  failedRecord_ = true;
  if (status == kStatusError) {
    return Status::IoError(std::string("Error reading input: ") + strerror(input_.errorNumber()) +
                           ".");
  }
  return ReportReadFailure(layout_[field], records_ + 1, text_);
}

int RecordReader::Finish(const Status& status) const {
  const int exitStatus = orv::Finish(status);
  if (failedRecord_ && !debugFile_.empty() && !input_.LogDebugDump(debugFile_)) {
    g_Logger.Warning("Can't write debug file: '%s'.", debugFile_.c_str());
  }
  return exitStatus;
}

}  // namespace orv
