#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "vorn/core/BaseClass.h"

namespace Vorn {

// Strong handle to a Vorn_BaseClass object: exactly one pointer. Copying adds
// a strong reference, destroying or resetting releases one; the last release
// requests the object's destruction and deletes it (see Vorn_BaseClass).
template <class T>
class SharedPtr {
  static_assert(std::is_base_of_v<Vorn_BaseClass, T>, "SharedPtr holds Vorn_BaseClass objects");

public:
  using element_type = T;

  constexpr SharedPtr() noexcept = default;
  constexpr SharedPtr(std::nullptr_t) noexcept {}

  // Takes a strong reference to `object`, making it shareable first if it is
  // not (throws std::bad_alloc if its control block cannot be allocated).
  explicit SharedPtr(T* object) : m_ptr(object) {
    if (m_ptr) {
      Base(m_ptr)->_InitCtrlBlock(0);
      Base(m_ptr)->_Incref();
    }
  }

  SharedPtr(const SharedPtr& other) noexcept : m_ptr(other.m_ptr) { IncrefIfAny(); }
  SharedPtr(SharedPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  SharedPtr(const SharedPtr<U>& other) noexcept : m_ptr(other.Get()) { IncrefIfAny(); }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  SharedPtr(SharedPtr<U>&& other) noexcept : m_ptr(other._Release()) {}

  ~SharedPtr() { Reset(); }

  SharedPtr& operator=(const SharedPtr& other) {
    SharedPtr(other).Swap(*this);
    return *this;
  }
  SharedPtr& operator=(SharedPtr&& other) noexcept {
    SharedPtr(std::move(other)).Swap(*this);
    return *this;
  }
  SharedPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }

  // Releases the reference (the object may be deleted here).
  void Reset() noexcept {
    if (T* p = std::exchange(m_ptr, nullptr)) Base(p)->_Decref();
  }
  void Swap(SharedPtr& other) noexcept { std::swap(m_ptr, other.m_ptr); }

  T* Get() const noexcept { return m_ptr; }
  T* operator->() const noexcept { return m_ptr; }
  T& operator*() const noexcept { return *m_ptr; }
  explicit operator bool() const noexcept { return m_ptr != nullptr; }

  template <class U>
  bool operator==(const SharedPtr<U>& other) const noexcept { return m_ptr == other.Get(); }
  bool operator==(std::nullptr_t) const noexcept { return m_ptr == nullptr; }

  // Hands the pointer and its strong reference over to the caller.
  T* _Release() noexcept { return std::exchange(m_ptr, nullptr); }
  // Wraps a pointer whose strong reference the caller already holds.
  static SharedPtr _Adopt(T* object) noexcept {
    SharedPtr p;
    p.m_ptr = object;
    return p;
  }

private:
  static const Vorn_BaseClass* Base(const T* p) noexcept { return p; }
  static Vorn_BaseClass* Base(T* p) noexcept { return p; }
  void IncrefIfAny() const noexcept {
    if (m_ptr) Base(m_ptr)->_Incref();
  }

  T* m_ptr = nullptr;
};

// Base-to-derived conversion of a handle: the result takes a strong reference
// and the source releases its own. The caller vouches for the object's type
// (check it with HasExactType or a type key first).
template <class D, class B>
SharedPtr<D> StaticPointerCast(SharedPtr<B>&& source) noexcept {
  return SharedPtr<D>::_Adopt(static_cast<D*>(source._Release()));
}
template <class D, class B>
SharedPtr<D> StaticPointerCast(const SharedPtr<B>& source) noexcept {
  SharedPtr<B> copy(source);
  return StaticPointerCast<D>(std::move(copy));
}

// Weak handle: keeps the control block, not the object, and gives a strong
// handle only while the object is still owned.
template <class T>
class WeakPtr {
  static_assert(std::is_base_of_v<Vorn_BaseClass, T>, "WeakPtr refers to Vorn_BaseClass objects");
  using Block = Vorn_BaseClass::_CtrlBlock;

public:
  constexpr WeakPtr() noexcept = default;
  // Empty when the object is null or not shareable.
  WeakPtr(const SharedPtr<T>& strong) noexcept { Assign(strong.Get()); }
  explicit WeakPtr(T* object) noexcept { Assign(object); }
  WeakPtr(const WeakPtr& other) noexcept : m_ptr(other.m_ptr), m_block(other.m_block) {
    if (m_block) Vorn_BaseClass::_WeakIncrefBlock(m_block);
  }
  WeakPtr(WeakPtr&& other) noexcept
      : m_ptr(std::exchange(other.m_ptr, nullptr)), m_block(std::exchange(other.m_block, nullptr)) {}
  ~WeakPtr() { Reset(); }

  WeakPtr& operator=(WeakPtr other) noexcept {
    std::swap(m_ptr, other.m_ptr);
    std::swap(m_block, other.m_block);
    return *this;
  }

  void Reset() noexcept {
    m_ptr = nullptr;
    if (Block* b = std::exchange(m_block, nullptr)) Vorn_BaseClass::_WeakDecrefBlock(b);
  }

  // A strong handle, or empty once the last owner has gone.
  SharedPtr<T> Lock() const noexcept {
    if (!m_block || !Vorn_BaseClass::_TryIncrefBlock(m_block)) return {};
    return SharedPtr<T>::_Adopt(m_ptr);
  }
  bool Expired() const noexcept {
    return !m_block || m_block->object.load() == nullptr || m_block->strong.load() == 0;
  }

private:
  void Assign(T* object) noexcept {
    const Vorn_BaseClass* base = object;
    if (!base || !base->_GetCtrlBlock()) return;
    m_block = base->_GetCtrlBlock();
    m_ptr = object;
    Vorn_BaseClass::_WeakIncrefBlock(m_block);
  }

  T* m_ptr = nullptr;
  Block* m_block = nullptr;
};

}  // namespace Vorn
