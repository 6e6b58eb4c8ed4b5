#pragma once
// What a compiled template holds; shared by Template and RecordRows only.
#include "rules/FieldMatch.h"
#include "rules/Template.h"

#include <vector>

namespace vc::records {

struct Template::Data {
    TemplateSpec spec;
    std::vector<CompiledField> fields;  // one per spec field, in order
    QList<Column> columns;              // field by field; a field with named groups has one per group
    int repeatField = -1;               // rows "match": the field whose matches make the rows
    QList<int> uniqueColumns;           // unique: the columns whose values count (all when empty)
    QList<int> requiredFields;
    bool needsHeaders = false;
    bool needsAttachmentText = false;
};

}  // namespace vc::records
