// One client request from end to end, the user's edit the other way, and
// the main component's destruction (final for the process: this suite runs
// alone, its tests in order).
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
int Stat(const char* name) { return Call("stats", {}).GetFromPath({"_func_return", name}).Get<int>(); }

// The context "flow" from its plug-in, with a view and the initial object A,
// once for the suite: the last test destroys the main component for good.
class RequestFlow : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    VornCommunicationManager_V1::SetMBXNode(&node);
    VornTweakerFactory::RegisterTypes("TestTweakerRepresentations", "TestTweakerTemplates");
    ContextFactory factory;
    context = std::static_pointer_cast<VornBaseContext>(
        std::shared_ptr<VornBaseClass>(factory.CreateInstanceSharedPtr("vorn_test_plugin_context", "TestFlowContext")));
    if (!context) return;
    auto info = std::make_shared<VornContextInfo>();
    info->dataOptions = new VornDataOptions;
    info->dataOptions->initialValues = Vorn::ConvertJSONObjectToValuesByString(
        VornJSONObject{{"id", "A"}, {"type", "angle"}, {"value", 1.0}});
    auto* view = new VornViewInfo;
    view->libraryName = "vorn_test_plugin_views";
    view->className = "TestView";
    info->viewInfos.push_back(view);
    if (!context->RegisterInVorn(info)) return;
    a = VornDataManager::GetTree("flow")->GetChildren().at(0);
    tweaker = VornViewsManager::GetView("flow", "edit")->GetTweakers().at(0)->tweaker;
  }
  // A run that stops before the shutdown test must still let the plug-ins'
  // objects go before the plug-ins are unloaded at exit.
  static void TearDownTestSuite() { tweaker.reset(), a.reset(), context.reset(); }
  void SetUp() override { ASSERT_TRUE(context && tweaker) << "the context did not register"; }
  double Value() const { return a->GetValue("value")->GetRawValue<double>(); }
  static inline MBX::RecordingNode node;
  static inline std::shared_ptr<VornBaseContext> context;
  static inline VornModelObject::Ptr a;
  static inline std::shared_ptr<VornBaseTweaker> tweaker;
};
}  // namespace

TEST_F(RequestFlow, AClientCallUpdatesTreeAndTweakerAndTellsClientsOnce) {
  EXPECT_EQ(tweaker->GetValue()->GetRawValue<double>(), 1.0);  // shown by the view since registration
  const std::size_t emitted = node.Count();
  EXPECT_EQ(Call("setValue", VornJSONObject{{"id", "A"}, {"value", 2.5}}).Stringify(), R"({"_func_return":2.5})");
  EXPECT_EQ(Value(), 2.5);
  EXPECT_EQ(tweaker->GetValue()->GetRawValue<double>(), 2.5);
  ASSERT_EQ(node.Count(), emitted + 1);
  EXPECT_EQ(node.Last().event, "VornRemoteEvent");
  EXPECT_EQ(node.Last().target, "flow$VORN$valueSet");
  EXPECT_EQ(*node.Last().parameters.FindString("eventData"), R"({"data":"A"})");
}

TEST_F(RequestFlow, AUsersEditReachesTheModelAndTheContextsHook) {
  const int changes = Stat("changes");
  EXPECT_TRUE(tweaker->EditValue(VornValue(4.0)));
  EXPECT_EQ(Value(), 4.0);
  EXPECT_EQ(Stat("changes"), changes + 1);
}

// Last: shutdown leaves no context, view or tree.
TEST_F(RequestFlow, ShutdownEndsContextViewsTreeAndCalls) {
  const std::weak_ptr<VornBaseContext> weakContext = context;
  const std::weak_ptr<VornModelObject> weakA = a;
  const std::weak_ptr<VornBaseTweaker> weakTweaker = tweaker;
  context.reset(), a.reset(), tweaker.reset();
  VornMainComponent::Destroy();
  VornCommunicationManager_V1::SetMBXNode(nullptr);
  EXPECT_TRUE(weakContext.expired() && weakA.expired() && weakTweaker.expired());
  EXPECT_FALSE(VornMainComponent::IsEntityRegistered("flow"));
  EXPECT_FALSE(VornCommunicationManager_V1::TryCallRemoteObjectFunc("tests", "flow", "stats", [](const auto&) {}, {}));
}
