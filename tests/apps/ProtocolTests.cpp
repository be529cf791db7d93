// The protocol as a client author meets it: the sample host loaded in
// process from its manifest and served through fake peers.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <iterator>
#include <string>
#include <vector>

#include "FakePeer.h"
#include "Host.h"
#include "Manifest.h"
#include "RpcServer.h"
#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/host/Binary.h"
#include "vorn/json/Array.h"
#include "vorn/json/Parser.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/remote/Binding.h"
#include "vorn/remote/CommunicationManager.h"

namespace {

VornJSONValue Json(const std::string& text) { return VornJSONParser::ParseText(text, false); }
std::string At(const VornJSONValue& value, std::initializer_list<std::string> path) {
  return value.GetFromPath(std::vector<std::string>(path)).ToString();
}

// A remote object whose function fails the way plug-in code fails: by
// throwing; it publishes events of its own too.
class Failing final : public VornRemoteObject {
public:
  Failing() : VornRemoteObject("obj", "test") {
    _AddRemoteFunction("fails", Vorn::MakeRemoteFunction("fails", {}, []() -> int { throw std::runtime_error("disk full"); }));
  }
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }
  void Register() { _RegisterRemoteObject(); }
  void Tell(const VornJSONValue& data) { _PublishRemoteEvent("told", data); }
  void Send(const OVK::Binary& data) { _PublishRemoteEvent("sent", data); }
};

class Protocol : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static bool started = false;
    if (started) return;
    started = true;
    orvel::StartHost(orvel::Manifest::Load(SAMPLE_MANIFEST), {PLUGIN_DIR});
    // An integer on a grid of 5, for the step rule.
    VornValuesByString tick;
    for (auto [key, value] : {std::pair<const char*, VornValue>{"id", std::string("tick")}, {"type", std::string("integer")},
                              {"min", 0}, {"step", 5}, {"value", 0}})
      tick.try_emplace(key, value);
    VornDataManager::GetTree("demo")->GetChildren().front()->AddChild(tick);
    failing = std::make_shared<Failing>();
    failing->Register();
  }
  static inline std::shared_ptr<Failing> failing;
  void SetUp() override {
    server.WatchContexts();
    server.Open(&a);
    server.Open(&b);
  }
  void TearDown() override {
    server.Close(&a);
    server.Close(&b);
  }

  // The response to one request; notifications to `peer` are kept apart.
  VornJSONValue Ask(FakePeer& peer, const std::string& method, const std::string& params = "") {
    const std::string text = R"({"jsonrpc":"2.0","id":1,"method":")" + method + "\"" +
                             (params.empty() ? "" : ",\"params\":" + params) + "}";
    return Send(peer, text);
  }
  VornJSONValue Send(FakePeer& peer, const std::string& text) {
    server.Handle(&peer, text);
    VornJSONValue response;
    for (FakePeer* each : {&a, &b}) {
      for (std::size_t& i = read[each]; i < each->sent.size(); ++i) {
        VornJSONValue message = Json(each->sent[i]);
        // Compact, and no key twice (a client's parser may keep either).
        EXPECT_EQ(message.Stringify(), each->sent[i]);
        if (message.GetFromPath({"method"}).IsString()) notes[each].push_back(message);
        else if (each == &peer) response = message;
      }
    }
    return response;
  }

  orvel::RpcServer server{[] {}, {.maxBatch = 2}};
  FakePeer a{"a"}, b{"b"};
  std::map<FakePeer*, std::vector<VornJSONValue>> notes;
  std::map<FakePeer*, std::size_t> read;
};

TEST_F(Protocol, EachErrorReasonHasItsCodeAndNamesWhatIsConcerned) {
  struct Row {
    std::string method, params, reason, concerned;  // concerned: a member data must hold
  };
  const Row rows[] = {
      {"vorn.nope", "", "unknownMethod", "method"},
      {"no.such.thing", "", "unknownMethod", "method"},
      {"vorn.getTree", "{}", "params", "param"},
      {"vorn.getTree", R"({"context":"demo","extra":1})", "params", "param"},
      {"vorn.describeView", R"({"context":"demo","limit":1.5})", "params", "param"},
      {"vorn.describeView", R"({"context":"demo","limit":2001})", "params", "param"},
      {"vorn.connect", R"({"contexts":[1]})", "params", "param"},
      {"sample.demo.echo", R"(["hi","more"])", "params", "param"},
      {"sample.demo.setValue", R"({"id":5,"value":1})", "argument", "argument"},
      {"vorn.setValue", R"({"context":"demo","object":"angle","value":"forty"})", "type", "expected"},
      {"vorn.setValue", R"({"context":"demo","object":"angle","value":500})", "range", "max"},
      {"vorn.setValue", R"({"context":"demo","object":"tick","value":7})", "step", "step"},
      {"vorn.editTweaker", R"({"context":"demo","object":"material","value":"wood"})", "choice", "possibleValues"},
      {"sample.demo.setValue", R"(["serial","x"])", "readOnly", "object"},
      {"vorn.setValue", R"({"context":"demo","object":"ghost","value":1})", "unknownObject", "object"},
      {"vorn.callObject", R"({"namespace":"sample","object":"ghost","function":"echo"})", "unknownObject", "object"},
      {"vorn.describeView", R"({"context":"demo","under":"ghost"})", "unknownObject", "object"},
      {"sample.demo.nope", "", "unknownFunction", "function"},
      {"vorn.callNamespace", R"({"namespace":"sample","function":"x"})", "unknownFunction", "function"},
      {"test.obj.fails", "", "callFailed", "call"},
      {"vorn.getTree", R"({"context":"ghost"})", "unknownContext", "context"},
      {"vorn.connect", R"({"contexts":["demo","ghost"]})", "unknownContext", "context"},
      {"vorn.describeView", R"({"context":"demo","view":"ghost"})", "unknownView", "view"},
      {"vorn.editTweaker", R"({"context":"demo","tweaker":"ghost","value":1})", "unknownTweaker", "tweaker"},
      {"vorn.callLibrary", R"({"library":"../evil","function":"x"})", "unknownLibrary", "library"},
      {"", "{not json", "parse", "reports"},
      {"", "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"x\xff\"}", "encoding", "offset"},
      {"", R"({"jsonrpc":"2.0","id":1})", "invalidRequest", ""},
      {"", "[1,2,3]", "tooLarge", "limit"},
  };
  std::set<std::string> seen;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.method + " " + row.params);
    const VornJSONValue response = row.method.empty() ? Send(a, row.params) : Ask(a, row.method, row.params);
    const VornJSONValue& error = response.GetFromPath({"error"});
    EXPECT_EQ(At(error, {"data", "reason"}), row.reason) << response.Stringify();
    EXPECT_EQ(error.GetFromPath({"code"}).Get<int>(), orvel::ReasonCode(row.reason));
    EXPECT_FALSE(At(error, {"message"}).empty());
    EXPECT_EQ(At(error, {"message"}), At(error, {"data", "message"}));
    EXPECT_TRUE(row.concerned.empty() || !error.GetFromPath({"data", row.concerned}).IsUndefined()) << row.concerned;
    seen.insert(row.reason);
  }
  // What a client sent comes back escaped, whatever it holds.
  const VornJSONValue odd = Send(a, R"({"jsonrpc":"2.0","id":2,"method":"no.\"such\"\n\u0001\\"})");
  EXPECT_EQ(At(odd.GetFromPath({"error"}), {"data", "method"}), "no.\"such\"\n\x01\\") << odd.Stringify();
  // Every reason the host has is met here, but those its own tests cover:
  // shutdown and time-outs (server tests), a tweaker's own refusal (views).
  const std::set<std::string> elsewhere{"shuttingDown", "timeout", "refused"};
  for (const orvel::ReasonEntry& entry : orvel::Reasons())
    EXPECT_TRUE(seen.count(entry.reason) || elsewhere.count(entry.reason)) << "no row for " << entry.reason;
}

TEST_F(Protocol, EveryMethodParamNotificationAndReasonIsDocumented) {
  std::ifstream file(DOCS_DIR "/protocol.md");
  const std::string docs{std::istreambuf_iterator<char>(file), {}};
  auto documented = [&](const std::string& name) { return docs.find("`" + name + "`") != std::string::npos; };
  for (const auto& method : orvel::RpcServer::Methods()) {
    EXPECT_TRUE(documented(method.name)) << method.name;
    for (const auto& param : method.params) EXPECT_TRUE(documented(param.name)) << method.name << " " << param.name;
  }
  for (const auto& notification : orvel::RpcServer::Notifications()) EXPECT_TRUE(documented(notification.name)) << notification.name;
  // Each reason in the row of its code.
  for (const orvel::ReasonEntry& entry : orvel::Reasons()) {
    const std::size_t row = docs.find("\n| " + std::to_string(entry.code) + " |");
    ASSERT_NE(row, std::string::npos) << entry.code;
    EXPECT_NE(docs.substr(row, docs.find('\n', row + 1) - row).find("`" + std::string(entry.reason) + "`"), std::string::npos) << entry.reason;
  }
}

// The host's methods with their params; remote functions by their names,
// with parameters typed from their C++ types.
TEST_F(Protocol, RpcDiscoverListsEveryMethodAndRemoteFunction) {
  const VornJSONValue discovered = Ask(a, "rpc.discover");
  std::map<std::string, VornJSONValue> methods;
  for (const VornJSONValue& method : *discovered.GetFromPath({"result", "methods"}).GetIfArray())
    methods[At(method, {"name"})] = method;
  for (const auto& method : orvel::RpcServer::Methods()) {
    ASSERT_TRUE(methods.count(method.name)) << method.name;
    const VornJSONValue& listed = methods[method.name].GetFromPath({"params"});
    for (std::size_t i = 0; i <= method.params.size(); ++i)  // and none past them
      EXPECT_EQ(At(listed, {std::to_string(i), "name"}), i < method.params.size() ? method.params[i].name : "undefined")
          << method.name;
  }
  EXPECT_EQ(methods["sample.demo.setValue"].GetFromPath({"params"}).Stringify(),
            R"([{"name":"id","required":true,"schema":{"type":"string"}},{"name":"value","required":true,"schema":{}}])");
  EXPECT_EQ(At(methods["sample.demo.describeView"], {"params", "0", "required"}), "false");
  EXPECT_EQ(At(methods["sample.demo.render"], {"result", "schema", "type"}), "string");
  EXPECT_TRUE(methods.count("test.obj.fails"));
}

// One client connected to demo alone, the other to every context but demo:
// each hears the changes of its contexts only.
TEST_F(Protocol, NotificationsFollowTheModelForConnectedClientsOnly) {
  Ask(a, "vorn.connect", R"({"contexts":["demo"]})");
  Ask(b, "vorn.connect");
  const VornJSONValue heard = Ask(b, "vorn.disconnect", R"({"contexts":["demo"]})").GetFromPath({"result", "contexts"});
  EXPECT_TRUE(heard.GetFromPath({"gallery"}).IsInt() && heard.GetFromPath({"demo"}).IsUndefined()) << heard.Stringify();
  const int start = Ask(a, "vorn.getTree", R"({"context":"demo"})").GetFromPath({"result", "seq"}).Get<int>();
  Ask(b, "sample.demo.setValue", R"({"id":"width","value":7})");
  Ask(b, "sample.demo.addChild", R"({"parent":"panel","child":{"id":"knob","type":"boolean","value":true}})");
  Ask(b, "sample.demo.removeChild", R"({"id":"knob"})");
  Ask(b, "vorn.setValue", R"({"context":"demo","object":"width","value":7})");  // no change: no notification
  Ask(a, "vorn.setValue", R"({"context":"gallery","object":"t-string","value":"left"})");
  ASSERT_EQ(notes[&a].size(), 3u);
  const char* methods[] = {"vorn.modelChanged", "vorn.childAdded", "vorn.childRemoved"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(At(notes[&a][i], {"method"}), methods[i]);
    EXPECT_EQ(notes[&a][i].GetFromPath({"params", "seq"}).Get<int>(), start + 1 + static_cast<int>(i));
  }
  EXPECT_EQ(notes[&a][0].GetFromPath({"params", "values"}).Stringify(), R"({"value":7})");
  EXPECT_EQ(At(notes[&a][1], {"params", "child", "id"}), "knob");
  EXPECT_EQ(At(notes[&a][2], {"params", "child"}), "knob");
  ASSERT_EQ(notes[&b].size(), 1u);
  EXPECT_EQ(At(notes[&b][0], {"params", "context"}), "gallery");
  EXPECT_EQ(Ask(a, "vorn.describeView", R"({"context":"demo"})").GetFromPath({"result", "seq"}).Get<int>(), start + 3);
}

// A context's own events go to its clients with its sequence number; other
// remote objects' to every client, their data unwrapped or in base64.
TEST_F(Protocol, RemoteEventsBecomeNotificationsOfTheirContextsClients) {
  VornCommunicationManager_V1::SetMBXNode(&server);
  Ask(a, "vorn.connect", R"({"contexts":["demo"]})");
  const VornJSONValue seq = Ask(a, "vorn.getTree", R"({"context":"demo"})").GetFromPath({"result", "seq"});
  VornMainComponent::GetContextInfo("demo")->context->PublishRemoteEvent("tick");
  failing->Tell(VornJSONValue(VornJSONObject{{"x", 1}}));
  const unsigned char bytes[] = {1, 2, 3};
  failing->Send(OVK::Binary(bytes, sizeof bytes));
  VornCommunicationManager_V1::SetMBXNode(nullptr);
  const std::string told = R"({"jsonrpc":"2.0","method":"vorn.event","params":{"sender":"obj","event":"told","data":{"x":1}}})";
  const std::string sent = R"({"jsonrpc":"2.0","method":"vorn.event","params":{"sender":"obj","event":"sent","dataBase64":"AQID"}})";
  const std::string tick =
      R"({"jsonrpc":"2.0","method":"vorn.event","params":{"sender":"demo","event":"tick","seq":)" + seq.Stringify() + "}}";
  ASSERT_EQ(a.sent.size(), 5u);  // after the two answers
  EXPECT_EQ(std::vector<std::string>(a.sent.begin() + 2, a.sent.end()), (std::vector<std::string>{tick, told, sent}));
  EXPECT_EQ(b.sent, (std::vector<std::string>{told, sent}));
}

// The client's word on a context reaches the client app that stands for it.
TEST_F(Protocol, ContextStatusReachesThePeersClientApp) {
  for (const char* active : {"true", "false"}) {
    EXPECT_EQ(Ask(a, "vorn.contextStatus", R"({"context":"demo","active":)" + std::string(active) + "}").GetFromPath({"result"}).Stringify(),
              "true");
    EXPECT_EQ(VornClientAppsManager::GetClientApp("a")->GetContextStatus("demo"), *active == 't');
  }
}

class Extra final : public VornBaseContext {
public:
  Extra() : VornBaseContext("extra", "test") {}
};

TEST_F(Protocol, ContextsThatComeAndGoAreAnnouncedToEveryClient) {
  auto context = std::make_shared<Extra>();
  auto info = std::make_shared<VornContextInfo>();
  info->dataOptions = new VornDataOptions;
  ASSERT_TRUE(context->RegisterInVorn(info));
  context->RequestDestruction();
  for (FakePeer* peer : {&a, &b}) {
    std::vector<std::string> methods;
    for (const std::string& message : peer->sent) methods.push_back(At(Json(message), {"method"}) + " " + At(Json(message), {"params", "context"}));
    EXPECT_EQ(methods, (std::vector<std::string>{"vorn.contextAdded extra", "vorn.contextRemoved extra"}));
  }
}

// Random writes through every path a client has; after each, what the
// notifications told, the model and the view must agree (so a refused
// write changed nothing).
TEST_F(Protocol, RandomWritesNeverLeaveModelViewAndNotificationsDisagreeing) {
  Ask(a, "vorn.connect");
  std::map<std::string, std::string> replica;  // object id -> value, as notified
  const VornJSONValue tree = Ask(a, "vorn.getTree", R"({"context":"demo"})").GetFromPath({"result"});
  int seq = tree.GetFromPath({"seq"}).Get<int>();
  std::vector<std::string> ids;
  for (const VornJSONValue& child : *tree.GetFromPath({"tree", "children", "0", "children"}).GetIfArray()) {
    ids.push_back(At(child, {"id"}));
    replica[ids.back()] = child.GetFromPath({"value"}).Stringify();
  }
  const std::vector<std::string> values = {"0", "3", "12", "-7", "45.5", "2500", "0.35", "0.8", "1e3", "true", "false",
                                           "\"oak\"", "\"glass\"", "\"wood\"", "\"x\"", "null", "[1,2]", "{\"a\":1}", "15"};
  std::mt19937 random(20261207);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  for (int round = 0; round < 400; ++round) {
    const std::string& id = ids[pick(ids.size())];
    const std::string& value = values[pick(values.size())];
    const std::size_t before = notes[&a].size(), path = pick(3);
    const VornJSONValue response =
        path == 2 ? Ask(b, "sample.demo.setValue", R"([")" + id + "\"," + value + "]")
                  : Ask(b, path ? "vorn.editTweaker" : "vorn.setValue", R"({"context":"demo","object":")" + id + R"(","value":)" + value + "}");
    const bool refused = response.GetFromPath({"error"}).IsObject();
    EXPECT_TRUE(!refused || response.GetFromPath({"error", "code"}).Get<int>() == -32602) << response.Stringify();
    ASSERT_LE(notes[&a].size(), before + 1) << "one notification per change";
    if (notes[&a].size() == before + 1) {
      ASSERT_FALSE(refused) << "a refusal published " << notes[&a].back().Stringify();
      const VornJSONValue& note = notes[&a].back();
      EXPECT_EQ(note.GetFromPath({"params", "seq"}).Get<int>(), ++seq);
      replica[At(note, {"params", "object"})] = note.GetFromPath({"params", "values", "value"}).Stringify();
    }
    if (round % 50 != 49) continue;
    const VornJSONValue model = Ask(a, "vorn.getTree", R"({"context":"demo"})").GetFromPath({"result"});
    const VornJSONValue view = Ask(a, "vorn.describeView", R"({"context":"demo"})").GetFromPath({"result"});
    EXPECT_EQ(model.GetFromPath({"seq"}).Get<int>(), seq);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const std::string index = std::to_string(i);
      EXPECT_EQ(model.GetFromPath({"tree", "children", "0", "children", index, "value"}).Stringify(), replica[ids[i]]) << ids[i];
      EXPECT_EQ(view.GetFromPath({"tree", "children", "0", "children", index, "tweaker", "value"}).Stringify(), replica[ids[i]])
          << ids[i];
    }
  }
  EXPECT_GT(seq, tree.GetFromPath({"seq"}).Get<int>() + 20);  // writes did go through
}

// Every node of a describeView tree, by object id.
void Nodes(const VornJSONValue& node, std::map<std::string, VornJSONValue>& out) {
  out[At(node, {"id"})] = node;
  if (const VornJSONArray* children = node.GetFromPath({"children"}).GetIfArray())
    for (const VornJSONValue& child : *children) Nodes(child, out);
}

TEST_F(Protocol, EveryDataTypeHasItsControlOrAReadOnlyRow) {
  std::map<std::string, VornJSONValue> nodes;
  Nodes(Ask(a, "vorn.describeView", R"({"context":"gallery"})").GetFromPath({"result", "tree"}), nodes);
  const std::pair<const char*, const char*> kinds[] = {
      {"n-number", "number"}, {"n-integer", "number"}, {"n-length", "number"},  {"n-ratio", "number"},
      {"v-2d", "vector 2"},   {"v-3d", "vector 3"},    {"v-ratio", "vector 2"}, {"v-point", "vector 3"},
      {"v-matrix", "matrix 2x2"}, {"v-transform", "matrix 4x4"}, {"t-string", "text"}, {"t-literal", "text"},
      {"t-boolean", "boolean"}, {"t-choice", "choice"}, {"t-color", "color"}, {"s-circle", "summary"},
      {"s-curve", "summary"}, {"s-unknown", "unsupported"}};
  for (const auto& [id, expected] : kinds) {
    const VornJSONValue& node = nodes[id];
    std::string kind = node.GetFromPath({"unsupported"}).IsObject() ? "unsupported" : At(node, {"tweaker", "kind"});
    if (kind == "vector") kind += " " + At(node, {"tweaker", "components"});
    if (kind == "matrix") kind += " " + At(node, {"tweaker", "rows"}) + "x" + At(node, {"tweaker", "columns"});
    EXPECT_EQ(kind, expected) << id << ": " << node.Stringify();
  }
  EXPECT_EQ(At(nodes["s-unknown"], {"unsupported", "value"}), "knob-12");
  EXPECT_EQ(At(nodes["s-circle"], {"tweaker", "readOnly"}), "true");
  // Edits through the new controls are checked like any other (the checks
  // themselves are the model's and the views' own tests).
  const std::pair<const char*, const char*> edits[] = {
      {R"({"context":"gallery","object":"v-3d","value":[1,2,3]})", ""},
      {R"({"context":"gallery","object":"t-color","value":"#00ff00"})", ""},
      {R"({"context":"gallery","object":"t-color","value":"green"})", "type"},
      {R"({"context":"gallery","object":"s-curve","value":[1,2]})", "readOnly"},
      {R"({"context":"gallery","object":"s-unknown","value":"x"})", "unknownTweaker"}};
  for (const auto& [params, reason] : edits)
    EXPECT_EQ(Ask(a, "vorn.editTweaker", params).GetFromPath({"error", "data", "reason"}).ToString(),
              *reason ? reason : "undefined") << params;
}

// A view over the limit leaves groups closed with their child count; paging
// every node left closed, a slice at a time, describes the whole view, even
// groups wider than the limit.
TEST_F(Protocol, AViewOverTheLimitPagesItsClosedNodesToTheWhole) {
  const VornJSONValue first = Ask(a, "vorn.describeView", R"({"context":"gallery","limit":3})").GetFromPath({"result"});
  EXPECT_EQ(At(first, {"complete"}), "false");
  EXPECT_EQ(At(first, {"tree", "children", "0", "id"}), "all");
  EXPECT_EQ(At(first, {"tree", "children", "0", "childCount"}), "4");  // 4 more would pass the limit
  EXPECT_TRUE(first.GetFromPath({"tree", "children", "0", "children"}).IsUndefined());
  std::map<std::string, VornJSONValue> nodes;
  std::vector<std::pair<std::string, int>> left{{"all", 0}};
  int calls = 0;
  while (!left.empty() && calls < 50) {
    const auto [under, from] = left.back();
    left.pop_back();
    ++calls;
    const VornJSONValue page = Ask(a, "vorn.describeView", R"({"context":"gallery","limit":4,"under":")" + under +
                                                              R"(","from":)" + std::to_string(from) + "}")
                                   .GetFromPath({"result", "tree"});
    std::map<std::string, VornJSONValue> found;
    Nodes(page, found);
    for (auto& [id, node] : found) {
      if (node.GetFromPath({"childCount"}).IsInt()) {
        const VornJSONArray* children = node.GetFromPath({"children"}).GetIfArray();
        left.push_back({id, id == under ? from + static_cast<int>(children ? children->size() : 0) : 0});
      }
      nodes[id] = node;
    }
  }
  std::map<std::string, VornJSONValue> whole;
  Nodes(Ask(a, "vorn.describeView", R"({"context":"gallery"})").GetFromPath({"result", "tree"}), whole);
  for (const auto& [id, node] : whole) EXPECT_TRUE(id == "gallery" || nodes.count(id)) << id << " never described";
  EXPECT_GT(calls, 1);
}

}  // namespace
