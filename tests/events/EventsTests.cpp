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

// Outside a publish the current token index is 0, so the first token
// unsubscribed then stays listed (expired) until the next walk; while
// another token runs, the handler can tell them apart.
TEST(EventsTokens, IsListenedDropsExpiredTokensThatAreNotRunning) {
  auto handler = TestHandler::Create();
  auto t0 = handler->Subscribe("onChange", [](const DataPtr&) {});
  t0->Unsubscribe();
  ASSERT_EQ(t0.use_count(), 2);
  auto probe = handler->Subscribe("onProbe", [&](const DataPtr&) { EXPECT_FALSE(handler->IsListened("onChange")); });
  handler->Publish("onProbe", nullptr);
  EXPECT_EQ(t0.use_count(), 1);
  auto live = handler->Subscribe("onChange", [](const DataPtr&) {});
  EXPECT_TRUE(handler->IsListened("onChange"));
}

// A nested publish of the same event while a once-token's first call still
// runs must not deliver it a second time.
TEST(EventsTokens, OnceTokenIsNotReenteredByANestedPublish) {
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
