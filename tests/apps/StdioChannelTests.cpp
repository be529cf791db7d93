// orvelnode's stdio channel in process, read by the main loop: a client
// that pipelines requests and stops reading is read up to the output bound
// and no further, then served, every answer in order, once it reads. (That
// Stop gives up on a client that never reads is checked on the process, by
// its SIGTERM test.)
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FakePeer.h"
#include "RpcServer.h"
#include "StdioChannel.h"
#include "vorn/contexts/MainComponent.h"

namespace {

TEST(OrvelStdio, AClientThatStopsReadingIsPausedAtTheBoundThenServedEveryLineInOrder) {
  // Unknown methods, each answered at once with its name in the error:
  // small ones (many answers per read, written together) and 40 KiB ones
  // (past the pause bound after about a hundred unread). Two lines are over
  // the message bound, refused in their place: one amid the others and the
  // last one, which has no line feed.
  constexpr int kCount = 400;
  constexpr std::size_t kMaxMessage = 1 << 17;
  std::mt19937 rng(5);
  std::vector<std::string> lines;
  for (int i = 0; i < kCount; ++i)
    lines.push_back(R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"method":")" +
                    std::string(rng() % 2 ? 40000 : 1 + rng() % 100, 'm') + "\"}");
  lines[kCount / 2] = lines.back() = std::string(kMaxMessage + 1, 'x');
  std::string input;
  for (const std::string& line : lines) input += line + "\n";
  input.pop_back();
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  std::atomic<std::size_t> written{0};
  std::size_t writtenWhileUnread = 0;
  std::string answers;
  std::thread client([&] {
    // 64 KiB at a time: a whole blocking write would count nothing until it ends.
    for (std::size_t at = 0; at < input.size();) {
      const ssize_t n = write(in[1], input.data() + at, std::min<std::size_t>(input.size() - at, 1 << 16));
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
      at += static_cast<std::size_t>(n);
    }
    close(std::exchange(in[1], -1));  // end of input ends the loop
  });
  std::thread reader([&] {
    // Reads nothing until the host has taken no input for 250 ms.
    for (std::size_t last = ~std::size_t{0}; last != written.load();) {
      last = written.load();
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    writtenWhileUnread = written.load();
    char buffer[1 << 16];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) answers.append(buffer, static_cast<std::size_t>(n));
  });
  signal(SIGPIPE, SIG_IGN);  // a client cut off by the watchdog below
  {
    std::jthread watchdog([](std::stop_token stop) {
      for (int i = 0; i < 1000 && !stop.stop_requested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!stop.stop_requested()) VornMainComponent::EndCustomMainThreadLoop();
    });
    orvel::RpcServer server([] {}, {.maxMessage = kMaxMessage});
    orvel::StdioChannel channel(server, [] { VornMainComponent::EndCustomMainThreadLoop(); }, in[0], out[1]);
    VornMainComponent::RunCustomMainThreadLoop([&] { channel.Start(); });
    channel.Stop();
  }
  close(in[0]);  // a client still writing (the loop was cut off) now fails
  client.join();
  close(out[1]);
  reader.join();
  close(out[0]);
  // Each line's answer, in order: what the server answers the line itself.
  FakePeer direct("direct");
  orvel::RpcServer server([] {}, {.maxMessage = kMaxMessage});
  server.Open(&direct);
  const auto linesTaken = std::count(input.begin(), input.begin() + writtenWhileUnread, '\n');
  std::size_t at = 0, outputWhileUnread = 0;  // the answers to the lines taken before the client read
  for (int i = 0; i < kCount; ++i) {
    if (lines[i].size() > kMaxMessage) server.RefuseOversized(&direct);
    else server.Handle(&direct, lines[i]);
    const std::string expected = direct.sent.back() + "\n";
    ASSERT_EQ(answers.compare(at, expected.size(), expected), 0) << "the answer to line " << i << " differs";
    at += expected.size();
    if (i < linesTaken) outputWhileUnread = at;
  }
  EXPECT_EQ(at, answers.size());
  // Read up to the bound, not much past it: a read's lines, the pipes.
  EXPECT_GE(outputWhileUnread, orvel::StdioChannel::kPauseOutput);
  EXPECT_LT(outputWhileUnread, orvel::StdioChannel::kPauseOutput + (1u << 20));
  server.Close(&direct);
}

}  // namespace
