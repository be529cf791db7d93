#pragma once

// Pieces the orvelnode benchmark programs share: the request they send,
// orvelnode serving its standard input and output, and requests pipelined
// through it.

#include <chrono>
#include <string>

#include "ChildProcess.h"

namespace vorn_bench {

// A call of the sample context's "echo" function (no line feed): it goes
// through the library's remote-call path and changes nothing, so it brings
// no notifications with its answer.
inline std::string EchoCall(long id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"vorn.callObject","params":{"namespace":"sample","object":"demo","function":"echo","arguments":{"text":"ping"}}})";
}

// orvelnode with the sample manifest on standard input and output only;
// `ready` once it answered a first call.
struct StdioNode {
  StdioNode() : node({ORVELNODE, SAMPLE_MANIFEST}) {
    node.WriteLine(EchoCall(0));
    ready = node.ReadLine(std::chrono::seconds(20)).has_value();
  }
  ~StdioNode() {
    node.CloseInput();
    node.Wait();
  }
  orvel::ChildProcess node;
  bool ready = false;
};

struct PipelineResult {
  long answered = 0;
  long errors = 0;  // answers that were not results
};

// Sends `count` requests, `request(id)` for ids from `firstId` on, with at
// most `window` unanswered, and reads as many lines back; stops early when
// an answer does not come.
template <class MakeRequest>
PipelineResult Pipeline(orvel::ChildProcess& node, long count, long window, long firstId, MakeRequest request) {
  PipelineResult result;
  long sent = 0;
  std::string burst;
  while (result.answered < count) {
    burst.clear();
    while (sent < count && sent - result.answered < window) (burst += request(firstId + sent++)) += '\n';
    if (!burst.empty() && !node.Write(burst)) break;
    const auto answer = node.ReadLine();
    if (!answer) break;
    ++result.answered;
    if (answer->find("\"result\":") == std::string::npos) ++result.errors;
  }
  return result;
}

}  // namespace vorn_bench
