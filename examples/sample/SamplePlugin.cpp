// The sample plug-in: a small editable model (a panel with a length, an
// angle, a ratio, a boolean, a text, a choice, an integer and a read-only
// tag), a view that renders its tweakers as text, and remote functions to
// read the tree, set values, make a user's edit in a tweaker and add or
// remove objects. Every write is checked by the model's constraints; the
// host tells clients of each change (vorn.modelChanged, vorn.childAdded,
// vorn.childRemoved), so the context publishes no events of its own.
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "orvel/OrvelPlugin.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Array.h"
#include "vorn/json/Convert.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/model/TreeSchema.h"
#include "vorn/model/ValueConstraints.h"
#include "vorn/remote/Binding.h"
#include "vorn/views/BaseView.h"
#include "vorn/views/ViewsManager.h"

namespace {

using ModelObjectPtr = std::shared_ptr<VornModelObject>;

class SampleTextView final : public VornBaseView {
public:
  SampleTextView() : VornBaseView("text") {}

  std::string Render() override {
    std::unordered_map<const VornModelObject*, std::shared_ptr<VornBaseTweaker>> byObject;
    for (const auto& info : GetTweakers())
      if (!info->modelObjects.empty()) byObject[info->modelObjects.front().get()] = info->tweaker;
    std::ostringstream out;
    if (m_root) _Render(m_root, byObject, 0, out);
    return out.str();
  }

protected:
  void _InitializeView() override {}
  void _OnNewModelObject(const ModelObjectPtr& object, const bool& listenOnly) override {
    if (object && object->IsTrueRoot()) m_root = object;
    VornBaseView::_OnNewModelObject(object, listenOnly);
  }

private:
  void _Render(const ModelObjectPtr& object,
               const std::unordered_map<const VornModelObject*, std::shared_ptr<VornBaseTweaker>>& tweakers,
               int depth, std::ostringstream& out) {
    if (!object->IsTrueRoot()) {
      out << std::string(2 * depth, ' ');
      auto it = tweakers.find(object.get());
      if (it == tweakers.end()) {
        const VornValue* name = object->GetValue("name");
        out << "[" << (name ? name->ToJSON().ToString() : object->GetID()) << "]\n";
      } else {
        const VornJSONObject d = it->second->Describe();
        out << d.Get("label").ToString() << " (" << d.Get("kind").ToString() << "): " << d.Get("value").Stringify();
        if (d.Get("unit").IsString()) out << " " << d.Get("unit").ToString();
        if (d.Get("possibleValues").IsArray()) out << " of " << d.Get("possibleValues").Stringify();
        out << "\n";
      }
    }
    for (const ModelObjectPtr& child : object->GetChildren()) _Render(child, tweakers, object->IsTrueRoot() ? 0 : depth + 1, out);
  }

  ModelObjectPtr m_root;
};

class SampleContext final : public VornBaseContext {
public:
  SampleContext() : SampleContext("demo", "sample") {}
  SampleContext(const std::string& name, const std::string& nameSpace)
      : VornBaseContext(name, nameSpace.empty() ? "sample" : nameSpace) {
    _AddRemoteFunction("echo", Vorn::MakeRemoteFunction("echo", {"text"}, [](const std::string& text) { return text; }));
    _AddRemoteFunction("getTree", Vorn::MakeRemoteFunction("getTree", {}, [this] { return Vorn::DescribeTree(*_Root()); }));
    _AddRemoteFunction("setValue", Vorn::MakeRemoteFunction("setValue", {"id", "value"},
                                                            [this](const std::string& id, const VornJSONValue& value) {
                                                              return _SetValue(id, value);
                                                            }));
    _AddRemoteFunction("editTweaker",
                       Vorn::MakeRemoteFunction("editTweaker", {"id", "value", "view"},
                                                [this](const std::string& id, const VornJSONValue& value,
                                                       std::optional<std::string> view) {
                                                  return _Edit(id, value, view.value_or("text"));
                                                }));
    _AddRemoteFunction("describeView",
                       Vorn::MakeRemoteFunction("describeView", {"view"}, [this](std::optional<std::string> view) {
                         return _View(view.value_or("text"))->DescribeLayout(_Root());
                       }));
    _AddRemoteFunction("render", Vorn::MakeRemoteFunction("render", {"view"}, [this](std::optional<std::string> view) {
                         return _View(view.value_or("text"))->Render();
                       }));
    _AddRemoteFunction("addChild", Vorn::MakeRemoteFunction("addChild", {"parent", "child"},
                                                            [this](const std::string& parent, const VornJSONObject& child) {
                                                              return _AddChild(parent, child);
                                                            }));
    _AddRemoteFunction("removeChild", Vorn::MakeRemoteFunction("removeChild", {"id"}, [this](const std::string& id) {
                         _Root()->RemoveChild(_Find(id)->GetID(), true);
                       }));
  }

private:
  ModelObjectPtr _Root() const {
    auto root = VornDataManager::GetTree(GetName());
    if (!root) throw std::runtime_error("the context has no data tree");
    return root;
  }
  ModelObjectPtr _Find(const std::string& id) const {
    VornValuesByString criteria;
    criteria.try_emplace("id", VornValue(id));
    const auto found = _Root()->FindChildren(criteria, false, true);
    if (found.empty())
      throw Vorn::RemoteError("unknownObject", "no object with id '" + id + "'", VornJSONObject{{"object", id}});
    return found.front();
  }
  std::shared_ptr<VornBaseView> _View(const std::string& name) const {
    auto view = VornViewsManager::GetView(GetName(), name);
    if (!view) throw Vorn::RemoteError("unknownView", "no view named '" + name + "'", VornJSONObject{{"view", name}});
    return view;
  }
  // Writes go through the model's checks: the object's data type and its
  // min, max, step, possibleValues and readOnly. A refusal changes nothing.
  VornJSONValue _SetValue(const std::string& id, const VornJSONValue& value) {
    const ModelObjectPtr object = _Find(id);
    if (VornValueRefusal refusal = Vorn::WriteCheckedValue(*object, value)) throw Vorn::RemoteError(refusal);
    return object->ToJSON();
  }
  VornJSONValue _Edit(const std::string& id, const VornJSONValue& value, const std::string& viewName) {
    const ModelObjectPtr object = _Find(id);
    const auto info = _View(viewName)->FindTweakerOfObject(object->GetID());
    if (!info || !info->tweaker)
      throw Vorn::RemoteError("unknownTweaker", "object '" + id + "' has no tweaker in view '" + viewName + "'",
                              VornJSONObject{{"object", id}, {"view", viewName}});
    if (VornValueRefusal refusal = info->tweaker->Edit(value)) throw Vorn::RemoteError(refusal);
    return object->ToJSON();
  }
  // Adds a record (with its own "id", unused so far) under `parent`.
  VornJSONValue _AddChild(const std::string& parent, const VornJSONObject& child) {
    const ModelObjectPtr under = parent == GetName() ? _Root() : _Find(parent);
    const std::string* id = child.Get("id").GetIfString();
    if (!id || id->empty())
      throw Vorn::RemoteError("argument", "the child needs an \"id\"", VornJSONObject{{"argument", "child"}});
    VornValuesByString criteria;
    criteria.try_emplace("id", VornValue(*id));
    if (!_Root()->FindChildren(criteria, false, true).empty())
      throw Vorn::RemoteError("argument", "an object with id '" + *id + "' exists already", VornJSONObject{{"argument", "child"}});
    KRTAbendCapture reports(true);  // properties the dictionary refuses are left out
    under->AddChild(Vorn::ConvertJSONObjectToValuesByString(child));
    return _Find(*id)->ToJSON();
  }
};

}  // namespace

ORVEL_EXPORT_CONTEXT(SampleContext)
VORN_EXPORT_PLUGIN_CLASS(VornBaseView, SampleTextView)
