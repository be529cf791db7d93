// What keeps large trees small and fast: records building whole subtrees, the
// trees' index of ids against the plain walk over random trees edited at
// random, names read from the property, shared kinds.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelArena.h"
#include "vorn/model/ModelObject.h"

// The index's answer alone, without FindChildren's fallback to the walk.
struct VornModelObjectTestAccess {
  static bool FindIndexed(const VornModelObject::Ptr& from, const VornValuesByString& criteria, bool directOnly,
                          bool idOnly, std::vector<VornModelObject::Ptr>& out) {
    return from->_FindIndexed(criteria, directOnly, idOnly, out);
  }
};

namespace {
using Ptr = VornModelObject::Ptr;

VornValuesByString Record(const std::string& id, const std::string& name = "",
                          std::vector<VornValuesByString> children = {}) {
  VornValuesByString values;
  values.try_emplace("id", VornValue(id));
  if (!name.empty()) values.try_emplace("name", VornValue(name));
  if (!children.empty()) values.try_emplace("children", std::move(children));
  return values;
}

// The walk a search is defined by: pre-order, depth first.
void Walk(const Ptr& from, const VornValuesByString& criteria, bool directOnly, bool idOnly, std::vector<Ptr>& out) {
  for (const Ptr& child : from->GetChildren()) {
    if (child->HasValues(criteria, idOnly)) out.push_back(child);
    if (!directOnly) Walk(child, criteria, false, idOnly, out);
  }
}

void Collect(const Ptr& from, std::vector<Ptr>& out) {
  out.push_back(from);
  for (const Ptr& child : from->GetChildren()) Collect(child, out);
}

// Compares searches with the walk from every node, for ids i0.. (some with a
// name too): the index's own answer, which it must give (`indexed`) or
// decline, and what FindChildren returns either way.
void ExpectSearchesMatchTheWalk(const Ptr& root, int ids, const std::string& when, bool indexed) {
  std::vector<Ptr> nodes;
  Collect(root, nodes);
  for (const Ptr& from : nodes)
    for (int i = 0; i < ids; ++i)
      for (int mode = 0; mode < 4; ++mode) {
        VornValuesByString criteria = Record("i" + std::to_string(i), i % 3 == 0 ? "n" + std::to_string(i % 2) : "");
        const bool directOnly = mode & 1, idOnly = mode & 2;
        const std::string where = when + ", from " + from->GetID() + ", id i" + std::to_string(i) + ", mode " +
                                  std::to_string(mode);
        std::vector<Ptr> expected;
        Walk(from, criteria, directOnly, idOnly, expected);
        std::vector<Ptr> found;
        ASSERT_EQ(VornModelObjectTestAccess::FindIndexed(from, criteria, directOnly, idOnly, found), indexed) << where;
        if (indexed) {
          ASSERT_EQ(found, expected) << where;
        }
        ASSERT_EQ(from->FindChildren(criteria, directOnly, idOnly), expected) << where;
      }
}

// The tree as text: id:name(children...), in order.
std::string Shape(const Ptr& node) {
  std::string text = node->GetID() + ":" + node->GetName();
  if (node->GetChildCount() == 0) return text;
  text += "(";
  for (const Ptr& child : node->GetChildren()) text += Shape(child) + " ";
  text.back() = ')';
  return text;
}

// The reference: an update matches the first node of that id below, in
// pre-order, and updates it (its children recursively), or adds a new child.
struct RefNode {
  std::string id, name;
  std::vector<std::unique_ptr<RefNode>> children;

  RefNode* FindFirst(const std::string& wanted) {
    for (auto& child : children) {
      if (child->id == wanted) return child.get();
      if (RefNode* found = child->FindFirst(wanted)) return found;
    }
    return nullptr;
  }
  void Apply(const VornValuesByString& values) {
    if (auto name = values.find("name"); name != values.end()) this->name = name->second.GetRawValue<std::string>();
    if (auto list = values.find("children"); list != values.end())
      for (const auto& child : list->second.GetRawValue<std::vector<VornValuesByString>>()) Update(child);
  }
  void Update(const VornValuesByString& values) {
    const std::string& wanted = values.find("id")->second.GetRawValue<std::string>();
    if (RefNode* found = FindFirst(wanted)) return found->Apply(values);
    children.push_back(std::make_unique<RefNode>());
    children.back()->id = wanted;
    children.back()->Apply(values);
  }
  std::string Shape() const {
    std::string text = id + ":" + name;
    if (children.empty()) return text;
    text += "(";
    for (const auto& child : children) text += child->Shape() + " ";
    text.back() = ')';
    return text;
  }
};

VornValuesByString RandomRecord(std::mt19937& random, int depth) {
  const std::string id = "i" + std::to_string(random() % 6);  // few ids: many repeats
  std::vector<VornValuesByString> children;
  if (depth > 0)
    for (unsigned n = random() % 5; n > 0; --n) children.push_back(RandomRecord(random, depth - 1));
  return Record(id, random() % 2 ? "n" + std::to_string(random() % 100) : "", std::move(children));
}

}  // namespace

TEST(ModelScale, RecordsBuildingSubtreesMatchTheReferenceAndLeaveTheTreeIndexed) {
  std::mt19937 random(20261207);
  const std::size_t inUse = VornModelArena::GetBytesInUse();
  for (int round = 0; round < 40; ++round) {
    const std::string context = "scale" + std::to_string(round);
    const Ptr root = VornDataManager::InitializeDataTree(nullptr, context);
    RefNode reference;
    reference.id = context;
    // The first record builds a subtree under a new node; the next ones
    // update it through the tree's index or add beside it.
    const VornValuesByString first = Record("top", "", {RandomRecord(random, 4), RandomRecord(random, 4)});
    VornDataManager::UpdateDataTree(context, first);
    reference.Update(first);
    for (int update = 0; update < 3; ++update) {
      const VornValuesByString next = Record("top", "", {RandomRecord(random, 3)});
      VornDataManager::UpdateDataTree(context, next);
      reference.FindFirst("top")->Apply(next);
    }
    ASSERT_EQ(Shape(root), reference.Shape()) << "round " << round;
    // Searched through the index, every id finds what the walk finds.
    ExpectSearchesMatchTheWalk(root, 6, "round " + std::to_string(round), true);
    EXPECT_GT(VornModelArena::GetBytesInUse(), inUse);
    VornDataManager::OnContextEnd(context);
  }
  // Every node and property of the ended trees went back to the arena.
  EXPECT_EQ(VornModelArena::GetBytesInUse(), inUse);
}

TEST(VornModelObjectTreeIndex, RandomEditsKeepIndexedSearchesEqualToTheWalk) {
  constexpr int kIds = 12;
  std::mt19937 random(20261206);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const Ptr root = VornModelObject::BuildSharedPtrFromOptions({{}, true, nullptr});
  std::vector<Ptr> detached;  // removed subtrees, put back later

  for (int step = 0; step < 400; ++step) {
    std::vector<Ptr> nodes;
    Collect(root, nodes);
    const Ptr& target = nodes[pick(static_cast<int>(nodes.size()))];
    const std::string id = "i" + std::to_string(pick(kIds));
    switch (pick(6)) {
      case 0:
      case 1: {  // a new child, sometimes with a child of its own
        VornValuesByString values = Record(id);
        values.try_emplace("name", VornValue(std::string("n") + std::to_string(pick(2))));
        if (pick(3) == 0) values.try_emplace("children", std::vector<VornValuesByString>{Record("i0")});
        target->AddChild(values);
        break;
      }
      case 2:  // an id changed in place
        if (target != root) target->SetValue("id", VornValue(id));
        break;
      case 3:  // removal at every depth, keeping some subtrees to re-add
        for (const Ptr& found : root->FindChildren(Record(id), false, false))
          if (pick(2) == 0) detached.push_back(found);
        target->RemoveChild(id, pick(2) == 0);
        break;
      case 4:  // a detached subtree back in, unless it is in the tree already
        if (!detached.empty()) {
          const Ptr back = detached.back();
          detached.pop_back();
          std::vector<Ptr> subtree;
          Collect(back, subtree);
          const bool inTree = std::any_of(subtree.begin(), subtree.end(), [&](const Ptr& n) {
            return std::find(nodes.begin(), nodes.end(), n) != nodes.end();
          });
          if (!inTree && !back->IsDestructionRequested()) target->AddChild(back);
        }
        break;
      case 5:  // an update by id from the root, as data-tree updates do
        root->UpdateChildren(Record(id), false);
        break;
    }
    if (step % 40 == 39) ExpectSearchesMatchTheWalk(root, kIds, "step " + std::to_string(step), true);
  }
}

TEST(VornModelObjectTreeIndex, ANodePlacedTwiceStillSearchesLikeTheWalk) {
  const Ptr root = VornModelObject::BuildSharedPtrFromOptions({{}, true, nullptr});
  root->AddChild(Record("i1"));
  root->AddChild(Record("i2"));
  const Ptr shared = root->GetChildren()[0];
  root->GetChildren()[1]->AddChild(shared);  // one handle, two places
  ExpectSearchesMatchTheWalk(root, 3, "placed twice", false);
  EXPECT_EQ(root->FindChildren(Record("i1"), false, true).size(), 2u);
}
