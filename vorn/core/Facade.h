#pragma once

#include <atomic>

#include "vorn/core/BaseClass.h"
#include "vorn/core/Export.h"
#include "vorn/core/SharedPtr.h"

class KRTBaseUnknown;
class VornBaseImpl;

namespace Vorn::_Internal_ {
struct NoImplBuild_t {
  explicit NoImplBuild_t() = default;
};
inline constexpr NoImplBuild_t NoImplBuild{};
}  // namespace Vorn::_Internal_

// A facade and its implementation are two counted objects bound to each
// other: each registers a destruction callback on the other, so a
// destruction request on either side ends both. An unowned side is deleted
// when the other goes; keep a Vorn::SharedPtr to a side to let its owners
// decide (they are told through their own destruction callbacks).
//
// Both sides are shareable from construction. A side deleted while still
// bound (deleted directly, without a destruction request) first runs its
// destruction request, so the other side never keeps a dangling link.
// The "owns" flags, when a
// derived class sets them, make a link hold one strong reference to the
// other side, released when the link is cut.
class VORN_API VornBaseFacade : public Vorn_BaseClass {
public:
  VornBaseFacade();
  ~VornBaseFacade() override;

  bool HasImpl() const noexcept { return m_impl.load() != nullptr; }
  Vorn::SharedPtr<VornBaseFacade> GetSharedPtr();
  virtual KRTBaseUnknown* GetOMInterface() const { return nullptr; }

protected:
  explicit VornBaseFacade(Vorn::_Internal_::NoImplBuild_t);

  // Binds this facade to `impl` (and `impl` to this facade). Refusals are
  // reported and leave the facade as it was.
  void _LinkToImpl(VornBaseImpl* impl);
  void _SetOwnsImpl(bool owns) noexcept { m_ownsImpl = owns; }

private:
  friend class VornBaseImpl;
  void _OnDestructionRequestBegin() override;
  VornBaseImpl* _GetBaseImpl() const noexcept { return m_impl.load(); }
  static void _OnImplDestructionRequested(unsigned int id, Vorn_BaseClass* impl, void* ctx);

  std::atomic<VornBaseImpl*> m_impl{nullptr};
  unsigned int m_callbackId = 0;
  bool m_ownsImpl = false;
};

class VORN_API VornBaseImpl : public Vorn_BaseClass {
public:
  bool HasFacade() const noexcept { return m_facade.load() != nullptr; }
  Vorn::SharedPtr<VornBaseImpl> GetSharedPtr();

protected:
  VornBaseImpl();
  ~VornBaseImpl() override;

  void _SetOwnsFacade(bool owns) noexcept { m_ownsFacade = owns; }
  // Binds this implementation to `facade` (and `facade` to it); the mirror
  // of VornBaseFacade::_LinkToImpl.
  void _LinkToFacade(VornBaseFacade* facade);

  // A handle the implementation keeps alive as long as it lives.
  Vorn::SharedPtr<Vorn_BaseClass> m_held;

private:
  friend class VornBaseFacade;
  void _OnDestructionRequestBegin() override;
  VornBaseFacade* _GetBaseFacade() const noexcept { return m_facade.load(); }
  static void _OnFacadeDestructionRequested(unsigned int id, Vorn_BaseClass* facade, void* ctx);

  std::atomic<VornBaseFacade*> m_facade{nullptr};
  unsigned int m_callbackId = 0;
  bool m_ownsFacade = false;
};
