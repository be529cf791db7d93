// A context for the contexts tests: remote functions that update its tree,
// and hooks that count what they hear.
#include <string>

#include "vorn/contexts/BaseContext.h"
#include "vorn/model/ModelObject.h"
#include "vorn/remote/Binding.h"
#include "vorn/runtime/PluginExport.h"

namespace {
class TestFlowContext : public VornBaseContext {
public:
  TestFlowContext() : VornBaseContext("flow", "tests") {
    // {"id", "value"} -> the tree's node gets the value; clients hear of it.
    _AddRemoteFunction("setValue", Vorn::MakeRemoteFunction("setValue", {"id", "value"},
                                                            [this](const std::string& id, double value) {
                                                              VornValuesByString update;
                                                              update.try_emplace("id", VornValue(id));
                                                              update.try_emplace("value", VornValue(value));
                                                              UpdateDataTree(update);
                                                              _PublishRemoteEvent("valueSet", VornJSONValue(id));
                                                              return value;
                                                            }));
    _AddRemoteFunction("stats", Vorn::MakeRemoteFunction("stats", {}, [this] {
                         return VornJSONValue(VornJSONObject{
                             {"newObjects", m_new}, {"changes", m_changes}, {"destructions", m_destructions}});
                       }));
  }

protected:
  void _OnNewModelObject(const ModelObjectPtr&) override { ++m_new; }
  void _OnModelObjectDataChange(const std::shared_ptr<VornEventData>&) override { ++m_changes; }
  void _OnModelObjectDestructionRequested(VornModelObject*) override { ++m_destructions; }

private:
  int m_new = 0;
  int m_changes = 0;
  int m_destructions = 0;
};
}  // namespace

VORN_EXPORT_PLUGIN_CLASS(VornBaseContext, TestFlowContext)
