// orvelnode's stdio channel in process, read by the main loop: a client
// that pipelines requests and stops reading for a while is paused at the
// output bound and served again, every answer in order, once it reads.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "RpcServer.h"
#include "StdioChannel.h"
#include "vorn/contexts/MainComponent.h"

namespace {

TEST(OrvelStdio, AClientThatPausesReadingIsPausedThenServedInOrder) {
  // Unknown methods, each answered at once with its name in the error:
  // small ones (many answers per read, written together) and 40 KiB ones
  // (past the pause bound after about a hundred unread).
  constexpr int kCount = 400;
  std::mt19937 rng(5);
  std::string input;
  for (int i = 0; i < kCount; ++i)
    input += R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"method":")" +
             std::string(rng() % 2 ? 40000 : 1 + rng() % 100, 'm') + "\"}\n";
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  std::atomic<std::size_t> written{0};
  std::size_t writtenWhileUnread = 0;
  std::string answers;
  std::thread client([&] {
    for (std::size_t at = 0; at < input.size();) {
      const ssize_t n = write(in[1], input.data() + at, input.size() - at);
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
      at += static_cast<std::size_t>(n);
    }
    close(std::exchange(in[1], -1));  // end of input ends the loop
  });
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
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
    orvel::RpcServer server([] {});
    orvel::StdioChannel channel(server, [] { VornMainComponent::EndCustomMainThreadLoop(); }, in[0], out[1]);
    VornMainComponent::RunCustomMainThreadLoop([&] { channel.Start(); });
    channel.Stop();
  }
  close(in[0]);  // a client still writing (the loop was cut off) now fails
  client.join();
  close(out[1]);
  reader.join();
  close(out[0]);
  EXPECT_LT(writtenWhileUnread, input.size() / 2);  // reading had paused
  std::size_t at = 0;
  for (int i = 0; i < kCount; ++i) {
    const std::size_t end = answers.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "answers stop before " << i;
    const std::string line = answers.substr(at, end - at);
    ASSERT_EQ(line.find(R"("id":)" + std::to_string(i) + ","), line.find(R"("id":)")) << line.substr(0, 120);
    ASSERT_NE(line.find("-32601"), std::string::npos) << line.substr(0, 120);
    at = end + 1;
  }
  EXPECT_EQ(at, answers.size());
}

}  // namespace
