#include <gtest/gtest.h>

#include <string>
#include <unordered_map>

#include "vorn/host/Binary.h"
#include "vorn/host/ChannelId.h"
#include "vorn/host/Message.h"
#include "vorn/host/Status.h"

namespace {

TEST(Parameters, MembersAreFoundByKeyAndKind) {
  MBX::Parameters p;
  ASSERT_EQ(p.WriteString("eventData", "{\"data\":1}"), KRT_OK);
  ASSERT_EQ(p.WriteBuffer("eventDataBinary", OVK::Binary("\x01\x02", 2)), KRT_OK);
  ASSERT_NE(p.FindString("eventData"), nullptr);
  EXPECT_EQ(*p.FindString("eventData"), "{\"data\":1}");
  ASSERT_NE(p.FindBuffer("eventDataBinary"), nullptr);
  EXPECT_EQ(p.FindBuffer("eventDataBinary")->size(), 2u);
  EXPECT_EQ(p.FindBuffer("eventData"), nullptr);
  EXPECT_EQ(p.FindString("eventDataBinary"), nullptr);
  EXPECT_EQ(p.FindString("eventdata"), nullptr);
  EXPECT_EQ(p.WriteString("", "v"), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(p.Count(), 2u);
}

TEST(Parameters, RewritingAKeyReplacesItInPlace) {
  MBX::Parameters p, q;
  p.WriteString("a", "1");
  p.WriteString("b", "2");
  p.WriteBuffer("a", OVK::Binary("x", 1));  // the kind changes too
  ASSERT_EQ(p.Count(), 2u);
  EXPECT_EQ(p.Members()[0].key, "a");
  EXPECT_EQ(p.FindString("a"), nullptr);
  EXPECT_EQ(p.FindBuffer("a")->AsStringView(), "x");
  // Equality looks at kinds and order.
  q.WriteString("a", "x");
  q.WriteString("b", "2");
  EXPECT_FALSE(p == q);
  q.WriteBuffer("a", OVK::Binary("x", 1));
  EXPECT_TRUE(p == q);
}

TEST(RecordingNode, RecordsBothEmitFormsThroughTheInterface) {
  MBX::RecordingNode recorder;
  MBX::Node& node = recorder;
  MBX::Parameters params = node.CreateParameters();
  EXPECT_TRUE(params.IsEmpty());
  params.WriteString("eventData", "{}");
  EXPECT_EQ(node.Emit("VornRemoteEvent", params), 0);
  EXPECT_EQ(node.Emit("VornRemoteEvent", "obj$VORN$onChange", MBX::Parameters()), 0);

  const auto emissions = recorder.Emissions();
  ASSERT_EQ(emissions.size(), 2u);
  EXPECT_EQ(emissions[0].event, "VornRemoteEvent");
  EXPECT_FALSE(emissions[0].hasTarget);
  EXPECT_TRUE(emissions[0].parameters == params);
  EXPECT_TRUE(emissions[1].hasTarget);
  EXPECT_EQ(emissions[1].target, "obj$VORN$onChange");
  EXPECT_TRUE(emissions[1].parameters.IsEmpty());

  recorder.SetStatus(-5);  // a failing channel still records
  EXPECT_EQ(node.Emit("e", "", params), -5);
  EXPECT_EQ(recorder.Count(), 3u);
  EXPECT_TRUE(recorder.Last().hasTarget);
}

}  // namespace
