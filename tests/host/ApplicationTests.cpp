// The host application, its hand-driven timer, and host errors.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vorn/host/Application.h"
#include "vorn/host/Errors.h"
#include "vorn/host/Status.h"
#include "vorn/host/TestApplication.h"

namespace {

TEST(Application, MainApplicationIsTheInnermostInstalledOne) {
  EXPECT_EQ(KRTApplication::MainApplication(), nullptr);
  KRTApplication plain;
  KRTTestInteractiveApplication interactive;
  {
    KRTScopedMainApplication outer(&plain);
    {
      KRTScopedMainApplication inner(&interactive);
      EXPECT_EQ(KRTApplication::MainApplication(), &interactive);
    }
    EXPECT_EQ(KRTApplication::MainApplication(), &plain);
  }
  EXPECT_EQ(KRTApplication::MainApplication(), nullptr);

  // The kind test follows the class chain.
  const KRTApplication& asBase = interactive;
  EXPECT_NE(plain.IsKindOf("KRTApplication"), 0);
  EXPECT_EQ(plain.IsKindOf("KRTInteractiveApplication"), 0);
  EXPECT_NE(asBase.IsKindOf("KRTInteractiveApplication"), 0);
  EXPECT_NE(asBase.IsKindOf("KRTApplication"), 0);
  EXPECT_EQ(asBase.IsKindOf("KRTInteractive"), 0);
  EXPECT_EQ(asBase.IsKindOf(nullptr), 0);

  unsigned long id = 0;  // a plain application has no timer
  EXPECT_EQ(plain.AddTimeOut(10, nullptr, nullptr, [](void*, int, void*) {}, &id), KRT_E_UNSUPPORTED);
  EXPECT_EQ(plain.RemoveTimeOut(10, 1, 0), KRT_E_UNSUPPORTED);
}

// --- the hand-driven timer ------------------------------------------------

class TestTimer : public ::testing::Test {
public:  // callbacks reach the fixture through a pointer
  // What a registration does when it fires: log its name and the virtual
  // time, then add the timeouts in `spawn`.
  struct Timer {
    TestTimer* test;
    std::string name;
    std::vector<std::pair<unsigned long, Timer*>> spawn = {};
    void* command = nullptr;
    int reason = -1;
  };

  static void OnTimer(void* command, int reason, void* clientData) {
    Timer& t = *static_cast<Timer*>(clientData);
    t.command = command;
    t.reason = reason;
    t.test->fired.push_back(t.name + "@" + std::to_string(t.test->app.Now()));
    for (auto& [delay, next] : t.spawn) t.test->Add(*next, delay);
  }

  unsigned long Add(Timer& t, unsigned long delay, void* command = nullptr) {
    unsigned long id = 0;
    EXPECT_EQ(base.AddTimeOut(delay, command, &t, &OnTimer, &id), KRT_OK);
    return id;
  }

  KRTTestInteractiveApplication app;
  KRTApplication& base = app;  // the library calls through the base class
  std::vector<std::string> fired;
};

TEST_F(TestTimer, AdvanceFiresInDueOrderAtTheirDueTimes) {
  Timer slow{this, "slow"}, fast{this, "fast"}, tieA{this, "tieA"}, tieB{this, "tieB"};
  int command = 0;
  EXPECT_EQ(Add(slow, 50), 1u);
  EXPECT_EQ(Add(fast, 10, &command), 2u);
  Add(tieA, 30);
  Add(tieB, 30);
  EXPECT_EQ(app.Advance(9), 0u);
  EXPECT_EQ(app.Advance(21), 3u);
  EXPECT_EQ(app.Advance(100), 1u);
  EXPECT_EQ(fired, (std::vector<std::string>{"fast@10", "tieA@30", "tieB@30", "slow@50"}));
  EXPECT_EQ(app.Now(), 130u);
  EXPECT_EQ(fast.command, &command);
  EXPECT_EQ(fast.reason, 0);

  unsigned long id;
  EXPECT_EQ(base.AddTimeOut(1, nullptr, &fast, nullptr, &id), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(base.AddTimeOut(1, nullptr, &fast, &OnTimer, nullptr), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(app.PendingCount(), 0u);
}

TEST_F(TestTimer, RemoveNeedsTheSameDelayAndIsRecorded) {
  Timer a{this, "a"}, b{this, "b"};
  const unsigned long ida = Add(a, 40);
  const unsigned long idb = Add(b, 40);
  EXPECT_EQ(base.RemoveTimeOut(41, ida, 0), KRT_E_NOT_FOUND);
  EXPECT_TRUE(app.IsPending(ida));
  EXPECT_EQ(base.RemoveTimeOut(40, ida, 0), KRT_OK);
  EXPECT_EQ(base.RemoveTimeOut(40, ida, 0), KRT_E_NOT_FOUND);
  app.Advance(100);
  EXPECT_EQ(fired, (std::vector<std::string>{"b@40"}));
  EXPECT_EQ(base.RemoveTimeOut(40, idb, 0), KRT_E_NOT_FOUND);  // already fired

  const auto calls = app.RemoveCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].delayMs, 41u);
  EXPECT_EQ(calls[0].status, KRT_E_NOT_FOUND);
  EXPECT_EQ(calls[1].hostId, ida);
  EXPECT_EQ(calls[1].status, KRT_OK);
}

TEST_F(TestTimer, FiringByHandIgnoresDueTimesAndRunsEachOnce) {
  Timer a{this, "a"}, b{this, "b"}, c{this, "c"};
  Timer spawner{this, "spawner", {{0, &c}}};
  const unsigned long ida = Add(a, 1000);
  Add(spawner, 500);
  Add(b, 5);
  EXPECT_TRUE(app.Fire(ida));
  EXPECT_FALSE(app.Fire(ida));
  EXPECT_FALSE(app.Fire(12345));
  // Those pending at the call, in due order; "c", added meanwhile, waits.
  EXPECT_EQ(app.FireAllPending(), 2u);
  EXPECT_EQ(fired, (std::vector<std::string>{"a@0", "b@0", "spawner@0"}));
  EXPECT_EQ(app.PendingCount(), 1u);
}

// --- host errors ----------------------------------------------------------

template <class F>
KRTErrorPtr CatchHostError(F thrower) {
  try {
    thrower();
  } catch (const KRTErrorPtr& e) {
    return e;
  }
  return nullptr;
}

TEST(HostError, ThrowSmartPtrThrowsThePointerItselfNeverNull) {
  const auto original = std::make_shared<KRTError>("disk on fire", 42);
  EXPECT_EQ(CatchHostError([&] { KRTError::ThrowSmartPtr(original); }), original);
  const KRTErrorPtr made = CatchHostError([] { KRTError::ThrowSmartPtr("made here", 7); });
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetMessage(), "made here");
  EXPECT_EQ(made->GetCode(), 7);
  const KRTErrorPtr fromNull = CatchHostError([] { KRTError::ThrowSmartPtr(KRTErrorPtr()); });
  ASSERT_NE(fromNull, nullptr);
  EXPECT_FALSE(fromNull->GetMessage().empty());
}

TEST(HostErrorHandling, FlushDisposesOfThisThreadsCaughtErrors) {
  KRTXHContextCxx::ResetHandled();
  std::weak_ptr<KRTError> watch;
  {
    auto error = std::make_shared<KRTError>("first");
    watch = error;
    KRTXHContextCxx::CatchBlockProlog(error);
  }
  EXPECT_FALSE(watch.expired());  // kept until the flush
  KRTXHContextCxx::CatchBlockProlog(std::make_shared<KRTError>("second"));
  KRTXHContextCxx::CatchBlockProlog(nullptr);
  std::thread([] {
    EXPECT_EQ(KRTXHContextCxx::PendingCount(), 0u);
    KRTXHContextCxx::Flush();
  }).join();
  EXPECT_EQ(KRTXHContextCxx::HandledCount(), 0u);
  EXPECT_EQ(KRTXHContextCxx::PendingCount(), 2u);

  KRTXHContextCxx::Flush();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(KRTXHContextCxx::HandledCount(), 2u);
  EXPECT_EQ(KRTXHContextCxx::LastHandledMessage(), "second");
}

TEST(HostErrorScope, ScopesNestPerThread) {
  TolvTkCompatCtx outer;
  {
    TolvTkCompatCtx inner;
    EXPECT_EQ(TolvTkCompatCtx::Depth(), 2u);
    std::thread([] { EXPECT_EQ(TolvTkCompatCtx::Depth(), 0u); }).join();
  }
  EXPECT_EQ(TolvTkCompatCtx::Depth(), 1u);
}

// A host error raised while a listener's error is being handled is passed
// on with Rethrow; outside a handler Rethrow still throws a host error.
TEST(HostErrorScope, RethrowPassesOnTheErrorBeingHandled) {
  const auto handling = std::make_shared<KRTError>("raised while handling");
  const KRTErrorPtr escaped = CatchHostError([&] {
    TolvTkCompatCtx scope;
    try {
      KRTError::ThrowSmartPtr("from a listener");
    } catch (const KRTErrorPtr& e) {
      try {
        KRTXHContextCxx::CatchBlockProlog(e);
        KRTError::ThrowSmartPtr(handling);
      } catch (const KRTErrorPtr&) {
        TolvTkCompatCtx::Rethrow();
      }
    }
  });
  EXPECT_EQ(escaped, handling);
  EXPECT_EQ(TolvTkCompatCtx::Depth(), 0u);
  KRTXHContextCxx::Flush();

  const KRTErrorPtr outside = CatchHostError([] { TolvTkCompatCtx::Rethrow(); });
  ASSERT_NE(outside, nullptr);
  EXPECT_NE(outside->GetMessage().find("no exception"), std::string::npos);
}

}  // namespace
