#include "app/rxn_types_json.h"

#include "rxn/rxn_types.h"

namespace {

// The table's texts are identifiers: nothing in them needs escaping.
std::string Quoted(const char* text) {
    return std::string("\"") + text + "\"";
}

std::string FieldJson(const CRxnRecordField& field) {
    return "{\"name\": " + Quoted(field.m_name) +
           ", \"kind\": " + Quoted(RxnRecordFieldText(field.m_kind)) +
           ", \"label\": " + Quoted(field.m_label) + "}";
}

std::string TypeJson(const CRxnType& type) {
    std::string fields;
    for (const CRxnRecordField& field : type.m_fields)
        fields += (fields.empty() ? "" : ", ") + FieldJson(field);
    return "{\"code\": " + std::to_string(type.m_code) +
           ", \"class\": " + Quoted(type.m_className) +
           ", \"kind\": " + Quoted(RxnKindText(type.m_kind)) + ", \"fields\": [" + fields + "]}";
}

} // namespace

std::string RxnTypesJson() {
    std::string json = "[\n";
    const std::vector<CRxnType>& types = RxnTypes();
    for (size_t k = 0; k < types.size(); ++k)
        json += TypeJson(types[k]) + (k + 1 < types.size() ? ",\n" : "\n");
    return json + "]\n";
}
