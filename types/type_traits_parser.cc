#include "types/type_traits_parser.h"

#include <cstdio>

#include "runtime/data_definition_render.h"
#include "runtime/logger.h"
#include "types/date.h"
#include "types/date_time.h"
#include "types/decimal.h"
#include "types/floating_point.h"
#include "types/integral.h"
#include "types/string.h"

namespace orv {

std::unique_ptr<TypeTraits> BuildTypeTraits(const FieldSpec& definition, std::string* error) {
  std::unique_ptr<TypeTraits> field;
  if (definition.type == "int") {
    field = std::make_unique<IntegralTypeTraits<int>>(definition.name);
  } else if (definition.type == "double") {
    field = std::make_unique<FloatingPointTypeTraits<double>>(definition.name);
  } else if (definition.type == "decimal") {
    field = std::make_unique<DecimalTraits>(
        definition.name, definition.precision,
        definition.precision ? std::optional<unsigned>(definition.scale.value_or(0))
                             : std::nullopt);
  } else if (definition.type == "date") {
    auto date = std::make_unique<DateTraits>(definition.name, definition.format);
    date->SetQvdFormat(definition.qvdFormat);
    field = std::move(date);
  } else if (definition.type == "datetime") {
    auto dateTime = std::make_unique<DateTimeTraits>(definition.name, definition.format);
    dateTime->SetQvdFormat(definition.qvdFormat);
    if (definition.time) {
      dateTime->SetTime(true);
    }
    if (definition.interval) {
      dateTime->SetInterval(true);
    }
    field = std::move(dateTime);
  } else if (definition.type == "string") {
    auto string = std::make_unique<VariableStringTypeTraits>(definition.name, definition.size);
    if (definition.collation) {
      string->SetCollation({.icuLocale = definition.collation, .locale = std::nullopt});
      std::string collatorError;
      string->MakeCompareContext(false, &collatorError);
      if (!collatorError.empty()) {
        *error = collatorError;
        return nullptr;
      }
    }
    field = std::move(string);
  } else {
    *error = "Unknown type: '" + definition.type + "'.";
    return nullptr;
  }
  field->SetNullable(definition.nullable);
  for (const std::string& token : definition.nullTokens) {
    field->AddNullToken(token);
  }
  if (definition.separator) {
    field->SetSeparator(definition.separator);
  }
  field->SetQuote(definition.quote);
  field->SetSortDirection(definition.descending ? 1 : 0);
  return field;
}

FieldSpec DescribeTypeTraits(const TypeTraits& field) {
  FieldSpec definition;
  definition.name = field.name();
  definition.type = field.typeWord();
  if (const DecimalTraits* decimal = field.AsDecimal()) {
    definition.precision = decimal->precision();
    definition.scale = decimal->scale();
  } else if (const DateTraits* date = field.AsDate()) {
    definition.format = date->format();
    definition.qvdFormat = date->qvdFormat();
  } else if (const DateTimeTraits* dateTime = field.AsDateTime()) {
    definition.format = dateTime->format();
    definition.qvdFormat = dateTime->qvdFormat();
    definition.time = dateTime->isTime();
    definition.interval = dateTime->isInterval();
  } else if (const StringTypeTraits* string = field.AsString()) {
    definition.size = string->fixedSize();
    if (string->collation()) {
      definition.collation = string->collation()->icuLocale;
    }
  }
  definition.nullable = field.nullable();
  definition.nullTokens = field.nullTokens();
  definition.separator = field.explicitSeparator();
  definition.quote = field.quote();
  definition.descending = field.sortDirection() == 1;
  return definition;
}

TypeTraitsCollection CopyLayout(const TypeTraitsCollection& layout) {
  TypeTraitsCollection copy;
  for (const auto& field : layout) {
    std::string error;
    std::unique_ptr<TypeTraits> made = BuildTypeTraits(DescribeTypeTraits(*field), &error);
    made->SetCsvText(field->csvTextDelimiter());
    if (const std::optional<char> delimiter = field->csvInputDelimiter()) {
      made->SetCsv(*delimiter);
    }
    copy.push_back(std::move(made));
  }
  copy.Prepare();
  return copy;
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
  for (const FieldSpec& definition : specs) {
    std::string error;
    std::unique_ptr<TypeTraits> field = BuildTypeTraits(definition, &error);
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

Status CompleteLayout(TypeTraitsCollection& layout, const std::vector<std::string>& positionals) {
  // With -d a positional argument is not read: a user who meant it as the input must hear so.
  for (size_t i = layout.empty() ? 1 : 0; i < positionals.size(); ++i) {
    g_Logger.Warning("Argument '%s' is ignored: the layout comes from %s; name the input with -i.",
                     positionals[i].c_str(), layout.empty() ? "the first argument" : "-d");
  }
  if (!positionals.empty() && layout.empty()) {
    if (std::optional<std::string> error =
            TypeTraitsParser::LoadAndParseFields(positionals[0], layout)) {
      return Status::Invalid(*error);
    }
  }
  g_Logger.Info("fields", std::to_string(layout.size()));
  if (std::optional<std::string> error = CheckPresenceAndUniqueness(layout)) {
    return Status::Invalid(*error);
  }
  return Status::Ok();
}

Status CheckLayoutSupport(const TypeTraitsCollection& layout,
                          bool (TypeTraits::*supports)() const) {
  for (const auto& field : layout) {
    if (!((*field).*supports)()) {
      std::string message = "'";
      message.append(field->GetFullName())
          .append("' field data type is not supported: '")
          .append(field->GetTypeName())
          .append("'.");
      return Status::Unsupported(std::move(message));
    }
  }
  return Status::Ok();
}

}  // namespace orv
