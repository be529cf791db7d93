// orvelnode as a client sees it: a process on the other end of two pipes.
// Under the sanitizers the host itself is built with them, so a leak or a
// fault in a whole session shows as a failed exit status here.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "vorn/json/Object.h"
#include "vorn/json/Parser.h"

namespace {

VornJSONValue Json(const std::string& text) { return VornJSONParser::ParseText(text, false); }

std::string Call(const char* function, const char* arguments) {
  return std::string(R"({"namespace":"sample","object":"demo","function":")") + function + R"(","arguments":)" +
         arguments + "}";
}

class Session {
public:
  explicit Session(const std::string& manifest = SAMPLE_MANIFEST) : node({ORVELNODE, manifest}) {}

  // Sends `line` and returns the next message that is not a notification;
  // notifications met on the way are kept.
  VornJSONValue Ask(const std::string& line) {
    EXPECT_TRUE(node.WriteLine(line));
    while (const auto reply = node.ReadLine()) {
      VornJSONValue message = Json(*reply);
      if (message.GetIfObject() && message.GetIfObject()->HasKey("method")) {
        notifications.push_back(std::move(message));
        continue;
      }
      return message;
    }
    ADD_FAILURE() << "no answer to " << line;
    return {};
  }
  int ErrorCode(const std::string& line) { return Ask(line).GetFromPath({"error", "code"}).Get<int>(); }

  orvel::ChildProcess node;
  std::vector<VornJSONValue> notifications;
};

}  // namespace

TEST(Orvelnode, AnswersEveryMethodAndSendsEventsAsNotifications) {
  Session s;
  EXPECT_EQ(s.Ask(R"({"jsonrpc":"2.0","id":1,"method":"vorn.listContexts"})").Stringify(),
            R"({"jsonrpc":"2.0","id":1,"result":[{"name":"demo","namespace":"sample","views":["form","text"],"seq":0},)"
            R"({"name":"gallery","namespace":"sample","views":["form"],"seq":0}]})");
  EXPECT_EQ(s.Ask(R"({"jsonrpc":"2.0","id":"c","method":"vorn.connect","params":{"contexts":["demo"]}})")
                .GetFromPath({"result", "client"}).ToString(),
            "stdio");
  const VornJSONValue set =
      s.Ask(R"({"jsonrpc":"2.0","id":2,"method":"vorn.callObject","params":)" + Call("setValue", R"({"id":"angle","value":45.5})") + "}");
  EXPECT_EQ(set.GetFromPath({"result", "value"}).Get<double>(), 45.5);
  // One notification per change, numbered.
  ASSERT_EQ(s.notifications.size(), 1u);
  EXPECT_EQ(s.notifications[0].GetFromPath({"method"}).ToString(), "vorn.modelChanged");
  EXPECT_EQ(s.notifications[0].GetFromPath({"params", "values", "value"}).Get<double>(), 45.5);
  EXPECT_EQ(s.notifications[0].GetFromPath({"params", "seq"}).Get<int>(), 1);
  // A user's edit made through a tweaker reaches the model.
  s.Ask(R"({"jsonrpc":"2.0","id":3,"method":"vorn.callObject","params":)" + Call("editTweaker", R"({"id":"visible","value":false})") + "}");
  EXPECT_NE(s.Ask(R"({"jsonrpc":"2.0","id":4,"method":"vorn.callObject","params":)" + Call("render", "{}") + "}")
                .Stringify().find("Visible (boolean): false"),
            std::string::npos);
  // A notification gets no answer: the next line's answer comes first.
  EXPECT_EQ(s.Ask(R"({"jsonrpc":"2.0","method":"vorn.listContexts"})" "\n" R"({"jsonrpc":"2.0","id":5,"method":"vorn.contextStatus","params":{"context":"demo","active":true}})")
                .Stringify(),
            R"({"jsonrpc":"2.0","id":5,"result":true})");
  // A batch is answered as a batch, notifications left out.
  const VornJSONValue batch = s.Ask(R"([{"jsonrpc":"2.0","id":6,"method":"vorn.listContexts"},)"
                                    R"({"jsonrpc":"2.0","method":"vorn.listContexts"},{"jsonrpc":"2.0","id":7,"method":"nope"}])");
  ASSERT_TRUE(batch.IsArray());
  EXPECT_EQ(batch.GetIfArray()->size(), 2u);
  EXPECT_EQ(batch.GetFromPath({"1", "error", "code"}).Get<int>(), -32601);

  // The view laid out by the tree: groups keep their place, leaves carry their tweaker.
  const VornJSONValue layout = s.Ask(R"({"jsonrpc":"2.0","id":9,"method":"vorn.describeView","params":{"context":"demo"}})");
  EXPECT_EQ(layout.GetFromPath({"result", "tree", "children", "0", "name"}).ToString(), "Panel");
  EXPECT_EQ(layout.GetFromPath({"result", "tree", "children", "0", "children", "0", "tweaker", "object"}).ToString(), "width");
  // A value no control holds never reaches the tweaker.
  const std::string widthTweaker =
      layout.GetFromPath({"result", "tree", "children", "0", "children", "0", "tweaker", "tweaker"}).ToString();
  EXPECT_EQ(s.Ask(R"({"jsonrpc":"2.0","id":10,"method":"vorn.editTweaker","params":{"context":"demo","tweaker":")" +
                  widthTweaker + R"(","value":{"a":1}}})")
                .GetFromPath({"error", "data", "reason"}).ToString(),
            "type");
  EXPECT_EQ(s.Ask(R"({"jsonrpc":"2.0","id":8,"method":"shutdown"})").Stringify(), R"({"jsonrpc":"2.0","id":8,"result":null})");
  EXPECT_EQ(s.node.Wait(), 0);
}

TEST(Orvelnode, AnswersBadInputWithItsErrorCodeAndKeepsServing) {
  Session s;
  const std::pair<std::string, int> cases[] = {
      {"{not json", -32700},
      {R"({"id":1,"method":"vorn.listContexts"})", -32600},
      {R"({"jsonrpc":"2.0","id":1,"method":7})", -32600},
      {"[]", -32600},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.teleport"})", -32601},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callObject","params":{"namespace":"sample"}})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callObject","params":)" + Call("setValue", R"({"id":"nowhere","value":1})") + "}", -32001},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callObject","params":)" + Call("setValue", R"({"id":"width"})") + "}", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callObject","params":)" + Call("setValue", R"({"id":"width","value":{"a":1}})") + "}", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callObject","params":)" + Call("setValue", R"({"id":"width","value":"forty"})") + "}", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.editTweaker","params":{"context":"demo","tweaker":"nope","value":1}})", -32007},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callObject","params":{"namespace":"sample","object":"ghost","function":"render"}})", -32001},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callObject","params":)" + Call("teleport", "{}") + "}", -32002},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callNamespace","params":{"namespace":"sample","function":"x"}})", -32002},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callLibrary","params":{"library":"../evil","function":"x"}})", -32008},
      {R"({"jsonrpc":"2.0","id":1,"method":"vorn.callObject","params":)" + Call("editTweaker", R"({"id":"opacity","value":3})") + "}", -32602},
  };
  for (const auto& [line, code] : cases) EXPECT_EQ(s.ErrorCode(line), code) << line;
  // The refused writes left the model as it was.
  EXPECT_EQ(s.Ask(R"({"jsonrpc":"2.0","id":1,"method":"vorn.callObject","params":)" + Call("getTree", "{}") + "}")
                .Stringify().find("forty"),
            std::string::npos);
  // Still serving, and the whole session ends cleanly at end of input.
  EXPECT_EQ(s.Ask(R"({"jsonrpc":"2.0","id":2,"method":"vorn.listContexts"})").GetFromPath({"id"}).Get<int>(), 2);
  s.node.CloseInput();
  EXPECT_EQ(s.node.Wait(), 0);
}

// A tweaker file may add representations only, for templates known already.
TEST(Orvelnode, TakesTweakerFilesOfRepresentationsOnly) {
  Session s(std::string(TEST_DATA) + "/reps-only.json");
  const VornJSONValue view = s.Ask(R"({"jsonrpc":"2.0","id":1,"method":"vorn.describeView","params":{"context":"handles"}})");
  EXPECT_EQ(view.GetFromPath({"result", "tree", "children", "0", "tweaker", "kind"}).ToString(), "text") << view.Stringify();
  s.node.CloseInput();
  EXPECT_EQ(s.node.Wait(), 0);
}

TEST(Orvelnode, RefusesBadManifestsWithWhereAndWhyAndStopsOnSignals) {
  const std::pair<std::string, std::string> manifests[] = {
      {"bad-syntax.json", "bad-syntax.json:4:32: ',' or '}' expected"},
      {"bad-member.json", "bad-member.json:5:53: contexts[0].views[0].class must be a non-empty string"},
      {"bad-plugin.json", "bad-plugin.json:1:37: plug-in \"no_such_plugin\" cannot be loaded"},
      {"missing.json", "missing.json: cannot be read"},
  };
  for (const auto& [file, message] : manifests) {
    orvel::ChildProcess node({ORVELNODE, std::string(TEST_DATA) + "/" + file}, true);
    const auto output = node.ReadLine();
    ASSERT_TRUE(output.has_value()) << file;
    EXPECT_NE(output->find(message), std::string::npos) << *output;
    EXPECT_EQ(node.Wait(), 2) << file;
  }
  // No token is accepted on loopback only.
  orvel::ChildProcess open({ORVELNODE, "--listen", "0.0.0.0:0", "--no-token", SAMPLE_MANIFEST}, true);
  EXPECT_NE(open.ReadLine().value_or("").find("--no-token is refused"), std::string::npos);
  EXPECT_EQ(open.Wait(), 2);
  for (const char* option : {"--help", "--version"}) {
    orvel::ChildProcess node({ORVELNODE, option});
    EXPECT_TRUE(node.ReadLine().has_value());
    EXPECT_EQ(node.Wait(), 0) << option;
  }
  Session s;
  s.Ask(R"({"jsonrpc":"2.0","id":1,"method":"vorn.listContexts"})");  // started
  s.node.Signal(SIGTERM);
  EXPECT_EQ(s.node.Wait(), 0);

  // A client that keeps writing and never reads: the host stops reading it,
  // and SIGTERM still ends it at once.
  Session stuck;
  stuck.Ask(R"({"jsonrpc":"2.0","id":1,"method":"vorn.listContexts"})");
  fcntl(stuck.node.InputFd(), F_SETFL, O_NONBLOCK);
  const std::string line = R"({"jsonrpc":"2.0","id":1,"method":")" + std::string(60000, 'm') + "\"}\n";
  for (int round = 0; round < 2000; ++round)
    if (write(stuck.node.InputFd(), line.data(), line.size()) < 0) usleep(1000);
  stuck.node.Signal(SIGTERM);
  EXPECT_EQ(stuck.node.Wait(std::chrono::seconds(2)), 0);
}
