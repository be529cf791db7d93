#pragma once

// Shared by the remote suites: plug-in names, a creatable factory, access
// to the communication manager's protected operations, and a reply recorder.
#include <dlfcn.h>

#include <string>
#include <vector>

#include "vorn/remote/CommunicationManager.h"
#include "vorn/remote/RemoteFunction.h"
#include "vorn/runtime/LibBasedFactory.h"

inline const std::string kFunctionsLib = "vorn_test_plugin_functions";
inline const std::string kPartialLib = "vorn_test_plugin_partial";

struct VornCommunicationManagerTestAccess {
  static void Reset() { VornCommunicationManager_V1::_DeleteInstance(); }
  static bool Publish(const std::string& sender, const std::string& name) {
    return VornCommunicationManager_V1::_PublishRemoteEvent(sender, name);
  }
  static bool Publish(const std::string& sender, const std::string& name, const VornJSONValue& data) {
    return VornCommunicationManager_V1::_PublishRemoteEvent(sender, name, data);
  }
};

namespace vorn_test {

class FunctionFactory final : public VornLibBasedFactory_V1<VornRemoteFunction_V1> {
public:
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }
};

// Every reply, in order.
struct Replies {
  std::vector<VornJSONValue> values;
  VornRemoteFunction_V1::Reply Recorder() {
    return [this](const VornJSONValue& v) { values.push_back(v); };
  }
};

// A C function of a loaded test plug-in (the library stays loaded by the
// libraries manager).
template <class Fn>
Fn PluginFunction(const std::string& library, const char* symbol) {
  void* handle = dlopen(("lib" + library + ".so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  Fn fn = handle ? reinterpret_cast<Fn>(dlsym(handle, symbol)) : nullptr;
  if (handle) dlclose(handle);
  return fn;
}

}  // namespace vorn_test
