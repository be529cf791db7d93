// The function registry: keys, handles, registration, and concurrent
// readers and writers (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vorn/remote/FuncsRegistry.h"

namespace {

using Registry = Vorn::SharedPtr<VornFuncsRegistry>;
Registry MakeRegistry() { return Registry(new VornFuncsRegistry()); }

TEST(FuncsRegistry, KeysEntriesAndHandles) {
  Registry registry = MakeRegistry();
  EXPECT_EQ(VornFuncsRegistry::KeyOf(""), 0x14650FB0739D0383ull);
  EXPECT_EQ(VornFuncsRegistry::KeyOf("ab"), 0x9bac4b00c65ba4ecull);

  auto sentinel = std::make_shared<int>(2);
  std::weak_ptr<int> watch = sentinel;
  EXPECT_TRUE(registry->Register("", [s = std::move(sentinel)](int a, const std::string& b) {
    return a * *s + static_cast<int>(b.size());
  }));
  EXPECT_FALSE(registry->Register("", [] {}));  // refused: the first stays
  EXPECT_EQ(registry->GetEntry(""), registry->GetEntryByKey(0x14650FB0739D0383ull));

  VornFuncsRegistryEntry_sp entry = registry->GetEntry("");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->GetDebugName(), "");
  EXPECT_EQ(entry->GetArgsTypes(), (std::vector<Vorn::TypeInfo>{Vorn::GetTypeInfo<int>(),
                                                                  Vorn::GetTypeInfo<std::string>()}));
  EXPECT_EQ(entry->GetCallable<void()>(), nullptr);
  auto* callable = entry->GetCallable<int(int, const std::string&)>();
  ASSERT_NE(callable, nullptr);
  EXPECT_EQ((*callable)(5, "xyz"), 13);

  EXPECT_TRUE(registry->Unregister(""));
  EXPECT_FALSE(registry->Unregister(""));
  EXPECT_FALSE(registry->Has(""));
  EXPECT_FALSE(watch.expired());  // our handle keeps the entry
  EXPECT_EQ((*callable)(1, ""), 2);
  entry = nullptr;
  EXPECT_TRUE(watch.expired());  // the last handle destroyed it and its callable
}

TEST(FuncsRegistry, ConcurrentReadersAndWriters) {
  constexpr int kWriters = 4, kNames = 200, kRounds = 50;
  Registry registry = MakeRegistry();
  std::atomic<bool> done{false};
  std::atomic<long> seen{0};
  std::thread reader([&] {
    while (!done.load()) {
      for (int i = 0; i < kNames; i += 7) {
        const std::string name = "w0_" + std::to_string(i);
        if (auto e = registry->GetEntry(name)) {
          EXPECT_EQ(e->GetKey(), VornFuncsRegistry::KeyOf(name));
          EXPECT_EQ((*e->GetCallable<int()>())(), i);
          seen.fetch_add(1);
        }
      }
    }
  });
  // Writers race on disjoint names: no registration may be lost.
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      for (int i = 0; i < kNames; ++i)
        EXPECT_TRUE(registry->Register("w" + std::to_string(w) + "_" + std::to_string(i), [i] { return i; }));
    });
  for (auto& t : writers) t.join();
  EXPECT_EQ(registry->Size(), static_cast<std::size_t>(kWriters * kNames));

  // Racing removals of one name: exactly one wins each round.
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_TRUE(registry->Register("contended", [] { return 0; }));
    std::atomic<int> wins{0};
    std::vector<std::thread> removers;
    for (int t = 0; t < 3; ++t) removers.emplace_back([&] { wins += registry->Unregister("contended"); });
    for (auto& t : removers) t.join();
    EXPECT_EQ(wins.load(), 1);
  }
  done.store(true);
  reader.join();
  EXPECT_GT(seen.load(), 0);
  EXPECT_EQ(registry->Size(), static_cast<std::size_t>(kWriters * kNames));
}

// An entry taken out while readers are finding it stays whole for them: a release before the last
// reader left shows under the address sanitizer. Once no reader reads, the next write releases
// every entry still kept.
TEST(FuncsRegistry, EntriesTakenOutUnderReadersStayWhileRead) {
  Registry registry = MakeRegistry();
  const auto held = std::make_shared<int>(0);  // one copy per live entry
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) {
      EXPECT_TRUE(registry->Register("churn", [i, held] { return i + *held; }));
      EXPECT_TRUE(registry->Unregister("churn"));
    }
    done.store(true);
  });
  while (!done.load()) {
    const auto e = registry->GetEntry("churn");
    EXPECT_TRUE(!e || (*e->GetCallable<int()>())() >= 0);
  }
  writer.join();
  EXPECT_EQ(registry->Size(), 0u);
  EXPECT_TRUE(registry->Register("last", [] { return 0; }));
  EXPECT_EQ(held.use_count(), 1);
}

}  // namespace
