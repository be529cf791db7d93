#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/core/TypeInfo.h"

namespace Vorn {

namespace _Internal_ {
inline constexpr const char* kEmptyFunctionMessage = "[Vorn::Function] Attempt to invoke empty function!";
}

template <class Signature>
class Function;

// The library's type-erased callable. Small trivially copyable callables
// (bound methods, captureless or pointer-capturing lambdas) live in a 48-byte
// inline buffer; others are copied to the heap; plain function pointers are
// kept as they are.
//
// Calling an empty function reports "[Vorn::Function] Attempt to invoke empty
// function!" and calls nothing. With the exceptions switch off it then returns
// a value-initialised result (for a reference result: a reference to a
// shared, value-initialised object that must not be written through).
template <class R, class... Args>
class Function<R(Args...)> {
  static constexpr std::size_t kStorageSize = 48;

  struct Storage {
    alignas(std::max_align_t) unsigned char bytes[kStorageSize];
  };

  struct Ops {
    R (*invoke)(void* target, Args&&... args);
    void (*copy)(Storage& destination, const Function& source);
    void (*move)(Storage& destination, Function& source) noexcept;
    void (*destroy)(Storage& storage) noexcept;
    const TypeInfo& (*typeInfo)() noexcept;
    void* (*target)(Storage& storage) noexcept;
  };

  template <class F>
  static constexpr bool kInline = std::is_trivially_copyable_v<F> && sizeof(F) <= kStorageSize &&
                                  alignof(F) <= alignof(std::max_align_t);

  template <class F>
  static const Ops* OpsFor() noexcept {
    if constexpr (kInline<F>) {
      static const Ops ops{
          [](void* t, Args&&... a) -> R { return (*static_cast<F*>(t))(std::forward<Args>(a)...); },
          [](Storage& d, const Function& s) { std::memcpy(d.bytes, s.m_storage.bytes, sizeof(F)); },
          [](Storage& d, Function& s) noexcept { std::memcpy(d.bytes, s.m_storage.bytes, sizeof(F)); },
          [](Storage&) noexcept {},
          []() noexcept -> const TypeInfo& { return GetTypeInfo<F>(); },
          [](Storage& s) noexcept -> void* { return s.bytes; }};
      return &ops;
    } else {
      static const Ops ops{
          [](void* t, Args&&... a) -> R { return (*static_cast<F*>(t))(std::forward<Args>(a)...); },
          [](Storage& d, const Function& s) { HeapSlot(d) = new F(*static_cast<const F*>(s.m_target)); },
          [](Storage& d, Function& s) noexcept { HeapSlot(d) = std::exchange(HeapSlot(s.m_storage), nullptr); },
          [](Storage& s) noexcept { delete static_cast<F*>(std::exchange(HeapSlot(s), nullptr)); },
          []() noexcept -> const TypeInfo& { return GetTypeInfo<F>(); },
          [](Storage& s) noexcept -> void* { return HeapSlot(s); }};
      return &ops;
    }
  }

  template <class FP>
  static const Ops* OpsForPointer() noexcept {
    static const Ops ops{
        [](void* t, Args&&... a) -> R { return reinterpret_cast<FP>(t)(std::forward<Args>(a)...); },
        nullptr,
        nullptr,
        nullptr,
        []() noexcept -> const TypeInfo& { return GetTypeInfo<FP>(); },
        nullptr};
    return &ops;
  }

  static void*& HeapSlot(Storage& s) noexcept { return *std::launder(reinterpret_cast<void**>(s.bytes)); }

public:
  using result_type = R;

  // A method of T bound to an object.
  template <class T, class M>
  struct _BoundMethod {
    T* object;
    M method;
    R operator()(Args... args) const { return (object->*method)(std::forward<Args>(args)...); }
  };

  Function() noexcept = default;
  Function(std::nullptr_t) noexcept {}

  Function(R (*function)(Args...)) noexcept {
    if (function) {
      m_target = reinterpret_cast<void*>(function);
      m_ops = OpsForPointer<R (*)(Args...)>();
    }
  }

  template <class F, class D = std::decay_t<F>,
            class = std::enable_if_t<!std::is_same_v<D, Function> && !std::is_pointer_v<D> &&
                                     std::is_invocable_r_v<R, D&, Args...>>>
  Function(F&& callable) {
    if constexpr (kInline<D>) {
      ::new (static_cast<void*>(m_storage.bytes)) D(std::forward<F>(callable));
      m_target = m_storage.bytes;
    } else {
      m_target = HeapSlot(m_storage) = new D(std::forward<F>(callable));
    }
    m_ops = OpsFor<D>();
    m_managed = true;
  }

  // Binds `method` of `object`; calls go to object->*method.
  template <class T, class M>
  static Function Bind(T* object, M method) {
    return Function(_BoundMethod<T, M>{object, method});
  }

  Function(const Function& other) : m_target(other.m_target), m_ops(other.m_ops), m_managed(other.m_managed) {
    if (m_ops && m_managed) {
      m_ops->copy(m_storage, other);
      m_target = m_ops->target(m_storage);
    }
  }

  Function(Function&& other) noexcept { MoveFrom(other); }

  ~Function() { Clear(); }

  Function& operator=(const Function& other) {
    if (this != &other) {
      Function copy(other);
      Clear();
      MoveFrom(copy);
    }
    return *this;
  }
  Function& operator=(Function&& other) noexcept {
    if (this != &other) {
      Clear();
      MoveFrom(other);
    }
    return *this;
  }
  Function& operator=(std::nullptr_t) noexcept {
    Clear();
    return *this;
  }

  R operator()(Args... args) const {
    if (!m_ops) {
      RaiseError(_Internal_::kEmptyFunctionMessage);
      if constexpr (std::is_void_v<R>) {
        return;
      } else if constexpr (std::is_reference_v<R>) {
        static std::remove_reference_t<R> s_default{};
        return static_cast<R>(s_default);
      } else {
        return R{};
      }
    }
    return m_ops->invoke(m_target, std::forward<Args>(args)...);
  }

  bool IsEmpty() const noexcept { return m_ops == nullptr; }
  explicit operator bool() const noexcept { return m_ops != nullptr; }

  // Type of the stored callable; key 0 for an empty function.
  TypeInfo GetTargetTypeInfo() const noexcept { return m_ops ? m_ops->typeInfo() : TypeInfo{}; }

private:
  void Clear() noexcept {
    if (m_ops && m_managed) m_ops->destroy(m_storage);
    m_target = nullptr;
    m_ops = nullptr;
    m_managed = false;
  }

  // Takes over `source`'s callable (this function is empty) and empties it.
  void MoveFrom(Function& source) noexcept {
    m_target = source.m_target;
    m_ops = source.m_ops;
    m_managed = source.m_managed;
    if (m_ops && m_managed) {
      m_ops->move(m_storage, source);
      m_target = m_ops->target(m_storage);
    }
    source.Clear();
  }

  Storage m_storage;
  void* m_target = nullptr;
  const Ops* m_ops = nullptr;
  bool m_managed = false;
};

}  // namespace Vorn
