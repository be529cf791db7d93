#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/runtime/LibBasedFactory.h"
#include "vorn/views/BaseView.h"

class VornModelObject;
struct VornContextInfo;

// Creates each context's views from plug-in libraries, keeps them per
// context, finds them by name and drops them when the context ends.
//
// A view library may export, for a view class C, the functions
// C + "VornViewDataTypesRepresentations" and C + "VornViewDataTypesTemplates"
// (no arguments, returning a C string): the base names of the class's own
// representations and templates files, registered with the tweaker factory
// once, before the class's first instance is created. A library exporting
// only one of them registers neither.
class VORN_API VornViewsManager : public VornLibBasedFactory_V1<VornBaseView> {
public:
  ~VornViewsManager() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return nullptr; }

  // Creates, initialises and keeps the context's views, in the order of
  // its view descriptions. A description whose class cannot be created or
  // is not a view is skipped. A context that has views already keeps them:
  // the new ones are initialised and handed to their callbacks only.
  static void GenerateViews(const std::shared_ptr<VornContextInfo>& contextInfo, const std::string& contextName,
                            const std::shared_ptr<VornModelObject>& root);
  // The first view of the context with that name, or empty.
  static std::shared_ptr<VornBaseView> GetView(const std::string& contextName, const std::string& viewName);
  static std::vector<std::shared_ptr<VornBaseView>> GetViews(const std::string& contextName);
  // Releases the context's views.
  static void OnContextEnd(const std::string& contextName);

private:
  friend class VornMainComponent;
  friend class Vorn::SingletonSlot<VornViewsManager>;

  VornViewsManager() = default;
  static VornViewsManager* _GetInstance();
  static void _DeleteInstance();
  bool _GetClassInfo(const std::string& library, const std::string& className, ClassInfo& info) override;
  void _ReleaseLibraryObjects() override { m_views.clear(); }

  static Vorn::SingletonSlot<VornViewsManager> _Instance;
  std::unordered_map<std::string, std::vector<std::shared_ptr<VornBaseView>>> m_views;
  // View classes whose files were looked for, by library then class.
  Vorn::HashTable<std::string, Vorn::HashTable<std::string, bool>> m_classesSeen;
};
