// orvelnode's server pieces in process: the access checks and the page's
// file resolution against hostile input, the raw-message helpers, and the
// JSON-RPC server driven through a fake peer on the library's main loop.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Access.h"
#include "FakePeer.h"
#include "Manifest.h"
#include "RawJson.h"
#include "RpcServer.h"
#include "common/TempDir.h"
#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Object.h"
#include "vorn/json/Parser.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/remote/Binding.h"
#include "vorn/runtime/MainThreadManager.h"

namespace {

using orvel::AccessPolicy;

TEST(OrvelAccess, ServesOnlyRegularFilesInsideTheWebRoot) {
  TempDir dir;
  dir.Write("web/index.html", "<p>");
  dir.Write("web/app.js", "1");
  dir.Write("web/sub/a.css", "b{}");
  dir.Write("secret.txt", "no");
  std::filesystem::create_symlink("/etc/passwd", dir.Path() / "web/out");
  std::filesystem::create_symlink(dir.Path(), dir.Path() / "web/up");
  const auto root = std::filesystem::canonical(dir.Path() / "web");
  const std::pair<const char*, const char*> cases[] = {
      {"/", "index.html"},           {"/app.js?token=x", "app.js"}, {"/%61pp.js", "app.js"},
      {"/sub/a.css", "sub/a.css"},   {"//etc/passwd", nullptr},     {"/../secret.txt", nullptr},
      {"/%2e%2e/secret.txt", nullptr}, {"/sub/../app.js", nullptr}, {"/a%00b", nullptr},
      {"/sub\\a.css", nullptr},      {"/sub%5ca.css", nullptr},     {"/out", nullptr},
      {"/up/secret.txt", nullptr},   {"/sub", nullptr},             {"/missing", nullptr},
      {"/%zz", nullptr},             {"/%4", nullptr},              {"app.js", nullptr},
  };
  for (const auto& [target, expected] : cases) {
    const auto file = orvel::ResolveWebFile(root, target);
    if (expected) EXPECT_EQ(file.value_or(""), root / expected) << target;
    else EXPECT_FALSE(file) << target << " gave " << file.value_or("");
  }
}

const std::string kToken = orvel::MakeToken();
// A loopback listener on port 8080 that also takes one origin and one host name.
const AccessPolicy kLocal{kToken, 8080, true, {"https://app.example"}, {"devbox"}};

TEST(OrvelAccess, ListenersOnLoopbackAndTheHostMustNameThisListener) {
  EXPECT_TRUE(orvel::IsLoopbackAddress("127.4.5.6") && orvel::IsLoopbackAddress("::1"));
  EXPECT_FALSE(orvel::IsLoopbackAddress("0.0.0.0") || orvel::IsLoopbackAddress("::") ||
               orvel::IsLoopbackAddress("192.168.1.1"));
  const std::pair<const char*, bool> hosts[] = {
      {"127.0.0.1:8080", true}, {"localhost", true},       {"LOCALHOST:8080", true},       {"[::1]:8080", true},
      {"[::1]", true},          {"devbox:8080", true},     {"127.0.0.1:9090", false},      {"rebind.evil.example", false},
      {"", false},              {"127.0.0.1.evil:8080", false}};
  for (const auto& [host, ok] : hosts) EXPECT_EQ(orvel::HostAllowed(kLocal, host), ok) << host;
  const AccessPolicy open{kToken, 8080, false, {}, {}};
  EXPECT_TRUE(orvel::HostAllowed(open, "10.1.2.3:8080"));
  EXPECT_FALSE(orvel::HostAllowed(open, ""));  // off loopback a Host is still required
}

TEST(OrvelAccess, OriginMustBeTheHostsOwnOrAllowed) {
  const std::pair<std::optional<std::string_view>, bool> origins[] = {
      {std::nullopt, true}, {"http://127.0.0.1:8080", true}, {"https://app.example", true},
      {"http://evil.example", false}, {"null", false}, {"http://127.0.0.1:9090", false},
      {"http://127.0.0.1:8080.evil.example", false}};
  for (const auto& [origin, ok] : origins)
    EXPECT_EQ(orvel::OriginAllowed(kLocal, "127.0.0.1:8080", origin), ok) << origin.value_or("(none)");
}

TEST(OrvelAccess, TokensAreFreshAndMustMatchWholeAndTheirCookieOpensPagesOnly) {
  EXPECT_EQ(kToken.size(), 48u);
  EXPECT_NE(kToken, orvel::MakeToken());
  const std::string& token = kToken;
  const std::string cookie = "a=b; " + orvel::TokenCookieName(8080) + "=" + token;
  struct TokenRow {
    std::string target, authorization, cookies;
    bool cookieAllowed, ok;
  };
  const TokenRow tokens[] = {{"/?token=" + token, "", "", true, true},
                             {"/rpc?x=1&token=" + token, "", "", false, true},
                             {"/rpc", "Bearer " + token, "", false, true},
                             {"/app.js", "", cookie, true, true},
                             {"/rpc", "", cookie, false, false},  // the WebSocket needs the token itself
                             {"/?token=" + token.substr(1), "", "", true, false},
                             {"/?token=" + std::string(1, token[0] == 'a' ? 'b' : 'a') + token.substr(1), "", "", true, false},
                             {"/?token=" + token + "0", "", "", true, false},
                             {"/", "Basic " + token, "", true, false},
                             {"/", "", "", true, false}};
  for (const TokenRow& row : tokens)
    EXPECT_EQ(orvel::TokenAccepted(kLocal, row.target, row.authorization, row.cookies, row.cookieAllowed), row.ok)
        << row.target << " | " << row.authorization << " | " << row.cookies;
  EXPECT_TRUE(orvel::TokenAccepted(AccessPolicy{}, "/", "", "", true));  // --no-token
}

TEST(OrvelRawJson, FindsRawIds) {
  using Ids = std::vector<std::optional<std::string>>;
  EXPECT_EQ(orvel::RawIds(R"({"a":{"id":1},"id" : 12345678901234567890})"), Ids{"12345678901234567890"});
  EXPECT_EQ(orvel::RawIds(R"( [{"id":"x\"}"}, 3, {"method":"m"}, {"p":[1,{"id":2}],"id":1.0}] )"),
            (Ids{R"("x\"}")", std::nullopt, std::nullopt, "1.0"}));
  // A quote after an even run of backslashes ends the string; after an odd run it does not.
  EXPECT_EQ(orvel::RawIds(R"({"b":"\\\"}","id":"a\\","c":{"id":0}})"), Ids{R"("a\\")"});
  // A repeated "id": the first, the one the parsed request holds, alone and in a batch.
  EXPECT_EQ(orvel::RawIds(R"({"id":7,"id":{"x":1}})"), Ids{"7"});
  EXPECT_EQ(orvel::RawIds(R"([{"id":7,"id":[8]},{"id":9}])"), (Ids{"7", "9"}));
}

// A function that answers later from a thread of its own (after `delayMs`),
// or never (`delayMs` < 0).
class Worker final : public VornRemoteFunction_V1 {
public:
  Worker(const char* name, int delayMs, std::vector<std::jthread>& threads)
      : VornRemoteFunction_V1(name, false, {"n"}) {
    _SetUnderlyingFunction(
        [delayMs, &threads](const Reply& reply, const VornJSONObject& args) {
          if (delayMs < 0) return;
          threads.emplace_back([reply, delayMs, n = args.Get("n")] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            reply(VornJSONObject{{"n", n}});
          });
        },
        {});
  }
};

class TestObject final : public VornRemoteObject {
public:
  explicit TestObject(std::vector<std::jthread>& threads) : VornRemoteObject("obj", "test") {
    _AddRemoteFunction("now", Vorn::MakeRemoteFunction("now", {"n"}, [](int n) { return n; }));
    _AddRemoteFunction("warns", Vorn::MakeRemoteFunction("warns", {}, [] {
                         KRTSysLogAbend("a warning that is no failure");
                         return 1;
                       }));
    _AddRemoteFunction("later", std::make_shared<Worker>("later", 2, threads));
    _AddRemoteFunction("never", std::make_shared<Worker>("never", -1, threads));
  }
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }
  void Register() { _RegisterRemoteObject(); }
};

std::string CallText(const std::string& id, const char* function, int n = 0) {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"vorn.callObject","params":{"namespace":"test","object":"obj","function":")" +
         function + R"(","arguments":{"n":)" + std::to_string(n) + "}}}";
}

VornJSONValue Json(const std::string& text) { return VornJSONParser::ParseText(text, false); }

class OrvelServer : public ::testing::Test {
protected:
  void SetUp() override {
    object = std::make_shared<TestObject>(threads);
    object->Register();
  }
  void TearDown() override {
    if (server) server->Close(&peer);
    threads.clear();  // joined: no answer outlives the test
    object->RequestDestruction();
  }
  // The server under test, with `peer` open on it.
  orvel::RpcServer& Serve(orvel::Limits limits = {}) {
    server.emplace([this] { ended = true; }, limits);
    server->Open(&peer);
    return *server;
  }
  // Runs the main loop: `start` first, then until `done` holds (or 5 s).
  void Run(const std::function<void()>& start, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::function<void()> poll = [&] {
      if (done() || std::chrono::steady_clock::now() > deadline) return VornMainComponent::EndCustomMainThreadLoop();
      Vorn::SetTimeout(poll, 1);
    };
    VornMainComponent::RunCustomMainThreadLoop([&] {
      start();
      poll();
    });
    ASSERT_TRUE(done()) << "timed out";
  }

  std::vector<std::jthread> threads;
  std::shared_ptr<TestObject> object;
  FakePeer peer{"p"};
  bool ended = false;  // the server's shutdown came
  std::optional<orvel::RpcServer> server;
};

TEST_F(OrvelServer, EchoesIdsAndRefusesWhatItCannotTake) {
  orvel::RpcServer& server = Serve({.maxMessage = 4096, .maxBatch = 2});
  const std::string notification = R"({"jsonrpc":"2.0","method":"vorn.listContexts"})";
  // Expected: the whole answer, "" for none, or the error's reason.
  const std::pair<std::string, std::string> cases[] = {
      {CallText("12345678901234567890", "now", 5), R"({"jsonrpc":"2.0","id":12345678901234567890,"result":5})"},
      {CallText("1.0", "warns"), R"({"jsonrpc":"2.0","id":1.0,"result":1})"},
      {"[" + CallText("-0", "now") + "," + CallText("\"s\"", "now", 2) + "]",
       R"([{"jsonrpc":"2.0","id":-0,"result":0},{"jsonrpc":"2.0","id":"s","result":2}])"},
      {"[" + notification + "," + CallText("5", "now", 5) + "]", R"([{"jsonrpc":"2.0","id":5,"result":5}])"},
      {notification, ""},
      {std::string(4096 - CallText("8", "now", 8).size(), ' ') + CallText("8", "now", 8),
       R"({"jsonrpc":"2.0","id":8,"result":8})"},
      {"[]", "invalidRequest"},
      {std::string(4097, ' '), "tooLarge"},
      {R"({"jsonrpc":"2.0","id":true,"method":"vorn.listContexts"})", "invalidRequest"},
      {R"({"jsonrpc":"1.0","id":6,"method":"vorn.listContexts"})", "invalidRequest"},
      // Not requests, so not notifications either, though they have no id.
      {"{}", R"({"jsonrpc":"2.0","id":null,"error":{"code":-32600,"message":"Invalid Request: \"jsonrpc\" must be \"2.0\"","data":{"reason":"invalidRequest","message":"Invalid Request: \"jsonrpc\" must be \"2.0\""}}})"},
      {R"({"jsonrpc":"2.0","method":1})", "invalidRequest"},
      {"[" + notification + R"(,{"jsonrpc":"2.0","method":"m","params":3}])",
       R"([{"jsonrpc":"2.0","id":null,"error":{"code":-32600,"message":"Invalid Request: \"params\" must be an object or an array","data":{"reason":"invalidRequest","message":"Invalid Request: \"params\" must be an object or an array"}}}])"},
      {R"({"jsonrpc":"2.0","id":3,"method":"vorn.contextStatus","params":{"context":"ghost","active":true}})", "unknownContext"},
      {CallText("4", "teleport"), "unknownFunction"},
  };
  for (const auto& [request, expected] : cases) {
    peer.sent.clear();
    server.Handle(&peer, request);
    ASSERT_EQ(peer.sent.size(), expected.empty() ? 0u : 1u) << request;
    if (expected.empty()) continue;
    if (expected.front() == '{' || expected.front() == '[') EXPECT_EQ(peer.sent[0], expected);
    else EXPECT_EQ(Json(peer.sent[0]).GetFromPath({"error", "data", "reason"}).ToString(), expected) << peer.sent[0];
  }
  EXPECT_EQ(peer.finished, static_cast<int>(std::size(cases)));
}

TEST_F(OrvelServer, AnswersFromOtherThreadsReachTheMainThreadOnce) {
  orvel::RpcServer& server = Serve();
  constexpr int kCalls = 200;
  Run(
      [&] {
        // Answers from workers arrive while requests keep coming.
        for (int i = 0; i < kCalls; ++i)
          Vorn::SetTimeout([&, i] { server.Handle(&peer, CallText(std::to_string(i), i % 2 ? "later" : "now", i)); },
                           i / 4);
      },
      [&] { return peer.finished == kCalls; });
  std::vector<int> seen(kCalls, 0);
  for (const std::string& message : peer.sent) {
    const VornJSONValue reply = Json(message);
    const int id = reply.GetFromPath({"id"}).Get<int>();
    const VornJSONValue& result = reply.GetFromPath({"result"});
    EXPECT_EQ(id % 2 ? result.GetFromPath({"n"}).Get<int>() : result.Get<int>(), id);
    ++seen[id];
  }
  EXPECT_EQ(seen, std::vector<int>(kCalls, 1));
  EXPECT_EQ(server.PendingCalls(), 0u);
}

TEST_F(OrvelServer, UnansweredCallsTimeOut) {
  orvel::RpcServer& server = Serve({.callTimeout = std::chrono::milliseconds(30)});
  Run([&] { server.Handle(&peer, "[" + CallText("1", "never") + "," + CallText("2", "now", 2) + "]"); },
      [&] { return peer.finished == 1; });
  ASSERT_EQ(peer.sent.size(), 1u);
  const VornJSONValue batch = Json(peer.sent[0]);
  EXPECT_EQ(batch.GetFromPath({"0", "error", "code"}).Get<int>(), orvel::ReasonCode("timeout"));
  EXPECT_EQ(batch.GetFromPath({"0", "error", "data", "reason"}).ToString(), "timeout");
  EXPECT_EQ(batch.GetFromPath({"1", "result"}).Get<int>(), 2);
  EXPECT_EQ(server.PendingCalls(), 0u);
}

// A peer that leaves before its answer: the answer is dropped, even for a
// new peer at the same address, which hears its own answers only.
TEST_F(OrvelServer, AnswersToAClosedPeerAreDroppedEvenWhenItsAddressReturns) {
  orvel::RpcServer& server = Serve();
  FakePeer other("o");
  bool waited = false;
  Run(
      [&] {
        server.Open(&other);
        server.Handle(&peer, CallText("3", "later"));
        server.Close(&peer);
        server.Open(&peer);
        server.Handle(&peer, CallText("4", "now", 4));
        Vorn::SetTimeout([&] { waited = true; }, 50);
      },
      [&] { return waited; });
  EXPECT_EQ(peer.sent, std::vector<std::string>{R"({"jsonrpc":"2.0","id":4,"result":4})"});
  EXPECT_TRUE(other.sent.empty());
  EXPECT_EQ(server.PendingCalls(), 0u);
  server.Close(&other);
}

TEST_F(OrvelServer, ShutdownAnswersWhatCameBeforeAndRunsNothingAfter) {
  orvel::RpcServer& server = Serve();
  server.Handle(&peer, CallText("1", "never"));
  server.Handle(&peer, "[" + std::string(R"({"jsonrpc":"2.0","id":2,"method":"shutdown"})") + "," + CallText("3", "now") + "]");
  server.Handle(&peer, CallText("4", "now"));
  ASSERT_EQ(peer.sent.size(), 3u);
  EXPECT_EQ(Json(peer.sent[0]).GetFromPath({"error", "data", "reason"}).ToString(), "shuttingDown");
  EXPECT_EQ(Json(peer.sent[1]).GetFromPath({"0", "result"}).Stringify(), "null");
  EXPECT_EQ(Json(peer.sent[1]).GetFromPath({"1", "error", "code"}).Get<int>(), orvel::ReasonCode("shuttingDown"));
  EXPECT_EQ(Json(peer.sent[2]).GetFromPath({"error", "code"}).Get<int>(), orvel::ReasonCode("shuttingDown"));
  EXPECT_TRUE(ended);
}

class TreeContext final : public VornBaseContext {
public:
  TreeContext() : VornBaseContext("tree", "test") {}
};

TEST_F(OrvelServer, TheModelWatchFollowsAddsAndDestructions) {
  auto context = std::make_shared<TreeContext>();
  auto info = std::make_shared<VornContextInfo>();
  info->dataOptions = new VornDataOptions;
  ASSERT_TRUE(context->RegisterInVorn(info));
  orvel::RpcServer& server = Serve();
  server.WatchContexts();
  EXPECT_EQ(server.WatchedObjects(), 1u);  // the root
  const auto root = VornDataManager::GetTree("tree");
  for (int round = 0; round < 50; ++round) {
    VornValuesByString child;
    child.try_emplace("id", VornValue(std::string("c") + std::to_string(round)));
    root->AddChild(child);
    EXPECT_EQ(server.WatchedObjects(), 2u);
    root->RemoveChild("c" + std::to_string(round), true);
    ASSERT_EQ(server.WatchedObjects(), 1u) << round;
  }
  context->RequestDestruction();
}

// Dictionaries are named alone or with their folder; a wrong entry is
// refused with its place in the file.
TEST(OrvelManifest, ReadsDictionariesAndPointsAtAWrongEntry) {
  TempDir dir;
  const auto load = [&dir](const std::string& text) { return orvel::Manifest::Load(dir.Write("m.json", text).string()); };
  const orvel::Manifest m = load(R"({"dictionaries": ["Base", {"name": "Extra", "folder": "more/"}, {"name": "Plain"}]})");
  ASSERT_EQ(m.dictionaries.size(), 3u);
  EXPECT_EQ(m.dictionaries[0].name + m.dictionaries[0].folder, "Baseresources\\Vorn\\");
  EXPECT_EQ(m.dictionaries[1].name + m.dictionaries[1].folder, "Extramore/");
  EXPECT_EQ(m.dictionaries[2].folder, m.dictionaries[0].folder);
  const std::pair<std::string, std::string> wrong[] = {
      {R"({"dictionaries": [{"name": "X", "place": "y"}]})", ":1:42: unknown member \"place\""},
      {R"({"dictionaries": ["A", {"folder": "y"}]})", ":1:24: dictionaries[1].name is missing"},
      {R"({"dictionaries": [3]})", ":1:19: dictionaries[0] must be an object"},
  };
  for (const auto& [text, message] : wrong) {
    try {
      load(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const orvel::ManifestError& e) {
      EXPECT_EQ(std::string(e.what()), (dir.Path() / "m.json").string() + message);
    }
  }
}

}  // namespace
