// Remote functions for the factory and communication tests: classes exported
// with all three symbols, one of another family under a function's name, and
// one that keeps its only instance in shared ownership itself.
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

#include "vorn/events/EventsHandler.h"
#include "vorn/remote/Binding.h"
#include "vorn/runtime/PluginExport.h"

namespace {
std::atomic<int> g_live{0};  // function objects of this library alive

class Echo final : public VornRemoteFunction_V1 {
public:
  Echo() : VornRemoteFunction_V1("Echo", true, {}) {
    ++g_live;
    _SetUnderlyingFunction([](const Reply& reply, const VornJSONObject& args) { reply(VornJSONValue(args)); }, {});
  }
  ~Echo() override { --g_live; }
};

// Not a remote function: a client naming it must not get it called as one.
class NotAFunction final : public VornEventsHandler {};

class Shared final : public VornRemoteFunction_V1 {
public:
  Shared() : VornRemoteFunction_V1("Shared", false, {}) {
    _SetUnderlyingFunction([](const Reply& reply, const VornJSONObject&) { reply(VornJSONValue("shared")); }, {});
  }
};
std::shared_ptr<Shared> g_shared;
}  // namespace

VORN_EXPORT_PLUGIN_CLASS(VornRemoteFunction_V1, Echo)
VORN_EXPORT_PLUGIN_CLASS(VornEventsHandler, NotAFunction)

VORN_EXPORT_REMOTE_FUNCTION(
    Divide,
    [](int a, int b) {
      if (b == 0) throw std::invalid_argument("division by zero");
      return a / b;
    },
    "a", "b")

// Creation only; the instance stays in the plug-in's own shared ownership.
VORN_PLUGIN_EXPORT VornRemoteFunction_V1* VornCreatePtr_Shared() {
  if (!g_shared) g_shared = std::make_shared<Shared>();
  return g_shared.get();
}
VORN_PLUGIN_EXPORT long VornTestSharedUseCount() { return g_shared.use_count(); }
VORN_PLUGIN_EXPORT int VornTestLiveFunctions() { return g_live.load(); }
