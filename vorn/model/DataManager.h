#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/Function.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/values/ValuesByString.h"

class VornModelObject;

// How a context's data tree starts: its initial values, and a callback
// that receives the new root (may be empty).
struct VORN_API VornDataOptions {
  virtual ~VornDataOptions();
  VornValuesByString initialValues;
  Vorn::Function<void(const std::shared_ptr<VornModelObject>&)> onDataTreeInitialized;
};

// Process-wide registry of data trees, one per context name. Everything it
// does to a tree it delegates to the tree's root. Operations naming a
// context that has no tree do nothing and report nothing.
class VORN_API VornDataManager {
public:
  virtual ~VornDataManager();
  VornDataManager(const VornDataManager&) = delete;
  VornDataManager& operator=(const VornDataManager&) = delete;

  // Builds a new true root, stores it under `contextName` unless a tree is
  // stored there already (the first stays), calls the options' callback
  // with it, and returns it.
  static std::shared_ptr<VornModelObject> InitializeDataTree(const VornDataOptions* options,
                                                             const std::string& contextName);
  // Adds `object` as a child of the context's root.
  static void AddRoot(const std::string& contextName, const std::shared_ptr<VornModelObject>& object);
  // True when `object` hangs, through its parents, from the root stored for
  // `contextName`.
  static bool IsInTree(const std::string& contextName, const std::shared_ptr<VornModelObject>& object);
  // Updates the nodes whose ID properties match `values`, anywhere in the
  // tree, or adds `values` as a new child of the root.
  static void UpdateDataTree(const std::string& contextName, const VornValuesByString& values);
  // Removes every node carrying the object's id, at any depth.
  static void RemoveModelObject(const std::string& contextName, const std::shared_ptr<VornModelObject>& object,
                                const bool& requestDestruction);
  static void RemoveModelObjects(const std::string& contextName, const std::vector<VornValuesByString>& criteria,
                                 const bool& requestDestruction);
  // Forgets the context's tree (released unless others hold it).
  static void OnContextEnd(const std::string& contextName);

  // The root stored for `contextName`, or empty.
  static std::shared_ptr<VornModelObject> GetTree(const std::string& contextName) { return _GetTree(contextName); }

private:
  friend class VornMainComponent;
  friend class Vorn::SingletonSlot<VornDataManager>;

  VornDataManager() = default;
  static VornDataManager* _GetInstance();
  static void _DeleteInstance();
  static std::shared_ptr<VornModelObject> _GetTree(const std::string& contextName);

  static Vorn::SingletonSlot<VornDataManager> _Instance;
  std::unordered_map<std::string, std::shared_ptr<VornModelObject>> m_trees;
};
