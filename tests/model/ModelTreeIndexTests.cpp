// The trees' index of ids (ModelTreeIndex.h): indexed searches against the
// plain walk, over random trees edited at random.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

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

VornValuesByString Id(const std::string& id) {
  VornValuesByString values;
  values.try_emplace("id", VornValue(id));
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

// Compares searches with the walk from every node, for every id: the
// index's own answer, which it must give (`indexed`) or decline, and what
// FindChildren returns either way.
void ExpectSearchesMatchTheWalk(const Ptr& root, int ids, const std::string& when, bool indexed) {
  std::vector<Ptr> nodes;
  Collect(root, nodes);
  for (const Ptr& from : nodes)
    for (int i = 0; i < ids; ++i)
      for (int mode = 0; mode < 4; ++mode) {
        VornValuesByString criteria = Id("i" + std::to_string(i));
        if (i % 3 == 0) criteria.try_emplace("name", VornValue(std::string("n") + std::to_string(i % 2)));
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

}  // namespace

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
        VornValuesByString values = Id(id);
        values.try_emplace("name", VornValue(std::string("n") + std::to_string(pick(2))));
        if (pick(3) == 0) values.try_emplace("children", std::vector<VornValuesByString>{Id("i0")});
        target->AddChild(values);
        break;
      }
      case 2:  // an id changed in place
        if (target != root) target->SetValue("id", VornValue(id));
        break;
      case 3:  // removal at every depth, keeping some subtrees to re-add
        for (const Ptr& found : root->FindChildren(Id(id), false, false))
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
        root->UpdateChildren(Id(id), false);
        break;
    }
    if (step % 40 == 39) ExpectSearchesMatchTheWalk(root, kIds, "step " + std::to_string(step), true);
  }
}

TEST(VornModelObjectTreeIndex, ANodePlacedTwiceStillSearchesLikeTheWalk) {
  const Ptr root = VornModelObject::BuildSharedPtrFromOptions({{}, true, nullptr});
  root->AddChild(Id("i1"));
  root->AddChild(Id("i2"));
  const Ptr shared = root->GetChildren()[0];
  root->GetChildren()[1]->AddChild(shared);  // one handle, two places
  ExpectSearchesMatchTheWalk(root, 3, "placed twice", false);
  EXPECT_EQ(root->FindChildren(Id("i1"), false, true).size(), 2u);
}
