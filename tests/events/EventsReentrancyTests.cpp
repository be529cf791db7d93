// Callbacks that edit the listener lists, publish again or end the handler's
// ownership while a publish is walking. Run under the address sanitizer these
// also check that nothing still running is destroyed under it.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "events/EventsTestSupport.h"
#include "vorn/events/EventsHandler.h"

namespace {

using vorn_test::HeapLabel;
using vorn_test::Journal;
using vorn_test::TestHandler;
using Strings = std::vector<std::string>;
using DataPtr = std::shared_ptr<VornEventData>;
using TokenPtr = std::shared_ptr<VornEventToken>;

TEST(EventsReentrancy, SelfUnsubscribeKeepsTheRunningCallableAlive) {
  auto handler = TestHandler::Create();
  Journal journal;
  TokenPtr self;
  auto other = handler->Subscribe("onOther", [](const DataPtr&) {});
  // After the nested publish the token is erased from the list at once, and
  // we drop our own handle: nothing but the publish keeps it.
  self = handler->Subscribe("onA", [&, label = HeapLabel("self")](const DataPtr&) {
    handler->Publish("onOther", nullptr);
    TokenPtr token = std::move(self);
    token->Unsubscribe();
    token.reset();
    journal.Add(label);
  });
  TokenPtr after = handler->Subscribe("onA", journal.Recorder("after"));
  handler->Publish("onA", nullptr);
  handler->Publish("onA", nullptr);
  EXPECT_EQ(journal.entries, (Strings{HeapLabel("self"), "after", "after"}));
}

TEST(EventsReentrancy, InnerListenerDroppingTheLastOwnerEndsBothPublishes) {
  Journal journal;
  bool destroyed = false;
  auto handler = TestHandler::Create(&destroyed);
  TestHandler* raw = handler.get();
  auto o1 = raw->Subscribe("onOuter", [&, label = HeapLabel("o1")](const DataPtr&) {
    journal.Add("o1");
    raw->Publish("onInner", nullptr);
    EXPECT_FALSE(destroyed);
    journal.Add(label);
  });
  auto o2 = raw->Subscribe("onOuter", journal.Recorder("o2"));
  auto i1 = raw->Subscribe("onInner", [&](const DataPtr&) {
    journal.Add("i1");
    handler.reset();
  });
  auto i2 = raw->Subscribe("onInner", journal.Recorder("i2"));
  auto end = raw->Subscribe(Vorn::kEventDestruction, journal.Recorder("destruction"));

  raw->Publish("onOuter", nullptr);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(journal.entries, (Strings{"o1", "i1", HeapLabel("o1"), "destruction"}));
}

TEST(EventsReentrancy, DestructionListenersMayEditTheLists) {
  Journal journal;
  TokenPtr first, second, added;
  {
    auto handler = TestHandler::Create();
    TestHandler* raw = handler.get();
    first = handler->Subscribe(Vorn::kEventDestruction, [&, label = HeapLabel("first")](const DataPtr&) {
      first->Unsubscribe();
      second->Unsubscribe();
      added = raw->Subscribe(Vorn::kEventDestruction, journal.Recorder("added"));
      raw->Publish("onChange", nullptr);  // no owner any more: ignored
      journal.Add(label);
    });
    second = handler->Subscribe(Vorn::kEventDestruction, journal.Recorder("second"));
    auto change = handler->Subscribe("onChange", journal.Recorder("change"));
  }
  EXPECT_EQ(journal.entries, (Strings{HeapLabel("first"), "added"}));
  EXPECT_TRUE(added->IsExpired());
  EXPECT_EQ(added.use_count(), 1);
}

// A nested publish of the same event while a once-token's first call still
// runs must not deliver it a second time.
TEST(EventsReentrancy, OnceTokenIsNotReenteredByANestedPublish) {
  auto handler = TestHandler::Create();
  Journal journal;
  int depth = 0;
  auto once = handler->SubscribeOnce("onA", [&](const DataPtr&) {
    journal.Add("once");
    if (depth++ < 2) handler->Publish("onA", nullptr);
  });
  auto other = handler->Subscribe("onA", journal.Recorder("other"));
  handler->Publish("onA", nullptr);
  handler->Publish("onA", nullptr);
  EXPECT_EQ(journal.entries, (Strings{"once", "other", "other", "other"}));
  EXPECT_TRUE(once->IsExpired());
}

}  // namespace
