#include "vorn/views/TweakerFactory.h"

#include <algorithm>

#include "vorn/runtime/Resources.h"

namespace {
constexpr const char* kTag = "[Vorn - Tweaker Factory] ";

// The resource as a reader; empty when it cannot be read.
JSON::JIStream LoadReader(const std::string& name) {
  const VornJSONValue loaded = Vorn::LoadResourceJSON(std::string(Vorn::kVornFolderName), name);
  const VornJSONObject* object = loaded.GetIfObject();
  return object ? JSON::JIStream(*object) : JSON::JIStream();
}
}  // namespace

constinit Vorn::SingletonSlot<VornTweakerFactory> VornTweakerFactory::_Instance{
    {.onCreated = [](VornTweakerFactory& factory) {
      factory._RegisterTypes(Vorn::kDefaultRepresentationsFile, Vorn::kDefaultTemplatesFile);
    }}};

VornTweakerFactory::VornTweakerFactory() = default;

VornTweakerFactory::~VornTweakerFactory() = default;

VornTweakerFactory* VornTweakerFactory::_GetInstance() { return _Instance.Get(); }

void VornTweakerFactory::_DeleteInstance() { _Instance.Delete(); }

void VornTweakerFactory::RegisterTypes(const std::string& representations, const std::string& templates) {
  if (VornTweakerFactory* instance = _GetInstance()) instance->_RegisterTypes(representations, templates);
}

bool VornTweakerFactory::HasFileBeenLoaded(const std::string& name, const bool& isRepresentations) {
  VornTweakerFactory* instance = _GetInstance();
  return instance && instance->_HasFileBeenLoaded(name, isRepresentations);
}

bool VornTweakerFactory::_HasFileBeenLoaded(const std::string& name, bool isRepresentations) const {
  const auto& files = isRepresentations ? m_representationsFiles : m_templatesFiles;
  return std::find(files.begin(), files.end(), name) != files.end();
}

void VornTweakerFactory::_RegisterTypes(const std::string& representations, const std::string& templates) {
  if (!templates.empty() && !_HasFileBeenLoaded(templates, false)) {
    m_templatesFiles.push_back(templates);  // before loading: a failed load is not retried
    VornAllTypeTemplatesVisitor visitor;
    // The valid entries register even when another entry failed.
    LoadReader(templates).Apply(visitor);
    for (auto& [name, definition] : visitor.templates) m_templates.try_emplace(name, definition);
  }
  if (representations.empty() || _HasFileBeenLoaded(representations, true)) return;
  m_representationsFiles.push_back(representations);
  VornAllTypeRepsVisitor visitor(*this);
  LoadReader(representations).Apply(visitor);
  for (const std::string& type : visitor.order) {
    const auto& read = visitor.representations.at(type);
    auto [existing, added] = m_representations.try_emplace(type, read);
    if (added) continue;
    for (const auto& [representation, definition] : read->representations)
      existing->second->representations.insert_or_assign(representation, definition);
  }
}

bool VornTweakerFactory::GetTemplateDef(const std::string& name, std::shared_ptr<VornTypeTemplateDef>& out) const {
  auto it = m_templates.find(name);
  if (it == m_templates.end()) return false;
  out = it->second;
  return true;
}

bool VornTweakerFactory::GetTemplateDefinition(const std::string& name, std::shared_ptr<VornTypeTemplateDef>& out) {
  VornTweakerFactory* instance = _GetInstance();
  return instance && instance->GetTemplateDef(name, out);
}

bool VornTweakerFactory::GetTypeTemplate(const std::string& dataType, const std::string& representation,
                                         std::shared_ptr<VornTypeTemplateDef>& out) {
  VornTweakerFactory* instance = _GetInstance();
  if (!instance) return false;
  auto type = instance->m_representations.find(dataType);
  if (type == instance->m_representations.end()) return false;
  auto rep = type->second->representations.find(representation);
  if (rep == type->second->representations.end()) return false;
  out = rep->second;
  return true;
}

std::shared_ptr<VornBaseTweaker> VornTweakerFactory::GenerateTweaker(const std::string& dataType,
                                                                     const std::string& representation) {
  std::shared_ptr<VornTypeTemplateDef> definition;
  if (!GetTypeTemplate(dataType, representation, definition)) return nullptr;
  VornTweakerFactory* instance = _GetInstance();
  VornBaseTweaker* created = instance->CreateInstancePtr(definition->library, definition->className);
  if (!created) return nullptr;
  // A plug-in may export another kind of class under that name.
  if (!_CheckedCast(created)) {
    instance->DeleteInstancePtr(created, definition->library, definition->className);
    return nullptr;
  }
  return _AdoptInstance(created);
}

// --- visitors -----------------------------------------------------------------------

bool VornAllTypeTemplatesVisitor::Visit(const KRTUnicodeString& key, const JSON::JIStream& value) {
  auto definition = std::make_shared<VornTypeTemplateDef>();
  definition->name = std::string(key.View());
  VornTypeTemplateVisitor visitor(*definition);
  if (!value.Apply(visitor)) return false;
  templates.try_emplace(definition->name, definition);
  return true;
}

bool VornTypeTemplateVisitor::Visit(const KRTUnicodeString&, const JSON::JIStream&) { return true; }

bool VornTypeTemplateVisitor::Visit(const KRTUnicodeString& key, const KRTUnicodeString& value) {
  if (key == "library") {
    m_definition.library = std::string(value.View());
  } else if (key == "class") {
    m_definition.className = std::string(value.View());
  } else {
    Vorn::RaiseError(std::string(kTag) + "VornTypeTemplateVisitor for string => error: Unknown key = \"" +
                     std::string(key.View()) + "\"!");
  }
  return true;
}

bool VornAllTypeRepsVisitor::Visit(const KRTUnicodeString& key, const JSON::JIStream& value) {
  auto definition = std::make_shared<VornTypeRepDef>();
  definition->name = std::string(key.View());
  VornTypeRepVisitor visitor(m_factory, *definition);
  if (!value.Apply(visitor)) return false;  // this data type only is dropped
  if (representations.try_emplace(definition->name, definition).second) order.push_back(definition->name);
  return true;
}

bool VornTypeRepVisitor::Visit(const KRTUnicodeString&, const JSON::JIStream&) { return true; }

bool VornTypeRepVisitor::Visit(const KRTUnicodeString& key, const KRTUnicodeString& value) {
  std::shared_ptr<VornTypeTemplateDef> definition;
  if (!m_factory.GetTemplateDef(std::string(value.View()), definition)) {
    Vorn::RaiseError(std::string(kTag) + "VornTypeRepVisitor for string => error: Template \"" +
                     std::string(value.View()) + "\" not found!");
    return false;
  }
  m_definition.representations.try_emplace(std::string(key.View()), definition);
  return true;
}
