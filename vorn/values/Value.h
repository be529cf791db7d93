#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "vorn/core/Any.h"
#include "vorn/core/Export.h"

// The value that crosses every interface of the library: a VornAny under its
// own name, so every VornAny rule (type keys, equality, GetRawValue<T>())
// holds for it.
class VORN_API VornValue : public VornAny {
public:
  VornValue() noexcept = default;
  VornValue(const char* text) : VornAny(text) {}
  template <class T, class D = std::decay_t<T>,
            class = std::enable_if_t<!std::is_base_of_v<VornAny, D> && !std::is_same_v<D, const char*> &&
                                     !std::is_same_v<D, char*>>>
  VornValue(T&& value) : VornAny(std::forward<T>(value)) {}
  // Adopts what a plain holder stores.
  explicit VornValue(const VornAny& any) : VornAny(any) {}
  explicit VornValue(VornAny&& any) noexcept : VornAny(std::move(any)) {}

  VornValue(const VornValue&) = default;
  VornValue(VornValue&&) noexcept = default;
  VornValue& operator=(const VornValue&) = default;
  VornValue& operator=(VornValue&&) noexcept = default;
  ~VornValue() override;

  bool operator==(const VornValue& other) const { return VornAny::IsEqualTo(other); }
  bool IsEqualTo(const VornValue& other) const { return VornAny::IsEqualTo(other); }
  bool IsEqualTo(const VornValue* other) const { return other && VornAny::IsEqualTo(*other); }

  using VornAny::IsOfSameType;
  // A null `other` gives false, reported with `reportError`.
  bool IsOfSameType(const VornValue* other, bool reportError) const;
};

namespace Vorn {

// Holds one std::shared_ptr<T>; the form in which an event's main value is
// passed around.
template <class T>
class SharedPtrWrapper {
public:
  SharedPtrWrapper() = default;
  SharedPtrWrapper(std::shared_ptr<T> ptr) : m_ptr(std::move(ptr)) {}
  virtual ~SharedPtrWrapper() = default;
  SharedPtrWrapper(const SharedPtrWrapper&) = default;
  SharedPtrWrapper(SharedPtrWrapper&&) noexcept = default;
  SharedPtrWrapper& operator=(const SharedPtrWrapper&) = default;
  SharedPtrWrapper& operator=(SharedPtrWrapper&&) noexcept = default;

  const std::shared_ptr<T>& Get() const noexcept { return m_ptr; }
  T* operator->() const noexcept { return m_ptr.get(); }
  T& operator*() const noexcept { return *m_ptr; }
  explicit operator bool() const noexcept { return static_cast<bool>(m_ptr); }
  void Reset() noexcept { m_ptr.reset(); }

private:
  std::shared_ptr<T> m_ptr;
};

}  // namespace Vorn

class VORN_API VornValue_sp : public Vorn::SharedPtrWrapper<VornValue> {
public:
  using Vorn::SharedPtrWrapper<VornValue>::SharedPtrWrapper;
  VornValue_sp() = default;
  // Wraps a new value holding `value`.
  static VornValue_sp Make(VornValue value) { return VornValue_sp(std::make_shared<VornValue>(std::move(value))); }
};
