// The sample plug-in: a small editable model (a panel with a length, an
// angle, a ratio, a boolean, a text and a choice), a view that renders its
// tweakers as text, and remote functions to read the tree, set values and
// make a user's edit in a tweaker. Clients hear of every model change as the
// remote event "onModelChange".
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "apps/orvelnode/OrvelPlugin.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Array.h"
#include "vorn/json/Convert.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/remote/Binding.h"
#include "vorn/views/BaseView.h"
#include "vorn/views/ViewsManager.h"

namespace {

using ModelObjectPtr = std::shared_ptr<VornModelObject>;

// The tree as nested JSON: each object's properties, then its children.
VornJSONValue TreeJSON(const ModelObjectPtr& object) {
  VornJSONObject json = object->ToJSON();
  VornJSONArray children;
  for (const ModelObjectPtr& child : object->GetChildren()) children.PushBack(TreeJSON(child));
  if (children.size() > 0) json.Set("children", std::move(children));
  return json;
}

// "number", "string", "boolean", "array" or "null": what a client may write where.
std::string KindOf(const VornJSONValue& value) {
  if (value.IsInt() || value.IsDouble()) return "number";
  if (value.IsString()) return "string";
  if (value.IsBool()) return "boolean";
  if (value.IsArray()) return "array";
  return value.IsNull() ? "null" : "object";
}

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
    _AddRemoteFunction("getTree", Vorn::MakeRemoteFunction("getTree", {}, [this] { return TreeJSON(_Root()); }));
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
                         return _Describe(view.value_or("text"));
                       }));
    _AddRemoteFunction("render", Vorn::MakeRemoteFunction("render", {"view"}, [this](std::optional<std::string> view) {
                         return _View(view.value_or("text"))->Render();
                       }));
  }

protected:
  // Every change of the model reaches the clients.
  void _OnModelObjectDataChange(const std::shared_ptr<VornEventData>& data) override {
    auto* object = static_cast<VornModelObject*>(static_cast<VornEventsHandler*>(data->GetEventPublisher()));
    if (!object || object->IsTrueRoot()) return;
    VornJSONObject changed;
    for (const auto& [key, value] : data->GetValuesByString())
      if (key != "children" && value) changed.Set(key, value->ToJSON());
    _PublishRemoteEvent("onModelChange",
                        VornJSONValue(VornJSONObject{{"id", object->GetID()}, {"values", std::move(changed)}}));
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
    if (found.empty()) throw std::invalid_argument("no object with id '" + id + "'");
    return found.front();
  }
  std::shared_ptr<VornBaseView> _View(const std::string& name) const {
    auto view = VornViewsManager::GetView(GetName(), name);
    if (!view) throw std::invalid_argument("no view named '" + name + "'");
    return view;
  }
  // A value is written only when it is of the kind the object holds (a
  // number for a number...), and only the model's acceptance counts as done.
  VornJSONValue _SetValue(const std::string& id, const VornJSONValue& value) {
    const ModelObjectPtr object = _Find(id);
    const VornValue* current = object->GetValue("value");
    const std::string held = current ? KindOf(current->ToJSON()) : std::string();
    if (value.IsObject() || (!held.empty() && held != KindOf(value)))
      throw std::invalid_argument("'" + id + "' holds " + (held.empty() ? "no value" : "a " + held) + ", not " +
                                  (value.IsObject() ? "an object" : "a " + KindOf(value)));
    // The model reports what it refuses; a set that changes nothing is no refusal.
    KRTAbendCapture reports(true);
    const VornValue converted = Vorn::ConvertJSONValueToValue(value);
    if (!converted.HasRawValue() || (!object->SetValue("value", converted) && reports.Count() > 0))
      throw std::invalid_argument("'" + id + "' refuses " + value.Stringify() +
                                  (reports.Count() > 0 ? ": " + reports.Last() : std::string()));
    return object->ToJSON();
  }
  VornJSONValue _Edit(const std::string& id, const VornJSONValue& value, const std::string& viewName) {
    const ModelObjectPtr object = _Find(id);
    for (const auto& info : _View(viewName)->GetTweakers()) {
      if (info->modelObjects.empty() || info->modelObjects.front() != object) continue;
      if (!info->tweaker->EditValue(Vorn::ConvertJSONValueToValue(value)))
        throw std::invalid_argument("the " + std::string(info->tweaker->GetKind()) + " tweaker of '" + id +
                                    "' refuses " + value.Stringify());
      return object->ToJSON();
    }
    throw std::invalid_argument("object '" + id + "' has no tweaker in view '" + viewName + "'");
  }
  VornJSONValue _Describe(const std::string& viewName) {
    return VornJSONObject{{"context", GetName()}, {"view", viewName}, {"tree", _View(viewName)->DescribeLayout(_Root())}};
  }
};

}  // namespace

ORVEL_EXPORT_CONTEXT(SampleContext)
VORN_EXPORT_PLUGIN_CLASS(VornBaseView, SampleTextView)
