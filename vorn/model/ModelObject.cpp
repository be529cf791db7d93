#include "vorn/model/ModelObject.h"

#include <algorithm>

#include "vorn/host/Uuid.h"
#include "vorn/json/Convert.h"

namespace Vorn::_Internal_ {
void ReportAbsentModelProperty(const std::string& name, const std::string& objectName) {
  Vorn::RaiseError("[Vorn - Model Object] Property " + name + " does not exist on object \"" + objectName +
                   "\"!\nPlease check its existence with \"VornModelObject::HasProperty\" beforehand.");
}
}  // namespace Vorn::_Internal_

namespace {
using Ptr = VornModelObject::Ptr;

// Values holding handles to model objects compare by the objects' ids: two
// handles to distinct objects that carry one id are equal, as are two empty
// handles.
bool SameModelObjectID(const VornModelObject* a, const VornModelObject* b) {
  if (!a || !b) return a == b;
  return a->GetID() == b->GetID();
}
[[maybe_unused]] const bool g_handlesCompareByID = Vorn::SetAnyHandleEquality<VornModelObject, &SameModelObjectID>();

Ptr Shared(VornModelObject* object) { return std::static_pointer_cast<VornModelObject>(object->GetSharedPtr()); }

std::shared_ptr<VornValue> SharedCopy(const VornValue& value) { return std::make_shared<VornValue>(value); }
}  // namespace

VornModelObject::VornModelObject(_BuildKey) : m_id(KRTUuid().ToString()) {}

VornModelObject::Ptr VornModelObject::BuildSharedPtrFromOptions(const VornModelObjectInitOptions& options) {
  Ptr object = std::make_shared<VornModelObject>(_BuildKey());
  object->m_isTrueRoot = options.isTrueRoot;
  if (options.isTrueRoot) object->_StartTreeIndex();
  object->SetValue<std::string>("id", object->m_id, true);
  // Values first, so that whoever hears of the new child sees them.
  if (!options.values.empty()) {
    if (options.isTrueRoot) {
      VornValuesByString wrapped;
      wrapped.try_emplace("children", CriteriaList{options.values});
      object->SetValues(wrapped, true);
    } else {
      object->SetValues(options.values, true);
    }
  }
  if (options.parent) options.parent->AddChild(object);
  return object;
}

VornModelObject::~VornModelObject() {
  // Survivors of this subtree must not keep links into it.
  _UnindexSubtree(this);
  _Deactivate(false, false);
  for (const Ptr& child : m_children)
    if (child) std::erase(child->m_holders, this);
  std::vector<Ptr> children = std::move(m_children);
  for (const Ptr& child : children)
    if (child) child->RequestDestruction();
}

// --- properties ------------------------------------------------------------------

std::shared_ptr<VornModelProperty> VornModelObject::_GetProperty(const std::string& name) const {
  auto it = m_properties.find(name);
  return it == m_properties.end() ? nullptr : it->second;
}

std::shared_ptr<VornModelProperty> VornModelObject::GetProperty(const std::string& name) const {
  return _GetProperty(name);
}

const VornValue* VornModelObject::GetValue(const std::string& name) const {
  auto it = m_properties.find(name);
  return it == m_properties.end() ? nullptr : it->second->GetValue();
}

std::shared_ptr<VornModelProperty> VornModelObject::_GetPropertyBeforeSetFromValue(const std::string& name,
                                                                                  const VornValue& value) {
  if (auto existing = _GetProperty(name)) return existing;
  if (IsDestructionRequested()) return nullptr;
  auto created = VornModelPropertiesDicoManager::_CreatePropertyFromValue(name, value);
  if (created) m_properties.try_emplace(name, created);
  return created;
}

void VornModelObject::_OnPropertyChanged(const std::string& name, const VornModelProperty& property) {
  const VornValue* value = property.GetValue();
  if (!value || !value->Holds<std::string>()) return;
  if (name == "name") {
    m_name = value->GetRawValue<std::string>();
  } else if (name == "id") {
    _SetID(value->GetRawValue<std::string>());  // a fresh string: no capacity left from the generated id
  }
}

bool VornModelObject::SetValue(const std::string& name, const VornValue& value, bool silent, bool skipAggregate) {
  bool changed = false;
  std::shared_ptr<VornModelProperty> property;
  if (name == "children") {
    changed = UpdateChildren(ReadValuesMapList(value), false);
  } else {
    property = _GetPropertyBeforeSetFromValue(name, value);
    changed = property && property->SetValue(value);
    if (changed) _OnPropertyChanged(name, *property);
  }
  if (changed && !silent) {
    // The value as stored (a widened number stays a double for listeners).
    const VornValue& stored = property ? *property->GetValue() : value;
    const VornValue_sp shared(SharedCopy(stored));
    Publish("onChange:" + name, VornEventData::Create(shared));
    if (!skipAggregate) Publish("onChange", VornEventData::Create(VornEventData::ValuesMap{{name, shared.Get()}}));
  }
  return changed;
}

bool VornModelObject::_SetTypedValue(const std::string& name, const VornValue& value, const Vorn::TypeInfo& type,
                                     bool silent) {
  bool changed = false;
  if (name == "children") {
    const CriteriaList list = ReadValuesMapList(value);
    changed = _ManageChildrenSet(&list);
  } else {
    auto property = _GetProperty(name);
    if (!property && !IsDestructionRequested()) {
      property = VornModelPropertiesDicoManager::_CreatePropertyForType(name, type);
      if (property) m_properties.try_emplace(name, property);
    }
    changed = property && property->SetValue(value);
    if (changed) _OnPropertyChanged(name, *property);
  }
  if (changed && !silent) _PublishChangeOnSingleSet(name, value);
  return changed;
}

void VornModelObject::_PublishChangeOnSingleSet(const std::string& name, const VornValue& value) {
  const auto shared = SharedCopy(value);
  const auto data = VornEventData::Create(VornValue_sp(shared), VornEventData::ValuesMap{{name, shared}});
  Publish("onChange:" + name, data);
  Publish("onChange", data);
}

bool VornModelObject::SetValues(const VornValuesByString& values, bool silent) {
  bool any = false;
  VornEventData::ValuesMap aggregate;
  for (const auto& [name, value] : values) {
    any = SetValue(name, value, silent, true) || any;
    aggregate[name] = SharedCopy(value);
  }
  if (any && !silent) Publish("onChange", VornEventData::Create(aggregate));
  return any;
}

bool VornModelObject::SetValues(const VornJSONObject& values, bool silent) {
  return SetValues(Vorn::ConvertJSONObjectToValuesByString(values), silent);
}

VornValuesByString VornModelObject::Dump() const {
  VornValuesByString dump;
  dump.reserve(m_properties.size() + 1);
  for (const auto& [name, property] : m_properties)
    if (const VornValue* value = property->GetValue()) dump.try_emplace(name, *value);
  dump.insert_or_assign("id", VornValue(m_id));
  return dump;
}

VornJSONObject VornModelObject::ToJSON() const {
  VornJSONObject json;
  json.Reserve(m_properties.size() + 1);
  for (const auto& [name, property] : m_properties) {
    VornJSONValue value = property->GetAsJSONValue();
    // Values JSON cannot show (records, object handles) are left out too.
    if (!value.IsNullOrUndefined()) json.Insert(name, std::move(value));
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

// --- tree ------------------------------------------------------------------------------

bool VornModelObject::_IsInSubtreeOf(const VornModelObject* ancestor) const {
  std::vector<const VornModelObject*> stack{ancestor};
  while (!stack.empty()) {
    const VornModelObject* node = stack.back();
    stack.pop_back();
    if (node == this) return true;
    for (const Ptr& child : node->m_children)
      if (child) stack.push_back(child.get());
  }
  return false;
}

void VornModelObject::AddChild(const Ptr& child) {
  if (!child) return;
  if (_IsInSubtreeOf(child.get())) {
    Vorn::RaiseError("[Vorn - Model Object] AddChild => refused: object " + child->m_id +
                     " is this object or one of its ancestors!");
    return;
  }
  child->m_parent = std::static_pointer_cast<VornModelObject>(GetSharedPtr());
  child->m_holders.push_back(this);
  m_children.push_back(child);
  _IndexSubtree(child.get());
  Publish("onAddChild", VornMOAddChildEventData::Create(child));
}

void VornModelObject::AddChild(const VornValuesByString& values) {
  AddChild(BuildSharedPtrFromOptions({values, false, nullptr}));
}

void VornModelObject::_OnDestructionRequested() {
  const std::vector<VornModelObject*> holders = m_holders;
  for (VornModelObject* holder : holders)
    if (std::find(m_holders.begin(), m_holders.end(), holder) != m_holders.end())
      holder->_OnChildDestructionRequested(this);
}

void VornModelObject::_OnChildDestructionRequested(VornModelObject* child) {
  if (!m_children.empty()) _RemoveChild(child, false);
}

void VornModelObject::_RemoveChild(VornModelObject* child, bool requestDestruction) {
  // By identity: siblings may share an id, and only this one is meant.
  auto same = [child](const Ptr& c) { return c.get() == child; };
  if (std::none_of(m_children.begin(), m_children.end(), same)) return;
  const Ptr keep = Shared(child);
  // Let go before the request goes out, as for a request made elsewhere.
  auto it = std::find_if(m_children.begin(), m_children.end(), same);
  m_children.erase(it);
  auto holder = std::find(child->m_holders.begin(), child->m_holders.end(), this);
  if (holder != child->m_holders.end()) child->m_holders.erase(holder);
  _UnindexSubtree(child);
  Publish("onRemoveChild", VornMORemoveChildEventData::Create(keep));
  if (requestDestruction) child->RequestDestruction();
}

void VornModelObject::RemoveChild(const std::string& id, bool requestDestruction) {
  VornValuesByString criteria;
  criteria.try_emplace("id", VornValue(id));
  RemoveChildren(CriteriaList{std::move(criteria)}, requestDestruction);
}

void VornModelObject::RemoveChildren(const CriteriaList& criteria, bool requestDestruction) {
  if (criteria.empty()) return;
  for (std::size_t i = 0; i < m_children.size();) {
    const Ptr child = m_children[i];
    child->RemoveChildren(criteria, requestDestruction);
    const bool match = std::any_of(criteria.begin(), criteria.end(),
                                   [&](const Criteria& entry) { return child->HasValues(entry, false); });
    if (match) _RemoveChild(child.get(), requestDestruction);
    // The same index again once the child has gone.
    if (!match || (i < m_children.size() && m_children[i] == child)) ++i;
  }
}

void VornModelObject::UpdateChildren(const VornValuesByString& values, bool directOnly) {
  if (values.empty()) return;
  const std::vector<Ptr> found = FindChildren(values, directOnly, true);
  if (!found.empty()) {
    for (const Ptr& object : found) object->SetValues(values, false);
    return;
  }
  VornValuesByString wrapped;
  wrapped.try_emplace("children", CriteriaList{values});
  SetValues(wrapped, false);
}

bool VornModelObject::UpdateChildren(const CriteriaList& list, bool directOnly) {
  bool any = false;
  for (const VornValuesByString& values : list) {
    const std::vector<Ptr> found = FindChildren(values, directOnly, true);
    if (!found.empty()) {
      any = found.front()->SetValues(values, false) || any;
    } else {
      const std::size_t before = m_children.size();
      AddChild(values);
      any = any || m_children.size() != before;
    }
  }
  return any;
}

bool VornModelObject::_ManageChildrenSet(const CriteriaList* list) {
  if (!list || list->empty()) return false;
  const std::size_t before = m_children.size();
  for (const VornValuesByString& values : *list) AddChild(values);
  return m_children.size() != before;
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
    const auto property = _GetProperty(key);
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

// --- activation ---------------------------------------------------------------------

bool VornModelObject::IsActive() const {
  const VornValue* value = GetValue("isActive");
  return value && value->Holds<bool>() && value->GetRawValue<bool>();
}

void VornModelObject::Activate() {
  if (m_isTrueRoot) return;
  for (const Ptr& brother : GetBrothers({})) brother->Deactivate(false);
  const Ptr parent = GetParent();
  if (parent && !parent->IsActive() && !parent->IsTrueRoot()) parent->Activate();
  SetValue<bool>("isActive", true, false);
}

void VornModelObject::Deactivate(bool onlySelf) { _Deactivate(onlySelf, true); }

void VornModelObject::_Deactivate(bool onlySelf, bool createMissing) {
  if (m_isTrueRoot) return;
  // Without `createMissing` (teardown) an object that never held the flag
  // is inactive already and gets no new property.
  if (createMissing || HasProperty("isActive")) SetValue<bool>("isActive", false, false);
  if (onlySelf) return;
  const std::vector<Ptr> children = m_children;
  for (const Ptr& child : children) child->_Deactivate(false, createMissing);
}
