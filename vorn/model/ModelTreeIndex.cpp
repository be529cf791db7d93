#include "vorn/model/ModelTreeIndex.h"

#include <algorithm>
#include <utility>

#include "vorn/model/ModelObject.h"
#include "vorn/model/PropertiesDico.h"

// --- the model object's side (declared in ModelObject.h) ------------------------

void VornModelObject::_StartTreeIndex() { m_tree = VornModelTreeIndex::ForTrueRoot(); }

void VornModelObject::_StartBuildIndex() {
  m_tree = VornModelTreeIndex::ForTrueRoot();
  m_ownsBuildIndex = true;
}

void VornModelObject::_DropBuildIndex() {
  if (!m_ownsBuildIndex) return;
  const std::shared_ptr<VornModelTreeIndex> tree = std::move(m_tree);
  m_ownsBuildIndex = false;
  for (const Ptr& child : m_children)
    if (child && child->m_tree == tree) tree->Detach(*child);
}

void VornModelObject::_IndexSubtree(VornModelObject* child) {
  if (m_tree) m_tree->Attach(*this, *child);
}

void VornModelObject::_UnindexSubtree(VornModelObject* child) {
  if (!m_tree || child->m_tree != m_tree) return;
  // `child` may be this object, going away with the last hold on the index.
  const std::shared_ptr<VornModelTreeIndex> tree = m_tree;
  tree->Detach(*child);
}

void VornModelObject::_SetID(std::string id) {
  if (m_tree && m_treeParent)
    m_tree->Rekey(*this, std::move(id));
  else
    m_id.swap(id);
}

bool VornModelObject::_FindIndexed(const Criteria& criteria, bool directOnly, bool idOnly,
                                   std::vector<Ptr>& out) const {
  return m_tree && m_tree->Find(*this, criteria, directOnly, idOnly, out);
}

// --- the index ------------------------------------------------------------------

std::shared_ptr<VornModelTreeIndex> VornModelTreeIndex::ForTrueRoot() {
  VornModelPropertyDefinition id;
  if (!VornModelPropertiesDicoManager::_GetPropertyDefinition("id", id))
    return std::make_shared<VornModelTreeIndex>(false, false);
  const bool indexable =
      id.isArray == 0 && (id.type == "string" || id.type == "std::string" || id.type == "unknown");
  return std::make_shared<VornModelTreeIndex>(indexable, id.isID);
}

namespace {
std::uint32_t HashOf(std::string_view id) noexcept {
  return static_cast<std::uint32_t>(std::hash<std::string_view>()(id));
}
}  // namespace

void VornModelTreeIndex::_Place(_Slot slot) {
  const std::size_t mask = m_slots.size() - 1;
  std::size_t at = slot.hash & mask;
  while (m_slots[at].node) at = (at + 1) & mask;
  m_slots[at] = slot;
}

void VornModelTreeIndex::_Grow() {
  std::vector<_Slot> old(std::max<std::size_t>(16, m_slots.size() * 2));
  old.swap(m_slots);
  for (const _Slot& slot : old)
    if (slot.node) _Place(slot);
}

void VornModelTreeIndex::_File(VornModelObject* node) {
  if (m_disabled) return;
  if (2 * m_count >= m_slots.size()) _Grow();
  _Place({HashOf(node->m_id), node});
  ++m_count;
}

void VornModelTreeIndex::_Unfile(VornModelObject* node) {
  if (m_disabled || m_slots.empty()) return;
  const std::size_t mask = m_slots.size() - 1;
  std::size_t hole = HashOf(node->m_id) & mask;
  for (; m_slots[hole].node != node; hole = (hole + 1) & mask)
    if (!m_slots[hole].node) return;
  // Each later slot of the run moves into the hole unless its own home
  // lies after the hole: a probe from that home would not pass the hole.
  for (std::size_t at = (hole + 1) & mask; m_slots[at].node; at = (at + 1) & mask) {
    const std::size_t home = m_slots[at].hash & mask;
    if (((at - home) & mask) >= ((at - hole) & mask)) {
      m_slots[hole] = m_slots[at];
      hole = at;
    }
  }
  m_slots[hole] = {};
  --m_count;
}

void VornModelTreeIndex::_Disable() {
  m_disabled = true;
  std::vector<_Slot>().swap(m_slots);
  m_count = 0;
}

void VornModelTreeIndex::Attach(VornModelObject& parent, VornModelObject& child) {
  if (m_disabled) return;
  if (!child.m_tree && child.m_children.empty()) {  // a new leaf, the common case: no walk
    child.m_tree = parent.m_tree;
    child.m_treeParent = &parent;
    _File(&child);
    return;
  }
  std::vector<std::pair<VornModelObject*, VornModelObject*>> stack{{&child, &parent}};
  while (!stack.empty()) {
    auto [node, placedBy] = stack.back();
    stack.pop_back();
    if (node->m_tree) {
      // Placed twice: the index could no longer follow one position per node.
      node->m_tree->_Disable();
      _Disable();
      return;
    }
    node->m_tree = parent.m_tree;
    node->m_treeParent = placedBy;
    _File(node);
    for (auto it = node->m_children.rbegin(); it != node->m_children.rend(); ++it)
      if (*it) stack.emplace_back(it->get(), node);
  }
}

void VornModelTreeIndex::Detach(VornModelObject& child) {
  std::vector<VornModelObject*> stack{&child};
  while (!stack.empty()) {
    VornModelObject* node = stack.back();
    stack.pop_back();
    if (node->m_tree.get() != this) continue;
    _Unfile(node);
    node->m_tree.reset();
    node->m_treeParent = nullptr;
    for (const Ptr& c : node->m_children)
      if (c) stack.push_back(c.get());
  }
}

void VornModelTreeIndex::Rekey(VornModelObject& node, std::string id) {
  _Unfile(&node);
  node.m_id.swap(id);
  _File(&node);
}

bool VornModelTreeIndex::Find(const VornModelObject& from, const VornValuesByString& criteria, bool directOnly,
                              bool idOnly, std::vector<Ptr>& out) const {
  if (m_disabled || !m_idIndexable || (idOnly && !m_idIsID)) return false;
  const bool owner = from.m_isTrueRoot || from.m_ownsBuildIndex;
  if (!owner && !from.m_treeParent) return false;
  auto id = criteria.find("id");
  if (id == criteria.end() || !id->second.Holds<std::string>()) return false;
  // Every node of the tree holds its identifier as a string "id", so only
  // the nodes filed under that identifier can match.
  const std::string& wanted = id->second.GetRawValue<std::string>();

  // Each match below `from`; its path from there is only needed to order
  // several matches.
  struct Match {
    VornModelObject* node;
    std::vector<const VornModelObject*> path;
  };
  std::vector<Match> matches;
  VornModelObject* single = nullptr;
  // Every filed node descends from the true root that owns this index: from
  // there a match needs no climb.
  const bool fromTop = owner && from.m_tree.get() == this && !directOnly;
  const std::uint32_t hash = HashOf(wanted);
  const std::size_t mask = m_slots.empty() ? 0 : m_slots.size() - 1;
  for (std::size_t at = hash & mask; !m_slots.empty() && m_slots[at].node; at = (at + 1) & mask) {
    if (m_slots[at].hash != hash) continue;
    VornModelObject* candidate = m_slots[at].node;
    if (candidate->m_id != wanted) continue;
    if (!fromTop) {
      const VornModelObject* up = candidate->m_treeParent;
      while (up && up != &from && !directOnly) up = up->m_treeParent;
      if (up != &from) continue;
    }
    if (!candidate->HasValues(criteria, idOnly)) continue;
    // One match, the usual answer, needs no list.
    if (!single && matches.empty()) {
      single = candidate;
      continue;
    }
    if (single) matches.push_back({std::exchange(single, nullptr), {}});
    matches.push_back({candidate, {}});
  }
  if (single) {
    out.push_back(std::static_pointer_cast<VornModelObject>(single->GetSharedPtr()));
    return true;
  }
  if (matches.size() > 1)
    for (Match& match : matches) {
      match.path.push_back(match.node);
      for (const VornModelObject* up = match.node->m_treeParent; up != &from; up = up->m_treeParent)
        match.path.push_back(up);
      std::reverse(match.path.begin(), match.path.end());
    }
  // The walk's pre-order: an ancestor first, else the earlier sibling.
  auto position = [](const VornModelObject* parent, const VornModelObject* child) {
    const auto& siblings = parent->m_children;
    return std::find_if(siblings.begin(), siblings.end(), [child](const Ptr& c) { return c.get() == child; }) -
           siblings.begin();
  };
  if (matches.size() > 1)
    std::sort(matches.begin(), matches.end(), [&](const Match& ma, const Match& mb) {
      const auto& a = ma.path;
      const auto& b = mb.path;
      const std::size_t common = std::min(a.size(), b.size());
      for (std::size_t i = 0; i < common; ++i) {
        if (a[i] == b[i]) continue;
        const VornModelObject* parent = i == 0 ? &from : a[i - 1];
        return position(parent, a[i]) < position(parent, b[i]);
      }
      return a.size() < b.size();
    });
  out.reserve(out.size() + matches.size());
  for (const Match& match : matches)
    out.push_back(std::static_pointer_cast<VornModelObject>(match.node->GetSharedPtr()));
  return true;
}
