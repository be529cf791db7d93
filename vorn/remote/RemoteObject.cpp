#include "vorn/remote/RemoteObject.h"

#include "vorn/core/ErrorPolicy.h"
#include "vorn/remote/CommunicationManager.h"
#include "vorn/runtime/Process.h"

VornRemoteObject::VornRemoteObject(const std::string& identifier, const std::string& nameSpace)
    : m_id(identifier.empty() ? Vorn::GenerateUUID() : identifier),
      m_namespace(nameSpace),
      m_converters(new VornRemoteFuncBaseConverters_V1()) {}

VornRemoteObject::~VornRemoteObject() = default;

void VornRemoteObject::Call(const std::string& name, const Reply& reply, const VornJSONObject& arguments) const {
  std::shared_ptr<VornRemoteFunction_V1> function;
  if (auto it = m_remoteFunctions.find(name); it != m_remoteFunctions.end()) function = it->second;
  if (function) {
    function->Call(reply, arguments);
    return;
  }
  if (reply) reply(VornJSONValue(nullptr));
  Vorn::RaiseError("VornRemoteObject::Call => Remote Function " + name + " not found!");
}

bool VornRemoteObject::PublishRemoteEvent(const std::string& eventName) {
  return VornCommunicationManager_V1::_PublishRemoteEvent(m_id, eventName);
}

bool VornRemoteObject::_PublishRemoteEvent(const std::string& eventName, const OVK::Binary& data) {
  return VornCommunicationManager_V1::_PublishRemoteEvent(m_id, eventName, data);
}

bool VornRemoteObject::_PublishRemoteEvent(const std::string& eventName, const VornJSONValue& data) {
  return VornCommunicationManager_V1::_PublishRemoteEvent(m_id, eventName, data);
}

bool VornRemoteObject::_AddRemoteFunction(const std::string& name, std::shared_ptr<VornRemoteFunction_V1> function) {
  return function && m_remoteFunctions.try_emplace(name, std::move(function)).second;
}

bool VornRemoteObject::_RemoveRemoteFunction(const std::string& name) { return m_remoteFunctions.erase(name); }

bool VornRemoteObject::_RegisterRemoteObject() {
  auto self = std::static_pointer_cast<VornRemoteObject>(weak_from_this().lock());
  if (!self) {
    Vorn::RaiseError("[Vorn - CommunicationManager] The provided object is not a valid VornRemoteObject!");
    return false;
  }
  return VornCommunicationManager_V1::_AddRemoteObject(self);
}

VornKRTRemoteObject::VornKRTRemoteObject() : VornKRTRemoteObject("", "", false, kDefaultNamespace) {}

VornKRTRemoteObject::VornKRTRemoteObject(const std::string& identifier, const std::string& refsRegistryName,
                                         bool mustConvertToJSON, const std::string& nameSpace)
    : VornRemoteObject(identifier, nameSpace),
      m_krtConverters(new VornKRTRemoteFuncConverters_V1(refsRegistryName, mustConvertToJSON)) {}

VornKRTRemoteObject::~VornKRTRemoteObject() = default;

std::string VornKRTRemoteObject::GetRefsRegistryName() const {
  return m_krtConverters ? m_krtConverters->GetRefsRegistryName() : std::string();
}

bool VornKRTRemoteObject::MustConvertKRTObjectsToJSON() const {
  return m_krtConverters && m_krtConverters->MustConvertToJSON();
}
