// What a publish does when a listener throws.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "events/EventsTestSupport.h"
#include "vorn/events/EventsHandler.h"
#include "vorn/host/Errors.h"
#include "vorn/host/SysLog.h"

namespace {

using vorn_test::Journal;
using vorn_test::TestHandler;
using Strings = std::vector<std::string>;
using DataPtr = std::shared_ptr<VornEventData>;

// A, then B (which runs `fail`), then C on "onChange".
struct ThreeListeners {
  template <class F>
  explicit ThreeListeners(F fail) {
    a = handler->Subscribe("onChange", journal.Recorder("A"));
    b = handler->Subscribe("onChange", [this, fail](const DataPtr&) {
      journal.Add("B");
      fail();
    });
    c = handler->Subscribe("onChange", journal.Recorder("C"));
  }
  Journal journal;
  std::shared_ptr<TestHandler> handler = TestHandler::Create();
  std::shared_ptr<VornEventToken> a, b, c;
};

TEST(EventsFailures, HostErrorGoesToTheHostAndEndsThePublish) {
  KRTAbendCapture capture;
  KRTXHContextCxx::ResetHandled();
  ThreeListeners t([] { KRTError::ThrowSmartPtr("listener failed", 7); });

  t.handler->Publish("onChange", nullptr);  // returns normally
  EXPECT_EQ(t.journal.entries, (Strings{"A", "B"}));
  EXPECT_EQ(KRTXHContextCxx::HandledCount(), 1u);
  EXPECT_EQ(KRTXHContextCxx::LastHandledMessage(), "listener failed");
  EXPECT_EQ(KRTXHContextCxx::PendingCount(), 0u);
  EXPECT_EQ(capture.Count(), 0u);
}

TEST(EventsFailures, StandardExceptionIsLoggedOnceAndEndsThePublish) {
  KRTAbendCapture capture;
  KRTXHContextCxx::ResetHandled();
  ThreeListeners t([] { throw std::out_of_range("index 12 out of range"); });

  t.handler->Publish("onChange", nullptr);
  EXPECT_EQ(t.journal.entries, (Strings{"A", "B"}));
  EXPECT_EQ(capture.Messages(), (Strings{"index 12 out of range"}));
  EXPECT_EQ(KRTXHContextCxx::HandledCount(), 0u);
}

TEST(EventsFailures, AnythingElseIsLoggedAsUnexpected) {
  KRTAbendCapture capture;
  ThreeListeners t([] { throw 42; });
  t.handler->Publish("onChange", nullptr);
  EXPECT_EQ(t.journal.entries, (Strings{"A", "B"}));
  EXPECT_EQ(capture.Messages(), (Strings{"UNEXPECTED ERROR!"}));
}

TEST(EventsFailures, ListenersRunInsideAHostErrorScope) {
  auto handler = TestHandler::Create();
  const std::size_t outside = TolvTkCompatCtx::Depth();
  std::size_t inside = 0;
  auto token = handler->Subscribe("onChange", [&](const DataPtr&) { inside = TolvTkCompatCtx::Depth(); });
  handler->Publish("onChange", nullptr);
  EXPECT_EQ(inside, outside + 1);
  EXPECT_EQ(TolvTkCompatCtx::Depth(), outside);

  // The scope is closed on the failure paths too.
  auto thrower = handler->Subscribe("onFail", [](const DataPtr&) { KRTError::ThrowSmartPtr("x"); });
  handler->Publish("onFail", nullptr);
  EXPECT_EQ(TolvTkCompatCtx::Depth(), outside);
}

}  // namespace
