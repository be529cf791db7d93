// Checked writes of model objects' values, and the JSON Schema of a tree.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "vorn/json/Array.h"
#include "vorn/json/Convert.h"
#include "vorn/json/Parser.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/DataTypesManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/model/TreeSchema.h"
#include "vorn/model/ValueConstraints.h"

namespace {
using Ptr = VornModelObject::Ptr;

VornJSONValue Parse(const std::string& text) { return VornJSONParser::ParseText(text, false); }
VornValuesByString Values(const std::string& json) { return Vorn::ConvertJSONObjectToValuesByString(Parse(json)); }
std::set<std::string> Keys(const VornJSONValue& object) {
  const std::vector<std::string> keys = static_cast<VornJSONObject&>(object).GetKeys();
  return {keys.begin(), keys.end()};
}

class CheckedWrites : public ::testing::Test {
protected:
  static void SetUpTestSuite() { VornDataTypesManager::RegisterDataTypes("VornBasicDataTypes"); }
};

// Where `node` (DescribeTree's form) leaves the object schema `schema`, ""
// when it fits: exactly the declared members, all required; the id is the
// constant; the value of the kind its data type's entry and its own schema
// give, within the bounds; each child fitting the one item carrying its id.
std::string Misfit(const VornJSONValue& node, const VornJSONValue& schema, const VornJSONValue& defs) {
  const auto at = [&](const std::vector<std::string>& path) { return schema.GetFromPath(path); };
  const VornJSONValue id = node.GetFromPath({"id"});
  std::set<std::string> required;
  for (const VornJSONValue& name : static_cast<VornJSONArray&>(at({"required"}))) required.insert(name.ToString());
  if (Keys(node) != Keys(at({"properties"})) || Keys(node) != required || at({"additionalProperties"}) != false)
    return id.ToString() + ": members";
  if (at({"properties", "id", "const"}) != id) return id.ToString() + ": id";
  if (const VornJSONValue value = node.GetFromPath({"value"}); !value.IsUndefined()) {
    const VornJSONValue own = at({"properties", "value"}), ref = own.GetFromPath({"$ref"});
    const VornJSONValue entry =
        ref.IsString() ? defs.GetFromPath({ref.ToString().substr(8)}) : VornJSONValue(VornJSONObject());
    const bool number = value.IsInt() || value.IsDouble();
    const std::map<std::string, bool> kinds = {{"number", number}, {"integer", value.IsInt()},
        {"string", value.IsString()}, {"boolean", value.IsBool()}, {"array", value.IsArray()}};
    for (const VornJSONValue& kind : {entry, own}) {
      const auto it = kinds.find(kind.GetFromPath({"type"}).ToString());
      if (kind.IsUndefined() || (it != kinds.end() && !it->second)) return id.ToString() + ": value kind";
    }
    const VornJSONValue min = own.GetFromPath({"minimum"}), max = own.GetFromPath({"maximum"});
    if (number && ((!min.IsUndefined() && double(value) < double(min)) ||
                   (!max.IsUndefined() && double(value) > double(max))))
      return id.ToString() + ": value bounds";
  }
  if (const VornJSONValue children = node.GetFromPath({"children"}); !children.IsUndefined()) {
    const VornJSONValue items = at({"properties", "children", "items"}), anyOf = items.GetFromPath({"anyOf"});
    const VornJSONArray choices = anyOf.IsArray() ? static_cast<VornJSONArray&>(anyOf) : VornJSONArray{items};
    const VornJSONValue count(static_cast<VornJSONArray&>(children).size());
    if (at({"properties", "children", "minItems"}) != count || at({"properties", "children", "maxItems"}) != count)
      return id.ToString() + ": children count";
    for (const VornJSONValue& child : static_cast<VornJSONArray&>(children)) {
      std::vector<VornJSONValue> carrying;
      for (const VornJSONValue& choice : choices)
        if (choice.GetFromPath({"properties", "id", "const"}) == child.GetFromPath({"id"})) carrying.push_back(choice);
      if (carrying.size() != 1) return id.ToString() + ": no item for " + child.GetFromPath({"id"}).ToString();
      if (std::string misfit = Misfit(child, carrying[0], defs); !misfit.empty()) return misfit;
    }
  }
  return "";
}
}  // namespace

TEST_F(CheckedWrites, ValuesConvertByTheDataTypeOrAreRefusedWithOneReasonAndNoEvent) {
  // The object's type and other properties, the JSON written, the refusal's
  // reason and, when accepted, the value held (its C++ type compared too).
  struct Row { const char *type, *more, *written, *reason; VornValue stored; };
  const std::vector<Row> rows = {
      {"length", "", "3", "", 3.0},  // the kind of "number", its super type
      {"length", R"("value":1.5)", "1.5", "", 1.5},  // the same value: no event
      {"length", R"("value":1.5)", "null", "type", {}},
      {"integer", R"("value":1)", "3.0", "", 3},
      {"integer", R"("value":1)", "2.5", "type", {}},
      {"integer", R"("value":1)", "4294967296", "range", {}},
      {"integer", R"("value":0,"min":0,"step":5)", "10", "", 10},
      {"integer", R"("value":0,"min":0,"step":5)", "12", "step", {}},
      {"integer", R"("value":1,"min":1,"step":2)", "4", "step", {}},  // steps count from min
      {"length", R"("value":0.0,"min":0,"max":10,"step":4)", "10", "", 10.0},  // an increment only
      {"angle", R"("value":0.0,"min":-90,"max":90)", "90.5", "range", {}},
      {"point", R"("value":[0,0,0])", "[1,2,3]", "", std::vector<double>{1, 2, 3}},
      {"point", R"("value":[0,0,0])", "[1,2]", "type", {}},
      {"point", R"("value":[0,0,0],"max":5)", "[1,2,6]", "range", {}},
      {"2DLengthVector", R"("value":[0,0])", "[1.5,2]", "", std::vector<double>{1.5, 2}},
      {"choice", R"("value":"a","possibleValues":["a","b"])", R"("b")", "", std::string("b")},
      {"choice", R"("value":"a","possibleValues":["a","b"])", R"("c")", "choice", {}},
      {"boolean", R"("value":false)", "1", "type", {}},
      {"boolean", R"("value":false,"readOnly":true)", "true", "readOnly", {}},
      {"length", R"("value":1.5,"readOnly":true)", R"("x")", "readOnly", {}},
      {"unregistered", R"("value":"text")", "5", "type", {}},
      {"unregistered", R"("value":1.5)", "2", "", 2.0},
      {"geometry", R"("value":"circle")", R"({"r":1})", "type", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.type) + " {" + row.more + "} <- " + row.written);
    VornValuesByString values = Values(std::string("{") + row.more + "}");
    values.insert_or_assign("type", VornValue(std::string(row.type)));
    values.insert_or_assign("id", VornValue(std::string("o")));
    const Ptr object = VornModelObject::BuildSharedPtrFromOptions({values, false, nullptr});
    const auto value = [&] { return object->GetValue("value") ? *object->GetValue("value") : VornValue(); };
    const VornValue before = value();
    int changes = 0;
    auto token = object->Subscribe("onChange", [&](const auto&) { ++changes; });

    const VornValueRefusal refusal = Vorn::WriteCheckedValue(*object, Parse(row.written));
    EXPECT_EQ(refusal.reason, row.reason) << refusal.message;
    EXPECT_TRUE(value() == (refusal ? before : row.stored)) << value().ToJSON().Stringify() << " held as "
                                                            << value().GetTypeName();
    EXPECT_EQ(changes, value() == before ? 0 : 1);
  }
}

// Checked by structure, not by a validator.
TEST_F(CheckedWrites, TheTreeFitsItsSchemaAndNoLongerOnceItChanges) {
  const Ptr root = VornDataManager::InitializeDataTree(nullptr, "shapes");
  const auto fits = [&](const VornJSONValue& schema) {
    return Misfit(Vorn::DescribeTree(*root), schema, schema.GetFromPath({"$defs"}));
  };
  EXPECT_EQ(fits(Vorn::DescribeTreeSchema(*root, "empty")), "");
  root->UpdateChildren(Values(R"({"id":"n","type":"integer","value":3,"min":0,"max":5})"), false);
  EXPECT_EQ(fits(Vorn::DescribeTreeSchema(*root, "one child")), "");
  // A type without a basic kind holds what its objects hold, each its own.
  root->UpdateChildren(Values(R"({"id":"g","name":"Group","children":[{"id":"p","type":"point","value":[1,2,3]},
      {"id":"t","value":"free text"},{"id":"b","type":"boolean","value":true},
      {"id":"m1","type":"mystery","value":"text"},{"id":"m2","type":"mystery","value":2.5}]})"), false);
  const VornJSONValue nested = Vorn::DescribeTreeSchema(*root, "nested");
  EXPECT_EQ(fits(nested), "");

  const std::pair<const char*, const char*> changes[] = {
      {R"({"id":"n","value":4})", ""},  // within the bounds still
      {R"({"id":"n","value":6})", "n: value bounds"},
      {R"({"id":"n","value":4})", ""},
      {R"({"id":"g","children":[{"id":"late"}]})", "g: children count"},
      {R"({"id":"n","label":"N"})", "n: members"}};
  for (const auto& [change, misfit] : changes) {
    root->UpdateChildren(Values(change), false);
    EXPECT_EQ(fits(nested), misfit) << change;
  }
  VornDataManager::OnContextEnd("shapes");
}
