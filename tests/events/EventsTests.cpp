// Subscription, delivery order, once-tokens, unsubscription, publishers,
// reserved events and the handler's lifetime.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "events/EventsTestSupport.h"
#include "vorn/events/EventsHandler.h"
#include "vorn/host/SysLog.h"

namespace {

using vorn_test::Journal;
using vorn_test::TestHandler;
using Strings = std::vector<std::string>;
using DataPtr = std::shared_ptr<VornEventData>;

TEST(EventsDelivery, ListenersAreCalledInSubscriptionOrderWithTheSameData) {
  auto handler = TestHandler::Create();
  Journal journal;
  std::vector<const VornEventData*> seen;
  auto a = handler->Subscribe("onChange", [&](const DataPtr& d) {
    journal.Add("A");
    seen.push_back(d.get());
  });
  auto b = handler->Subscribe("onChange", [&](const DataPtr& d) {
    journal.Add("B");
    seen.push_back(d.get());
  });
  auto other = handler->Subscribe("onOther", journal.Recorder("other"));

  const DataPtr data = VornEventData::Create(VornValue_sp::Make(VornValue(5)));
  handler->Publish("onChange", data);
  EXPECT_EQ(journal.entries, (Strings{"A", "B"}));
  EXPECT_EQ(seen, (std::vector<const VornEventData*>{data.get(), data.get()}));
}

TEST(EventsTokens, IsListenedDropsExpiredTokensThatAreNotRunning) {
  auto handler = TestHandler::Create();
  auto t0 = handler->Subscribe("onChange", [](const DataPtr&) {});
  t0->Unsubscribe();  // expired, but kept: outside a publish index 0 looks like the running token
  ASSERT_EQ(t0.use_count(), 2);

  // While another token runs, the handler can tell them apart.
  auto probe = handler->Subscribe("onProbe", [&](const DataPtr&) { EXPECT_FALSE(handler->IsListened("onChange")); });
  handler->Publish("onProbe", nullptr);
  EXPECT_EQ(t0.use_count(), 1);

  // A token that unsubscribes itself stays listed while it runs, but no
  // longer counts as a listener.
  std::shared_ptr<VornEventToken> self;
  self = handler->Subscribe("onSelf", [&](const DataPtr&) {
    self->Unsubscribe();
    EXPECT_FALSE(handler->IsListened("onSelf"));
  });
  handler->Publish("onSelf", nullptr);
  EXPECT_EQ(self.use_count(), 1);

  auto live = handler->Subscribe("onChange", [](const DataPtr&) {});
  EXPECT_TRUE(handler->IsListened("onChange"));
}

TEST(EventsTokens, TokenWithoutCallbackExpiresAtItsFirstWalk) {
  auto handler = TestHandler::Create();
  Journal journal;
  auto empty = handler->Subscribe("onChange", nullptr);
  auto real = handler->Subscribe("onChange", journal.Recorder("real"));
  EXPECT_FALSE(empty->IsExpired());
  handler->Publish("onChange", nullptr);
  EXPECT_TRUE(empty->IsExpired());
  EXPECT_FALSE(real->IsExpired());
  EXPECT_EQ(empty.use_count(), 1);
  EXPECT_EQ(journal.entries, (Strings{"real"}));
}

TEST(EventsPublisher, NullDataIsReplacedByDataFromThisHandler) {
  auto handler = TestHandler::Create();
  DataPtr received;
  auto token = handler->Subscribe("onChange", [&](const DataPtr& d) { received = d; });
  handler->Publish("onChange", nullptr);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(received->GetEventPublisher(), handler->PublisherAddress());
  EXPECT_FALSE(received->GetValue());
  EXPECT_TRUE(received->GetValuesByString().empty());
}

TEST(EventsPublisher, PublisherIsSetWhenMissingAndKeptWhenSet) {
  auto first = TestHandler::Create();
  auto second = TestHandler::Create();
  std::vector<void*> publishers;
  auto record = [&](const DataPtr& d) { publishers.push_back(d->GetEventPublisher()); };
  auto t1 = first->Subscribe("onChange", record);
  auto t2 = second->Subscribe("onChange", record);

  const DataPtr data = VornEventData::Create();
  EXPECT_EQ(data->GetEventPublisher(), nullptr);
  first->Publish("onChange", data);
  second->Publish("onChange", data);  // passed on: still first's
  EXPECT_EQ(publishers, (std::vector<void*>{first->PublisherAddress(), first->PublisherAddress()}));
  EXPECT_EQ(data->GetEventPublisher(), first->PublisherAddress());
}

TEST(EventsOwnership, UnownedHandlerPublishesOnlyItsDestruction) {
  Journal journal;
  std::shared_ptr<VornEventToken> change, requested, destruction;
  {
    TestHandler handler;  // no std::shared_ptr owns it
    change = handler.Subscribe("onChange", journal.Recorder("change"));
    requested = handler.Subscribe(Vorn::kEventDestructionRequested, journal.Recorder("requested"));
    destruction = handler.Subscribe(Vorn::kEventDestruction, [&](const DataPtr& d) {
      journal.Add("destruction");
      EXPECT_EQ(d->GetEventPublisher(), nullptr);
    });
    handler.Publish("onChange", nullptr);
    handler.RequestDestruction();
    EXPECT_TRUE(handler.IsDestructionRequested());
    EXPECT_TRUE(journal.entries.empty());
    handler.Publish(Vorn::kEventDestruction, nullptr);  // the one event that needs no owner
    EXPECT_EQ(journal.entries, (Strings{"destruction"}));
  }
  EXPECT_EQ(journal.entries, (Strings{"destruction", "destruction"}));
  EXPECT_TRUE(change->IsExpired());
  EXPECT_TRUE(destruction->IsExpired());
  change->Unsubscribe();  // its handler is gone: nothing to call back into
}

TEST(EventsOwnership, RequestDestructionPublishesOnce) {
  auto handler = TestHandler::Create();
  int calls = 0;
  auto token = handler->Subscribe(Vorn::kEventDestructionRequested, [&](const DataPtr& d) {
    ++calls;
    EXPECT_EQ(d->GetEventPublisher(), handler->PublisherAddress());
    EXPECT_FALSE(d->GetValue());
  });
  EXPECT_FALSE(handler->IsDestructionRequested());
  handler->RequestDestruction();
  EXPECT_TRUE(handler->IsDestructionRequested());
  handler->RequestDestruction();
  EXPECT_EQ(calls, 1);
}

TEST(EventsOwnership, DestructorPublishesDestructionThenExpiresEveryToken) {
  Journal journal;
  bool destroyed = false;
  auto handler = TestHandler::Create(&destroyed);
  auto a = handler->Subscribe(Vorn::kEventDestruction, journal.Recorder("A"));
  auto b = handler->Subscribe(Vorn::kEventDestruction, [&](const DataPtr& d) {
    journal.Add("B");
    EXPECT_TRUE(destroyed);  // the derived part is already gone
    EXPECT_EQ(d->GetEventPublisher(), nullptr);
  });
  auto other = handler->Subscribe("onChange", journal.Recorder("change"));
  handler.reset();
  EXPECT_EQ(journal.entries, (Strings{"A", "B"}));
  EXPECT_TRUE(a->IsExpired());
  EXPECT_TRUE(other->IsExpired());
  EXPECT_EQ(other.use_count(), 1);
  other->Unsubscribe();
}

TEST(EventsOwnership, ListenerDroppingTheLastOwnerEndsThePublish) {
  Journal journal;
  bool destroyed = false;
  auto handler = TestHandler::Create(&destroyed);
  TestHandler* raw = handler.get();
  auto a = raw->Subscribe("onChange", [&, label = vorn_test::HeapLabel("A")](const DataPtr&) {
    handler.reset();
    // The publish still holds the handler: it goes when the publish returns.
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(raw->IsListened("onChange"));
    raw->Publish("onOther", nullptr);  // no owner but the publish: ignored
    journal.Add(label.substr(0, 1));
  });
  auto b = raw->Subscribe("onChange", journal.Recorder("B"));
  auto other = raw->Subscribe("onOther", journal.Recorder("other"));
  auto gone = raw->Subscribe(Vorn::kEventDestruction, journal.Recorder("destruction"));

  raw->Publish("onChange", nullptr);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(journal.entries, (Strings{"A", "destruction"}));
  EXPECT_TRUE(a->IsExpired());
  EXPECT_TRUE(b->IsExpired());
}

TEST(EventsData, RawValueWithoutAValueIsReportedAndDefaulted) {
  KRTAbendCapture capture;
  const DataPtr empty = VornEventData::Create();
  EXPECT_EQ(empty->GetRawValue<int>(), 0);
  EXPECT_EQ(empty->GetRawValue<std::string>(), "");
  ASSERT_EQ(capture.Count(), 2u);
  EXPECT_EQ(capture.Last(), "VornEventData::GetRawValue: ERROR - No value in event data!");
}

TEST(EventsData, ValuesAreSharedButTheMapIsCopied) {
  auto number = std::make_shared<VornValue>(3);
  const VornValue_sp main = VornValue_sp::Make(VornValue(1));
  const DataPtr data = VornEventData::Create(main, {{"n", number}});
  VornEventData::ValuesMap map = data->GetValuesByString();
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map["n"], number);
  map.erase("n");
  map["extra"] = nullptr;
  EXPECT_EQ(data->GetValuesByString().size(), 1u);
  EXPECT_EQ(data->GetValue().Get(), main.Get());  // the value is shared, not copied

  const DataPtr onlyMap = VornEventData::Create(VornEventData::ValuesMap{{"n", number}});
  EXPECT_FALSE(onlyMap->GetValue());
  EXPECT_EQ(onlyMap->GetValuesByString().at("n"), number);
  EXPECT_EQ(onlyMap->GetSharedPtr(), onlyMap);
}

}  // namespace
