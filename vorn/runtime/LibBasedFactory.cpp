#include "vorn/runtime/LibBasedFactory.h"

VornLibBasedFactory::VornLibBasedFactory() { _SetExactType<VornLibBasedFactory>(); }

VornLibBasedFactory::~VornLibBasedFactory() = default;

VornLibBasedFactory& VornLibBasedFactory::_GetInstance() {
  static VornLibBasedFactory instance;
  return instance;
}

Vorn::SharedPtr<VornLibBasedFactory> VornLibBasedFactory::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornLibBasedFactory>(_TryGetSharedPtrFromBase());
}
