#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/events/EventsHandler.h"
#include "vorn/values/ValuesByString.h"
#include "vorn/views/BaseTweaker.h"

class VornModelObject;
struct VornContextInfo;
struct VornViewInfo;

// Ties one generated tweaker to the model objects it shows (and writes the
// "value" of) and to the objects whose changes concern its parameters.
struct VORN_API VornTweakerInfo {
  virtual ~VornTweakerInfo();
  std::string tweakerId;
  std::string dataType;
  std::vector<std::shared_ptr<VornModelObject>> modelObjects;
  std::vector<std::shared_ptr<VornModelObject>> relatedModelObjects;
  std::shared_ptr<VornBaseTweaker> tweaker;
  std::shared_ptr<VornTweakerParameters> parameters;
};

// Base of every view: one presentation of a context's data tree.
//
// Initialised on a root, it listens to every model object of the tree and
// generates, bottom-up, a tweaker for each object that has a "type" (the
// data type; the view's name is the representation). Model changes reach
// the tweakers as data; a tweaker's edit is written back as the objects'
// "value"; a model object whose destruction is requested takes its tweaker
// out. Each change costs lookups, never a walk of the tree or of the
// tweakers. Objects are known by identity, so two objects that share an id
// each get their tweaker. Every subscription the view makes is withdrawn
// when it goes, and those of an object as soon as nothing needs them.
//
// Publishes "onTweakerGenerated" (VornTweakerCreationEventData) after each
// generation.
class VORN_API VornBaseView : public VornEventsHandler {
public:
  using TweakerInfoPtr = std::shared_ptr<VornTweakerInfo>;
  using ModelObjectPtr = std::shared_ptr<VornModelObject>;

  ~VornBaseView() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  // Once only: later calls do nothing. Reports "[Vorn - Base View]
  // VornBaseView::Initialize => Context not found in VornContextInfo!" when
  // the record or its context is missing (the view is still marked
  // initialised, with nothing listened).
  virtual void Initialize(VornViewInfo* viewInfo, const ModelObjectPtr& root,
                          const std::shared_ptr<VornContextInfo>& contextInfo, const bool& listenOnly);
  // The view's presentation as text, for hosts that show it as such (a
  // log, a terminal client); the library never calls it.
  virtual std::string Render() = 0;

  const std::string& GetName() const noexcept { return m_name; }
  const std::shared_ptr<VornContextInfo>& GetContextInfo() const noexcept { return m_contextInfo; }
  // Every tweaker information, in the map's order (generation order, until
  // a dropped tweaker's place is taken by the last one).
  std::vector<TweakerInfoPtr> GetTweakers() const;
  // The tweakers laid out by the model tree under `root`, for clients that
  // build their own controls: {"id", "name" when set, "tweaker" (the
  // tweaker's Describe()) when the object has one, "children" when it has
  // any}. Objects without a tweaker keep their place as groups; an object
  // with a data type no tweaker shows gets "unsupported": {"type", "value",
  // "label", "description"} instead, for a read-only row.
  //
  // At most `limit` nodes are described, breadth first, each node's
  // children all or none, but for `root`'s own children, which may be the
  // slice from `from` on: a node whose children were not all described has
  // "childCount" (how many it has), with "children" holding the slice for
  // `root`, none for the others (describe such a node as the next root),
  // and `complete` is set false. The cost is that of the nodes described,
  // so a host can page a tree of any size and shape.
  VornJSONObject DescribeLayout(const ModelObjectPtr& root, std::size_t limit = SIZE_MAX, bool* complete = nullptr,
                                std::size_t from = 0) const;
  // A tweaker by its id, or the first tweaker showing the object with that
  // id; empty when there is none. Tweaker ids are stable: the view's name,
  // "/", and the id of the first object shown ("#2", "#3"... when taken),
  // so the same model gives the same ids at every start.
  TweakerInfoPtr FindTweaker(const std::string& tweakerId) const;
  TweakerInfoPtr FindTweakerOfObject(const std::string& objectId) const;
  bool IsInitialized() const noexcept { return m_initialized; }

protected:
  explicit VornBaseView(std::string name);

  // Called once by Initialize, before the tree is walked.
  virtual void _InitializeView() = 0;
  virtual std::shared_ptr<VornBaseTweaker> _GenerateTweaker(const ModelObjectPtr& object);
  virtual std::shared_ptr<VornBaseTweaker> _GenerateTweaker(TweakerInfoPtr& info);
  virtual void _OnNewModelObject(const ModelObjectPtr& object, const bool& listenOnly);
  virtual void _OnModelObjectDestructionRequested(const std::shared_ptr<VornEventData>& data);
  virtual void _ApplyDataChangesOnTweakers(const TweakerInfoPtr& info, const ModelObjectPtr& object,
                                           const bool& updateParameters);
  virtual void _UpdateTweakerFromInfo(const TweakerInfoPtr& info, const bool& updateData,
                                      const bool& updateParameters);
  virtual void _UpdateTweakersFromRelatedMO(const ModelObjectPtr& object) { (void)object; }
  virtual void _OnTweakerValueChange(const std::shared_ptr<VornEventData>& data);
  virtual void _OnTweakerUsageStatusChange(const std::shared_ptr<VornEventData>& data) { (void)data; }

  TweakerInfoPtr _GetTweakerInfo(const ModelObjectPtr& object) const;
  std::vector<TweakerInfoPtr> _GetTweakersInfoFromRelatedMO(const ModelObjectPtr& object) const;
  void _OnDataChange(const std::shared_ptr<VornEventData>& data);
  // The option's value in the view's copy of its options, or null.
  const VornValue* _GetOptionValueWrapper(const std::string& name) const;

private:
  friend void Vorn::detail::TellView(VornBaseView&, bool, const std::shared_ptr<VornEventData>&);
  // A generated tweaker and its record. The view hears the tweaker's edits
  // and usage changes through the tweaker's link back to it, set while the
  // entry holds the tweaker, rather than through two subscriptions per
  // tweaker. The entry's key views the tweaker's own id, which only the
  // view sets (before the entry is made) and which lives as long as the
  // entry holds the tweaker: one copy of the id fewer per tweaker.
  struct Generated {
    TweakerInfoPtr info;
    std::shared_ptr<VornBaseTweaker> tweaker;
  };
  struct Listened {
    // New children (only for objects of the tree), destruction, changes:
    // inline, as every listened object has them. Mostly one token for all
    // (in the first two places, or the second alone for an object listened
    // only as related), else one for each.
    std::array<std::shared_ptr<VornEventToken>, 3> tokens;
    // The tweaker showing the object, if any. A shown object has an entry
    // even when it is not listened (a view may show objects outside the
    // tree), and cannot go while shown: the tweaker's record holds it.
    TweakerInfoPtr shown;
    // Walked as part of the tree, not only related: it hears new children.
    bool InTree() const noexcept { return tokens[0] != nullptr; }
    // Not listened yet, or the object went without the view hearing of it
    // (a destruction never requested) and another may now have its address:
    // a handler expires its tokens as it goes, and the view withdraws its
    // own with the entry.
    bool IsStale() const noexcept { return !tokens[1] || tokens[1]->IsExpired(); }
  };

  void _ListenModelObject(const ModelObjectPtr& object, const bool subscribeToNewChildren, const bool listenOnly);
  // Any of the events the view hears from a model object, told apart by name.
  void _OnModelEvent(const std::shared_ptr<VornEventData>& data, bool listenOnly);
  // Gives `tweaker` its stable id and enters it (with `info`) under it.
  void _Enter(const TweakerInfoPtr& info, const std::shared_ptr<VornBaseTweaker>& tweaker);
  VornJSONObject _DescribeNode(const VornModelObject& object) const;
  void _Unlisten(const VornModelObject* object);
  // The tweaker record showing `object`, or null.
  const TweakerInfoPtr* _Shown(const VornModelObject* object) const;
  void _DropTweaker(const std::string& tweakerId, const VornModelObject* destroyed);
  bool _IsNeeded(const VornModelObject* object) const;

  std::string m_name;
  std::shared_ptr<VornContextInfo> m_contextInfo;
  VornValuesByString m_options;
  Vorn::HashTable<std::string_view, Generated> m_tweakerInfos;
  std::unordered_map<const VornModelObject*, std::vector<std::string>> m_relatedTweakers;
  bool m_initialized = false;
  // Every object listened or shown. A model change reaches the object's
  // tweaker with this one lookup. Entries sit in one array (no block per
  // object) and move when it grows or one is erased: no reference to an
  // entry is kept across a change of the table.
  Vorn::HashTable<const VornModelObject*, Listened> m_listened;
  std::set<std::string> m_untweakedTypes;  // reported once each
};
