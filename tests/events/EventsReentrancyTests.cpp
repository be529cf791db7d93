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

// A nested publish resets the handler's current token index, so a callback
// that unsubscribes itself afterwards is taken off the list while it runs.
TEST(EventsReentrancy, SelfUnsubscribeAfterANestedPublish) {
  auto handler = TestHandler::Create();
  Journal journal;
  TokenPtr x;
  auto a0 = handler->Subscribe("onA", journal.Recorder("a0"));
  x = handler->Subscribe("onA", [&, label = HeapLabel("x")](const DataPtr&) {
    journal.Add("x");
    handler->Publish("onB", nullptr);
    x->Unsubscribe();
    journal.Add(label);  // the callable is still alive
  });
  auto b = handler->Subscribe("onB", journal.Recorder("b"));
  auto a2 = handler->Subscribe("onA", journal.Recorder("a2"));

  handler->Publish("onA", nullptr);
  EXPECT_EQ(journal.entries, (Strings{"a0", "x", "b", HeapLabel("x"), "a2"}));
  EXPECT_TRUE(x->IsExpired());
  EXPECT_EQ(x.use_count(), 1);

  journal.entries.clear();
  handler->Publish("onA", nullptr);
  EXPECT_EQ(journal.entries, (Strings{"a0", "a2"}));
}

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

TEST(EventsReentrancy, UnsubscribingOthersNeverSkipsOrRepeatsAnyone) {
  auto handler = TestHandler::Create();
  Journal journal;
  TokenPtr a, b, c, d, e, f;
  a = handler->Subscribe("onA", journal.Recorder("A"));
  b = handler->Subscribe("onA", [&](const DataPtr&) {
    journal.Add("B");
    a->Unsubscribe();  // already called
    d->Unsubscribe();  // not yet called
  });
  c = handler->Subscribe("onA", [&](const DataPtr&) {
    journal.Add("C");
    if (!f) f = handler->Subscribe("onA", journal.Recorder("F"));
    c->Unsubscribe();
  });
  d = handler->Subscribe("onA", journal.Recorder("D"));
  e = handler->Subscribe("onA", journal.Recorder("E"));

  handler->Publish("onA", nullptr);
  EXPECT_EQ(journal.entries, (Strings{"A", "B", "C", "E", "F"}));
  journal.entries.clear();
  handler->Publish("onA", nullptr);
  EXPECT_EQ(journal.entries, (Strings{"B", "E", "F"}));
  EXPECT_EQ(a.use_count(), 1);
  EXPECT_EQ(c.use_count(), 1);
  EXPECT_EQ(d.use_count(), 1);
}

TEST(EventsReentrancy, NestedPublishOfTheSameNameHasItsOwnWalk) {
  auto handler = TestHandler::Create();
  Journal journal;
  int depth = 0;
  auto a = handler->Subscribe("onA", [&](const DataPtr&) {
    journal.Add("A");
    if (depth++ == 0) handler->Publish("onA", nullptr);
    --depth;
  });
  auto b = handler->Subscribe("onA", journal.Recorder("B"));
  auto c = handler->Subscribe("onA", journal.Recorder("C"));
  handler->Publish("onA", nullptr);
  EXPECT_EQ(journal.entries, (Strings{"A", "A", "B", "C", "B", "C"}));
}

TEST(EventsReentrancy, InnerListenerUnsubscribesTheOuterRunningOne) {
  auto handler = TestHandler::Create();
  Journal journal;
  TokenPtr outer, later, added;
  outer = handler->Subscribe("onOuter", [&, label = HeapLabel("outer")](const DataPtr&) {
    journal.Add("outer");
    handler->Publish("onInner", nullptr);
    journal.Add(label);
  });
  later = handler->Subscribe("onOuter", journal.Recorder("later"));
  auto inner = handler->Subscribe("onInner", [&](const DataPtr&) {
    journal.Add("inner");
    outer->Unsubscribe();
    later->Unsubscribe();
    added = handler->Subscribe("onOuter", journal.Recorder("added"));
  });

  handler->Publish("onOuter", nullptr);
  EXPECT_EQ(journal.entries, (Strings{"outer", "inner", HeapLabel("outer"), "added"}));
  EXPECT_EQ(outer.use_count(), 1);
  EXPECT_EQ(later.use_count(), 1);
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

// The handler's last owner lives in a callback that unsubscribes itself:
// the owner goes with the callable, once the callable has returned.
TEST(EventsReentrancy, CallbackHoldingTheLastOwnerUnsubscribesItself) {
  Journal journal;
  bool destroyed = false;
  auto handler = TestHandler::Create(&destroyed);
  TestHandler* raw = handler.get();
  TokenPtr self;
  self = raw->Subscribe("onA", [&, owner = handler, label = HeapLabel("self")](const DataPtr&) {
    self->Unsubscribe();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(owner.get(), raw);
    journal.Add(label);
  });
  auto next = raw->Subscribe("onA", journal.Recorder("next"));
  auto end = raw->Subscribe(Vorn::kEventDestruction, journal.Recorder("destruction"));
  handler.reset();

  raw->Publish("onA", nullptr);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(journal.entries, (Strings{HeapLabel("self"), "destruction"}));
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

TEST(EventsReentrancy, OnceTokenUnsubscribingItselfIsNotCalledAgain) {
  auto handler = TestHandler::Create();
  Journal journal;
  TokenPtr once;
  once = handler->SubscribeOnce("onA", [&, label = HeapLabel("once")](const DataPtr&) {
    once->Unsubscribe();
    handler->Publish("onB", nullptr);
    journal.Add(label);
  });
  auto b = handler->Subscribe("onB", journal.Recorder("b"));
  handler->Publish("onA", nullptr);
  handler->Publish("onA", nullptr);
  EXPECT_EQ(journal.entries, (Strings{"b", HeapLabel("once")}));
  EXPECT_FALSE(handler->IsListened("onA"));
}

}  // namespace
