#include "vorn/core/Facade.h"

#include <new>

#include "vorn/core/ErrorPolicy.h"

namespace {

// Context of a link's destruction callback: the address of the side that
// registered it. Allocated separately so the registration owns it.
struct LinkCell {
  Vorn_BaseClass* side;
};

void FreeLinkCell(void* cell) noexcept { delete static_cast<LinkCell*>(cell); }

// Registers `callback` on `target` for `side`; 0 when refused.
unsigned int RegisterLink(Vorn_BaseClass* target, Vorn_BaseClass* side, Vorn_BaseClass::DestructionRequestCB callback) {
  auto* cell = new (std::nothrow) LinkCell{side};
  if (!cell) return 0;
  const unsigned int id = target->AddDestructionRequestCB(callback, cell, &FreeLinkCell);
  if (id == 0) delete cell;  // a refused registration leaves the context with us
  return id;
}

// Releases the strong reference a link holds.
template <class T>
void ReleaseLinkReference(T* object) {
  Vorn::SharedPtr<T>::_Adopt(object).Reset();
}

// The side whose peer is going follows it: told through its own callbacks
// when owned, deleted when nobody owns it.
void FollowPeer(Vorn_BaseClass* side) {
  if (side->IsOwned())
    side->RequestDestruction();
  else
    Vorn_BaseClass::_DeleteUnlessOwnedNoThrow(side);
}

}  // namespace

// --- facade -------------------------------------------------------------------

VornBaseFacade::VornBaseFacade() : VornBaseFacade(Vorn::_Internal_::NoImplBuild) {}

VornBaseFacade::VornBaseFacade(Vorn::_Internal_::NoImplBuild_t) { _InitCtrlBlock(0); }

VornBaseFacade::~VornBaseFacade() {
  if (m_impl.load()) RequestDestruction();
}

Vorn::SharedPtr<VornBaseFacade> VornBaseFacade::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornBaseFacade>(_GetSharedPtrFromBase());
}

void VornBaseFacade::_LinkToImpl(VornBaseImpl* impl) {
  if (m_impl.load()) {
    Vorn::RaiseError("[Vorn - Base Facade] Already bound to an Implementation!");
    return;
  }
  if (!impl) {
    Vorn::RaiseError("[Vorn - Base Facade] Cannot create a Facade from a null Implementation!");
    return;
  }
  if (!impl->IsShareable()) {
    Vorn::RaiseError("[Vorn - Base Facade] Implementation must be shareable when bound to a Facade!");
    return;
  }
  const unsigned int id = RegisterLink(impl, this, &VornBaseFacade::_OnImplDestructionRequested);
  if (id == 0) {
    Vorn::RaiseError(
        "[Vorn - Base Facade] Failed to register destruction callback on the Implementation!\nThe Implementation "
        "may be destroying itself already...");
    return;
  }
  m_callbackId = id;
  m_impl.store(impl);
  if (!impl->HasFacade()) impl->_LinkToFacade(this);
}

void VornBaseFacade::_OnDestructionRequestBegin() {
  VornBaseImpl* impl = m_impl.exchange(nullptr);
  if (impl) {
    if (m_callbackId != 0) impl->RemoveDestructionRequestCB(m_callbackId);
    if (m_ownsImpl) ReleaseLinkReference(impl);
  }
  m_callbackId = 0;
}

void VornBaseFacade::_OnImplDestructionRequested(unsigned int, Vorn_BaseClass*, void* ctx) {
  auto* facade = static_cast<VornBaseFacade*>(static_cast<LinkCell*>(ctx)->side);
  VornBaseImpl* impl = facade->m_impl.exchange(nullptr);
  if (impl && facade->m_ownsImpl) ReleaseLinkReference(impl);
  FollowPeer(facade);
}

// --- implementation -------------------------------------------------------------

VornBaseImpl::VornBaseImpl() { _InitCtrlBlock(0); }

VornBaseImpl::~VornBaseImpl() {
  if (m_facade.load()) RequestDestruction();
}

Vorn::SharedPtr<VornBaseImpl> VornBaseImpl::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornBaseImpl>(_GetSharedPtrFromBase());
}

void VornBaseImpl::_LinkToFacade(VornBaseFacade* facade) {
  if (m_facade.load()) {
    Vorn::RaiseError("[Vorn - Base Impl] Already bound to a Facade!");
    return;
  }
  if (!facade) {
    Vorn::RaiseError("[Vorn - Base Impl] Null Facade!");
    return;
  }
  if (!facade->IsShareable()) {
    Vorn::RaiseError("[Vorn - Base Impl] Facade must be shareable when bound to an Implementation!");
    return;
  }
  const unsigned int id = RegisterLink(facade, this, &VornBaseImpl::_OnFacadeDestructionRequested);
  if (id == 0) {
    Vorn::RaiseError(
        "[Vorn - Base Impl] Failed to register destruction callback on the Facade!\nThe Facade may be destroying "
        "itself already...");
    return;
  }
  m_callbackId = id;
  m_facade.store(facade);
  if (!facade->HasImpl()) facade->_LinkToImpl(this);
}

void VornBaseImpl::_OnDestructionRequestBegin() {
  VornBaseFacade* facade = m_facade.exchange(nullptr);
  if (facade) {
    if (m_callbackId != 0) facade->RemoveDestructionRequestCB(m_callbackId);
    if (m_ownsFacade) ReleaseLinkReference(facade);
  }
  m_callbackId = 0;
}

void VornBaseImpl::_OnFacadeDestructionRequested(unsigned int, Vorn_BaseClass*, void* ctx) {
  auto* impl = static_cast<VornBaseImpl*>(static_cast<LinkCell*>(ctx)->side);
  VornBaseFacade* facade = impl->m_facade.exchange(nullptr);
  if (facade && impl->m_ownsFacade) ReleaseLinkReference(facade);
  FollowPeer(impl);
}
