#include "types/type_traits_parser.h"

#include <cstdio>

#include "runtime/logger.h"
#include "types/date.h"
#include "types/date_time.h"
#include "types/decimal.h"
#include "types/floating_point.h"
#include "types/integral.h"
#include "types/string.h"

namespace orv {

std::unique_ptr<TypeTraits> BuildTypeTraits(const FieldSpec& spec, std::string* error) {
  std::unique_ptr<TypeTraits> field;
  if (spec.type == "int") {
    field = std::make_unique<IntegralTypeTraits<int>>(spec.name);
  } else if (spec.type == "double") {
    field = std::make_unique<FloatingPointTypeTraits<double>>(spec.name);
  } else if (spec.type == "decimal") {
    field = std::make_unique<DecimalTraits>(
        spec.name, spec.precision,
        spec.precision ? std::optional<unsigned>(spec.scale.value_or(0)) : std::nullopt);
  } else if (spec.type == "date") {
    auto date = std::make_unique<DateTraits>(spec.name, spec.format);
    date->SetQvdFormat(spec.qvdFormat);
    field = std::move(date);
  } else if (spec.type == "datetime") {
    auto dateTime = std::make_unique<DateTimeTraits>(spec.name, spec.format);
    dateTime->SetQvdFormat(spec.qvdFormat);
    if (spec.time) {
      dateTime->SetTime(true);
    }
    if (spec.interval) {
      dateTime->SetInterval(true);
    }
    field = std::move(dateTime);
  } else if (spec.type == "string") {
    auto string = std::make_unique<VariableStringTypeTraits>(spec.name, spec.size);
    if (spec.collation) {
      string->SetCollation({.icuLocale = spec.collation, .locale = std::nullopt});
      std::string collatorError;
      string->MakeCompareContext(false, &collatorError);
      if (!collatorError.empty()) {
        *error = collatorError;
        return nullptr;
      }
    }
    field = std::move(string);
  } else {
    *error = "Unknown type: '" + spec.type + "'.";
    return nullptr;
  }
  field->SetNullable(spec.nullable);
  for (const std::string& token : spec.nullTokens) {
    field->AddNullToken(token);
  }
  if (spec.separator) {
    field->SetSeparator(spec.separator);
  }
  field->SetQuote(spec.quote);
  field->SetSortDirection(spec.descending ? 1 : 0);
  return field;
}

FieldSpec DescribeTypeTraits(const TypeTraits& field) {
  FieldSpec spec;
  spec.name = field.name();
  spec.type = field.typeWord();
  if (const DecimalTraits* decimal = field.AsDecimal()) {
    spec.precision = decimal->precision();
    spec.scale = decimal->scale();
  } else if (const DateTraits* date = field.AsDate()) {
    spec.format = date->format();
    spec.qvdFormat = date->qvdFormat();
  } else if (const DateTimeTraits* dateTime = field.AsDateTime()) {
    spec.format = dateTime->format();
    spec.qvdFormat = dateTime->qvdFormat();
    spec.time = dateTime->isTime();
    spec.interval = dateTime->isInterval();
  } else if (const StringTypeTraits* string = field.AsString()) {
    spec.size = string->fixedSize();
    if (string->collation()) {
      spec.collation = string->collation()->icuLocale;
    }
  }
  spec.nullable = field.nullable();
  spec.nullTokens = field.nullTokens();
  spec.separator = field.explicitSeparator();
  spec.quote = field.quote();
  spec.descending = field.sortDirection() == 1;
  return spec;
}

std::string ToString(const TypeTraitsCollection& fields, bool inlineForm) {
  std::vector<FieldSpec> specs;
  specs.reserve(fields.size());
  for (const auto& field : fields) {
    specs.push_back(DescribeTypeTraits(*field));
  }
  return RenderDataDefinition(specs, inlineForm);
}

std::optional<std::string> TypeTraitsParser::ParseInlineFields(std::string_view text,
                                                               TypeTraitsCollection& fields) {
  std::vector<FieldSpec> specs;
  if (std::optional<std::string> error = ParseDataDefinition(text, specs)) {
    return error;
  }
  for (const FieldSpec& spec : specs) {
    std::string error;
    std::unique_ptr<TypeTraits> field = BuildTypeTraits(spec, &error);
    if (field == nullptr) {
      return error;
    }
    fields.push_back(std::move(field));
  }
  return std::nullopt;
}

std::optional<std::string> TypeTraitsParser::LoadAndParseFields(const std::string& path,
                                                                TypeTraitsCollection& fields) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return "Can't open data definition file: '" + path + "'.";
  }
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, n);
  }
  bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) {
    return "Can't read data definition file: '" + path + "'.";
  }
  return ParseInlineFields(text, fields);
}

bool LoadLayout(TypeTraitsCollection& layout, const std::vector<std::string>& positionals) {
  if (!positionals.empty() && layout.empty()) {
    if (std::optional<std::string> error =
            TypeTraitsParser::LoadAndParseFields(positionals[0], layout)) {
      g_Logger.Fail("%s", error->c_str());
      return false;
    }
  }
  g_Logger.Info("fields", std::to_string(layout.size()));
  if (std::optional<std::string> error = CheckPresenceAndUniqueness(layout)) {
    g_Logger.Fail("%s", error->c_str());
    return false;
  }
  return true;
}

bool CheckFormatSupport(const TypeTraitsCollection& layout, bool (TypeTraits::*supports)() const) {
  for (const auto& field : layout) {
    if (!((*field).*supports)()) {
      g_Logger.Fail("'%s' field data type is not supported: '%s'.", field->GetFullName().c_str(),
                    field->GetTypeName().c_str());
      return false;
    }
  }
  return true;
}

}  // namespace orv
