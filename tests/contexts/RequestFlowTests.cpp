// One client request from end to end, the user's edit the other way, and
// the main component's destruction (final for the process: this suite runs
// alone).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/host/Message.h"
#include "vorn/json/Convert.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/remote/CommunicationManager.h"
#include "vorn/runtime/LibBasedFactory.h"
#include "vorn/views/TweakerFactory.h"
#include "vorn/views/ViewsManager.h"

namespace {
struct ContextFactory : VornLibBasedFactory_V1<VornBaseContext> {
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return nullptr; }
};

VornJSONValue Call(const std::string& function, const VornJSONObject& arguments) {
  VornJSONValue answer;
  int replies = 0;
  EXPECT_TRUE(VornCommunicationManager_V1::TryCallRemoteObjectFunc(
      "tests", "flow", function, [&](const VornJSONValue& reply) { answer = reply, ++replies; }, arguments));
  EXPECT_EQ(replies, 1);
  return answer;
}
}  // namespace

TEST(RequestFlow, ClientCallReachesModelViewsAndClientsThenEditsFlowBackAndShutdownEndsAll) {
  MBX::RecordingNode node;
  VornCommunicationManager_V1::SetMBXNode(&node);
  VornTweakerFactory::RegisterTypes("TestTweakerRepresentations", "TestTweakerTemplates");

  // The context comes from its plug-in, with a view and initial data.
  ContextFactory factory;
  auto context = std::static_pointer_cast<VornBaseContext>(
      std::shared_ptr<VornBaseClass>(factory.CreateInstanceSharedPtr("vorn_test_plugin_context", "TestFlowContext")));
  ASSERT_NE(context, nullptr);
  auto info = std::make_shared<VornContextInfo>();
  info->dataOptions = new VornDataOptions;
  const VornValuesByString initial =
      Vorn::ConvertJSONObjectToValuesByString(VornJSONObject{{"id", "A"}, {"type", "angle"}, {"value", 1.0}});
  info->dataOptions->initialValues = initial;
  auto* view = new VornViewInfo;
  view->libraryName = "vorn_test_plugin_views";
  view->className = "TestView";
  info->viewInfos.push_back(view);
  ASSERT_TRUE(context->RegisterInVorn(info));

  auto tree = VornDataManager::GetTree("flow");
  auto a = tree->FindChildren(initial, false, true).at(0);
  auto tweaker = VornViewsManager::GetView("flow", "edit")->GetTweakers().at(0)->tweaker;
  EXPECT_EQ(tweaker->GetValue()->GetRawValue<double>(), 1.0);

  // Client -> context function -> tree -> hooks and tweaker; one reply; one event out.
  EXPECT_EQ(Call("setValue", VornJSONObject{{"id", "A"}, {"value", 2.5}}).Stringify(), R"({"_func_return":2.5})");
  EXPECT_EQ(a->GetValue("value")->GetRawValue<double>(), 2.5);
  EXPECT_EQ(tweaker->GetValue()->GetRawValue<double>(), 2.5);
  const auto emissions = node.Emissions();
  ASSERT_EQ(emissions.size(), 1u);
  EXPECT_EQ(emissions[0].event, "VornRemoteEvent");
  EXPECT_EQ(emissions[0].target, "flow$VORN$valueSet");
  EXPECT_EQ(*emissions[0].parameters.FindString("eventData"), R"({"data":"A"})");

  // A bad call is answered with an error naming the argument, and changes nothing.
  EXPECT_EQ(Call("setValue", VornJSONObject{{"id", "A"}}).GetFromPath({"error", "argument"}).ToString(), "value");

  // The user's edit: tweaker -> model "value" -> the context's hook (which
  // also heard the root gain its first child).
  EXPECT_TRUE(tweaker->EditValue(VornValue(4.0)));
  EXPECT_EQ(a->GetValue("value")->GetRawValue<double>(), 4.0);
  EXPECT_EQ(Call("stats", {}).Stringify(), R"({"_func_return":{"newObjects":2,"changes":3,"destructions":0}})");

  // Shutdown leaves no context, view or tree.
  const std::weak_ptr<VornBaseContext> weakContext = context;
  const std::weak_ptr<VornModelObject> weakTree = tree;
  const std::weak_ptr<VornBaseTweaker> weakTweaker = tweaker;
  context.reset(), info.reset(), tree.reset(), a.reset(), tweaker.reset();
  VornMainComponent::Destroy();
  VornCommunicationManager_V1::SetMBXNode(nullptr);
  EXPECT_TRUE(weakContext.expired() && weakTree.expired() && weakTweaker.expired());
  EXPECT_FALSE(VornMainComponent::IsEntityRegistered("flow"));
  EXPECT_FALSE(VornCommunicationManager_V1::TryCallRemoteObjectFunc("tests", "flow", "stats", [](const auto&) {}, {}));
}
