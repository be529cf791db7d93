// orvelnode's stdio channel in a host whose own loop runs the main thread:
// the loop cannot watch the input, so a thread reads it and hands lines to
// the host's timer. Its own program, since the host application is
// installed for the whole process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FakePeer.h"
#include "RpcServer.h"
#include "StdioChannel.h"
#include "support/TestApplication.h"

namespace {

// Installed before the library first asks what kind of host it is in.
KRTTestInteractiveApplication app;
const bool g_installed = (KRTApplication::SetMainApplication(&app), true);

TEST(OrvelStdioInInteractiveHost, AThreadReadsAndTheHostsTimerServesEveryLineInOrder) {
  ASSERT_TRUE(g_installed);
  int in[2], out[2];
  ASSERT_TRUE(pipe(in) == 0 && pipe(out) == 0);
  // Unknown methods, a line over the message bound, and a last line without its line feed.
  std::vector<std::string> lines;
  for (int i = 0; i <= 20; ++i) lines.push_back(R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"method":"m"})");
  lines.insert(lines.end() - 1, std::string(2000, 'x'));
  std::string input;
  for (const std::string& line : lines) input += (input.empty() ? "" : "\n") + line;
  ASSERT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(in[1]);
  bool ended = false;
  orvel::RpcServer server([] {}, {.maxMessage = 1024});
  orvel::StdioChannel channel(server, [&ended] { ended = true; }, in[0], out[1]);
  channel.Start();
  for (int i = 0; i < 1000 && !ended; ++i) {  // the host's loop
    if (app.FireAllPending() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(ended);
  channel.Stop();
  close(out[1]);
  std::string answers;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) answers.append(buffer, static_cast<std::size_t>(n));
  close(in[0]);
  close(out[0]);
  // Each line's answer, in order: what the server answers the line itself.
  FakePeer direct("direct");
  server.Open(&direct);
  std::string expected;
  for (const std::string& line : lines) {
    if (line.size() > 1024) server.RefuseOversized(&direct);
    else server.Handle(&direct, line);
    expected += direct.sent.back() + "\n";
  }
  EXPECT_EQ(answers, expected);
  server.Close(&direct);
}

}  // namespace
