#include "vorn/model/TreeSchema.h"

#include "vorn/json/Array.h"
#include "vorn/model/DataTypesManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/model/ValueConstraints.h"

namespace {

// The schema of a property's values as its dictionary declares them.
VornJSONObject PropertySchema(const VornModelPropertyDefinition& definition) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {"string", "string"}, {"bool", "boolean"}, {"boolean", "boolean"}, {"number", "number"}, {"double", "number"},
      {"real", "number"},   {"int", "integer"},  {"integer", "integer"}};
  VornJSONObject schema;
  for (const auto& [word, type] : kTypes)
    if (definition.type == word) schema.Set("type", type);
  if (definition.isArray) schema = VornJSONObject{{"type", "array"}, {"items", std::move(schema)}};
  return schema;
}

std::string TextOf(const VornModelObject& object, const char* name) {
  const VornValue* value = object.GetValue(name);
  return value && value->Holds<std::string>() ? value->GetRawValue<std::string>() : std::string();
}

class SchemaBuilder {
public:
  VornJSONObject Build(const VornModelObject& root, const std::string& title) {
    VornJSONObject schema{{"$schema", "https://json-schema.org/draft/2020-12/schema"}, {"title", title}};
    VornJSONObject node = _Node(root);
    schema.Set("$defs", std::move(m_defs));
    for (auto& [key, value] : node) schema.Set(key, value);
    return schema;
  }

private:
  // A data type's entry: its kind of value, without any object's limits. A
  // type that derives from no basic one has no kind of its own: its entry
  // takes any value and each object's value keeps the kind it holds.
  void _Define(const std::string& dataType) {
    if (m_defs.HasKey(dataType)) return;
    VornValueConstraints kind;
    if (auto basic = VornValueConstraints::KindOfDataType(dataType, &kind.components)) kind.kind = *basic;
    VornJSONObject entry = kind.ValueSchema();
    entry.Set("title", dataType);
    std::string lineage = "Data type " + dataType;
    auto definition = VornDataTypesManager::GetDataTypeDefinition(dataType);
    for (auto super = definition ? definition->superType : nullptr; super; super = super->superType)
      lineage += ", a " + super->name;
    entry.Set("description", lineage + ": " + Vorn::DescribeValueKind(kind.kind, kind.components) + ".");
    m_defs.Set(dataType, std::move(entry));
  }

  // The value's kind is written out, not referenced: form renderers compile
  // a child's schema on its own (to pick the child an anyOf alternative
  // stands for) and drop keywords beside a "$ref". The data type is named
  // in "$comment" and described in $defs.
  VornJSONObject _Value(const VornModelObject& object) {
    const VornValueConstraints constraints = VornValueConstraints::Of(object);
    VornJSONObject value = constraints.ValueSchema();
    if (!constraints.dataType.empty()) {
      _Define(constraints.dataType);
      value.Set("$comment", "data type " + constraints.dataType);
    }
    if (const std::string label = TextOf(object, "label"); !label.empty()) value.Set("title", label);
    if (const std::string description = TextOf(object, "description"); !description.empty())
      value.Set("description", description);
    return value;
  }

  VornJSONObject _Node(const VornModelObject& object) {
    VornJSONObject properties;
    VornJSONArray required;
    for (const auto& [name, json] : object.ToJSON()) {
      (void)json;
      VornJSONObject property;
      if (name == "value") {
        property = _Value(object);
      } else if (name == "id") {
        property = VornJSONObject{{"const", object.GetID()}};
      } else if (const auto held = object.GetProperty(name)) {
        // The dictionary's descriptions would repeat in every object: the
        // schema of a large tree is then mostly them.
        property = PropertySchema(held->GetDefinition());
      }
      if (name != "value") property.Set("readOnly", true);
      properties.Set(name, std::move(property));
      required.PushBack(name);
    }
    const auto children = object.GetChildren();
    if (!children.empty()) {
      VornJSONArray items;
      for (const auto& child : children) items.PushBack(_Node(*child));
      VornJSONObject array{{"type", "array"}};
      array.Set("items", items.size() == 1 ? items[0] : VornJSONValue(VornJSONObject{{"anyOf", std::move(items)}}));
      array.Set("minItems", static_cast<std::int64_t>(children.size()));
      array.Set("maxItems", static_cast<std::int64_t>(children.size()));
      properties.Set("children", std::move(array));
      required.PushBack("children");
    }
    std::string title = TextOf(object, "label");
    if (title.empty()) title = TextOf(object, "name");
    VornJSONObject node{{"type", "object"}, {"title", title.empty() ? object.GetID() : title}};
    if (const std::string description = TextOf(object, "description"); !description.empty())
      node.Set("description", description);
    node.Set("properties", std::move(properties));
    node.Set("required", std::move(required));
    node.Set("additionalProperties", false);
    return node;
  }

  VornJSONObject m_defs;
};

}  // namespace

VornJSONObject Vorn::DescribeTree(const VornModelObject& root) {
  VornJSONObject json = root.ToJSON();
  const auto children = root.GetChildren();
  if (!children.empty()) {
    VornJSONArray list;
    list.Reserve(children.size());
    for (const auto& child : children) list.PushBack(DescribeTree(*child));
    json.Set("children", std::move(list));
  }
  return json;
}

VornJSONObject Vorn::DescribeTreeSchema(const VornModelObject& root, const std::string& title) {
  return SchemaBuilder().Build(root, title);
}
