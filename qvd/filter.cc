#include "qvd/filter.h"

#include <cstring>
#include <utility>

namespace orv {

namespace {

// Operators in search order: the first that occurs anywhere in the condition is taken.
constexpr std::pair<const char*, FilterOperator> kFilterOperators[] = {
    {"==", FilterOperator::Equal},          {"!=", FilterOperator::NotEqual},
    {"<=", FilterOperator::LessOrEqual},    {"<", FilterOperator::Less},
    {">=", FilterOperator::GreaterOrEqual}, {">", FilterOperator::Greater},
};

}  // namespace

Status ParseFilterCondition(const std::string& text, FilterCondition& condition) {
  for (const auto& [word, op] : kFilterOperators) {
    const size_t at = text.find(word);
    if (at != std::string::npos) {
      condition.fieldName = text.substr(0, at);
      condition.op = op;
      condition.valueText = text.substr(at + strlen(word));
      return Status::Ok();
    }
  }
  return Status::Invalid("Filter condition parsing failed.");
}

Status RowFilter::Bind(TypeTraits& field, const FilterCondition& condition) {
  op_ = condition.op;
  std::string token;
  if (field.quote()) {
    token.push_back(*field.quote());
  }
  token += condition.valueText;
  if (field.quote()) {
    token.push_back(*field.quote());
  }
  token.append(field.separator());
  MemoryInput input(token.data(), token.size());
  size_t size = 0;
  if (field.Parse(input, size, false) != kStatusOk) {
    return Status::Invalid("Error reading filter value: '" + token + "'.");
  }
  if (!field.IsNull()) {
    value_.emplace(size, '\0');
    char* out = value_->data();
    field.WriteToBuffer(out, false);
  }
  const int direction = field.sortDirection();
  field.SetSortDirection(0);
  equal_ = field.getEqualFunctor(false);
  compare_ = field.getCompareFunctor(false);
  field.SetSortDirection(direction);
  return Status::Ok();
}

bool RowFilter::Decide(int64_t s, const TypeTraits& field) {
  const bool pass = Passes(field);
  const uint64_t entry = static_cast<uint64_t>(s + 1);
  if (s >= -1 && entry < decided_.size()) {
    decided_[entry] = pass ? kPass : kReject;
  }
  return pass;
}

bool RowFilter::Passes(const TypeTraits& field) {
  const char* value = nullptr;
  size_t valueSize = 0;
  if (!field.IsNull()) {
    buffer_.resize(field.valueLength() + field.ValueWidth());
    char* out = buffer_.data();
    field.WriteToBuffer(out, false);
    value = buffer_.data();
    valueSize = static_cast<size_t>(out - buffer_.data());
  }
  const char* wanted = value_ ? value_->data() : nullptr;
  const size_t wantedSize = value_ ? value_->size() : 0;
  switch (op_) {
    case FilterOperator::Equal:
      return equal_(value, valueSize, wanted, wantedSize);
    case FilterOperator::NotEqual:
      return !equal_(value, valueSize, wanted, wantedSize);
    default:
      break;
  }
  const int r = compare_(value, valueSize, wanted, wantedSize);
  switch (op_) {
    case FilterOperator::Less:
      return r == kFirstBefore;
    case FilterOperator::LessOrEqual:
      return r == kFirstBefore || r == kEqual;
    case FilterOperator::Greater:
      return r == kFirstAfter;
    default:
      return r == kEqual || r == kFirstAfter;
  }
}

}  // namespace orv
