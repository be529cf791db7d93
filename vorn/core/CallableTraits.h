#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>

// The call signature of a callable: a function, a function pointer, or a
// class with one (non-template) call operator, such as a lambda.
namespace Vorn {

template <class F, class = void>
struct CallableTraits;

template <class R, class... A>
struct CallableTraits<R(A...)> {
  using Result = R;
  using Signature = R(A...);
  using Args = std::tuple<A...>;
  static constexpr std::size_t kArity = sizeof...(A);
};
template <class R, class... A>
struct CallableTraits<R(A...) noexcept> : CallableTraits<R(A...)> {};
template <class R, class... A>
struct CallableTraits<R (*)(A...)> : CallableTraits<R(A...)> {};
template <class R, class... A>
struct CallableTraits<R (*)(A...) noexcept> : CallableTraits<R(A...)> {};

template <class M>
struct MemberCallTraits;
template <class C, class R, class... A>
struct MemberCallTraits<R (C::*)(A...)> : CallableTraits<R(A...)> {};
template <class C, class R, class... A>
struct MemberCallTraits<R (C::*)(A...) const> : CallableTraits<R(A...)> {};
template <class C, class R, class... A>
struct MemberCallTraits<R (C::*)(A...) noexcept> : CallableTraits<R(A...)> {};
template <class C, class R, class... A>
struct MemberCallTraits<R (C::*)(A...) const noexcept> : CallableTraits<R(A...)> {};

template <class F>
struct CallableTraits<F, std::void_t<decltype(&F::operator())>> : MemberCallTraits<decltype(&F::operator())> {};

template <class F>
using SignatureOf = typename CallableTraits<std::remove_cvref_t<F>>::Signature;

}  // namespace Vorn
