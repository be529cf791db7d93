#include "Protocol.h"

#include <algorithm>

#include "vorn/json/Array.h"

namespace orvel {

const std::vector<ReasonEntry>& Reasons() {
  static const std::vector<ReasonEntry> reasons = {
      {"parse", -32700},         {"encoding", -32700},       {"invalidRequest", -32600}, {"tooLarge", -32600},
      {"unknownMethod", -32601}, {"params", -32602},         {"argument", -32602},       {"type", -32602},
      {"range", -32602},         {"step", -32602},           {"choice", -32602},         {"readOnly", -32602},
      {"refused", -32602},       {"unknownObject", -32001},  {"unknownFunction", -32002}, {"callFailed", -32003},
      {"shuttingDown", -32004},  {"unknownContext", -32005}, {"unknownView", -32006},    {"unknownTweaker", -32007},
      {"unknownLibrary", -32008}, {"timeout", -32009},
  };
  return reasons;
}

int ReasonCode(std::string_view reason) {
  for (const ReasonEntry& entry : Reasons())
    if (reason == entry.reason) return entry.code;
  return 0;
}

RpcError MakeError(const char* reason, std::string message, VornJSONObject data) {
  return RpcError{ReasonCode(reason), std::move(message), reason, std::move(data)};
}

std::string ResultText(const std::string& idText, const VornJSONValue& result) {
  std::string out = "{\"jsonrpc\":\"2.0\",\"id\":";
  out += idText;
  out += ",\"result\":";
  if (result.IsUndefined()) out += "null";
  else result.AppendJSON(out);
  out += '}';
  return out;
}

std::string ErrorText(const std::string& idText, const RpcError& error) {
  // Written straight out: every refusal passes here, and building the
  // answer as objects first cost more than the rest of a refusal.
  std::string out;
  out.reserve(256);  // most refusals fit
  out += "{\"jsonrpc\":\"2.0\",\"id\":";
  out += idText;
  out += ",\"error\":{\"code\":";
  out += std::to_string(error.code);
  out += ",\"message\":";
  VornJSONValue::AppendJSONString(out, error.message);
  out += ",\"data\":{\"reason\":";
  VornJSONValue::AppendJSONString(out, error.reason);
  out += ",\"message\":";
  VornJSONValue::AppendJSONString(out, error.message);
  for (const auto& [key, value] : error.data) {
    if (key == "reason" || key == "message" || value.IsUndefined()) continue;
    out += ',';
    VornJSONValue::AppendJSONString(out, key);
    out += ':';
    value.AppendJSON(out);
  }
  out += "}}}";
  return out;
}

VornJSONObject ParamSchema(ParamKind kind) {
  switch (kind) {
    case ParamKind::String: return VornJSONObject{{"type", "string"}};
    case ParamKind::Boolean: return VornJSONObject{{"type", "boolean"}};
    case ParamKind::Integer: return VornJSONObject{{"type", "integer"}};
    case ParamKind::Strings: return VornJSONObject{{"type", "array"}, {"items", VornJSONObject{{"type", "string"}}}};
    case ParamKind::Object: return VornJSONObject{{"type", "object"}};
    case ParamKind::Any: break;
  }
  return {};
}

namespace {

bool OfKind(const VornJSONValue& value, ParamKind kind) {
  switch (kind) {
    case ParamKind::String: return value.IsString();
    case ParamKind::Boolean: return value.IsBool();
    case ParamKind::Integer: return value.IsInt();
    case ParamKind::Object: return value.IsObject();
    case ParamKind::Any: return true;
    case ParamKind::Strings: {
      const VornJSONArray* array = value.GetIfArray();
      return array && std::all_of(array->begin(), array->end(), [](const VornJSONValue& v) { return v.IsString(); });
    }
  }
  return false;
}

const char* KindWords(ParamKind kind) {
  switch (kind) {
    case ParamKind::String: return "a string";
    case ParamKind::Boolean: return "a boolean";
    case ParamKind::Integer: return "an integer";
    case ParamKind::Strings: return "an array of strings";
    case ParamKind::Object: return "an object";
    case ParamKind::Any: break;
  }
  return "a value";
}

std::string Names(const std::vector<ParamSpec>& specs) {
  std::string names;
  for (const ParamSpec& param : specs) names += (names.empty() ? "" : ", ") + std::string(param.name);
  return names.empty() ? "no parameters" : names;
}

}  // namespace

std::optional<RpcError> CheckParams(const std::string& method, const std::vector<ParamSpec>& specs,
                                    const VornJSONValue& params) {
  auto refuse = [&](const std::string& param, const std::string& what) {
    return MakeError("params", "Invalid params: \"" + param + "\" " + what, VornJSONObject{{"param", param}});
  };
  if (params.IsArray())
    return MakeError("params", "Invalid params: " + method + " takes named params (" + Names(specs) + "), pass an object");
  const VornJSONObject empty;
  const VornJSONObject& given = params.IsObject() ? *params.GetIfObject() : empty;
  // One pass over what was given finds each param's value; methods take a
  // handful of params, so a small table on the stack holds them.
  // (Params past that are looked up by name.)
  constexpr std::size_t kMost = 16;
  const VornJSONValue* found[kMost] = {};
  static const VornJSONValue kAbsent;
  for (const auto& [name, value] : given) {
    const auto known = std::find_if(specs.begin(), specs.end(), [&](const ParamSpec& p) { return name == p.name; });
    if (known == specs.end())
      return refuse(name, "is not a parameter of " + method + " (it takes " + Names(specs) + ")");
    if (const auto i = static_cast<std::size_t>(known - specs.begin()); i < kMost) found[i] = &value;
  }
  for (std::size_t i = 0; i < specs.size(); ++i) {
    const ParamSpec& param = specs[i];
    const VornJSONValue& value = i >= kMost ? given.Get(param.name) : found[i] ? *found[i] : kAbsent;
    if (value.IsUndefined()) {
      if (param.required) return refuse(param.name, std::string("is missing (") + KindWords(param.kind) + ")");
      continue;
    }
    if (!OfKind(value, param.kind)) return refuse(param.name, std::string("must be ") + KindWords(param.kind));
  }
  return std::nullopt;
}

}  // namespace orvel
