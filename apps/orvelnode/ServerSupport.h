#pragma once

// What the server's files share: the records of a message and a call, and
// small helpers. Internal to orvelnode's server.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "RpcServer.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"

class VornBaseView;
class VornModelObject;

namespace orvel {

// One message as received: its responses are sent together once every
// request in it is answered.
struct RpcServer::Message {
  std::uint64_t peer = 0;
  bool batch = false;
  std::vector<std::string> responses;  // empty text: no response (a notification)
  std::size_t pending = 0;
};

// One request, from dispatch to its answer.
struct RpcServer::Call {
  std::uint64_t id = 0;
  std::shared_ptr<Message> message;
  std::size_t slot = 0;
  std::string idText;
  bool answered = false;
  VornJSONValue value;      // the answer received while the function ran
  std::uint32_t timeout = 0;
  VornJSONObject concerned;  // the function called, named in its errors
};

// What a method is given.
struct RpcServer::Request {
  std::uint64_t peer = 0;
  Peer* channel = nullptr;
  const std::string& method;
  const VornJSONValue& params;  // an object, an array or undefined
  std::shared_ptr<Call> call;

  // The named params (empty when none were given).
  const VornJSONObject& Named() const {
    static const VornJSONObject empty;
    return params.IsObject() ? *params.GetIfObject() : empty;
  }
  const std::string& String(const char* name) const { return *Named().Get(name).GetIfString(); }
};

// Parses one message; undefined (with the parser's report in `error`) when
// it is not JSON.
VornJSONValue ParseMessage(std::string_view text, std::string& error);

// The context's data tree, or the unknownContext error.
std::shared_ptr<VornModelObject> TreeOf(const std::string& context, RpcError& error);

// The context's view (its first one when `view` is empty), or the
// unknownContext/unknownView error.
std::shared_ptr<VornBaseView> ViewOf(const std::string& context, const std::string& view, RpcError& error);

}  // namespace orvel
