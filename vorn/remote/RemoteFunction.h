#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"

// A named operation that client applications call with a JSON object of
// arguments; it answers through a reply callback with one JSON value.
// Plug-ins derive from it; Vorn::BindRemoteCallable (vorn/remote/Binding.h)
// turns a native callable into the underlying function.
class VORN_API VornRemoteFunction_V1 : public VornBaseClass {
public:
  using Reply = std::function<void(const VornJSONValue&)>;
  using UnderlyingFunction = std::function<void(const Reply&, const VornJSONObject&)>;
  // One parameter of the bound callable: its argument name, the type key
  // of its native type (without reference and const qualifiers), the JSON
  // Schema of the values it takes (empty: any) and whether it must be given.
  struct ParameterDescriptor {
    std::string name;
    std::uint64_t typeKey = 0;
    VornJSONObject schema;
    bool required = true;
  };

  ~VornRemoteFunction_V1() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  // Calls the underlying function with `callback` and `arguments`. When it
  // is not set, reports "[VornRemoteFunction_V1::Call] Underlying function
  // is not set!" and never calls `callback`. Takes no lock; the function's
  // code decides on which thread it answers.
  virtual void Call(const Reply& callback, const VornJSONObject& arguments) const;

  const std::string& GetName() const noexcept { return m_name; }
  const std::vector<std::string>& GetArgumentNames() const noexcept { return m_argumentNames; }
  const std::vector<ParameterDescriptor>& GetParameterDescriptors() const noexcept { return m_parameters; }
  // The JSON Schema of what the function answers on success, unwrapped
  // (the value under "_func_return" for bound callables); undefined when
  // not known.
  const VornJSONValue& GetResultSchema() const noexcept { return m_resultSchema; }
  // The constructor's flag; its meaning is the plug-in's (the library never
  // reads it).
  bool GetFlag() const noexcept { return m_flag; }
  // True once an underlying function has been set.
  bool IsBound() const noexcept { return m_isBound; }

protected:
  VornRemoteFunction_V1() = default;
  VornRemoteFunction_V1(const std::string& name, bool flag, const std::vector<std::string>& argumentNames);

  // Sets the underlying function (once, in the derived constructor).
  void _SetUnderlyingFunction(UnderlyingFunction function, std::vector<ParameterDescriptor> parameters,
                              VornJSONValue resultSchema = {});
  // Binds a native callable whose parameters take the constructor's
  // argument names in order (defined in vorn/remote/Binding.h).
  template <class F>
  void _Bind(F&& callable);

private:
  bool m_flag = false;
  bool m_isBound = false;
  std::string m_name;
  std::vector<ParameterDescriptor> m_parameters;
  std::vector<std::string> m_argumentNames;
  UnderlyingFunction m_function;
  VornJSONValue m_resultSchema;
};

// What one call of a remote function was given.
class VORN_API VornRemoteFuncExecContext_V1 : public VornBaseClass {
public:
  ~VornRemoteFuncExecContext_V1() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  const std::string& GetFunctionName() const noexcept { return m_functionName; }
  const std::vector<std::string>& GetCalledArguments() const noexcept { return m_calledArguments; }
  // A copy of the request's arguments object (nested containers shared).
  const VornJSONObject& GetOriginalJSON() const noexcept { return m_originalJSON; }

protected:
  VornRemoteFuncExecContext_V1(const std::string& functionName, const std::vector<std::string>& calledArguments,
                               const VornJSONObject& originalJSON);

private:
  std::string m_functionName;
  std::vector<std::string> m_calledArguments;
  VornJSONObject m_originalJSON;
};
