#include "vorn/model/ModelObject.h"

#include <algorithm>

#include "vorn/host/Uuid.h"
#include "vorn/json/Convert.h"
#include "vorn/model/ModelArena.h"

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

const std::string& EmptyString() {
  static const std::string empty;
  return empty;
}

Ptr Shared(VornModelObject* object) { return std::static_pointer_cast<VornModelObject>(object->GetSharedPtr()); }

std::shared_ptr<VornValue> SharedCopy(const VornValue& value) { return std::make_shared<VornValue>(value); }
}  // namespace

VornModelObject::VornModelObject(_BuildKey) : m_id(KRTUuid().ToString()) {}

VornModelObject::VornModelObject(_BuildKey, std::string id) : m_id(std::move(id)) {}

VornModelObject::Ptr VornModelObject::BuildSharedPtrFromOptions(const VornModelObjectInitOptions& options) {
  return _Build(options.values, options.isTrueRoot, options.parent);
}

VornModelObject::Ptr VornModelObject::_Build(const VornValuesByString& values, bool isTrueRoot, const Ptr& parent) {
  // A record that brings its own string "id" replaces the fresh identifier
  // at once: none is generated for it (the generated one is used when the
  // dictionaries refuse a string "id", as they would refuse it too).
  const auto recordId = isTrueRoot ? values.end() : values.find("id");
  const bool ownId = recordId != values.end() && recordId->second.Holds<std::string>();
  const VornModelAllocator<VornModelObject> arena;
  Ptr object = ownId ? std::allocate_shared<VornModelObject>(arena, _BuildKey(),
                                                             recordId->second.GetRawValue<std::string>())
                     : std::allocate_shared<VornModelObject>(arena, _BuildKey());
  object->m_isTrueRoot = isTrueRoot;
  // Room for "id" and the record's values: one exact allocation.
  if (!isTrueRoot)
    object->m_properties.reserve(values.size() + (values.contains("id") ? 0 : 1) -
                                 (values.contains("children") ? 1 : 0));
  if (isTrueRoot) object->_StartTreeIndex();
  // A record with children of its own gets an index of its own while they
  // are built, so each child's search for an earlier one of its id does not
  // walk what was built so far (quadratic in a large initial tree).
  const bool buildIndex = !isTrueRoot && values.contains("children");
  if (buildIndex) object->_StartBuildIndex();
  if (ownId) {
    // The record's own value, set as the record will set it (no copy of the
    // identifier made for the typed setter).
    object->SetValue("id", recordId->second, true);
    if (!object->_FindProperty("id")) object->m_id = KRTUuid().ToString();
  } else {
    object->SetValue<std::string>("id", object->m_id, true);
  }
  // Values first, so that whoever hears of the new child sees them.
  if (!values.empty()) {
    if (isTrueRoot) {
      VornValuesByString wrapped;
      wrapped.try_emplace("children", CriteriaList{values});
      object->SetValues(wrapped, true);
    } else {
      object->SetValues(values, true);
    }
  }
  if (buildIndex) object->_DropBuildIndex();
  if (parent) parent->AddChild(object);
  return object;
}

VornModelObject::~VornModelObject() {
  // Survivors of this subtree must not keep links into it.
  _UnindexSubtree(this);
  _Deactivate(false, false);
  for (const Ptr& child : m_children)
    if (child) child->_RemoveHolderEverywhere(this);
  std::vector<Ptr> children = std::move(m_children);
  for (const Ptr& child : children)
    if (child) child->RequestDestruction();
}

// --- holders ---------------------------------------------------------------------

void VornModelObject::_AddHolder(VornModelObject* holder) {
  if (!m_holder) {
    m_holder = holder;
    return;
  }
  if (!m_moreHolders) m_moreHolders = std::make_unique<std::vector<VornModelObject*>>();
  m_moreHolders->push_back(holder);
}

bool VornModelObject::_RemoveHolder(VornModelObject* holder) noexcept {
  if (!holder) return false;
  if (m_holder == holder) {
    // The next in placement order moves up.
    if (m_moreHolders && !m_moreHolders->empty()) {
      m_holder = m_moreHolders->front();
      m_moreHolders->erase(m_moreHolders->begin());
    } else {
      m_holder = nullptr;
    }
    return true;
  }
  if (!m_moreHolders) return false;
  auto it = std::find(m_moreHolders->begin(), m_moreHolders->end(), holder);
  if (it == m_moreHolders->end()) return false;
  m_moreHolders->erase(it);
  return true;
}

void VornModelObject::_RemoveHolderEverywhere(VornModelObject* holder) noexcept {
  while (_RemoveHolder(holder)) {
  }
}

bool VornModelObject::_IsHeldBy(const VornModelObject* holder) const noexcept {
  if (!holder) return false;
  if (m_holder == holder) return true;
  return m_moreHolders && std::find(m_moreHolders->begin(), m_moreHolders->end(), holder) != m_moreHolders->end();
}

// --- properties ------------------------------------------------------------------

VornModelProperty* VornModelObject::_FindProperty(const std::string& name) const noexcept {
  for (const auto& property : m_properties)
    if (property->GetName() == name) return property.get();
  return nullptr;
}

void VornModelObject::_AddProperty(std::shared_ptr<VornModelProperty> property) {
  m_properties.push_back(std::move(property));
}

std::shared_ptr<VornModelProperty> VornModelObject::_GetProperty(const std::string& name) const {
  for (const auto& property : m_properties)
    if (property->GetName() == name) return property;
  return nullptr;
}

const std::string& VornModelObject::GetName() const noexcept {
  const VornModelProperty* property = _FindProperty("name");
  const VornValue* value = property ? property->GetValue() : nullptr;
  return value && value->Holds<std::string>() ? value->GetRawValue<std::string>() : EmptyString();
}

std::shared_ptr<VornModelProperty> VornModelObject::GetProperty(const std::string& name) const {
  return _GetProperty(name);
}

const VornValue* VornModelObject::GetValue(const std::string& name) const {
  const VornModelProperty* property = _FindProperty(name);
  return property ? property->GetValue() : nullptr;
}

VornModelProperty* VornModelObject::_GetPropertyBeforeSetFromValue(const std::string& name, const VornValue& value) {
  if (VornModelProperty* existing = _FindProperty(name)) return existing;
  if (IsDestructionRequested()) return nullptr;
  auto created = VornModelPropertiesDicoManager::_CreatePropertyFromValue(name, value);
  if (!created) return nullptr;
  VornModelProperty* property = created.get();
  _AddProperty(std::move(created));
  return property;
}

void VornModelObject::_OnPropertyChanged(const std::string& name, const VornModelProperty& property) {
  const VornValue* value = property.GetValue();
  if (!value || !value->Holds<std::string>()) return;
  if (name == "id") {
    _SetID(value->GetRawValue<std::string>());  // a fresh string: no capacity left from the generated id
  }
}

bool VornModelObject::SetValue(const std::string& name, const VornValue& value, bool silent, bool skipAggregate) {
  bool changed = false;
  VornModelProperty* property = nullptr;  // properties stay as long as their object
  if (name == "children") {
    // A list of records is read in place; other forms are converted.
    changed = value.Holds<CriteriaList>() ? UpdateChildren(value.GetRawValue<CriteriaList>(), false)
                                          : UpdateChildren(ReadValuesMapList(value), false);
  } else {
    property = _GetPropertyBeforeSetFromValue(name, value);
    changed = property && property->SetValue(value);
    if (changed) _OnPropertyChanged(name, *property);
  }
  if (changed && !silent && _MayHaveListeners()) {
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
    VornModelProperty* property = _FindProperty(name);
    if (!property && !IsDestructionRequested()) {
      auto created = VornModelPropertiesDicoManager::_CreatePropertyForType(name, type);
      property = created.get();
      if (created) _AddProperty(std::move(created));
    }
    changed = property && property->SetValue(value);
    if (changed) _OnPropertyChanged(name, *property);
  }
  if (changed && !silent && _MayHaveListeners()) _PublishChangeOnSingleSet(name, value);
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
  for (const auto& [name, value] : values) any = SetValue(name, value, silent, true) || any;
  if (any && !silent && _MayHaveListeners()) {
    VornEventData::ValuesMap aggregate;
    for (const auto& [name, value] : values) aggregate[name] = SharedCopy(value);
    Publish("onChange", VornEventData::Create(aggregate));
  }
  return any;
}

bool VornModelObject::SetValues(const VornJSONObject& values, bool silent) {
  return SetValues(Vorn::ConvertJSONObjectToValuesByString(values), silent);
}

// --- tree ------------------------------------------------------------------------------

bool VornModelObject::_IsInSubtreeOf(const VornModelObject* ancestor) const {
  if (ancestor == this) return true;
  if (ancestor->m_children.empty()) return false;  // a new leaf: nothing to walk
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
  child->_AddHolder(this);
  m_children.push_back(child);
  _IndexSubtree(child.get());
  if (_MayHaveListeners()) Publish("onAddChild", VornMOAddChildEventData::Create(child));
}

void VornModelObject::AddChild(const VornValuesByString& values) {
  AddChild(_Build(values, false, nullptr));
}

void VornModelObject::_OnDestructionRequested() {
  std::vector<VornModelObject*> holders;
  if (m_holder) holders.push_back(m_holder);
  if (m_moreHolders) holders.insert(holders.end(), m_moreHolders->begin(), m_moreHolders->end());
  for (VornModelObject* holder : holders)
    if (_IsHeldBy(holder)) holder->_OnChildDestructionRequested(this);
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
  child->_RemoveHolder(this);
  _UnindexSubtree(child);
  if (_MayHaveListeners()) Publish("onRemoveChild", VornMORemoveChildEventData::Create(keep));
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
