// Data types and property dictionaries, typed properties, model objects and
// data trees (the trees' index of ids: ModelScaleTests.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/json/Convert.h"
#include "vorn/json/Parser.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/DataTypesManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/model/ModelProperty.h"
#include "vorn/model/PropertiesDico.h"

namespace {
using Ptr = VornModelObject::Ptr;

std::string SuperOf(const std::string& name) {
  auto definition = VornDataTypesManager::GetDataTypeDefinition(name);
  if (!definition) return "<unregistered>";
  return definition->superType ? definition->superType->name : "";
}

const std::string kTag = "[Vorn - Model Properties Dico Manager] ";

VornValuesByString Values(std::initializer_list<std::pair<const std::string, VornValue>> entries) {
  VornValuesByString values;
  for (const auto& [k, v] : entries) values.try_emplace(k, v);
  return values;
}
VornValue Str(const char* s) { return VornValue(std::string(s)); }
VornValuesByString Id(const std::string& id) { return Values({{"id", VornValue(id)}}); }

Ptr Node(const char* id, const Ptr& parent = nullptr) {
  return VornModelObject::BuildSharedPtrFromOptions({Id(id), false, parent});
}

// What an object published: "event key1,key2" per publish, keys sorted.
struct EventLog {
  std::vector<std::string> entries;
  std::vector<std::shared_ptr<VornEventToken>> tokens;
  void Listen(const Ptr& object, std::initializer_list<std::string> names) {
    for (const std::string& name : names)
      tokens.push_back(object->Subscribe(name, [this, name](const std::shared_ptr<VornEventData>& data) {
        std::vector<std::string> keys;
        for (const auto& entry : data->GetValuesByString()) keys.push_back(entry.first);
        std::sort(keys.begin(), keys.end());
        std::string line = name + (data->GetValue() ? " value" : "");
        for (const auto& k : keys) line += " " + k;
        entries.push_back(line);
      }));
  }
};

}  // namespace

TEST(VornDataTypesManager, FilesResolveSuperTypesInEitherOrderAndKeepFirstDefinitions) {
  for (const char* file : {"VornBasicDataTypes", "TestTypesFirst", "TestTypesSecond", "NoSuchTypesFile"})
    VornDataTypesManager::RegisterDataTypes(file);

  const std::pair<const char*, const char*> expected[] = {
      {"length", "number"}, {"angle", "number"}, {"circle", "geometry"}, {"number", ""},
      {"B", "A"},            // declared before its super type
      {"A", "number"},       // the second file's redefinition is ignored
      {"C", "A"},            // links to the registered A
      {"Self", ""},          // no loop onto itself
      {"Orphan", ""},        // super type never declared
      {"Flagged", "number"}, // unknown boolean keys are ignored
      {"Labelled", "<unregistered>"}, // unknown string key drops this type only
  };
  for (const auto& [name, super] : expected) {
    SCOPED_TRACE(name);
    EXPECT_EQ(SuperOf(name), super);
  }
  // A loop of two: one link is refused, so every chain ends.
  ASSERT_NE(VornDataTypesManager::GetDataTypeDefinition("X"), nullptr);
  EXPECT_TRUE(SuperOf("X").empty() != SuperOf("Y").empty());
  EXPECT_EQ(VornDataTypesManager::GetDataTypeDefinition("A")->writableAs, (std::vector<std::string>{"number", "string"}));
  EXPECT_TRUE(VornDataTypesManager::GetDataTypeDefinition("B")->IsA("number"));
  EXPECT_FALSE(VornDataTypesManager::GetDataTypeDefinition("B")->IsA("string"));
}

TEST(VornModelPropertiesDicoManager, ReadsDefinitionsReportsUnknownKeysAndNeverOverrides) {
  KRTAbendCapture capture;
  VornModelPropertiesDicoManager::RegisterDico("TestDico", "resources\\Vorn\\");
  EXPECT_EQ(capture.Messages(),
            (std::vector<std::string>{
                kTag + "VornPropDefinitionVisitor for string => error: Unknown key = \"colour\"!",
                kTag + "VornPropDefinitionVisitor for boolean => error: Unknown key = \"visible\"!",
                kTag + "VornPropDefinitionVisitor for std::vector<KRTUnicodeString> => error: Unknown key = \"choices\"!",
                kTag + "VornPropDefinitionVisitor for string => error: Unknown key = \"isID\"!",
            }));
  capture.Clear();
  for (const char* file : {"TestDicoSecond", "Broken", "Missing"})
    VornModelPropertiesDicoManager::RegisterDico(file, "resources\\Vorn\\");
  EXPECT_EQ(capture.Count(), 0u);

  VornModelPropertyDefinition d;
  for (const char* dropped : {"badString", "badIDKind", "notAnObject"})
    EXPECT_FALSE(VornModelPropertiesDicoManager::_GetPropertyDefinition(dropped, d)) << dropped;
  for (const char* kept : {"badBool", "badArray", "extra", "id", "value"})
    EXPECT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition(kept, d)) << kept;

  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("count", d));
  EXPECT_EQ(d.type, "integer");  // the second dictionary does not override
  EXPECT_EQ(d.description, "a count");
  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("name", d));
  EXPECT_EQ(d.type, "string");  // nor does a later one override the default dictionary
  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("both", d));
  EXPECT_EQ(d.type, "number");
  EXPECT_EQ(d.isArray, 1);
  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("numberedID", d));
  EXPECT_FALSE(d.isID);
  ASSERT_TRUE(VornModelPropertiesDicoManager::_GetPropertyDefinition("choice", d));
  EXPECT_EQ(d.possibleValues, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(d.readOnly && d.mustBeDumped && !d.isExchangeable);
}

namespace {
class Properties : public ::testing::Test {
protected:
  void SetUp() override { VornModelPropertiesDicoManager::RegisterDico("TestDico", "resources\\Vorn\\"); }
  static std::shared_ptr<VornModelProperty> Make(const char* name, const VornValue& value) {
    return VornModelPropertiesDicoManager::_CreatePropertyFromValue(name, value);
  }
  KRTAbendCapture capture;
};
}  // namespace

TEST_F(Properties, CreationIsRefusedForUnknownNamesAndIncompatibleValues) {
  EXPECT_EQ(Make("nowhere", VornValue(1)), nullptr);
  EXPECT_EQ(capture.Last(), kTag + "Property nowhere does not exist!");
  EXPECT_EQ(Make("count", VornValue(std::string("x"))), nullptr);
  EXPECT_EQ(capture.Last(), kTag + "Property \"count\" creation error: value type \"" +
                               std::string(Vorn::RawTypeName<std::string>()) +
                               "\" not compatible with proprety type \"integer\"!");
  EXPECT_EQ(VornModelPropertiesDicoManager::CreatePropertyFromNative<bool>("count"), nullptr);
}

// Each property's writes in order: a refusal keeps the value held, an equal
// value is no change, ints widen to a floating type (arrays take array values
// only), and an unknown type takes anything.
TEST_F(Properties, SetsAreCheckedAgainstTheDeclaredTypeAndARefusalKeepsTheValue) {
  struct Row { const char* name; VornValue written; bool changed; VornValue held; };
  const Row rows[] = {
      {"count", 3, true, 3},  {"count", 3, false, 3}, {"count", std::string("4"), false, 3},
      {"step", 2, true, 2.0}, {"lengths", std::vector<int>{1, 2}, true, std::vector<double>{1.0, 2.0}},
      {"lengths", 1.5, false, std::vector<double>{1.0, 2.0}},
      {"anything", std::string("text"), true, std::string("text")}, {"anything", 2.5, true, 2.5},
  };
  std::map<std::string, std::shared_ptr<VornModelProperty>> made;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " <- " + row.written.ToJSON().Stringify());
    auto& property = made[row.name];
    if (!property) property = Make(row.name, row.written);
    ASSERT_NE(property, nullptr);
    capture.Clear();
    EXPECT_EQ(property->SetValue(row.written), row.changed);
    EXPECT_TRUE(property->GetValue() && *property->GetValue() == row.held) << property->GetAsJSONValue().Stringify();
    EXPECT_EQ(capture.Count(), row.changed || row.written == row.held ? 0u : 1u);  // a refusal is reported
  }
  EXPECT_EQ(made["anything"]->GetAsJSONValue().Stringify(), "2.5");
  EXPECT_EQ(made["count"]->GetRawValue<double>(), 0.0);
  EXPECT_EQ(capture.Last(), "[Vorn - Model Property] Type mismatch for 'count' raw value!");

  auto unset = VornModelPropertiesDicoManager::CreatePropertyFromNative<int>("count");
  ASSERT_NE(unset, nullptr);
  EXPECT_TRUE(unset->GetAsJSONValue().IsNull());
  EXPECT_EQ(unset->GetValue(), nullptr);
  EXPECT_EQ(unset->GetRawValue<int>(), 0);
  EXPECT_EQ(capture.Last(), "[Vorn - Model Property] Property 'count' has no value!");
}

TEST(VornModelObject, SetsPublishChangedEntriesOnlyAndRefuseWhatTheDictionaryRefuses) {
  KRTAbendCapture capture;
  const Ptr object = Node("n");
  EventLog log;
  log.Listen(object, {"onChange", "onChange:name", "onChange:label", "onChange:isActive"});

  EXPECT_TRUE(object->SetValue("name", Str("a")));
  EXPECT_FALSE(object->SetValue("name", Str("a")));
  EXPECT_TRUE(object->SetValues(Values({{"name", Str("a")}, {"label", Str("L")}})));
  EXPECT_FALSE(object->SetValues(Values({{"name", Str("a")}})));
  object->Activate();  // the typed setter: value and map in both events
  EXPECT_TRUE(object->SetValue<std::string>("label", "hushed", true));  // silent: no event
  EXPECT_EQ(log.entries, (std::vector<std::string>{"onChange:name value", "onChange name", "onChange:label value",
                                                   "onChange label name", "onChange:isActive value isActive",
                                                   "onChange value isActive"}));
  EXPECT_EQ(capture.Count(), 0u);

  // Undeclared names and values of the wrong type change nothing, silently to listeners.
  log.entries.clear();
  EXPECT_FALSE(object->SetValue("undeclared", VornValue(1)));
  EXPECT_FALSE(object->SetValues(Values({{"name", VornValue(5)}, {"isActive", Str("yes")}})));
  EXPECT_TRUE(log.entries.empty());
  EXPECT_EQ(capture.Count(), 3u);
  EXPECT_EQ(object->GetName(), "a");
  EXPECT_TRUE(object->IsActive());
  EXPECT_EQ(object->GetRawValue<std::string>("missing"), "");
  EXPECT_EQ(capture.Last(), "[Vorn - Model Object] Property missing does not exist on object \"a\"!\nPlease check "
                            "its existence with \"VornModelObject::HasProperty\" beforehand.");
}

TEST(VornModelObject, JsonUpdatesKeepNestedChildrenAndUpdateByIdAtAnyDepth) {
  const Ptr root = VornModelObject::BuildSharedPtrFromOptions({{}, true, nullptr});
  auto update = [&](const char* json) {
    root->UpdateChildren(Vorn::ConvertJSONObjectToValuesByString(VornJSONParser::ParseText(json, false)), false);
  };
  update(R"({"id":"a","children":[{"id":"b","children":[{"id":"c","value":1}]}]})");
  ASSERT_EQ(root->FindChildren(Id("c"), false, true).size(), 1u);
  const Ptr c = root->FindChildren(Id("c"), false, true)[0];
  EventLog log;
  log.Listen(c, {"onChange:value"});
  update(R"({"id":"c","value":2.5})");  // found three levels down (more shapes: ModelScaleTests.cpp)
  EXPECT_EQ(c->GetValue("value")->GetRawValue<double>(), 2.5);
  EXPECT_EQ(log.entries, std::vector<std::string>{"onChange:value value"});

  // A "children" value of another kind is reported and adds nothing.
  KRTAbendCapture capture;
  EXPECT_FALSE(c->SetValue("children", VornValue(3)));
  EXPECT_EQ(capture.Count(), 1u);
}

TEST(VornModelObject, NewChildrenAreAnnouncedWithTheirValuesAndCyclesAreRefused) {
  const Ptr parent = Node("p");
  std::string seen;
  auto token = parent->Subscribe("onAddChild", [&](const std::shared_ptr<VornEventData>& data) {
    auto added = std::static_pointer_cast<VornMOAddChildEventData>(data)->GetNewChild();
    seen = added->GetID() + "/" + added->GetName();
  });
  const Ptr child = VornModelObject::BuildSharedPtrFromOptions(
      {Values({{"id", Str("k")}, {"name", Str("kid")}}), false, parent});
  EXPECT_EQ(seen, "k/kid");
  EXPECT_EQ(child->GetParent(), parent);

  KRTAbendCapture capture;
  const Ptr grandchild = Node("g", child);
  parent->AddChild(parent);
  grandchild->AddChild(parent);
  EXPECT_EQ(capture.Count(), 2u);
  EXPECT_EQ(parent->GetChildCount(), 1u);
  EXPECT_EQ(grandchild->GetChildCount(), 0u);

  // A true root built with values holds them as its first child.
  const Ptr root = VornModelObject::BuildSharedPtrFromOptions({Id("first"), true, nullptr});
  ASSERT_EQ(root->GetChildCount(), 1u);
  EXPECT_EQ(root->GetChildren()[0]->GetID(), "first");
  // Handles to distinct objects that carry one id compare equal as values.
  EXPECT_TRUE(VornValue(Node("same")) == VornValue(Node("same")));
  EXPECT_FALSE(VornValue(Node("same")) == VornValue(Ptr()));
  using Handles = std::vector<Ptr>;  // element by element
  EXPECT_TRUE(VornValue(Handles{Node("same"), nullptr}) == VornValue(Handles{Node("same"), nullptr}));
  EXPECT_FALSE(VornValue(Handles{Node("same")}) == VornValue(Handles{Node("other")}));
}

TEST(VornModelObject, RemovalReachesEveryDepthAndActivationFollowsSiblingsAndAncestors) {
  const Ptr root = VornModelObject::BuildSharedPtrFromOptions({{}, true, nullptr});
  const Ptr a = Node("a", root), b = Node("b", root);
  const Ptr a1 = Node("x", a), a2 = Node("a2", a), b1 = Node("b1", b), deep = Node("x", b1);
  Node("x", root);

  b1->Activate();
  a2->Activate();  // deactivates b's subtree, activates a, not the root
  EXPECT_TRUE(a2->IsActive() && a->IsActive());
  EXPECT_FALSE(b1->IsActive() || b->IsActive() || root->IsActive() || a1->IsActive());
  a->Deactivate(false);
  EXPECT_FALSE(a2->IsActive());

  EXPECT_EQ(root->FindChildren({}, false, false).size(), 3u);  // empty criteria: direct children
  EXPECT_FALSE(a->HasValues(Values({{"name", Str("a")}}), true));  // no ID property named
  EXPECT_EQ(a1->GetBrothers({}).size(), 1u);

  root->RemoveChild("x", false);
  EXPECT_EQ(root->GetChildCount(), 2u);
  EXPECT_EQ(a->GetChildCount(), 1u);
  EXPECT_EQ(b1->GetChildCount(), 0u);
  EXPECT_FALSE(deep->IsDestructionRequested());  // detached only
  EXPECT_TRUE(root->FindChildren(Id("x"), false, false).empty());

  // A child whose destruction is requested leaves its parent.
  a2->RequestDestruction();
  EXPECT_EQ(a->GetChildCount(), 0u);
}

TEST(VornDataManager, TreesOfTwoContextsStayApart) {
  int ready = 0;
  VornDataOptions options;
  options.onDataTreeInitialized = [&](const Ptr& root) { ready += root->IsTrueRoot(); };
  const Ptr one = VornDataManager::InitializeDataTree(&options, "one");
  const Ptr two = VornDataManager::InitializeDataTree(nullptr, "two");
  const Ptr again = VornDataManager::InitializeDataTree(&options, "one");
  EXPECT_EQ(ready, 2);
  EXPECT_EQ(two->GetID(), "two");  // a root is addressed by its context's name
  EXPECT_NE(again, one);
  EXPECT_EQ(VornDataManager::GetTree("one"), one);

  for (const char* context : {"one", "two", "none"}) VornDataManager::UpdateDataTree(context, Id("n"));
  VornDataManager::AddRoot("two", Node("extra"));
  EXPECT_EQ(one->GetChildCount(), 1u);
  EXPECT_EQ(two->GetChildCount(), 2u);
  EXPECT_TRUE(VornDataManager::IsInTree("one", one->GetChildren()[0]));
  EXPECT_FALSE(VornDataManager::IsInTree("one", two->GetChildren()[0]));

  VornDataManager::RemoveModelObjects("two", {Id("n")}, false);
  EXPECT_EQ(two->GetChildCount(), 1u);
  EXPECT_EQ(one->GetChildCount(), 1u);
  VornDataManager::OnContextEnd("one");
  VornDataManager::OnContextEnd("two");
  EXPECT_EQ(VornDataManager::GetTree("one"), nullptr);
}

// Record ids become identifiers: what a client read, sent back with a
// change, updates the same node.
TEST(VornDataManager, ANodeSentBackAsReadUpdatesItself) {
  const Ptr one = VornDataManager::InitializeDataTree(nullptr, "one");
  VornDataManager::UpdateDataTree("one", Id("n"));
  const Ptr n = one->GetChildren()[0];
  EXPECT_EQ(n->Dump().find("id")->second.GetRawValue<std::string>(), "n");
  EXPECT_EQ(n->ToJSON().Stringify(), R"({"id":"n"})");
  VornValuesByString back = Vorn::ConvertJSONObjectToValuesByString(n->ToJSON());
  back.insert_or_assign("name", Str("second"));
  VornDataManager::UpdateDataTree("one", back);
  EXPECT_EQ(one->GetChildCount(), 1u);
  EXPECT_EQ(n->GetName(), "second");
  VornDataManager::RemoveModelObject("one", n, true);
  EXPECT_EQ(one->GetChildCount(), 0u);
  EXPECT_TRUE(n->IsDestructionRequested());
  VornDataManager::OnContextEnd("one");
}
