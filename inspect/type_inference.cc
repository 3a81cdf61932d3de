#include "inspect/type_inference.h"

#include <algorithm>

#include "qvd/field_binding.h"
#include "runtime/settings.h"
#include "runtime/text_util.h"
#include "types/date.h"
#include "types/date_time.h"
#include "types/decimal.h"
#include "types/floating_point.h"
#include "types/integral.h"
#include "types/string.h"

namespace orv {

namespace {

constexpr const char* kReportTexts[] = {"int32",     "double", "decimal",  "date",
                                        "timestamp", "time",   "interval", "string"};

std::unique_ptr<TypeTraits> MakeDescriptor(InspectedType type, const std::string& name,
                                           const QvdFieldMetadata& metadata,
                                           const InspectedLayoutOptions& options) {
  switch (type) {
    case InspectedType::kInt32:
      return std::make_unique<IntegralTypeTraits<int>>(name);
    case InspectedType::kDouble:
      return std::make_unique<FloatingPointTypeTraits<double>>(name);
    case InspectedType::kDecimal: {
      // Capped before narrowing: the command line allows any 64-bit number.
      uint64_t precision = options.decimalPrecision.value_or(g_TypeTraitsOptions.decimalPrecision);
      precision = std::clamp<uint64_t>(precision, 1, 38);
      // A FIX field's own decimals, unless the command line names a scale.
      const uint64_t ownScale = metadata.numberType == QvdNumberType::Fix && metadata.numberDecimals
                                    ? *metadata.numberDecimals
                                    : g_TypeTraitsOptions.decimalScale;
      uint64_t scale = std::min<uint64_t>(options.decimalScale.value_or(ownScale), precision);
      return std::make_unique<DecimalTraits>(name, static_cast<unsigned>(precision),
                                             static_cast<unsigned>(scale));
    }
    case InspectedType::kDate:
      return std::make_unique<DateTraits>(name, options.dateFormat);
    case InspectedType::kTimestamp:
    case InspectedType::kTime:
    case InspectedType::kInterval: {
      auto field = std::make_unique<DateTimeTraits>(name, options.dateTimeFormat);
      field->SetTime(type == InspectedType::kTime);
      field->SetInterval(type == InspectedType::kInterval);
      return field;
    }
    case InspectedType::kString:
      break;
  }
  return std::make_unique<VariableStringTypeTraits>(name);
}

std::optional<std::string> SeparatorSetting(char c) {
  return c == '\0' ? std::string() : std::string(1, c);
}

}  // namespace

const char* ReportText(InspectedType type) {
  return kReportTexts[static_cast<int>(type)];
}

InspectedType InferFieldType(const QvdFieldMetadata& field, bool realAsDecimal) {
  auto has = [&field](const char* tag) { return field.tags.count(tag) != 0; };
  if (!has("$numeric")) {
    return InspectedType::kString;
  }
  // Date fields carry $timestamp as well: $date decides.
  if (has("$date")) {
    return InspectedType::kDate;
  }
  if (has("$timestamp")) {
    return InspectedType::kTimestamp;
  }
  if (field.numberType == QvdNumberType::Real || field.numberType == QvdNumberType::Fix) {
    return realAsDecimal ? InspectedType::kDecimal : InspectedType::kDouble;
  }
  if (has("$integer")) {
    return InspectedType::kInt32;
  }
  if (field.numberType == QvdNumberType::Time) {
    return InspectedType::kTime;
  }
  if (field.numberType == QvdNumberType::Interval) {
    return InspectedType::kInterval;
  }
  return InspectedType::kDouble;
}

void BuildInspectedLayout(const std::vector<QvdFieldMetadata>& fields,
                          const InspectedLayoutOptions& options, TypeTraitsCollection& layout) {
  const std::vector<std::string> names = LayoutFieldNames(fields);
  for (size_t j = 0; j < fields.size(); ++j) {
    const QvdFieldMetadata& metadata = fields[j];
    InspectedType type = options.allAsString ? InspectedType::kString
                                             : InferFieldType(metadata, options.realAsDecimal);
    std::unique_ptr<TypeTraits> field = MakeDescriptor(type, names[j], metadata, options);
    if (options.fieldSeparator) {
      field->SetSeparator(SeparatorSetting(*options.fieldSeparator));
    }
    if (options.quote && *options.quote != '\0') {
      field->SetQuote(*options.quote);
    }
    if (metadata.bias == qvd::kNullBias || options.nullText) {
      field->SetNullable(true);
    }
    if (options.nullText) {
      field->AddNullToken(*options.nullText);
    }
    layout.push_back(std::move(field));
  }
  if (!layout.empty() && options.recordSeparator) {
    layout[layout.size() - 1].SetSeparator(SeparatorSetting(*options.recordSeparator));
  }
  layout.Prepare();
}

}  // namespace orv
