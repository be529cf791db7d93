#pragma once

// Pieces the orvelnode benchmark programs share: the request they send,
// orvelnode serving its standard input and output, and requests pipelined
// through it.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "ChildProcess.h"

namespace vorn_bench {

// Why orvelnode cannot be run from here (empty when it can): its
// executable or a plug-in the manifests load is not built. Checked first so
// that a run stops with this instead of a timeout.
inline std::string MissingPieces() {
  for (const char* file : {ORVELNODE, SAMPLE_PLUGIN, BASIC_TWEAKERS_PLUGIN})
    if (access(file, F_OK) != 0)
      return std::string(file) + " not found: build the orvelnode, orvel_sample and vorn_basic_tweakers targets";
  return {};
}

// A host that ended (or never started) makes writes fail instead of
// killing the benchmark with SIGPIPE.
inline void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

// A call of the sample context's "echo" function (no line feed): it goes
// through the library's remote-call path and changes nothing. Answers are
// the function's value ("result":"ping"), and a client that did not call
// vorn.connect hears no notifications, so each call brings one line.
inline std::string EchoCall(long id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"vorn.callObject","params":{"namespace":"sample","object":"demo","function":"echo","arguments":{"text":"ping"}}})";
}

// orvelnode with a manifest (the sample's by default) on standard input and
// output only; `ready` once it answered a first request within `startup`
// (a large manifest takes longer to load), `error` otherwise.
struct StdioNode {
  explicit StdioNode(const std::string& manifest = SAMPLE_MANIFEST,
                     std::chrono::milliseconds startup = std::chrono::seconds(20))
      : error((IgnoreBrokenPipes(), MissingPieces())), node({ORVELNODE, manifest}) {
    if (!error.empty()) return;
    node.WriteLine(R"({"jsonrpc":"2.0","id":0,"method":"vorn.listContexts"})");
    const auto answer = node.ReadLine(startup);
    ready = answer && answer->find("\"result\":") != std::string::npos;
    if (!ready) error = "orvelnode did not answer a first request with " + manifest + " (its standard error tells why)";
  }
  ~StdioNode() {
    node.CloseInput();
    node.Wait();
  }
  std::string error;  // before the node: set first
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
