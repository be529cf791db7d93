#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/core/Export.h"
#include "vorn/events/EventsHandler.h"
#include "vorn/json/Object.h"
#include "vorn/model/ModelArena.h"
#include "vorn/model/ModelProperty.h"
#include "vorn/model/PropertiesDico.h"
#include "vorn/values/ValuesByString.h"

class VornModelObject;
class VornModelTreeIndex;

namespace Vorn::_Internal_ {
VORN_API void ReportAbsentModelProperty(const std::string& name, const std::string& objectName);
}

// How a model object starts: its values, whether it is the root of a
// context tree, and an optional parent to attach it to.
struct VORN_API VornModelObjectInitOptions {
  VornValuesByString values;
  bool isTrueRoot = false;
  std::shared_ptr<VornModelObject> parent;
};

// A node of a context's data tree: typed properties declared by the
// property dictionaries, ordered children, a weak link to its parent.
//
// Events: "onChange:" + name and "onChange" for every accepted change that
// is not silent, "onAddChild" for every child appended, "onRemoveChild"
// (VornMORemoveChildEventData) for every child let go, whether removed or
// leaving because its destruction was requested. A child whose
// destruction is requested leaves its parents before any listener of the
// request is called.
//
// Identity. An object gets a fresh identifier, stored as its "id" property.
// A record that sets "id" (hosts address their nodes by their own ids) sets
// the identifier too, so GetID(), Dump(), ToJSON() and searches by "id" all
// agree. Two objects may carry one id; searches then find both. Values
// holding handles to objects compare by the objects' ids.
//
// Values maps describe subtrees: the key "children" holds a list of values
// maps, one per child (a std::vector<VornValuesByString>, or a
// std::vector<VornValue> whose elements hold values maps, as the JSON
// bridge produces). Other kinds under "children" (and "roots") are reported
// and read as an empty list.
//
// Trees. An object is never added under itself or one of its descendants:
// that is reported and refused. A tree rooted at a true root keeps an index
// from "id" to its nodes (VornModelTreeIndex, ModelTreeIndex.h), so a search
// whose criteria name "id" (every update by id) costs the matches, not a
// walk of the tree; results are those of the walk, in the same pre-order.
// An object placed twice in one tree (the same handle added under two
// parents) makes that tree fall back to walking.
//
// Size. A tree of a million nodes has to fit in memory, so a node keeps
// what it needs and no more: its properties in a plain array in the order
// they were first set, looked up by a scan of their names (objects hold a
// handful; the dictionaries' names are short), each property pointing at
// the kind it shares with every property of its name (ModelProperty.h); no
// cached copy of "name"; its holders inline while there is one; listener
// tables only once someone subscribes (EventsHandler.h); and its link in
// the tree's id index inside the node (ModelTreeIndex.h). With five
// properties (four short strings, a number) a node costs about 960 bytes of
// heap, where it took 1.9 KiB; a quarter of that is the values' own holders.
//
// Events cost nothing when nobody listens: the event data (copies of the
// values) is only built for an object that has listeners.
class VORN_API VornModelObject : public VornEventsHandler {
public:
  using Ptr = std::shared_ptr<VornModelObject>;
  using Criteria = VornValuesByString;
  using CriteriaList = std::vector<VornValuesByString>;

  ~VornModelObject() override;

  // Builds an object: identifier, values (silently, children included), then
  // attachment to `options.parent`, which announces it with its values in
  // place. A true root receives its values as its first child.
  static Ptr BuildSharedPtrFromOptions(const VornModelObjectInitOptions& options);

  const std::string& GetID() const noexcept { return m_id; }
  bool IsTrueRoot() const noexcept { return m_isTrueRoot; }
  // The "name" property's string, empty without one. The reference follows
  // the property: a later set of "name" invalidates it.
  const std::string& GetName() const noexcept;
  bool operator==(const VornModelObject& other) const noexcept { return m_id == other.m_id; }

  // --- properties
  bool HasProperty(const std::string& name) const { return _FindProperty(name) != nullptr; }
  // The value, or null when the property is absent or has none. No report.
  const VornValue* GetValue(const std::string& name) const;
  std::shared_ptr<VornModelProperty> GetProperty(const std::string& name) const;
  template <class T>
  T GetRawValue(const std::string& name) const {
    const VornModelProperty* property = _FindProperty(name);
    if (!property) {
      Vorn::_Internal_::ReportAbsentModelProperty(name, GetName());
      return T{};
    }
    return property->template GetRawValue<T>();
  }

  // Sets one value; true when it changed. Undeclared names, values that do
  // not fit the declared type and objects whose destruction was requested
  // change nothing (the first two are reported). "children" adds or updates
  // children (see UpdateChildren).
  bool SetValue(const std::string& name, const VornValue& value, bool silent = false, bool skipAggregate = false);
  // The typed setter ("id", "isActive"): both events carry the value and the
  // map {name: value}.
  template <class T>
  bool SetValue(const std::string& name, const T& value, bool silent) {
    return _SetTypedValue(name, VornValue(value), Vorn::GetTypeInfo<T>(), silent);
  }
  // Sets every entry, in order; "onChange" once after, carrying every entry
  // given, when anything changed.
  bool SetValues(const VornValuesByString& values, bool silent = false);
  bool SetValues(const VornJSONObject& values, bool silent = false);

  // Every valued property, then "id". Children are not included.
  VornValuesByString Dump() const;
  VornJSONObject ToJSON() const;

  // --- tree
  // Appends `child` (empty: ignored) and announces it. Refused, with a
  // report, when `child` is this object or one of its ancestors.
  void AddChild(const Ptr& child);
  void AddChild(const VornValuesByString& values);
  // Removes every object with that id, at any depth.
  void RemoveChild(const std::string& id, bool requestDestruction);
  // Removes every object matching any of the criteria, at any depth.
  void RemoveChildren(const CriteriaList& criteria, bool requestDestruction);
  // Updates the objects whose ID properties match `values` (at any depth
  // unless `directOnly`), or adds `values` as a new child of this object.
  void UpdateChildren(const VornValuesByString& values, bool directOnly);
  // For each map: updates the first match, or adds a child.
  bool UpdateChildren(const CriteriaList& list, bool directOnly);

  Ptr GetChild(const std::string& id) const;
  std::vector<Ptr> GetChildren() const { return m_children; }
  std::size_t GetChildCount() const noexcept { return m_children.size(); }
  // Matches in pre-order; empty criteria give the direct children.
  std::vector<Ptr> FindChildren(const Criteria& criteria, bool directOnly, bool idOnly) const;
  // Matches among the parent's descendants, this object excluded.
  std::vector<Ptr> GetBrothers(const Criteria& criteria) const;
  Ptr GetParent() const { return m_parent.lock(); }
  // Replaces the parent link only; the tree is not changed.
  void SetParent(const Ptr& parent) { m_parent = parent; }
  bool HasValues(const Criteria& criteria, bool idOnly) const;

  // --- activation (the bool property "isActive")
  void Activate();
  void Deactivate(bool onlySelf);
  bool IsActive() const;

  // Reads a "children"-style value as a list of values maps. Other kinds
  // are reported and give an empty list.
  static CriteriaList ReadValuesMapList(const VornValue& value);

  // Only BuildSharedPtrFromOptions can make the key.
  class _BuildKey {
    friend class VornModelObject;
    explicit _BuildKey() = default;
  };
  explicit VornModelObject(_BuildKey);
  // With the identifier the record brings.
  VornModelObject(_BuildKey, std::string id);

private:
  friend class VornModelTreeIndex;
  friend struct VornModelObjectTestAccess;

  VornModelProperty* _FindProperty(const std::string& name) const noexcept;
  void _AddProperty(std::shared_ptr<VornModelProperty> property);
  // Holders: the first inline, the others (an object placed more than
  // once) in a list made when needed.
  void _AddHolder(VornModelObject* holder);
  // Forgets one placement by `holder`; false when it holds none.
  bool _RemoveHolder(VornModelObject* holder) noexcept;
  void _RemoveHolderEverywhere(VornModelObject* holder) noexcept;
  bool _IsHeldBy(const VornModelObject* holder) const noexcept;
  static Ptr _Build(const VornValuesByString& values, bool isTrueRoot, const Ptr& parent);
  bool _SetTypedValue(const std::string& name, const VornValue& value, const Vorn::TypeInfo& type, bool silent);
  std::shared_ptr<VornModelProperty> _GetProperty(const std::string& name) const;
  VornModelProperty* _GetPropertyBeforeSetFromValue(const std::string& name, const VornValue& value);
  // After a property changed: the cached name, the identifier and the index.
  void _OnPropertyChanged(const std::string& name, const VornModelProperty& property);
  bool _ManageChildrenSet(const CriteriaList* list);
  void _RemoveChild(VornModelObject* child, bool requestDestruction);
  void _OnChildDestructionRequested(VornModelObject* child);
  void _OnDestructionRequested() override;
  void _PublishChangeOnSingleSet(const std::string& name, const VornValue& value);
  void _Deactivate(bool onlySelf, bool createMissing);
  bool _IsInSubtreeOf(const VornModelObject* ancestor) const;
  void _FindWalk(const Criteria& criteria, bool directOnly, bool idOnly, std::vector<Ptr>& out) const;
  // The tree's id index kept in step: a true root's new index, a subtree
  // placed or let go, a new identifier, an indexed search (false: walk).
  // Defined with the index, in ModelTreeIndex.cpp.
  void _StartTreeIndex();
  // An index for the subtree a record builds under a new object, dropped
  // (the subtree unfiled) before the object is placed anywhere.
  void _StartBuildIndex();
  void _DropBuildIndex();
  void _IndexSubtree(VornModelObject* child);
  void _UnindexSubtree(VornModelObject* child);
  void _SetID(std::string id);
  bool _FindIndexed(const Criteria& criteria, bool directOnly, bool idOnly, std::vector<Ptr>& out) const;

  bool m_isTrueRoot = false;
  bool m_ownsBuildIndex = false;
  std::string m_id;
  // The objects whose children hold this one, once per placement. A
  // destruction request tells them first, so they let go of it; a direct
  // link rather than an event subscription per child, which would cost
  // about 450 bytes per node.
  VornModelObject* m_holder = nullptr;
  std::unique_ptr<std::vector<VornModelObject*>> m_moreHolders;
  // In the order of their first set; names are unique. In the model arena,
  // with the properties themselves.
  std::vector<std::shared_ptr<VornModelProperty>, VornModelAllocator<std::shared_ptr<VornModelProperty>>> m_properties;
  std::weak_ptr<VornModelObject> m_parent;
  std::vector<Ptr> m_children;
  // The id index of the tree this object belongs to (a true root owns it),
  // and the parent that placed this object in that tree; only the index
  // changes them.
  std::shared_ptr<VornModelTreeIndex> m_tree;
  VornModelObject* m_treeParent = nullptr;
};
