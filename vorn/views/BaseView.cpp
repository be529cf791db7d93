#include "vorn/views/BaseView.h"

#include <algorithm>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Array.h"
#include "vorn/model/ModelObject.h"
#include "vorn/views/ContextInfo.h"
#include "vorn/views/TweakerFactory.h"

namespace {
// Publishers are handlers; these events come only from the kinds named.
template <class T>
T* PublisherAs(const std::shared_ptr<VornEventData>& data) {
  return data ? static_cast<T*>(static_cast<VornEventsHandler*>(data->GetEventPublisher())) : nullptr;
}

std::shared_ptr<VornModelObject> SharedModelObject(VornModelObject* object) {
  return object ? std::static_pointer_cast<VornModelObject>(object->GetSharedPtr()) : nullptr;
}

constexpr const char* kChange = "onChange";
constexpr const char* kAddChild = "onAddChild";

void Unsubscribe(std::shared_ptr<VornEventToken>& token) {
  if (token) token->Unsubscribe();
  token.reset();
}

template <class Tokens>
void UnsubscribeAll(Tokens& tokens) {
  for (auto& token : tokens) Unsubscribe(token);
}
}  // namespace

void Vorn::detail::TellView(VornBaseView& view, bool edit, const std::shared_ptr<VornEventData>& data) {
  if (edit)
    view._OnTweakerValueChange(data);
  else
    view._OnTweakerUsageStatusChange(data);
}

VornTweakerInfo::~VornTweakerInfo() = default;

VornBaseView::VornBaseView(std::string name) : m_name(std::move(name)) {}

VornBaseView::~VornBaseView() {
  // Nothing may call back into a view that has gone.
  for (auto& [object, listened] : m_listened) UnsubscribeAll(listened.tokens);
  for (auto& [id, generated] : m_tweakerInfos) generated.tweaker->m_view = nullptr;
}

void VornBaseView::Initialize(VornViewInfo* viewInfo, const ModelObjectPtr& root,
                              const std::shared_ptr<VornContextInfo>& contextInfo, const bool& listenOnly) {
  if (m_initialized) return;
  m_contextInfo = contextInfo;
  m_options = viewInfo ? viewInfo->options : VornValuesByString();
  if (!contextInfo || !contextInfo->context) {
    Vorn::RaiseError("[Vorn - Base View] VornBaseView::Initialize => Context not found in VornContextInfo!");
  } else {
    _InitializeView();
    _OnNewModelObject(root, listenOnly);
  }
  m_initialized = true;
}

std::vector<VornBaseView::TweakerInfoPtr> VornBaseView::GetTweakers() const {
  std::vector<TweakerInfoPtr> infos;
  infos.reserve(m_tweakerInfos.size());
  for (const auto& [id, generated] : m_tweakerInfos) infos.push_back(generated.info);
  return infos;
}

VornJSONObject VornBaseView::_DescribeNode(const VornModelObject& object) const {
  VornJSONObject node{{"id", object.GetID()}};
  if (const VornValue* name = object.GetValue("name")) node.Set("name", name->ToJSON());
  if (const TweakerInfoPtr* shown = _Shown(&object); shown && (*shown)->tweaker) {
    node.Set("tweaker", (*shown)->tweaker->Describe());
    return node;
  }
  // An object with a data type no template covers keeps its row, read-only.
  if (const VornValue* type = object.GetValue("type"); type && !object.IsTrueRoot()) {
    VornJSONObject unsupported{{"type", type->ToJSON()}};
    for (const char* key : {"label", "description", "value"})
      if (const VornValue* value = object.GetValue(key)) unsupported.Set(key, value->ToJSON());
    node.Set("unsupported", std::move(unsupported));
  }
  return node;
}

VornJSONObject VornBaseView::DescribeLayout(const ModelObjectPtr& root, std::size_t limit, bool* complete,
                                            std::size_t from) const {
  if (complete) *complete = true;
  if (!root || limit == 0) return {};
  struct Entry {
    ModelObjectPtr object;
    std::size_t total = 0;       // children it has
    std::size_t skipped = 0;     // the root's children before `from`
    std::size_t firstChild = 0;  // where its described children are in `order`
    std::size_t described = 0;   // how many of them are
  };
  // Breadth first while the budget lasts: the first levels come first. The
  // root's children may be a slice (from `from` on), every other node's
  // are all or none, so a node with more children than the budget can
  // still be read, a page at a time. No recursion, however deep the tree.
  std::vector<Entry> order{{root}};
  bool room = true;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::vector<ModelObjectPtr> children = room ? order[i].object->GetChildren() : std::vector<ModelObjectPtr>();
    order[i].total = room ? children.size() : order[i].object->GetChildCount();
    const std::size_t first = i == 0 ? std::min(from, children.size()) : 0;
    std::size_t take = children.size() - first;
    if (i == 0) take = std::min(take, limit - 1);
    if (!room || take == 0 || order.size() + take > limit) {
      room = room && take == 0;
      continue;
    }
    order[i].skipped = first;
    order[i].firstChild = order.size();
    order[i].described = take;
    for (std::size_t k = first; k < first + take; ++k) order.push_back({children[k]});
  }
  // Built from the leaves up: a node's children are built before it.
  std::vector<VornJSONObject> built(order.size());
  for (std::size_t i = order.size(); i-- > 0;) {
    const Entry& entry = order[i];
    VornJSONObject node = _DescribeNode(*entry.object);
    if (entry.described > 0) {
      VornJSONArray children;
      children.Reserve(entry.described);
      for (std::size_t k = entry.firstChild; k < entry.firstChild + entry.described; ++k) children.PushBack(std::move(built[k]));
      node.Set("children", std::move(children));
    }
    if (entry.skipped + entry.described < entry.total) {
      node.Set("childCount", static_cast<std::int64_t>(entry.total));
      if (complete) *complete = false;
    }
    built[i] = std::move(node);
  }
  return std::move(built.front());
}

void VornBaseView::_OnNewModelObject(const ModelObjectPtr& object, const bool& listenOnly) {
  if (!object) return;
  _ListenModelObject(object, true, listenOnly);
  for (const ModelObjectPtr& child : object->GetChildren()) _OnNewModelObject(child, listenOnly);
  if (!listenOnly) _GenerateTweaker(object);
}

void VornBaseView::_OnModelEvent(const std::shared_ptr<VornEventData>& data, bool listenOnly) {
  const std::string* name = VornEventsHandler::CurrentEventName();
  if (!name) return;
  if (*name == kAddChild) {
    if (auto added = std::dynamic_pointer_cast<VornMOAddChildEventData>(data))
      _OnNewModelObject(added->GetNewChild(), listenOnly);
  } else if (*name == kChange) {
    _OnDataChange(data);
  } else if (*name == Vorn::kEventDestructionRequested) {
    _OnModelObjectDestructionRequested(data);
  }
}

void VornBaseView::_ListenModelObject(const ModelObjectPtr& object, const bool subscribeToNewChildren,
                                      const bool listenOnly) {
  if (!object) return;
  auto [it, added] = m_listened.try_emplace(object.get());
  Listened& listened = it->second;
  const auto heard = [this, listenOnly](const std::shared_ptr<VornEventData>& data) { _OnModelEvent(data, listenOnly); };
  if (added || listened.IsStale()) {
    UnsubscribeAll(listened.tokens);  // a stale entry: another object had this address
    // One token for the object's events: two fewer allocations per object
    // than a token for each. Its new children too, when it is in the tree;
    // the token then also stands in the first place, and marks it so.
    if (subscribeToNewChildren) {
      listened.tokens[1] = object->SubscribeToEach({Vorn::kEventDestructionRequested, kChange, kAddChild}, heard);
      listened.tokens[0] = listened.tokens[1];
    } else {
      listened.tokens[1] = object->SubscribeToEach({Vorn::kEventDestructionRequested, kChange}, heard);
    }
    // Names that cannot share a token (the process's table of event names
    // was full before they were first used) get one token each.
    if (!listened.tokens[1]) {
      listened.tokens[0] = nullptr;
      listened.tokens[1] = object->Subscribe(Vorn::kEventDestructionRequested, heard);
      listened.tokens[2] = object->Subscribe(kChange, heard);
    }
  }
  // An object listened first as related joins the tree when the walk
  // reaches it: from then on its new children matter too.
  if (subscribeToNewChildren && !listened.InTree()) listened.tokens[0] = object->Subscribe(kAddChild, heard);
}

void VornBaseView::_Unlisten(const VornModelObject* object) {
  auto it = m_listened.find(object);
  if (it == m_listened.end()) return;
  UnsubscribeAll(it->second.tokens);
  if (!it->second.shown) m_listened.erase(it);
}

const VornBaseView::TweakerInfoPtr* VornBaseView::_Shown(const VornModelObject* object) const {
  auto it = m_listened.find(object);
  return it != m_listened.end() && it->second.shown ? &it->second.shown : nullptr;
}

std::shared_ptr<VornBaseTweaker> VornBaseView::_GenerateTweaker(const ModelObjectPtr& object) {
  if (!object || _Shown(object.get()) || object->IsTrueRoot() || !object->HasProperty("type"))
    return nullptr;
  auto info = std::make_shared<VornTweakerInfo>();
  info->dataType = object->GetRawValue<std::string>("type");
  info->modelObjects.push_back(object);
  std::shared_ptr<VornBaseTweaker> tweaker = _GenerateTweaker(info);
  // Told once per data type, naming the first object: a tree may hold
  // thousands of them. It is a warning, never a throw: the object keeps a
  // read-only row (DescribeLayout) and the other controls are made.
  if (!tweaker && m_untweakedTypes.insert(info->dataType).second)
    KRTSysLogAbend(("[Vorn - Base View] No tweaker for data type \"" + info->dataType + "\" (object \"" +
                    object->GetID() + "\") in view \"" + m_name + "\": its objects are shown read-only")
                       .c_str());
  return tweaker;
}

std::shared_ptr<VornBaseTweaker> VornBaseView::_GenerateTweaker(TweakerInfoPtr& info) {
  if (!info) return nullptr;
  std::shared_ptr<VornBaseTweaker> tweaker = VornTweakerFactory::GenerateTweaker(info->dataType, m_name);
  if (!tweaker) return tweaker;
  tweaker->m_view = this;
  for (const ModelObjectPtr& related : info->relatedModelObjects) _ListenModelObject(related, false, false);
  info->tweaker = tweaker;
  _Enter(info, tweaker);
  info->tweakerId = std::string(tweaker->GetID());  // a copy at its exact size (assigning rounds up)
  _UpdateTweakerFromInfo(info, true, true);
  if (_MayHaveListeners()) Publish("onTweakerGenerated", VornTweakerCreationEventData::Create(tweaker));
  return tweaker;
}

void VornBaseView::_Enter(const TweakerInfoPtr& info, const std::shared_ptr<VornBaseTweaker>& tweaker) {
  const bool shows = !info->modelObjects.empty() && info->modelObjects.front();
  const std::string_view object = shows ? std::string_view(info->modelObjects.front()->GetID()) : "tweaker";
  // Made at its exact size: appending would round the capacity up.
  std::string made(m_name.size() + 1 + object.size(), '/');
  std::copy(m_name.begin(), m_name.end(), made.begin());
  std::copy(object.begin(), object.end(), made.begin() + static_cast<std::ptrdiff_t>(m_name.size() + 1));
  std::string& id = tweaker->m_id;
  id = std::move(made);
  // Entered under the first id free: one lookup when it is the plain one.
  if (m_tweakerInfos.try_emplace(std::string_view(id), Generated{info, tweaker}).second) return;
  const std::string base = id;
  for (int n = 2;; ++n) {
    id = base + "#" + std::to_string(n);
    if (m_tweakerInfos.try_emplace(std::string_view(id), Generated{info, tweaker}).second) return;
  }
}

VornBaseView::TweakerInfoPtr VornBaseView::FindTweaker(const std::string& tweakerId) const {
  auto it = m_tweakerInfos.find(tweakerId);
  return it == m_tweakerInfos.end() ? nullptr : it->second.info;
}

VornBaseView::TweakerInfoPtr VornBaseView::FindTweakerOfObject(const std::string& objectId) const {
  auto shows = [&](const TweakerInfoPtr& info) {
    return info && !info->modelObjects.empty() && info->modelObjects.front() &&
           info->modelObjects.front()->GetID() == objectId;
  };
  // The id a tweaker gets from its object finds it at once; a scan covers
  // objects whose id changed after their tweaker was made.
  if (TweakerInfoPtr info = FindTweaker(m_name + "/" + objectId); shows(info)) return info;
  for (const auto& [id, generated] : m_tweakerInfos)
    if (shows(generated.info)) return generated.info;
  return nullptr;
}

void VornBaseView::_UpdateTweakerFromInfo(const TweakerInfoPtr& info, const bool& updateData,
                                          const bool& updateParameters) {
  if (!info || !info->tweaker) return;
  if (updateData) {
    // Built in the tweaker's own data and handed over as such: SetData then
    // stores nothing, where a separate list would be copied record by
    // record (every value cloned) and thrown away.
    VornBaseTweaker::Data& data = info->tweaker->m_data;
    data.clear();
    data.reserve(info->modelObjects.size());
    for (const ModelObjectPtr& object : info->modelObjects) {
      if (!object) continue;
      if (TweakerInfoPtr& shown = m_listened[object.get()].shown; !shown) shown = info;
      data.push_back(object->Dump());
    }
    info->tweaker->SetData(data);
  }
  if (updateParameters) {
    for (const ModelObjectPtr& related : info->relatedModelObjects) {
      if (!related) continue;
      auto& ids = m_relatedTweakers[related.get()];
      if (std::find(ids.begin(), ids.end(), info->tweakerId) == ids.end()) ids.push_back(info->tweakerId);
    }
    info->tweaker->SetParameters(info->parameters);
  }
}

void VornBaseView::_OnDataChange(const std::shared_ptr<VornEventData>& data) {
  VornModelObject* object = PublisherAs<VornModelObject>(data);
  if (!object) return;
  _ApplyDataChangesOnTweakers(_GetTweakerInfo(SharedModelObject(object)), SharedModelObject(object), false);
}

void VornBaseView::_ApplyDataChangesOnTweakers(const TweakerInfoPtr& info, const ModelObjectPtr& object,
                                               const bool& updateParameters) {
  _UpdateTweakerFromInfo(info, true, updateParameters);
  _UpdateTweakersFromRelatedMO(object);
}

void VornBaseView::_OnTweakerValueChange(const std::shared_ptr<VornEventData>& data) {
  VornBaseTweaker* tweaker = PublisherAs<VornBaseTweaker>(data);
  if (!tweaker) return;
  auto found = m_tweakerInfos.find(tweaker->GetID());
  if (found == m_tweakerInfos.end()) return;
  const TweakerInfoPtr info = found->second.info;  // the write-back may drop it
  for (const auto& [id, value] : data->GetValuesByString()) {
    if (!value) continue;
    for (const ModelObjectPtr& object : info->modelObjects)
      if (object && object->GetID() == id) object->SetValue("value", *value, false, false);
  }
}

void VornBaseView::_OnModelObjectDestructionRequested(const std::shared_ptr<VornEventData>& data) {
  const VornModelObject* object = PublisherAs<VornModelObject>(data);
  if (!object) return;
  if (const TweakerInfoPtr* shown = _Shown(object)) {
    _DropTweaker(std::string((*shown)->tweakerId), object);
  } else if (auto related = m_relatedTweakers.find(object); related != m_relatedTweakers.end()) {
    const std::vector<std::string> ids = related->second;
    for (const std::string& id : ids) _DropTweaker(id, object);
  }
  _Unlisten(object);
}

void VornBaseView::_DropTweaker(const std::string& tweakerId, const VornModelObject* destroyed) {
  auto found = m_tweakerInfos.find(tweakerId);
  if (found == m_tweakerInfos.end()) return;
  const TweakerInfoPtr info = found->second.info;
  found->second.tweaker->m_view = nullptr;
  m_tweakerInfos.erase(found);
  std::vector<const VornModelObject*> concerned;
  for (const ModelObjectPtr& object : info->modelObjects) {
    if (!object) continue;
    auto entry = m_listened.find(object.get());
    if (entry != m_listened.end() && entry->second.shown == info) {
      entry->second.shown = nullptr;
      if (entry->second.IsStale()) {  // shown only, not listened
        UnsubscribeAll(entry->second.tokens);
        m_listened.erase(entry);
      }
    }
    concerned.push_back(object.get());
  }
  for (const ModelObjectPtr& related : info->relatedModelObjects) {
    if (!related) continue;
    if (auto ids = m_relatedTweakers.find(related.get()); ids != m_relatedTweakers.end()) {
      std::erase(ids->second, tweakerId);
      if (ids->second.empty()) m_relatedTweakers.erase(ids);
    }
    concerned.push_back(related.get());
  }
  // Objects of the tree stay listened (their changes and new children still
  // matter); objects listened only for this tweaker go once nothing needs them.
  for (const VornModelObject* object : concerned) {
    auto listened = m_listened.find(object);
    if (object == destroyed || (listened != m_listened.end() && !listened->second.InTree() && !_IsNeeded(object)))
      _Unlisten(object);
  }
}

bool VornBaseView::_IsNeeded(const VornModelObject* object) const {
  return _Shown(object) || m_relatedTweakers.contains(object);
}

VornBaseView::TweakerInfoPtr VornBaseView::_GetTweakerInfo(const ModelObjectPtr& object) const {
  if (!object) return nullptr;
  const TweakerInfoPtr* shown = _Shown(object.get());
  return shown ? *shown : nullptr;
}

std::vector<VornBaseView::TweakerInfoPtr> VornBaseView::_GetTweakersInfoFromRelatedMO(
    const ModelObjectPtr& object) const {
  std::vector<TweakerInfoPtr> infos;
  if (!object) return infos;
  auto ids = m_relatedTweakers.find(object.get());
  if (ids == m_relatedTweakers.end()) return infos;
  for (const std::string& id : ids->second)
    if (auto info = m_tweakerInfos.find(id); info != m_tweakerInfos.end()) infos.push_back(info->second.info);
  return infos;
}

const VornValue* VornBaseView::_GetOptionValueWrapper(const std::string& name) const {
  auto it = m_options.find(name);
  return it == m_options.end() ? nullptr : &it->second;
}
