#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Any.h"
#include "vorn/core/BaseClass.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/core/SharedBase.h"
#include "vorn/core/SharedPtr.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/runtime/LibrariesManager.h"

// Prefixes of the C symbols a plug-in exports for a class (followed by the
// class name, with nothing between). See vorn/runtime/PluginExport.h.
namespace Vorn {
inline constexpr const char* kCreatePtrPrefix = "VornCreatePtr_";
inline constexpr const char* kDeletePtrPrefix = "VornDeletePtr_";
inline constexpr const char* kCreateVectorPrefix = "VornCreateVector_";
}  // namespace Vorn

// The three functions of one plug-in class; any may be null.
template <class T>
struct VornLibraryClassInfo {
  using CreateFn = T* (*)();
  using DeleteFn = void (*)(T*);
  using CreateVectorFn = std::vector<T*> (*)();
  // What "VornCreateVector_" + class name is: it returns the vector-creation function.
  using CreateVectorGetterFn = CreateVectorFn (*)();

  CreateFn create = nullptr;
  DeleteFn destroy = nullptr;
  CreateVectorFn createVector = nullptr;
};

// Creates and deletes instances of plug-in classes by library and class
// name. A base class: the communication manager, the views manager and the
// tweaker factory derive from it. `T` is a class of either object family
// (VornBaseClass or Vorn_BaseClass); the plug-in's classes derive from it.
// Used from the main thread; nothing locks.
template <class T>
class VornLibBasedFactory_V1 : public VornBaseClass {
  static constexpr bool kStdShared = std::is_base_of_v<VornBaseClass, T>;
  static_assert(kStdShared || std::is_base_of_v<Vorn_BaseClass, T>,
                "plug-in classes belong to the VornBaseClass or Vorn_BaseClass family");

public:
  // std::shared_ptr<VornBaseClass> for the VornBaseClass family, the
  // intrusive handle for the Vorn_BaseClass family.
  using SharedHandle = std::conditional_t<kStdShared, std::shared_ptr<VornBaseClass>, Vorn::SharedPtr<T>>;
  using ClassInfo = VornLibraryClassInfo<T>;

  std::shared_ptr<VornBaseClass> GetSharedPtr() override = 0;

  // A new instance, or null. The caller owns it and releases it with
  // DeleteInstancePtr.
  T* CreateInstancePtr(const std::string& library, const std::string& className) {
    ClassInfo info;
    if (!_GetClassInfo(library, className, info)) {
      Vorn::RaiseError("[VornLibBasedFactory_V1::CreateInstancePtr] Info not found for " + className + " in library " +
                       library);
      return nullptr;
    }
    if (!info.create) return nullptr;
    T* instance = info.create();
    if (!instance)
      Vorn::RaiseError("[VornLibBasedFactory_V1::CreateInstancePtr] Instance creation failed for " + className +
                       " from library " + library);
    return instance;
  }

  // A new instance in shared ownership, or empty. An instance the plug-in
  // already put in shared ownership keeps that ownership.
  SharedHandle CreateInstanceSharedPtr(const std::string& library, const std::string& className) {
    ClassInfo info;
    if (!_GetClassInfo(library, className, info)) {
      Vorn::RaiseError("[VornLibBasedFactory_V1::CreateInstancePtr] Info not found for " + className + " in library " +
                       library);
      return {};
    }
    if (!info.create) {
      Vorn::RaiseError("[VornLibBasedFactory_V1::CreateInstanceSharedPtr] Creation function not found for " +
                       className + " in library " + library);
      return {};
    }
    T* instance = info.create();
    if (!instance) {
      Vorn::RaiseError("[VornLibBasedFactory_V1::CreateInstanceSharedPtr] Instance creation failed for " + className +
                       " from library " + library);
      return {};
    }
    return SharedHandle(_AdoptInstance(instance));
  }

  // What the plug-in's vector-creation function returns (the caller owns
  // the instances); empty, silently, when there is none.
  std::vector<T*> CreateInstancesVector(const std::string& library, const std::string& className) {
    ClassInfo info;
    if (_GetClassInfo(library, className, info) && info.createVector) return info.createVector();
    return {};
  }

  // Releases `instance` through the plug-in's deletion function. Without
  // one the instance is reported and left alone: deleting it here could use
  // another module's allocator.
  void DeleteInstancePtr(T* instance, const std::string& library, const std::string& className) {
    ClassInfo info;
    if (_GetClassInfo(library, className, info) && info.destroy) {
      info.destroy(instance);
      return;
    }
    Vorn::RaiseError("[VornLibBasedFactory_V1::DeleteInstancePtr] Deletion function not found for " + className +
                     " in library " + library);
  }

protected:
  VornLibBasedFactory_V1() {
    VornLibrariesManager::_AddReleaseHook(this, [this] { _ReleaseLibraryObjects(); });
  }
  ~VornLibBasedFactory_V1() override { VornLibrariesManager::_RemoveReleaseHook(this); }

  // Fills `info` for the class and returns true; false when the library
  // cannot be loaded. Results are cached per library and class (in nested
  // tables, so no two pairs share a key), null functions included, except
  // when the library exports none of the three: such lookups are not kept,
  // so names that find nothing (a client may send any number of made-up
  // ones through TryCallLibraryFunction) cannot grow the cache.
  virtual bool _GetClassInfo(const std::string& library, const std::string& className, ClassInfo& info) {
    if (auto lib = m_classInfos.find(library); lib != m_classInfos.end()) {
      if (auto cls = lib->second.find(className); cls != lib->second.end()) {
        info = cls->second;
        return true;
      }
    }
    std::shared_ptr<OVK::Library> lib = Vorn::GetLibrary(library);
    if (!lib) return false;
    ClassInfo found;
    found.create = reinterpret_cast<typename ClassInfo::CreateFn>(
        lib->GetSymbolPtr((Vorn::kCreatePtrPrefix + className).c_str()));
    found.destroy = reinterpret_cast<typename ClassInfo::DeleteFn>(
        lib->GetSymbolPtr((Vorn::kDeletePtrPrefix + className).c_str()));
    if (auto getter = reinterpret_cast<typename ClassInfo::CreateVectorGetterFn>(
            lib->GetSymbolPtr((Vorn::kCreateVectorPrefix + className).c_str())))
      found.createVector = getter();
    info = found;
    if (found.create || found.destroy || found.createVector) m_classInfos[library].try_emplace(className, found);
    return true;
  }

  // The class records held, over every library: a diagnostic.
  std::size_t _CachedClassInfoCount() const noexcept {
    std::size_t count = 0;
    for (const auto& [library, classes] : m_classInfos) count += classes.size();
    return count;
  }

  // Run before plug-in libraries are unloaded at process end: a derived
  // factory that keeps plug-in objects releases them here.
  virtual void _ReleaseLibraryObjects() {}

  // Shared ownership of a new instance: the one the instance already belongs
  // to, or a new one that deletes it through its virtual destructor.
  static auto _AdoptInstance(T* instance) {
    if constexpr (kStdShared) {
      if (std::shared_ptr<VornBaseClass> owned = instance->weak_from_this().lock())
        return std::static_pointer_cast<T>(owned);
      // Binds the instance's weak self-reference when it has none.
      return std::shared_ptr<T>(instance);
    } else {
      return Vorn::SharedPtr<T>(instance);  // joins the intrusive count it may already have
    }
  }

  // Whether `instance`, which a plug-in handed over as a T, really is one
  // (or derives from U): a plug-in may export a class of another family
  // under the requested name. Instances share the family's root class at
  // their start, so the root's run-time type answers.
  template <class U = T>
  static U* _CheckedCast(T* instance) {
    using Root = std::conditional_t<kStdShared, VornBaseClass, Vorn_BaseClass>;
    return instance ? dynamic_cast<U*>(static_cast<Root*>(instance)) : nullptr;
  }

private:
  Vorn::HashTable<std::string, Vorn::HashTable<std::string, ClassInfo>> m_classInfos;
};

// A process-wide table of type-erased class records (creation, deletion
// and vector-creation functions), for classes that code registers itself
// rather than finding them in a plug-in. The library never adds to it; the
// records are released with the instance when the library unloads.
class VORN_API VornLibBasedFactory : public Vorn_BaseClass {
public:
  struct Record {
    VornAny create;
    VornAny destroy;
    VornAny createVector;
  };

  // Always empty: the instance belongs to its slot, which deletes it, so no
  // handle may own it (the last one would delete it too); it is never made
  // shareable.
  Vorn::SharedPtr<VornLibBasedFactory> GetSharedPtr();

private:
  friend class Vorn::SingletonSlot<VornLibBasedFactory>;

  VornLibBasedFactory();
  ~VornLibBasedFactory() override;
  static VornLibBasedFactory* _GetInstance();

  static Vorn::SingletonSlot<VornLibBasedFactory> _Instance;

  Vorn::HashTable<std::string, Record> m_records;
};
