#include "vorn/remote/RemoteFunction.h"

#include "vorn/core/ErrorPolicy.h"

VornRemoteFunction_V1::VornRemoteFunction_V1(const std::string& name, bool flag,
                                             const std::vector<std::string>& argumentNames)
    : m_flag(flag), m_name(name), m_argumentNames(argumentNames) {}

VornRemoteFunction_V1::~VornRemoteFunction_V1() = default;

void VornRemoteFunction_V1::Call(const Reply& callback, const VornJSONObject& arguments) const {
  if (!m_function) {
    Vorn::RaiseError("[VornRemoteFunction_V1::Call] Underlying function is not set!");
    return;
  }
  m_function(callback, arguments);
}

void VornRemoteFunction_V1::_SetUnderlyingFunction(UnderlyingFunction function,
                                                   std::vector<ParameterDescriptor> parameters,
                                                   VornJSONValue resultSchema) {
  m_function = std::move(function);
  m_parameters = std::move(parameters);
  m_resultSchema = std::move(resultSchema);
  m_isBound = static_cast<bool>(m_function);
}

VornRemoteFuncExecContext_V1::VornRemoteFuncExecContext_V1(const std::string& functionName,
                                                           const std::vector<std::string>& calledArguments,
                                                           const VornJSONObject& originalJSON)
    : m_functionName(functionName), m_calledArguments(calledArguments), m_originalJSON(originalJSON) {}

VornRemoteFuncExecContext_V1::~VornRemoteFuncExecContext_V1() = default;
