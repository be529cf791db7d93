#include "Host.h"

#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Convert.h"
#include "vorn/model/DataTypesManager.h"
#include "vorn/model/PropertiesDico.h"
#include "vorn/runtime/LibBasedFactory.h"
#include "vorn/runtime/LibrariesManager.h"
#include "vorn/views/TweakerFactory.h"

namespace orvel {
namespace {

using NamedCreate = VornBaseContext* (*)(const char*, const char*);

class ContextFactory final : public VornLibBasedFactory_V1<VornBaseContext> {
public:
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return nullptr; }

  // A context of `className`, named as asked when the plug-in exports the
  // named creation; empty when the class is missing or not a context.
  std::shared_ptr<VornBaseContext> Create(const Manifest::Context& entry) {
    VornBaseContext* created = nullptr;
    if (const auto library = Vorn::GetLibrary(entry.library))
      if (auto named = reinterpret_cast<NamedCreate>(
              library->GetSymbolPtr(("OrvelCreateContext_" + entry.className).c_str())))
        created = named(entry.name.c_str(), entry.nameSpace.c_str());
    if (!created) created = CreateInstancePtr(entry.library, entry.className);
    if (!created) return nullptr;
    if (!_CheckedCast(created)) {
      DeleteInstancePtr(created, entry.library, entry.className);
      return nullptr;
    }
    return _AdoptInstance(created);
  }
};

std::string Reports(const KRTAbendCapture& capture) {
  std::string text;
  for (const std::string& message : capture.Messages()) text += (text.empty() ? "" : "; ") + message;
  return text;
}

}  // namespace

void StartHost(const Manifest& manifest, const std::vector<std::string>& pluginFolders) {
  // Clients may name only what the manifest names, and only from these folders.
  VornLibrariesManager::SetPluginFolders(pluginFolders);
  for (const std::string& plugin : manifest.plugins) VornLibrariesManager::DeclareClientLibrary(plugin);
  for (const auto& entry : manifest.contexts) {
    VornLibrariesManager::DeclareClientLibrary(entry.library);
    for (const auto& view : entry.views) VornLibrariesManager::DeclareClientLibrary(view.library);
  }
  for (std::size_t i = 0; i < manifest.plugins.size(); ++i) {
    KRTAbendCapture capture(true);
    if (!Vorn::GetLibrary(manifest.plugins[i]))
      throw manifest.ErrorAt({"plugins", i}, "plug-in \"" + manifest.plugins[i] + "\" cannot be loaded: " + Reports(capture));
  }
  for (const auto& dictionary : manifest.dictionaries)
    VornModelPropertiesDicoManager::RegisterDico(dictionary.name, dictionary.folder);
  for (const std::string& types : manifest.dataTypes) VornDataTypesManager::RegisterDataTypes(types);
  for (const auto& files : manifest.tweakerFiles) VornTweakerFactory::RegisterTypes(files.representations, files.templates);

  static ContextFactory factory;  // its class cache lives as long as the plug-ins
  for (const auto& entry : manifest.contexts) {
    JsonPath at = entry.path;
    std::shared_ptr<VornBaseContext> context;
    {
      KRTAbendCapture capture(true);
      context = factory.Create(entry);
      if (!context) {
        at.push_back("class");
        throw manifest.ErrorAt(at, "no context class \"" + entry.className + "\" in plug-in \"" + entry.library +
                                       "\"" + (capture.Count() ? ": " + Reports(capture) : std::string()));
      }
    }
    if (context->GetName() != entry.name) {
      at.push_back("name");
      throw manifest.ErrorAt(at, "class \"" + entry.className + "\" names its context \"" + context->GetName() +
                                     "\" and cannot take another name");
    }
    auto info = std::make_shared<VornContextInfo>();
    info->dataOptions = new VornDataOptions;
    info->dataOptions->initialValues = Vorn::ConvertJSONObjectToValuesByString(entry.initialData);
    for (const auto& view : entry.views) {
      auto* viewInfo = new VornViewInfo;
      viewInfo->libraryName = view.library;
      viewInfo->className = view.className;
      viewInfo->options = Vorn::ConvertJSONObjectToValuesByString(view.options);
      info->viewInfos.push_back(viewInfo);
    }
    if (!context->RegisterInVorn(info)) {
      at.push_back("name");
      throw manifest.ErrorAt(at, "a context named \"" + entry.name + "\" is already registered");
    }
  }
}

}  // namespace orvel
