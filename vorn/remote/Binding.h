#pragma once

// The binding layer: a native callable with named parameters becomes the
// underlying function of a remote function.
//
// Arguments are read from the request's JSON object by name, in parameter
// order (unnamed parameters read the members "unnamed_arg_0", "unnamed_arg_1"
// ... by position). Each is converted strictly:
//   bool                 a JSON boolean
//   integer types        a JSON integer, or a double with an integral value,
//                        within the type's range
//   float, double        a JSON number (integer or double)
//   std::string          a JSON string
//   VornJSONValue        any present value (null included)
//   VornJSONObject/Array a JSON object / array (copied; nested shared)
//   std::vector<T>       a JSON array whose every element converts to T
//   std::optional<T>     as T, or absent (std::nullopt)
// Parameters may be taken by value or by const reference.
//
// The reply is called exactly once (never when it is empty):
//   success   {"_func_return": <result>}   (a void callable gives null; the
//             result converts with the table above read backwards)
//   failure   {"error": {"message": <text>, "argument": <name>}}
//             where a missing argument reads "Argument '<name>' is missing
//             (expected <type>)" and a mistyped one "Argument '<name>'
//             must be <type>, got <kind>" (an integer type names its
//             range: "integer in [-2147483648, 2147483647]"; <kind> is the
//             JSON kind received); a Vorn::RemoteError thrown by the
//             callable gives {"error": {"message", "reason", ...its
//             details}}, so that clients learn why (a refused value's
//             "range", "min", "max"...); another standard exception gives
//             its what() as the message and no "argument" member. Other
//             exceptions pass through.
//
// Each parameter's descriptor carries the JSON Schema of the values it
// takes (the table above as a schema: "integer" with the type's minimum and
// maximum, "array" with its "items"...; std::optional parameters are not
// required), and the function the schema of its result, for discovery.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "vorn/core/CallableTraits.h"
#include "vorn/core/Export.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"
#include "vorn/model/ValueConstraints.h"
#include "vorn/remote/RemoteFunction.h"
#include "vorn/runtime/PluginExport.h"

namespace Vorn {

inline constexpr const char* kFuncReturnName = "_func_return";
inline constexpr const char* kUnnamedArgPrefix = "unnamed_arg_";
inline constexpr const char* kUnnamedRetPrefix = "unnamed_ret_";

// {"error": {"message": message[, "argument": argument]}}; the argument
// member is left out when `argument` is empty.
VORN_API VornJSONValue MakeRemoteError(const std::string& message, const std::string& argument = {});
// The JSON word for a value's kind: "undefined", "null", "boolean",
// "number", "integer", "string", "object" or "array".
VORN_API const char* JSONKindName(const VornJSONValue& value) noexcept;

// Thrown by a bound callable to refuse a call with a reason a client can act
// on (a stable word such as "range" or "unknownObject") and the details that
// name what is concerned.
class VORN_API RemoteError : public std::runtime_error {
public:
  RemoteError(std::string reason, const std::string& message, VornJSONObject details = {});
  // A refused value, as the model's checks give it.
  explicit RemoteError(const VornValueRefusal& refusal);
  ~RemoteError() override;
  const std::string& GetReason() const noexcept { return m_reason; }
  const VornJSONObject& GetDetails() const noexcept { return m_details; }
  // {"error": {"message", "reason", ...details}}
  VornJSONValue ToReply() const;

private:
  std::string m_reason;
  VornJSONObject m_details;
};

namespace _Binding_ {

template <class T> struct IsVector : std::false_type {};
template <class T, class A> struct IsVector<std::vector<T, A>> : std::true_type {};
template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};

template <class T>
std::string ExpectedName() {
  if constexpr (std::is_same_v<T, bool>) return "boolean";
  else if constexpr (std::is_integral_v<T>)
    return "integer in [" + std::to_string(std::numeric_limits<T>::min()) + ", " +
           std::to_string(std::numeric_limits<T>::max()) + "]";
  else if constexpr (std::is_floating_point_v<T>) return "number";
  else if constexpr (std::is_same_v<T, std::string>) return "string";
  else if constexpr (std::is_same_v<T, VornJSONObject>) return "object";
  else if constexpr (std::is_same_v<T, VornJSONArray>) return "array";
  else if constexpr (IsVector<T>::value) return "array of " + ExpectedName<typename T::value_type>();
  else if constexpr (IsOptional<T>::value) return ExpectedName<typename T::value_type>();
  else return "any value";
}

// The JSON Schema of the values Read<T> accepts.
template <class T>
VornJSONObject SchemaOf() {
  if constexpr (std::is_same_v<T, bool>) return VornJSONObject{{"type", "boolean"}};
  else if constexpr (std::is_integral_v<T>) {
    VornJSONObject schema{{"type", "integer"}};
    if constexpr (std::is_signed_v<T> || sizeof(T) < sizeof(std::int64_t)) {
      schema.Set("minimum", static_cast<std::int64_t>(std::numeric_limits<T>::min()));
      schema.Set("maximum", static_cast<std::int64_t>(std::numeric_limits<T>::max()));
    } else {
      schema.Set("minimum", 0);
      schema.Set("maximum", static_cast<double>(std::numeric_limits<T>::max()));
    }
    return schema;
  } else if constexpr (std::is_floating_point_v<T>) return VornJSONObject{{"type", "number"}};
  else if constexpr (std::is_same_v<T, std::string>) return VornJSONObject{{"type", "string"}};
  else if constexpr (std::is_same_v<T, VornJSONObject>) return VornJSONObject{{"type", "object"}};
  else if constexpr (std::is_same_v<T, VornJSONArray>) return VornJSONObject{{"type", "array"}};
  else if constexpr (IsVector<T>::value)
    return VornJSONObject{{"type", "array"}, {"items", SchemaOf<typename T::value_type>()}};
  else if constexpr (IsOptional<T>::value) return SchemaOf<typename T::value_type>();
  else return VornJSONObject{};
}

// The schema of what a callable returning R answers (unwrapped).
template <class R>
VornJSONObject ResultSchemaOf() {
  using D = std::remove_cvref_t<R>;
  if constexpr (std::is_void_v<D>) return VornJSONObject{{"type", "null"}};
  else if constexpr (IsOptional<D>::value)
    return VornJSONObject{{"anyOf", VornJSONArray{SchemaOf<typename D::value_type>(), VornJSONObject{{"type", "null"}}}}};
  else return SchemaOf<D>();
}

// Converts `v` into `out`; false when it does not fit.
template <class T>
bool Read(const VornJSONValue& v, T& out) {
  if constexpr (std::is_same_v<T, VornJSONValue>) {
    out = v;
    return true;
  } else if constexpr (std::is_same_v<T, bool>) {
    if (const bool* b = v.GetIfBool()) return out = *b, true;
    return false;
  } else if constexpr (std::is_integral_v<T>) {
    std::int64_t i;
    if (const std::int64_t* p = v.GetIfInt()) {
      i = *p;
    } else if (const double* d = v.GetIfDouble();
               d && *d >= -9.2e18 && *d <= 9.2e18 && static_cast<double>(static_cast<std::int64_t>(*d)) == *d) {
      i = static_cast<std::int64_t>(*d);
    } else {
      return false;
    }
    if (!std::in_range<T>(i)) return false;
    out = static_cast<T>(i);
    return true;
  } else if constexpr (std::is_floating_point_v<T>) {
    if (const double* d = v.GetIfDouble()) return out = static_cast<T>(*d), true;
    if (const std::int64_t* i = v.GetIfInt()) return out = static_cast<T>(*i), true;
    return false;
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (const std::string* s = v.GetIfString()) return out = *s, true;
    return false;
  } else if constexpr (std::is_same_v<T, VornJSONObject>) {
    if (const VornJSONObject* o = v.GetIfObject()) return out = *o, true;
    return false;
  } else if constexpr (std::is_same_v<T, VornJSONArray>) {
    if (const VornJSONArray* a = v.GetIfArray()) return out = *a, true;
    return false;
  } else if constexpr (IsVector<T>::value) {
    const VornJSONArray* a = v.GetIfArray();
    if (!a) return false;
    T result;
    result.reserve(a->size());
    for (const VornJSONValue& element : *a) {
      typename T::value_type item{};
      if (!Read(element, item)) return false;
      result.push_back(std::move(item));
    }
    out = std::move(result);
    return true;
  } else if constexpr (IsOptional<T>::value) {
    typename T::value_type inner{};
    if (!Read(v, inner)) return false;
    out = std::move(inner);
    return true;
  } else {
    static_assert(sizeof(T) == 0, "unsupported remote function parameter type");
  }
}

template <class T>
bool ReadArgument(const VornJSONObject& args, const std::string& name, T& out, VornJSONValue& error) {
  const VornJSONValue& v = args.Get(name);
  if (v.IsUndefined()) {
    if constexpr (IsOptional<T>::value) return true;
    error = MakeRemoteError("Argument '" + name + "' is missing (expected " + ExpectedName<T>() + ")", name);
    return false;
  }
  if (Read(v, out)) return true;
  error = MakeRemoteError("Argument '" + name + "' must be " + ExpectedName<T>() + ", got " + JSONKindName(v), name);
  return false;
}

template <class T>
VornJSONValue ToJSON(T&& value) {
  using D = std::remove_cvref_t<T>;
  if constexpr (std::is_floating_point_v<D>) {
    return VornJSONValue(static_cast<double>(value));
  } else if constexpr (IsVector<D>::value && !std::is_same_v<D, std::vector<bool>>) {
    VornJSONArray array;
    array.Reserve(value.size());
    for (auto& element : value) array.PushBack(ToJSON(element));
    return VornJSONValue(std::move(array));
  } else if constexpr (std::is_same_v<D, std::vector<bool>>) {
    VornJSONArray array;
    for (bool element : value) array.PushBack(VornJSONValue(element));
    return VornJSONValue(std::move(array));
  } else if constexpr (IsOptional<D>::value) {
    return value ? ToJSON(*value) : VornJSONValue(nullptr);
  } else {
    return VornJSONValue(std::forward<T>(value));
  }
}

template <class F, class R, class... A, std::size_t... I>
VornRemoteFunction_V1::UnderlyingFunction MakeUnderlying(F&& callable, std::vector<std::string> names,
                                                         std::index_sequence<I...>) {
  return [callable = std::forward<F>(callable), names = std::move(names)](
             const VornRemoteFunction_V1::Reply& reply, const VornJSONObject& args) mutable {
    (void)args;  // unused by callables without parameters
    std::tuple<std::remove_cvref_t<A>...> values;
    VornJSONValue error;
    if (!(ReadArgument(args, names[I], std::get<I>(values), error) && ...)) {
      if (reply) reply(error);
      return;
    }
    VornJSONValue result;
    try {
      if constexpr (std::is_void_v<R>) {
        callable(std::move(std::get<I>(values))...);
        result = nullptr;
      } else {
        result = ToJSON(callable(std::move(std::get<I>(values))...));
      }
    } catch (const RemoteError& e) {
      error = e.ToReply();
    } catch (const std::exception& e) {
      error = MakeRemoteError(e.what());
    }
    // The reply runs outside the try block: its own failure is the host's.
    // An empty reply means nobody waits for the answer.
    if (!reply) return;
    if (!error.IsUndefined()) return reply(error);
    reply(VornJSONValue(VornJSONObject{{kFuncReturnName, std::move(result)}}));
  };
}

template <class R, class... A>
struct Binder {
  template <class F>
  static auto Bind(F&& callable, const std::vector<std::string>& argumentNames) {
    std::vector<std::string> names;
    std::vector<VornRemoteFunction_V1::ParameterDescriptor> descriptors;
    const std::uint64_t keys[] = {0, Vorn::TypeKey<std::remove_cvref_t<A>>()...};
    const VornJSONObject schemas[] = {VornJSONObject(), SchemaOf<std::remove_cvref_t<A>>()...};
    const bool isOptional[] = {false, IsOptional<std::remove_cvref_t<A>>::value...};
    for (std::size_t i = 0; i < sizeof...(A); ++i) {
      names.push_back(i < argumentNames.size() && !argumentNames[i].empty() ? argumentNames[i]
                                                                          : kUnnamedArgPrefix + std::to_string(i));
      descriptors.push_back({names.back(), keys[i + 1], schemas[i + 1], !isOptional[i + 1]});
    }
    return std::make_tuple(MakeUnderlying<F, R, A...>(std::forward<F>(callable), std::move(names),
                                                      std::index_sequence_for<A...>{}),
                           std::move(descriptors), VornJSONValue(ResultSchemaOf<R>()));
  }
};
template <class Sig> struct BinderOf;
template <class R, class... A> struct BinderOf<R(A...)> : Binder<R, A...> {};

}  // namespace _Binding_

// The underlying function, parameter descriptors and result schema for `callable`, whose
// parameters read the members named by `argumentNames`, in order (names
// missing or empty: "unnamed_arg_" + position; extra names are ignored).
template <class F>
auto BindRemoteCallable(F&& callable, const std::vector<std::string>& argumentNames) {
  return _Binding_::BinderOf<SignatureOf<F>>::Bind(std::forward<F>(callable), argumentNames);
}

}  // namespace Vorn

template <class F>
void VornRemoteFunction_V1::_Bind(F&& callable) {
  auto [function, parameters, result] = Vorn::BindRemoteCallable(std::forward<F>(callable), m_argumentNames);
  _SetUnderlyingFunction(std::move(function), std::move(parameters), std::move(result));
}

// A remote function made from a callable, for objects that fill their own
// function tables: Vorn::MakeRemoteFunction("add", {"a", "b"}, [](int a, int b) { return a + b; }).
class VORN_API VornBoundRemoteFunction final : public VornRemoteFunction_V1 {
public:
  template <class F>
  VornBoundRemoteFunction(const std::string& name, const std::vector<std::string>& argumentNames, F&& callable)
      : VornRemoteFunction_V1(name, false, argumentNames) {
    _Bind(std::forward<F>(callable));
  }
  ~VornBoundRemoteFunction() override;
};

namespace Vorn {
template <class F>
std::shared_ptr<VornRemoteFunction_V1> MakeRemoteFunction(const std::string& name,
                                                          const std::vector<std::string>& argumentNames, F&& callable) {
  return std::make_shared<VornBoundRemoteFunction>(name, argumentNames, std::forward<F>(callable));
}
}  // namespace Vorn

// In a plug-in library: defines the remote function class `Name` from a
// callable and exports it, so that clients call it by library and name.
//   VORN_EXPORT_REMOTE_FUNCTION(Add, [](int a, int b) { return a + b; }, "a", "b")
#define VORN_EXPORT_REMOTE_FUNCTION(Name, Callable, ...)                          \
  namespace {                                                                      \
  class Name final : public VornRemoteFunction_V1 {                               \
  public:                                                                          \
    Name() : VornRemoteFunction_V1(#Name, false, {__VA_ARGS__}) { _Bind(Callable); } \
  };                                                                               \
  }                                                                                \
  VORN_EXPORT_PLUGIN_CLASS(VornRemoteFunction_V1, Name)
