#pragma once

// Macros for plug-in libraries: export a class so that the library-based
// factories (VornLibBasedFactory_V1) find it by name.
//
//   VORN_EXPORT_PLUGIN_CLASS(VornRemoteFunction_V1, MyFunction)
//
// exports, with C linkage:
//   VornCreatePtr_MyFunction     () -> Base*, a new instance;
//   VornDeletePtr_MyFunction     (Base*), deletes an instance it created;
//   VornCreateVector_MyFunction  () -> the vector-creation function, whose
//                                  vector holds one new instance.
// The class must be default-constructible. For a class whose name cannot
// be pasted into a symbol (a qualified name), name the export separately:
//   VORN_EXPORT_PLUGIN_CLASS_AS(VornBaseView, MyView, my_ns::MyView)

#include <type_traits>
#include <vector>

#include "vorn/core/BaseClass.h"
#include "vorn/core/Export.h"
#include "vorn/runtime/LibBasedFactory.h"

namespace Vorn::_Internal_ {
template <class Base>
void DeletePluginInstance(Base* instance) {
  if constexpr (std::is_base_of_v<Vorn_BaseClass, Base>)
    Vorn_BaseClass::DeleteUnlessOwned(instance);  // the counted family hides its destructor
  else
    delete instance;
}
}  // namespace Vorn::_Internal_

#define VORN_EXPORT_PLUGIN_CLASS_AS(Base, Name, Type)                                              \
  VORN_PLUGIN_EXPORT Base* VornCreatePtr_##Name() { return new Type(); }                           \
  VORN_PLUGIN_EXPORT void VornDeletePtr_##Name(Base* instance) {                                   \
    ::Vorn::_Internal_::DeletePluginInstance<Base>(instance);                                      \
  }                                                                                                \
  VORN_PLUGIN_EXPORT VornLibraryClassInfo<Base>::CreateVectorFn VornCreateVector_##Name() {        \
    return [] { return std::vector<Base*>{new Type()}; };                                          \
  }

#define VORN_EXPORT_PLUGIN_CLASS(Base, Class) VORN_EXPORT_PLUGIN_CLASS_AS(Base, Class, Class)
