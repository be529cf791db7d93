// What a model object shows of itself and how it is searched: its values as
// a record or JSON, criteria matching and the searches of its subtree (the
// id index answers those it can, see ModelTreeIndex).
#include "vorn/model/ModelObject.h"

#include <algorithm>

namespace {
using Ptr = VornModelObject::Ptr;
}  // namespace

VornValuesByString VornModelObject::Dump() const {
  VornValuesByString dump;
  dump.reserve(m_properties.size() + 1);
  for (const auto& property : m_properties)
    if (const VornValue* value = property->GetValue()) dump.try_emplace(property->GetName(), *value);
  dump.insert_or_assign("id", VornValue(m_id));
  return dump;
}

VornJSONObject VornModelObject::ToJSON() const {
  VornJSONObject json;
  json.Reserve(m_properties.size() + 1);
  for (const auto& property : m_properties) {
    VornJSONValue value = property->GetAsJSONValue();
    // Values JSON cannot show (records, object handles) are left out too.
    if (!value.IsNullOrUndefined()) json.Insert(property->GetName(), std::move(value));
  }
  json.Set("id", m_id);
  return json;
}

VornModelObject::CriteriaList VornModelObject::ReadValuesMapList(const VornValue& value) {
  if (value.Holds<CriteriaList>()) return value.GetRawValue<CriteriaList>();
  if (value.Holds<std::vector<VornValue>>()) {
    const auto& elements = value.GetRawValue<std::vector<VornValue>>();
    if (std::all_of(elements.begin(), elements.end(),
                    [](const VornValue& e) { return e.Holds<VornValuesByString>(); })) {
      CriteriaList list;
      list.reserve(elements.size());
      for (const VornValue& element : elements) list.push_back(element.GetRawValue<VornValuesByString>());
      return list;
    }
  }
  value.GetRawValue<CriteriaList>();  // reports the mismatch
  return {};
}

VornModelObject::Ptr VornModelObject::GetChild(const std::string& id) const {
  for (const Ptr& child : m_children)
    if (child->m_id == id) return child;
  return nullptr;
}

bool VornModelObject::HasValues(const Criteria& criteria, bool idOnly) const {
  if (criteria.empty()) return false;
  if (m_isTrueRoot) {
    auto roots = criteria.find("roots");
    const CriteriaList list = roots != criteria.end() ? ReadValuesMapList(roots->second) : CriteriaList{criteria};
    bool result = false;
    for (const Criteria& entry : list) result = FindChildren(entry, false, idOnly).size() == list.size();
    return result;
  }
  bool compared = false;
  for (const auto& [key, expected] : criteria) {
    const VornModelProperty* property = _FindProperty(key);
    if (idOnly && (!property || !property->IsID())) continue;
    compared = true;
    bool match;
    if (key == "children") {
      const CriteriaList list = ReadValuesMapList(expected);
      std::size_t total = 0;
      for (const Criteria& entry : list) total += FindChildren(entry, false, false).size();
      match = total == list.size();
    } else {
      const VornValue* value = property ? property->GetValue() : nullptr;
      match = value && *value == expected;
    }
    if (!match) return false;
  }
  return compared;
}

std::vector<VornModelObject::Ptr> VornModelObject::FindChildren(const Criteria& criteria, bool directOnly,
                                                                bool idOnly) const {
  if (criteria.empty()) return m_children;
  std::vector<Ptr> found;
  if (!_FindIndexed(criteria, directOnly, idOnly, found)) _FindWalk(criteria, directOnly, idOnly, found);
  return found;
}

void VornModelObject::_FindWalk(const Criteria& criteria, bool directOnly, bool idOnly, std::vector<Ptr>& out) const {
  for (const Ptr& child : m_children) {
    if (child->HasValues(criteria, idOnly)) out.push_back(child);
    if (!directOnly) child->_FindWalk(criteria, false, idOnly, out);
  }
}

std::vector<VornModelObject::Ptr> VornModelObject::GetBrothers(const Criteria& criteria) const {
  const Ptr parent = GetParent();
  if (!parent) return {};
  std::vector<Ptr> found = parent->FindChildren(criteria, false, false);
  std::erase_if(found, [this](const Ptr& object) { return object->m_id == m_id; });
  return found;
}
