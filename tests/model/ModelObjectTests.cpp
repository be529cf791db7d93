// Model objects and data trees: events, updates by id, removal, activation.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/json/Convert.h"
#include "vorn/json/Parser.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"

namespace {
using Ptr = VornModelObject::Ptr;

VornValuesByString Values(std::initializer_list<std::pair<const std::string, VornValue>> entries) {
  VornValuesByString values;
  for (const auto& [k, v] : entries) values.try_emplace(k, v);
  return values;
}
VornValue Str(const char* s) { return VornValue(std::string(s)); }

Ptr Node(const char* id, const Ptr& parent = nullptr) {
  return VornModelObject::BuildSharedPtrFromOptions({Values({{"id", Str(id)}}), false, parent});
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

std::string Stringify(const Ptr& object) { return object->ToJSON().Stringify(); }

}  // namespace

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
  EXPECT_EQ(log.entries, (std::vector<std::string>{"onChange:name value", "onChange name", "onChange:label value",
                                                   "onChange label name", "onChange:isActive value isActive",
                                                   "onChange value isActive"}));
  EXPECT_EQ(object->GetName(), "a");
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

TEST(VornModelObject, RecordIdsBecomeIdentifiersAndTheRoundTripFindsTheSameNode) {
  const Ptr root = VornDataManager::InitializeDataTree(nullptr, "ids");
  VornDataManager::UpdateDataTree("ids", Values({{"id", Str("X")}, {"name", Str("first")}}));
  ASSERT_EQ(root->GetChildCount(), 1u);
  const Ptr x = root->GetChildren()[0];
  EXPECT_EQ(x->GetID(), "X");
  EXPECT_EQ(x->Dump().find("id")->second.GetRawValue<std::string>(), "X");
  EXPECT_EQ(Stringify(x), R"({"id":"X","name":"first"})");

  // What a client read, sent back with a change, updates the same node.
  VornValuesByString back = Vorn::ConvertJSONObjectToValuesByString(x->ToJSON());
  back.insert_or_assign("name", Str("second"));
  VornDataManager::UpdateDataTree("ids", back);
  EXPECT_EQ(root->GetChildCount(), 1u);
  EXPECT_EQ(x->GetName(), "second");

  VornDataManager::RemoveModelObject("ids", x, true);
  EXPECT_EQ(root->GetChildCount(), 0u);
  EXPECT_TRUE(x->IsDestructionRequested());
  VornDataManager::OnContextEnd("ids");
}

TEST(VornModelObject, JsonUpdatesKeepNestedChildrenAndUpdateByIdAtAnyDepth) {
  const Ptr root = VornModelObject::BuildSharedPtrFromOptions({{}, true, nullptr});
  auto update = [&](const char* json) {
    root->UpdateChildren(Vorn::ConvertJSONObjectToValuesByString(VornJSONParser::ParseText(json, false)), false);
  };
  update(R"({"id":"a","children":[{"id":"b","children":[{"id":"c","value":1}]}]})");
  ASSERT_EQ(root->FindChildren(Values({{"id", Str("c")}}), false, true).size(), 1u);
  const Ptr c = root->FindChildren(Values({{"id", Str("c")}}), false, true)[0];
  EventLog log;
  log.Listen(c, {"onChange:value"});
  update(R"({"id":"c","value":2.5})");  // found three levels down, not added to the root
  EXPECT_EQ(root->GetChildCount(), 1u);
  EXPECT_EQ(c->GetValue("value")->GetRawValue<double>(), 2.5);
  EXPECT_EQ(log.entries, std::vector<std::string>{"onChange:value value"});
  update(R"({"id":"b","children":[{"id":"d"}]})");  // a new child of b
  EXPECT_EQ(c->GetParent()->GetChildCount(), 2u);

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
  const Ptr root = VornModelObject::BuildSharedPtrFromOptions({Values({{"id", Str("first")}}), true, nullptr});
  ASSERT_EQ(root->GetChildCount(), 1u);
  EXPECT_EQ(root->GetChildren()[0]->GetID(), "first");
  // Handles to distinct objects that carry one id compare equal as values.
  EXPECT_TRUE(VornValue(Node("same")) == VornValue(Node("same")));
  EXPECT_FALSE(VornValue(Node("same")) == VornValue(Ptr()));
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
  EXPECT_TRUE(root->FindChildren(Values({{"id", Str("x")}}), false, false).empty());

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
  EXPECT_NE(again, one);
  EXPECT_EQ(VornDataManager::GetTree("one"), one);

  VornDataManager::UpdateDataTree("one", Values({{"id", Str("n")}}));
  VornDataManager::UpdateDataTree("two", Values({{"id", Str("n")}}));
  VornDataManager::UpdateDataTree("none", Values({{"id", Str("n")}}));
  VornDataManager::AddRoot("two", Node("extra"));
  EXPECT_EQ(one->GetChildCount(), 1u);
  EXPECT_EQ(two->GetChildCount(), 2u);
  EXPECT_TRUE(VornDataManager::IsInTree("one", one->GetChildren()[0]));
  EXPECT_FALSE(VornDataManager::IsInTree("one", two->GetChildren()[0]));

  VornDataManager::RemoveModelObjects("two", {Values({{"id", Str("n")}})}, false);
  EXPECT_EQ(two->GetChildCount(), 1u);
  EXPECT_EQ(one->GetChildCount(), 1u);
  VornDataManager::OnContextEnd("one");
  VornDataManager::OnContextEnd("two");
  EXPECT_EQ(VornDataManager::GetTree("one"), nullptr);
}
