#include "qvd/table_reader.h"

#include <algorithm>

#include "qvd/field_binding.h"
#include "qvd/filter.h"
#include "qvd/header_parser.h"
#include "qvd/row_decoder.h"
#include "qvd/row_layout.h"
#include "runtime/text_util.h"

namespace orv {

QvdTableReader::QvdTableReader(TypeTraitsCollection& layout, TableReadOptions options)
    : layout_(layout), options_(std::move(options)) {}

QvdTableReader::~QvdTableReader() = default;

Status QvdTableReader::Open(IFileInput& input, const LayoutFromHeader& fromHeader) {
  ORV_RETURN_IF_ERROR(ReadHeader(input));
  if (fromHeader) {
    ORV_RETURN_IF_ERROR(fromHeader(fields_));
  }
  ORV_RETURN_IF_ERROR(Bind());
  decoder_ = MakeDecoder();
  return decoder_->LoadTables(input);
}

Status QvdTableReader::ReadRows(IFileInput& input, BufferedFileOutput& output,
                                IntervalStats& stats) {
  return decoder_->ReadRows(input, output, stats);
}

Status QvdTableReader::ReadHeader(IFileInput& input) {
  std::string header;
  uint64_t dataStart = 0;
  if (std::optional<std::string> error =
          ReadQvdHeader(input, header, dataStart, table_, fields_, HeaderUse::kReadData)) {
    return Status::Damaged(*error);
  }
  // Compressed or encrypted data would decode as garbage.
  for (const char* element : {"Compression", "EncryptionInfo"}) {
    auto found = table_.properties.find(element);
    if (found != table_.properties.end() && !trim(found->second).empty()) {
      return Status::Unsupported(std::string("Can't read a QVD table with ") + element + ": '" +
                                 Shorten(found->second) + "'.");
    }
  }
  ORV_RETURN_IF_ERROR(CheckSymbolArea(fields_));
  return CheckBitLayout(table_, fields_);
}

// The fields, then the filters: each filter's field must be in the layout, and its value is read
// as a value of that field.
Status QvdTableReader::Bind() {
  ORV_RETURN_IF_ERROR(
      CheckFieldCount(layout_.size(), fields_.size(), options_.matchFields, options_.fieldSubset));
  std::vector<FilterCondition> conditions(options_.filters.size());
  std::vector<size_t> filterLayoutFields;
  for (size_t f = 0; f < conditions.size(); ++f) {
    ORV_RETURN_IF_ERROR(ParseFilterCondition(options_.filters[f], conditions[f]));
    const std::optional<size_t> field = KeysToIndices(layout_, {conditions[f].fieldName})[0];
    if (!field) {
      return Status::Invalid("Filter field '" + conditions[f].fieldName +
                             "' is not in the layout: a field must be in the layout (-d or the "
                             "layout file) to filter on it.");
    }
    filterLayoutFields.push_back(*field);
  }
  ORV_RETURN_IF_ERROR(BindFields(layout_, fields_, options_.matchFields, binding_));
  for (size_t f = 0; f < conditions.size(); ++f) {
    auto found = std::find(binding_.begin(), binding_.end(), filterLayoutFields[f]);
    filters_.push_back(std::make_unique<RowFilter>());
    filterFields_.emplace_back(static_cast<size_t>(found - binding_.begin()),
                               filters_.back().get());
    ORV_RETURN_IF_ERROR(filters_.back()->Bind(layout_[filterLayoutFields[f]], conditions[f]));
  }
  return CheckNullable(layout_, fields_, binding_);
}

// Symbol offsets as narrow as the longest table allows.
std::unique_ptr<RowDecoderBase> QvdTableReader::MakeDecoder() {
  uint64_t longest = 0;
  for (const QvdFieldMetadata& field : fields_) {
    longest = std::max(longest, field.length);
  }
  const DecoderSetup setup{&layout_, &options_, &table_, &fields_, &binding_, &filterFields_};
  if (longest <= uint64_t{1} << 8) {
    return std::make_unique<RowDecoder<uint8_t>>(setup);
  }
  if (longest <= uint64_t{1} << 16) {
    return std::make_unique<RowDecoder<uint16_t>>(setup);
  }
  if (longest <= uint64_t{1} << 32) {
    return std::make_unique<RowDecoder<uint32_t>>(setup);
  }
  return std::make_unique<RowDecoder<uint64_t>>(setup);
}

}  // namespace orv
