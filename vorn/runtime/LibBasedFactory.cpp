#include "vorn/runtime/LibBasedFactory.h"

VornLibBasedFactory::VornLibBasedFactory() { _SetExactType<VornLibBasedFactory>(); }

VornLibBasedFactory::~VornLibBasedFactory() = default;

// Deleted at process end, as the function-local static it replaces was.
constinit Vorn::SingletonSlot<VornLibBasedFactory> VornLibBasedFactory::_Instance{{.deleteAtExit = true}};

VornLibBasedFactory* VornLibBasedFactory::_GetInstance() { return _Instance.Get(); }

Vorn::SharedPtr<VornLibBasedFactory> VornLibBasedFactory::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornLibBasedFactory>(_TryGetSharedPtrFromBase());
}
