#include "vorn/views/ViewsManager.h"

#include "vorn/runtime/LibrariesManager.h"
#include "vorn/views/ContextInfo.h"
#include "vorn/views/TweakerFactory.h"

constinit Vorn::SingletonSlot<VornViewsManager> VornViewsManager::_Instance;

VornViewsManager::~VornViewsManager() = default;

VornViewsManager* VornViewsManager::_GetInstance() { return _Instance.Get(); }

void VornViewsManager::_DeleteInstance() { _Instance.Delete(); }

bool VornViewsManager::_GetClassInfo(const std::string& library, const std::string& className, ClassInfo& info) {
  if (!VornLibBasedFactory_V1<VornBaseView>::_GetClassInfo(library, className, info)) return false;
  if (!m_classesSeen[library].try_emplace(className, true).second) return true;
  const std::shared_ptr<OVK::Library> loaded = Vorn::GetLibrary(library);
  if (!loaded) return true;
  using FileNameFn = const char* (*)();
  auto representations = reinterpret_cast<FileNameFn>(
      loaded->GetSymbolPtr((className + Vorn::kViewRepresentationsSuffix).c_str()));
  auto templates =
      reinterpret_cast<FileNameFn>(loaded->GetSymbolPtr((className + Vorn::kViewTemplatesSuffix).c_str()));
  if (representations && templates) {
    const char* representationsFile = representations();
    const char* templatesFile = templates();
    VornTweakerFactory::RegisterTypes(representationsFile ? representationsFile : "", templatesFile ? templatesFile : "");
  }
  return true;
}

void VornViewsManager::GenerateViews(const std::shared_ptr<VornContextInfo>& contextInfo,
                                     const std::string& contextName, const std::shared_ptr<VornModelObject>& root) {
  VornViewsManager* instance = _GetInstance();
  if (!instance || !root || !contextInfo) return;
  std::vector<std::shared_ptr<VornBaseView>> views;
  for (VornViewInfo* viewInfo : contextInfo->viewInfos) {
    if (!viewInfo) continue;
    VornBaseView* created = instance->CreateInstancePtr(viewInfo->libraryName, viewInfo->className);
    if (!created) continue;
    if (!_CheckedCast(created)) {
      instance->DeleteInstancePtr(created, viewInfo->libraryName, viewInfo->className);
      continue;
    }
    std::shared_ptr<VornBaseView> view = _AdoptInstance(created);
    view->Initialize(viewInfo, root, contextInfo, false);
    views.push_back(view);
    if (viewInfo->onViewCreated) viewInfo->onViewCreated(view);
  }
  instance->m_views.try_emplace(contextName, std::move(views));
}

std::shared_ptr<VornBaseView> VornViewsManager::GetView(const std::string& contextName, const std::string& viewName) {
  VornViewsManager* instance = _GetInstance();
  if (!instance) return nullptr;
  auto it = instance->m_views.find(contextName);
  if (it == instance->m_views.end()) return nullptr;
  for (const auto& view : it->second)
    if (view && view->GetName() == viewName) return view;
  return nullptr;
}

std::vector<std::shared_ptr<VornBaseView>> VornViewsManager::GetViews(const std::string& contextName) {
  VornViewsManager* instance = _GetInstance();
  if (!instance) return {};
  auto it = instance->m_views.find(contextName);
  return it == instance->m_views.end() ? std::vector<std::shared_ptr<VornBaseView>>{} : it->second;
}

void VornViewsManager::OnContextEnd(const std::string& contextName) {
  VornViewsManager* instance = _GetInstance();
  if (!instance) return;
  auto it = instance->m_views.find(contextName);
  if (it == instance->m_views.end()) return;
  const auto views = std::move(it->second);  // released after the entry is gone
  instance->m_views.erase(it);
}
