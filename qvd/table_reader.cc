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

Status QvdTableReader::Open(IFileInput& input) {
  ORV_RETURN_IF_ERROR(ReadHeader(input));
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

// The fields, then the filter: its field must be in the layout, and its value is read as a value
// of that field.
Status QvdTableReader::Bind() {
  ORV_RETURN_IF_ERROR(
      CheckFieldCount(layout_.size(), fields_.size(), options_.matchFields, options_.fieldSubset));
  FilterCondition condition;
  std::optional<size_t> filterLayoutField;
  if (options_.filter) {
    ORV_RETURN_IF_ERROR(ParseFilterCondition(*options_.filter, condition));
    if (std::optional<std::string> error = CheckExistence(layout_, {condition.fieldName})) {
      return Status::Invalid(*error);
    }
    filterLayoutField = *KeysToIndices(layout_, {condition.fieldName})[0];
  }
  ORV_RETURN_IF_ERROR(BindFields(layout_, fields_, options_.matchFields, binding_));
  if (filterLayoutField) {
    auto found = std::find(binding_.begin(), binding_.end(), filterLayoutField);
    filterField_ = static_cast<size_t>(found - binding_.begin());
    filter_ = std::make_unique<RowFilter>();
    ORV_RETURN_IF_ERROR(filter_->Bind(layout_[*filterLayoutField], condition));
  }
  return CheckNullable(layout_, fields_, binding_);
}

// Symbol offsets as narrow as the longest table allows.
std::unique_ptr<RowDecoderBase> QvdTableReader::MakeDecoder() {
  uint64_t longest = 0;
  for (const QvdFieldMetadata& field : fields_) {
    longest = std::max(longest, field.length);
  }
  const DecoderSetup setup{&layout_,  &options_,    &table_,      &fields_,
                           &binding_, filterField_, filter_.get()};
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
