#include "vorn/remote/CommunicationManager.h"

#include <utility>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/UnicodeString.h"
#include "vorn/remote/RemoteObject.h"

// Deleted at process end when still there, before the libraries manager
// (made in its constructor) unloads the plug-ins its objects come from.
constinit Vorn::SingletonSlot<VornCommunicationManager_V1> VornCommunicationManager_V1::_Instance{
    {.deleteAtExit = true}};

namespace {
// Why a client's function name is refused; null when it is not.
const char* InvalidFunctionNameReason(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > VornCommunicationManager_V1::kMaxFunctionNameLength) return "the name is longer than 255 bytes";
  if (name.find('\0') != std::string::npos) return "the name holds a NUL byte";
  return nullptr;
}
}  // namespace

VornCommunicationManager_V1::~VornCommunicationManager_V1() { _ReleaseAll(); }

void VornCommunicationManager_V1::_ReleaseAll() {
  m_node = nullptr;
  auto tokens = std::move(m_destructionTokens);
  auto objects = std::move(m_remoteObjects);
  auto libraryFunctions = std::move(m_libraryFunctions);
  auto namespaceFunctions = std::move(m_namespaceFunctions);
  m_destructionTokens.clear();
  m_remoteObjects.clear();
  m_libraryFunctions.clear();
  m_namespaceFunctions.clear();
  for (auto& [ns, byId] : tokens)
    for (auto& [id, token] : byId)
      if (token) token->Unsubscribe();
  for (auto& [ns, byId] : objects)
    for (auto& [id, object] : byId)
      if (object) object->RequestDestruction();
}

void VornCommunicationManager_V1::_ReleaseLibraryObjects() { _ReleaseAll(); }

VornCommunicationManager_V1* VornCommunicationManager_V1::_GetInstance() { return _Instance.Get(); }

void VornCommunicationManager_V1::_DeleteInstance() { _Instance.Delete(); }

void VornCommunicationManager_V1::Init() { _GetInstance(); }

bool VornCommunicationManager_V1::IsInitialized() { return _Instance.Peek() != nullptr; }

void VornCommunicationManager_V1::SetMBXNode(MBX::Node* node) {
  if (VornCommunicationManager_V1* manager = _GetInstance()) manager->m_node = node;
}

// --- functions ------------------------------------------------------------------

std::shared_ptr<VornRemoteFunction_V1> VornCommunicationManager_V1::LoadLibraryFunction(const std::string& library,
                                                                                        const std::string& function,
                                                                                        bool cache) {
  VornCommunicationManager_V1* manager = _GetInstance();
  if (!manager) return nullptr;
  VornRemoteFunction_V1* created = manager->CreateInstancePtr(library, function);
  std::shared_ptr<VornRemoteFunction_V1> result;
  if (created) {
    VornRemoteFunction_V1* checked = _CheckedCast(created);
    if (!checked) {
      // Another family's class under that name: release it as what it is.
      ClassInfo info;
      if (manager->_GetClassInfo(library, function, info) && info.destroy)
        info.destroy(created);
      else
        delete static_cast<VornBaseClass*>(created);
      Vorn::RaiseError("[Vorn] Class '" + function + "' of library '" + library + "' is not a remote function");
      return nullptr;
    }
    result = _AdoptInstance(checked);
  }
  if (!result) {
    Vorn::RaiseError("[Vorn] Function '" + function + "' not found in library '" + library + "'");
    return nullptr;
  }
  if (cache) manager->m_libraryFunctions[library].try_emplace(function, result);
  return result;
}

bool VornCommunicationManager_V1::TryCallLibraryFunction(const std::string& library, const std::string& function,
                                                         const Reply& reply, const VornJSONObject& arguments) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  if (!manager) return false;
  if (const char* refused = InvalidFunctionNameReason(function)) {
    Vorn::RaiseError("[Vorn - CommunicationManager] Refused function name '" +
                     VornLibrariesManager::_ShownName(function) + "' for library '" +
                     VornLibrariesManager::_ShownName(library) + "': " + refused);
    return false;
  }
  // The client's library name is checked, and the library loaded only as
  // the host allows, before the factory may load anything under that name.
  if (!VornLibrariesManager::GetClientLibrary(library)) return false;
  std::shared_ptr<VornRemoteFunction_V1> target = _Find(manager->m_libraryFunctions, library, function);
  if (!target) target = LoadLibraryFunction(library, function, true);
  if (!target) return false;
  target->Call(reply, arguments);
  return true;
}

bool VornCommunicationManager_V1::TryCallRemoteFunction(const std::string& nameSpace, const std::string& function,
                                                        const Reply& reply, const VornJSONObject& arguments) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  if (!manager || nameSpace.empty()) return false;
  std::shared_ptr<VornRemoteFunction_V1> target = _Find(manager->m_namespaceFunctions, nameSpace, function);
  if (!target) return false;
  target->Call(reply, arguments);
  return true;
}

bool VornCommunicationManager_V1::TryCallRemoteObjectFunc(const std::string& nameSpace, const std::string& identifier,
                                                          const std::string& function, const Reply& reply,
                                                          const VornJSONObject& arguments) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  if (!manager || nameSpace.empty() || identifier.empty()) return false;
  std::shared_ptr<VornRemoteObject> target = _Find(manager->m_remoteObjects, nameSpace, identifier);
  if (!target) return false;
  target->Call(function, reply, arguments);
  return true;
}

bool VornCommunicationManager_V1::AddNamespaceFunction(const std::string& nameSpace, const std::string& name,
                                                       std::shared_ptr<VornRemoteFunction_V1> function) {
  if (nameSpace.empty() || !function) return false;
  VornCommunicationManager_V1* manager = _GetInstance();
  return manager && manager->m_namespaceFunctions[nameSpace].try_emplace(name, std::move(function)).second;
}

bool VornCommunicationManager_V1::RemoveNamespaceFunction(const std::string& nameSpace, const std::string& name) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  if (!manager) return false;
  auto it = manager->m_namespaceFunctions.find(nameSpace);
  return it != manager->m_namespaceFunctions.end() && it->second.erase(name);
}

// --- remote objects -------------------------------------------------------------

bool VornCommunicationManager_V1::_AddRemoteObject(const std::shared_ptr<VornRemoteObject>& object) {
  if (!object) {
    Vorn::RaiseError("[Vorn - CommunicationManager] The provided object is not a valid VornRemoteObject!");
    return false;
  }
  VornCommunicationManager_V1* manager = _GetInstance();
  if (!manager) return false;
  const std::string id = object->GetID();
  const std::string ns = object->GetNamespace();
  if (_Find(manager->m_remoteObjects, ns, id)) {
    Vorn::RaiseError("[Vorn - CommunicationManager] A Remote Object in namespace '" + ns + "' with ID '" + id +
                     "' already exists!");
    return false;
  }
  std::shared_ptr<VornEventToken> token =
      object->SubscribeOnce(Vorn::kEventDestructionRequested,
                            [id, ns](const std::shared_ptr<VornEventData>&) { _RemoveRemoteObject(id, ns); });
  manager->m_destructionTokens[ns].insert_or_assign(id, std::move(token));
  manager->m_remoteObjects[ns].insert_or_assign(id, object);
  return true;
}

void VornCommunicationManager_V1::_RemoveRemoteObject(const std::string& identifier, const std::string& nameSpace) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  if (!manager) return;
  auto objects = manager->m_remoteObjects.find(nameSpace);
  if (objects == manager->m_remoteObjects.end() || !objects->second.contains(identifier)) return;
  if (auto tokens = manager->m_destructionTokens.find(nameSpace); tokens != manager->m_destructionTokens.end()) {
    if (auto token = tokens->second.find(identifier); token != tokens->second.end()) {
      std::shared_ptr<VornEventToken> held = std::move(token->second);
      tokens->second.erase(token);
      if (held) held->Unsubscribe();
    }
  }
  // Moved out before the erase: the object's destructor may call back here.
  std::shared_ptr<VornRemoteObject> released = std::move(objects->second[identifier]);
  objects->second.erase(identifier);
}

// --- events ---------------------------------------------------------------------

bool VornCommunicationManager_V1::_PublishRemoteEvent(const std::string& sender, const std::string& eventName) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  if (eventName.empty() || !manager || !manager->m_node) return false;
  return _PublishRemoteEventInternal(sender, eventName, manager->m_node->CreateParameters());
}

bool VornCommunicationManager_V1::_PublishRemoteEvent(const std::string& sender, const std::string& eventName,
                                                      const OVK::Binary& data) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  if (eventName.empty() || !manager || !manager->m_node) return false;
  MBX::Parameters parameters = manager->m_node->CreateParameters();
  parameters.WriteBuffer("eventDataBinary", data);
  return _PublishRemoteEventInternal(sender, eventName, parameters);
}

bool VornCommunicationManager_V1::_PublishRemoteEvent(const std::string& sender, const std::string& eventName,
                                                      const VornJSONValue& data) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  if (eventName.empty() || !manager || !manager->m_node) return false;
  const std::string text = VornJSONObject{{"data", data}}.Stringify();
  MBX::Parameters parameters = manager->m_node->CreateParameters();
  parameters.WriteString("eventData", KRTUnicodeString(std::string_view(text)));
  return _PublishRemoteEventInternal(sender, eventName, parameters);
}

bool VornCommunicationManager_V1::_PublishRemoteEventInternal(const std::string& sender, const std::string& eventName,
                                                              const MBX::Parameters& parameters) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  if (!manager || eventName.empty()) return false;
  return manager->_EmitMBXEvent("VornRemoteEvent", parameters, {sender + RemoteEventSplitter + eventName});
}

bool VornCommunicationManager_V1::_EmitMBXEvent(const std::string& channelEvent, const MBX::Parameters& parameters,
                                                std::vector<std::string> targets) {
  if (!m_node) return false;
  const KRTUnicodeString event{std::string_view(channelEvent)};
  if (targets.empty()) return m_node->Emit(event, parameters) == 0;
  std::int32_t status = 0;
  for (const std::string& target : targets)
    status = target.empty() ? m_node->Emit(event, parameters)
                            : m_node->Emit(event, KRTUnicodeString(std::string_view(target)), parameters);
  return status == 0;
}

std::vector<std::shared_ptr<VornRemoteObject>> VornCommunicationManager_V1::GetRemoteObjects() {
  std::vector<std::shared_ptr<VornRemoteObject>> objects;
  if (VornCommunicationManager_V1* manager = _Instance.Peek())
    for (const auto& [nameSpace, table] : manager->m_remoteObjects)
      for (const auto& [identifier, object] : table)
        if (object) objects.push_back(object);
  return objects;
}

std::shared_ptr<VornRemoteObject> VornCommunicationManager_V1::GetRemoteObject(const std::string& nameSpace,
                                                                              const std::string& identifier) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  return manager ? _Find(manager->m_remoteObjects, nameSpace, identifier) : nullptr;
}

std::vector<VornCommunicationManager_V1::NamespaceFunction> VornCommunicationManager_V1::GetNamespaceFunctions() {
  std::vector<NamespaceFunction> functions;
  if (VornCommunicationManager_V1* manager = _Instance.Peek())
    for (const auto& [nameSpace, table] : manager->m_namespaceFunctions)
      for (const auto& [name, function] : table)
        if (function) functions.push_back({nameSpace, name, function});
  return functions;
}

std::shared_ptr<VornRemoteFunction_V1> VornCommunicationManager_V1::GetNamespaceFunction(const std::string& nameSpace,
                                                                                        const std::string& name) {
  VornCommunicationManager_V1* manager = _Instance.Peek();
  return manager ? _Find(manager->m_namespaceFunctions, nameSpace, name) : nullptr;
}
