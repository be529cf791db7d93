#pragma once

#include <memory>

#include "vorn/core/Export.h"

class KRTBaseUnknown;

// Root of the library classes owned through std::shared_ptr (events, model
// objects, contexts, views, managers...). Each class decides in
// GetSharedPtr() whether it hands out shared ownership of itself.
class VORN_API VornBaseClass : public std::enable_shared_from_this<VornBaseClass> {
public:
  static constexpr bool _IsVornClass_ = true;

  virtual ~VornBaseClass();

  virtual std::shared_ptr<VornBaseClass> GetSharedPtr() = 0;
  // The host object-model interface of this object; none by default.
  virtual KRTBaseUnknown* GetOMInterface() const { return nullptr; }

  // True when no std::shared_ptr owns the object (never owned, or the last
  // owner has gone).
  bool IsExpired() const noexcept { return weak_from_this().expired(); }
  bool HasOMInterface() const { return GetOMInterface() != nullptr; }

protected:
  VornBaseClass() noexcept = default;
  VornBaseClass(const VornBaseClass&) noexcept : std::enable_shared_from_this<VornBaseClass>() {}
  VornBaseClass& operator=(const VornBaseClass&) noexcept { return *this; }

  // Shares the existing ownership; empty when the object is not (or no
  // longer) owned. Never throws.
  std::shared_ptr<VornBaseClass> _GetSharedPtrFromBase() noexcept { return weak_from_this().lock(); }
};
