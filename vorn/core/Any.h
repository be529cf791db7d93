#pragma once

#include <concepts>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/TypeInfo.h"

namespace Vorn {

// How VornAny compares two stored values of the same type T. The default uses
// T's operator== when it has one and otherwise treats distinct holders as
// different; types with their own identity rules specialise this, and
// handles follow the rules registered below.
template <class T>
struct AnyEquality {
  static bool Equal(const T& a, const T& b) {
    if constexpr (std::equality_comparable<T>)
      return static_cast<bool>(a == b);
    else
      return &a == &b;
  }
};

// Opt-in for handles: how VornAny compares two std::shared_ptr<T> (and two
// vectors of them, element by element). By default by address, as the
// handles' own ==. A type whose objects carry an identity of their own
// registers its rule once, while the library or plug-in defining it loads:
//   bool SameObject(const T* a, const T* b);  // either may be null
//   [[maybe_unused]] const bool registered = Vorn::SetAnyHandleEquality<T, &SameObject>();
// A rule found at run time rather than a trait chosen at compile time:
// handles are stored where only a declaration of T is in sight (the value
// types registry keeps a model-object handle as a sample), and every copy of
// the holder's code must compare alike.
namespace _Internal_ {
using HandleEqualityFn = bool (*)(const void* a, const void* b);
VORN_API void SetHandleEquality(unsigned long long pointeeKey, HandleEqualityFn equal);
// The rule registered for the pointee type of key `pointeeKey`, or null.
VORN_API HandleEqualityFn FindHandleEquality(unsigned long long pointeeKey);

template <class T>
using HandlePointee = typename std::shared_ptr<T>::element_type;
}  // namespace _Internal_

template <class T, bool (*Equal)(const T*, const T*)>
bool SetAnyHandleEquality() {
  _Internal_::SetHandleEquality(TypeKey<T>(), [](const void* a, const void* b) {
    return Equal(static_cast<const T*>(a), static_cast<const T*>(b));
  });
  return true;
}

template <class T>
struct AnyEquality<std::shared_ptr<T>> {
  static bool Equal(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    const auto equal = _Internal_::FindHandleEquality(TypeKey<_Internal_::HandlePointee<T>>());
    return equal ? equal(a.get(), b.get()) : a == b;
  }
};
template <class T, class Allocator>
struct AnyEquality<std::vector<std::shared_ptr<T>, Allocator>> {
  static bool Equal(const std::vector<std::shared_ptr<T>, Allocator>& a,
                    const std::vector<std::shared_ptr<T>, Allocator>& b) {
    if (a.size() != b.size()) return false;
    const auto equal = _Internal_::FindHandleEquality(TypeKey<_Internal_::HandlePointee<T>>());
    for (std::size_t i = 0; i < a.size(); ++i)
      if (equal ? !equal(a[i].get(), b[i].get()) : a[i] != b[i]) return false;
    return true;
  }
};

namespace _Internal_ {
VORN_API void ReportAnyTypeMismatch(std::string_view requested, std::string_view stored);
}  // namespace _Internal_

}  // namespace Vorn

// Type-erased value holder keyed by Vorn::TypeInfo (no run-time type
// information needed). Copying clones the stored value. Not synchronised:
// concurrent reads are safe, writes need the owner's lock.
class VornJSONValue;

class VORN_API VornAny {
public:
  static constexpr bool _IsVornClass_ = true;

  class RawBase {
  public:
    virtual ~RawBase() = default;
    virtual void* _Query() const { return nullptr; }
    virtual Vorn::TypeInfo GetTypeInfo() const = 0;
    virtual std::unique_ptr<RawBase> Clone() const = 0;
    virtual bool IsEqualTo(const RawBase& other) const = 0;
    virtual const void* GetValuePtr() const = 0;
    virtual void* GetValuePtr() = 0;
  };

  template <class T>
  class RawValue final : public RawBase {
  public:
    template <class... Args>
    explicit RawValue(Args&&... args) : m_value(std::forward<Args>(args)...) {}
    Vorn::TypeInfo GetTypeInfo() const override { return Vorn::GetTypeInfo<T>(); }
    std::unique_ptr<RawBase> Clone() const override { return std::make_unique<RawValue>(m_value); }
    bool IsEqualTo(const RawBase& other) const override {
      if (other.GetTypeInfo().key != Vorn::TypeKey<T>()) return false;
      return Vorn::AnyEquality<T>::Equal(m_value, *static_cast<const T*>(other.GetValuePtr()));
    }
    const void* GetValuePtr() const override { return &m_value; }
    void* GetValuePtr() override { return &m_value; }

  private:
    T m_value;
  };

  VornAny() noexcept = default;
  // A C string is stored as std::string; null gives an empty string.
  VornAny(const char* text) : m_raw(std::make_unique<RawValue<std::string>>(text ? text : "")) {}
  template <class T, class D = std::decay_t<T>,
            class = std::enable_if_t<!std::is_base_of_v<VornAny, D> && !std::is_same_v<D, const char*> &&
                                     !std::is_same_v<D, char*>>>
  VornAny(T&& value) : m_raw(std::make_unique<RawValue<D>>(std::forward<T>(value))) {}

  VornAny(const VornAny& other) : m_raw(other.m_raw ? other.m_raw->Clone() : nullptr) {}
  VornAny(VornAny&& other) noexcept = default;
  VornAny& operator=(const VornAny& other) {
    if (this != &other) m_raw = other.m_raw ? other.m_raw->Clone() : nullptr;
    return *this;
  }
  VornAny& operator=(VornAny&& other) noexcept {
    if (this != &other) m_raw = std::move(other.m_raw);
    return *this;
  }
  virtual ~VornAny() = default;

  static VornAny Copy(const VornAny& other) { return VornAny(other); }

  void Reset() noexcept { m_raw.reset(); }
  void Swap(VornAny& other) noexcept { m_raw.swap(other.m_raw); }

  bool HasRawValue() const noexcept { return m_raw != nullptr; }
  const void* GetRawVoidPtr() const noexcept { return m_raw ? m_raw->GetValuePtr() : nullptr; }
  Vorn::TypeInfo GetTypeInfo() const { return m_raw ? m_raw->GetTypeInfo() : Vorn::TypeInfo{}; }
  unsigned long long GetTypeKey() const { return GetTypeInfo().key; }
  std::string_view GetTypeName() const { return GetTypeInfo().name; }

  template <class T>
  bool Holds() const {
    return m_raw && m_raw->GetTypeInfo().key == Vorn::TypeKey<T>();
  }

  // The stored T. On a type mismatch (or an empty holder) the mismatch is
  // reported and a reference to a shared, value-initialised T is returned;
  // never write through it.
  template <class T>
  const T& GetRawValue() const {
    if (Holds<T>()) return *static_cast<const T*>(m_raw->GetValuePtr());
    Vorn::_Internal_::ReportAnyTypeMismatch(Vorn::RawTypeName<T>(), GetTypeName());
    static const T s_default{};
    return s_default;
  }

  // The stored value as JSON: strings, booleans, doubles, ints, null and
  // vectors of those convert; anything else, and an empty holder, gives
  // undefined. (Defined with the JSON model.)
  VornJSONValue ToJSON() const;

  bool operator==(const VornAny& other) const { return IsEqualTo(other); }
  bool IsEqualTo(const VornAny& other) const;
  bool IsEqualTo(const VornAny* other) const { return other && IsEqualTo(*other); }
  bool IsEqualTo(const std::shared_ptr<VornAny>& other) const { return other && IsEqualTo(*other); }

  // True when both hold values of the same type. With `reportError`, a
  // mismatch or an empty side is reported.
  bool IsOfSameType(const VornAny& other, bool reportError) const;
  bool IsOfSameType(const VornAny* other, bool reportError) const;
  bool IsOfSameType(const std::shared_ptr<VornAny>& other, bool reportError) const;

protected:
  const RawBase* _GetRaw() const noexcept { return m_raw.get(); }
  RawBase* _GetRaw() noexcept { return m_raw.get(); }

private:
  std::unique_ptr<RawBase> m_raw;
};
