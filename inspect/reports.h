// The header reports of tablepeek: JSON, XML and data-definition text.
#pragma once

#include <string>
#include <vector>

#include "format/qvd_format.h"
#include "inspect/type_inference.h"

namespace orv {

// `table` is null for a fields-only report.
std::string JsonReport(const QvdTableMetadata* table, const std::vector<QvdFieldMetadata>& fields,
                       bool realAsDecimal);
std::string XmlReport(const QvdTableMetadata* table, const std::vector<QvdFieldMetadata>& fields,
                      bool realAsDecimal);
// The layout inferred from the fields, as data-definition text.
std::string DataDefinitionReport(const std::vector<QvdFieldMetadata>& fields,
                                 const InspectedLayoutOptions& options);

}  // namespace orv
