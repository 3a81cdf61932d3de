#include "inspect/reports.h"

#include <libxml/xmlwriter.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "inspect/type_inference.h"
#include "types/type_traits_parser.h"

namespace orv {

std::string JsonReport(const QvdTableMetadata* table, const std::vector<QvdFieldMetadata>& fields,
                       bool realAsDecimal) {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 2);
  auto string = [&writer](const std::string& text) {
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  };
  writer.StartObject();
  if (table != nullptr) {
    auto name = table->properties.find("TableName");
    if (name != table->properties.end()) {
      writer.Key("name");
      string(name->second);
    }
    writer.Key("records");
    writer.Uint64(table->noOfRecords);
  }
  writer.Key("fields");
  writer.StartArray();
  for (const QvdFieldMetadata& field : fields) {
    writer.StartObject();
    writer.Key("name");
    string(field.fieldName);
    writer.Key("type");
    writer.String(ReportText(InferFieldType(field, realAsDecimal)));
    if (field.numberFormat) {
      writer.Key("format");
      string(*field.numberFormat);
    }
    if (!field.tags.empty()) {
      writer.Key("tags");
      writer.StartArray();
      for (const std::string& tag : field.tags) {
        string(tag);
      }
      writer.EndArray();
    }
    writer.EndObject();
  }
  writer.EndArray();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

std::string XmlReport(const QvdTableMetadata* table, const std::vector<QvdFieldMetadata>& fields,
                      bool realAsDecimal) {
  xmlBufferPtr buffer = xmlBufferCreate();
  xmlTextWriterPtr writer = xmlNewTextWriterMemory(buffer, 0);
  xmlTextWriterSetIndent(writer, 1);
  xmlTextWriterSetIndentString(writer, BAD_CAST "  ");
  xmlTextWriterStartDocument(writer, nullptr, nullptr, nullptr);
  auto element = [writer](const char* name, const std::string& text) {
    xmlTextWriterWriteElement(writer, BAD_CAST name, BAD_CAST text.c_str());
  };
  xmlTextWriterStartElement(writer, BAD_CAST "table");
  if (table != nullptr) {
    auto name = table->properties.find("TableName");
    if (name != table->properties.end()) {
      element("name", name->second);
    }
    element("records", std::to_string(table->noOfRecords));
  }
  xmlTextWriterStartElement(writer, BAD_CAST "fields");
  for (const QvdFieldMetadata& field : fields) {
    xmlTextWriterStartElement(writer, BAD_CAST "field");
    element("name", field.fieldName);
    element("type", ReportText(InferFieldType(field, realAsDecimal)));
    if (field.numberFormat) {
      element("format", *field.numberFormat);
    }
    if (!field.tags.empty()) {
      xmlTextWriterStartElement(writer, BAD_CAST "tags");
      for (const std::string& tag : field.tags) {
        element("tag", tag);
      }
      xmlTextWriterEndElement(writer);
    }
    xmlTextWriterEndElement(writer);
  }
  xmlTextWriterEndElement(writer);
  xmlTextWriterEndElement(writer);
  xmlTextWriterEndDocument(writer);
  xmlFreeTextWriter(writer);
  std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                   static_cast<size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  return text;
}

std::string DataDefinitionReport(const std::vector<QvdFieldMetadata>& fields,
                                 const InspectedLayoutOptions& options) {
  TypeTraitsCollection layout;
  BuildInspectedLayout(fields, options, layout);
  return ToString(layout, options.inlineForm);
}

}  // namespace orv
