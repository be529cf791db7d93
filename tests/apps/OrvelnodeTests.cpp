// orvelnode as a process: its command line, its stdio session, its refusals
// at startup and its signals. What it answers is tested in process
// (ProtocolTests.cpp, ServerTests.cpp). Under the sanitizers the host itself
// is built with them, so a leak or a fault in a session shows as a failed
// exit status here.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "ChildProcess.h"
#include "vorn/json/Parser.h"

namespace {

// The sample host on the other end of two pipes.
class Session {
public:
  explicit Session(const std::string& manifest = SAMPLE_MANIFEST) : node({ORVELNODE, manifest}) {}

  // Sends `line`; the next line of output, notifications included.
  std::string Ask(const std::string& line) {
    EXPECT_TRUE(node.WriteLine(line));
    return node.ReadLine().value_or("(no answer)");
  }

  orvel::ChildProcess node;
};

const std::string kList = R"({"jsonrpc":"2.0","id":1,"method":"vorn.listContexts"})";

// SIGTERM ends it at once, even while a client that writes and never reads
// has made it stop reading.
TEST(Orvelnode, StopsOnSigtermEvenWithAClientThatNeverReads) {
  Session s;
  s.Ask(kList);
  fcntl(s.node.InputFd(), F_SETFL, O_NONBLOCK);
  const std::string line = R"({"jsonrpc":"2.0","id":1,"method":")" + std::string(60000, 'm') + "\"}\n";
  for (int round = 0; round < 2000; ++round)
    if (write(s.node.InputFd(), line.data(), line.size()) < 0) usleep(1000);
  s.node.Signal(SIGTERM);
  EXPECT_EQ(s.node.Wait(std::chrono::seconds(2)), 0);
}

// A tweaker file may add representations only, for templates known already.
// End of input then ends the process cleanly.
TEST(Orvelnode, TakesTweakerFilesOfRepresentationsOnly) {
  Session s(std::string(TEST_DATA) + "/reps-only.json");
  const std::string view = s.Ask(R"({"jsonrpc":"2.0","id":1,"method":"vorn.describeView","params":{"context":"handles"}})");
  EXPECT_EQ(VornJSONParser::ParseText(view, false).GetFromPath({"result", "tree", "children", "0", "tweaker", "kind"}).ToString(),
            "text") << view;
  s.node.CloseInput();
  EXPECT_EQ(s.node.Wait(), 0);
}

// Its command line: the first line of output says what it does or, for a
// refusal at startup, where and why, with the status 2.
TEST(Orvelnode, AnswersHelpAndVersionAndRefusesBadManifestsAndOptionsWithWhereAndWhy) {
  const std::string data = std::string(TEST_DATA) + "/";
  const std::tuple<std::vector<std::string>, std::string, int> cases[] = {
      {{"--help"}, "Usage: orvelnode", 0},
      {{"--version"}, "orvelnode ", 0},
      {{data + "bad-syntax.json"}, "bad-syntax.json:4:32: ',' or '}' expected", 2},
      {{data + "bad-member.json"}, "bad-member.json:5:53: contexts[0].views[0].class must be a non-empty string", 2},
      {{data + "bad-plugin.json"}, "bad-plugin.json:1:37: plug-in \"no_such_plugin\" cannot be loaded", 2},
      {{data + "missing.json"}, "missing.json: cannot be read", 2},
      {{"--listen", "0.0.0.0:0", "--no-token", SAMPLE_MANIFEST}, "--no-token is refused", 2},
  };
  for (const auto& [args, message, status] : cases) {
    std::vector<std::string> argv{ORVELNODE};
    argv.insert(argv.end(), args.begin(), args.end());
    orvel::ChildProcess node(argv, true);
    const std::string output = node.ReadLine().value_or("(nothing)");
    EXPECT_NE(output.find(message), std::string::npos) << output;
    EXPECT_EQ(node.Wait(), status) << message;
  }
}

}  // namespace
