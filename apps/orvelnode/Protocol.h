#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/json/Object.h"
#include "vorn/json/Value.h"

namespace orvel {

// Every error the host sends: {"code", "message", "data": {"reason",
// "message", ...}}. The reason is a stable word; each reason belongs to one
// code (ReasonCode), and each code has one meaning (docs/protocol.md).
struct RpcError {
  int code = 0;
  std::string message;
  std::string reason;
  VornJSONObject data;  // what is concerned, besides reason and message
};

// The code of one of the host's reasons; 0 for a word that is not one.
int ReasonCode(std::string_view reason);
// The host's reasons with their codes, in the order the docs list them.
struct ReasonEntry {
  const char* reason;
  int code;
};
const std::vector<ReasonEntry>& Reasons();

// An error of `reason` (which must be one of the host's) with its code.
RpcError MakeError(const char* reason, std::string message, VornJSONObject data = {});

// Response texts, the id written as given.
std::string ResultText(const std::string& idText, const VornJSONValue& result);
std::string ErrorText(const std::string& idText, const RpcError& error);

// The kinds of the host methods' named parameters.
enum class ParamKind { String, Boolean, Integer, Strings, Object, Any };

struct ParamSpec {
  const char* name;
  ParamKind kind;
  bool required;
  const char* description;
};

// The JSON Schema of a parameter kind.
VornJSONObject ParamSchema(ParamKind kind);

// The one parameter reader: checks `params` (an object, an array or
// undefined) against the method's parameters: named only, no unknown name,
// every required one present, each of its kind. The error names the
// parameter and what was expected.
std::optional<RpcError> CheckParams(const std::string& method, const std::vector<ParamSpec>& specs,
                                    const VornJSONValue& params);

}  // namespace orvel
