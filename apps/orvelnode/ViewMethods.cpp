// The model, its views and their tweakers. Answers that show a context's
// state carry its sequence number ("seq"), the number of the last
// notification sent about it.
#include "ServerSupport.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Parser.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/model/TreeSchema.h"
#include "vorn/model/ValueConstraints.h"
#include "vorn/views/BaseView.h"
#include "vorn/views/ViewsManager.h"

namespace orvel {

VornJSONValue ParseMessage(std::string_view text, std::string& error) {
  KRTAbendCapture capture(true);
  VornJSONValue value;
  try {
    value = VornJSONParser::ParseText(text, false);
  } catch (const std::exception& e) {
    error = e.what();
    return {};
  }
  if (capture.Count() > 0) {
    error = capture.Messages().front();
    return {};
  }
  return value;
}

std::shared_ptr<VornModelObject> TreeOf(const std::string& context, RpcError& error) {
  auto root = VornMainComponent::IsEntityRegistered(context) ? VornDataManager::GetTree(context) : nullptr;
  if (!root) error = MakeError("unknownContext", "No context named \"" + context + "\"", VornJSONObject{{"context", context}});
  return root;
}

std::shared_ptr<VornBaseView> ViewOf(const std::string& context, const std::string& view, RpcError& error) {
  if (!TreeOf(context, error)) return nullptr;
  std::shared_ptr<VornBaseView> found;
  if (!view.empty()) found = VornViewsManager::GetView(context, view);
  else if (const auto views = VornViewsManager::GetViews(context); !views.empty()) found = views.front();
  if (!found)
    error = MakeError("unknownView",
                      view.empty() ? "The context \"" + context + "\" has no view"
                                   : "The context \"" + context + "\" has no view named \"" + view + "\"",
                      VornJSONObject{{"context", context}, {"view", view.empty() ? VornJSONValue(nullptr) : view}});
  return found;
}

namespace {

constexpr const char* kTweakerSchema =
    R"({"type":"object","properties":{"tweaker":{"type":"string"},"object":{"type":"string"},"kind":{"type":"string"},)"
    R"("value":{}},"required":["tweaker","kind","value"]})";

std::string Optional(const RpcServer::Request& request, const char* name) {
  const std::string* value = request.Named().Get(name).GetIfString();
  return value ? *value : std::string();
}

RpcError Refused(const VornValueRefusal& refusal) {
  return RpcError{ReasonCode(refusal.reason), refusal.message, refusal.reason, refusal.details};
}

}  // namespace

const std::vector<RpcServer::Method>& RpcServer::_ViewMethods() {
  using K = ParamKind;
  static const std::vector<Method> methods = {
      {"vorn.getTree", &RpcServer::_GetTree,
       "The context's data tree: each object's properties, then its children.",
       {{"context", K::String, true, "a context's name"}},
       R"({"type":"object","properties":{"context":{"type":"string"},"seq":{"type":"integer"},"tree":{"type":"object"}},)"
       R"("required":["context","seq","tree"]})"},
      {"vorn.describeSchema", &RpcServer::_DescribeSchema,
       "A JSON Schema (draft 2020-12) of the context's tree as vorn.getTree shows it: a $defs entry per data type, "
       "each object's properties with their labels, descriptions and read-only flags.",
       {{"context", K::String, true, "a context's name"}},
       R"({"type":"object","properties":{"context":{"type":"string"},"seq":{"type":"integer"},"schema":{"type":"object"}},)"
       R"("required":["context","seq","schema"]})"},
      {"vorn.describeView", &RpcServer::_DescribeView,
       "The view's tweakers laid out by the model tree, breadth first up to a number of nodes: a node whose children "
       "were not all described has childCount; ask again with it as under (and from, for the rest of a slice).",
       {{"context", K::String, true, "a context's name"},
        {"view", K::String, false, "the view's name (default: the context's first view)"},
        {"under", K::String, false, "the id of the object to describe from (default: the tree's root)"},
        {"from", K::Integer, false, "the first of under's children to describe (default 0)"},
        {"limit", K::Integer, false, "the most nodes to describe, from 1 to 2000 (default 2000)"}},
       R"({"type":"object","properties":{"context":{"type":"string"},"view":{"type":"string"},"seq":{"type":"integer"},)"
       R"("tree":{"type":"object"},"complete":{"type":"boolean"}},"required":["context","view","seq","tree","complete"]})"},
      {"vorn.editTweaker", &RpcServer::_EditTweaker,
       "A user's edit through a tweaker, named by its id or by the object it shows; checked against the object's "
       "data type and constraints before it reaches the model.",
       {{"context", K::String, true, "a context's name"},
        {"view", K::String, false, "the view's name (default: the context's first view)"},
        {"tweaker", K::String, false, "the tweaker's id (or give object)"},
        {"object", K::String, false, "the id of the object the tweaker shows (or give tweaker)"},
        {"value", K::Any, true, "the new value"}},
       kTweakerSchema},
      {"vorn.setValue", &RpcServer::_SetValue,
       "Writes an object's value, checked against its data type and constraints; answers the object's record.",
       {{"context", K::String, true, "a context's name"},
        {"object", K::String, true, "the object's id"},
        {"value", K::Any, true, "the new value"}},
       R"({"type":"object","properties":{"id":{"type":"string"}},"required":["id"]})"},
  };
  return methods;
}

// {"context", "seq", <key>: what `describe` makes of the context's tree}.
template <class Describe>
RpcServer::Outcome StateOf(const RpcServer& server, const std::string& context, const char* key, Describe describe) {
  RpcError error;
  const auto root = TreeOf(context, error);
  if (!root) return error;
  return VornJSONValue(VornJSONObject{
      {"context", context}, {"seq", static_cast<std::int64_t>(server.Sequence(context))}, {key, describe(*root)}});
}

RpcServer::Outcome RpcServer::_GetTree(const Request& request) {
  return StateOf(*this, request.String("context"), "tree", [](const VornModelObject& root) { return Vorn::DescribeTree(root); });
}

RpcServer::Outcome RpcServer::_DescribeSchema(const Request& request) {
  const std::string& context = request.String("context");
  return StateOf(*this, context, "schema",
                 [&](const VornModelObject& root) { return Vorn::DescribeTreeSchema(root, context); });
}

RpcServer::Outcome RpcServer::_DescribeView(const Request& request) {
  const std::string& context = request.String("context");
  const VornJSONValue& limitValue = request.Named().Get("limit");
  const std::int64_t limit = limitValue.IsInt() ? *limitValue.GetIfInt() : kMaxLayoutNodes;
  if (limit < 1 || limit > kMaxLayoutNodes)
    return MakeError("params", "Invalid params: \"limit\" must be from 1 to " + std::to_string(kMaxLayoutNodes),
                     VornJSONObject{{"param", "limit"}, {"max", kMaxLayoutNodes}});
  const VornJSONValue& fromValue = request.Named().Get("from");
  const std::int64_t first = fromValue.IsInt() ? *fromValue.GetIfInt() : 0;
  if (first < 0)
    return MakeError("params", "Invalid params: \"from\" must not be negative", VornJSONObject{{"param", "from"}});
  RpcError error;
  const auto view = ViewOf(context, Optional(request, "view"), error);
  if (!view) return error;
  auto from = VornDataManager::GetTree(context);
  if (const std::string under = Optional(request, "under"); !under.empty() && under != from->GetID()) {
    VornValuesByString criteria;
    criteria.try_emplace("id", VornValue(under));
    const auto found = from->FindChildren(criteria, false, true);
    if (found.empty())
      return MakeError("unknownObject", "No object \"" + under + "\" in the context \"" + context + "\"",
                       VornJSONObject{{"context", context}, {"object", under}});
    from = found.front();
  }
  bool complete = true;
  VornJSONObject tree = view->DescribeLayout(from, static_cast<std::size_t>(limit), &complete, static_cast<std::size_t>(first));
  return VornJSONValue(VornJSONObject{{"context", context},
                                      {"view", view->GetName()},
                                      {"seq", static_cast<std::int64_t>(Sequence(context))},
                                      {"tree", std::move(tree)},
                                      {"complete", complete}});
}

RpcServer::Outcome RpcServer::_EditTweaker(const Request& request) {
  const std::string& context = request.String("context");
  const std::string tweakerId = Optional(request, "tweaker"), objectId = Optional(request, "object");
  if (tweakerId.empty() == objectId.empty())
    return MakeError("params", "Invalid params: give either \"tweaker\" or \"object\"",
                     VornJSONObject{{"param", tweakerId.empty() ? "tweaker" : "object"}});
  RpcError error;
  const auto view = ViewOf(context, Optional(request, "view"), error);
  if (!view) return error;
  const auto info = tweakerId.empty() ? view->FindTweakerOfObject(objectId) : view->FindTweaker(tweakerId);
  if (!info || !info->tweaker) {
    VornJSONObject data{{"context", context}, {"view", view->GetName()}};
    data.Set(tweakerId.empty() ? "object" : "tweaker", tweakerId.empty() ? objectId : tweakerId);
    return MakeError("unknownTweaker",
                     tweakerId.empty() ? "No tweaker of the view \"" + view->GetName() + "\" shows \"" + objectId + "\""
                                       : "The view \"" + view->GetName() + "\" has no tweaker \"" + tweakerId + "\"",
                     std::move(data));
  }
  if (VornValueRefusal refusal = info->tweaker->Edit(request.Named().Get("value"))) {
    RpcError refused = Refused(refusal);
    refused.data.Set("tweaker", info->tweakerId);
    return refused;
  }
  VornJSONObject description = info->tweaker->Describe();
  description.Set("seq", static_cast<std::int64_t>(Sequence(context)));
  return VornJSONValue(std::move(description));
}

RpcServer::Outcome RpcServer::_SetValue(const Request& request) {
  const std::string& context = request.String("context");
  const std::string& id = request.String("object");
  RpcError error;
  const auto root = TreeOf(context, error);
  if (!root) return error;
  VornValuesByString criteria;
  criteria.try_emplace("id", VornValue(id));
  const auto found = root->FindChildren(criteria, false, true);
  if (found.empty())
    return MakeError("unknownObject", "No object \"" + id + "\" in the context \"" + context + "\"",
                     VornJSONObject{{"context", context}, {"object", id}});
  if (VornValueRefusal refusal = Vorn::WriteCheckedValue(*found.front(), request.Named().Get("value"))) return Refused(refusal);
  return VornJSONValue(found.front()->ToJSON());
}

}  // namespace orvel
