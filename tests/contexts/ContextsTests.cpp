// Context registration, the hooks a context hears, and client apps.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ClientApps.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/host/SysLog.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"

namespace {
using Ptr = VornModelObject::Ptr;

VornValuesByString Record(const std::string& id, std::vector<VornValuesByString> children = {}) {
  VornValuesByString record;
  record.try_emplace("id", VornValue(id));
  if (!children.empty()) record.try_emplace("children", std::move(children));
  return record;
}

struct RecordingContext : VornBaseContext {
  explicit RecordingContext(const std::string& name) : VornBaseContext(name, "tests") { ++live; }
  ~RecordingContext() override { --live; }
  static inline int live = 0;
  void _OnNewModelObject(const ModelObjectPtr& object) override {
    log.push_back("new " + (object->IsTrueRoot() ? std::string("root") : object->GetID()));
  }
  void _OnModelObjectDataChange(const std::shared_ptr<VornEventData>&) override { log.push_back("change"); }
  void _OnModelObjectDestructionRequested(VornModelObject* object) override { log.push_back("gone " + object->GetID()); }
  void _ManageClientAppConnectionChange(const ClientAppPtr& app, bool on) override {
    log.push_back(app->GetID() + (on ? " connected" : " disconnected"));
  }
  void _ManageClientAppShow(const ClientAppPtr& app) override { log.push_back(app->GetID() + " shown"); }
  void _ManageRemoteContextStatusChange(const ClientAppPtr& app, bool on) override {
    log.push_back(app->GetID() + (on ? " active" : " inactive"));
  }
  std::vector<std::string> log;
};

struct TestApp : VornBaseClientApp {
  TestApp(const std::string& id, const std::vector<std::string>& contexts) : VornBaseClientApp(id, contexts) {}
};

std::shared_ptr<VornContextInfo> InfoWith(VornValuesByString initial) {
  auto info = std::make_shared<VornContextInfo>();
  info->dataOptions = new VornDataOptions;
  info->dataOptions->initialValues = std::move(initial);
  return info;
}
}  // namespace

// Contexts made with `new`: refused, each stays the caller's, whole, and the
// record comes back as given; accepted, the library owns and frees it.
TEST(VornMainComponent, ContextsMadeWithNewAreOwnedOnlyOnceRegistered) {
  const int live = RecordingContext::live;
  auto holder = std::make_shared<RecordingContext>("taken");
  ASSERT_TRUE(holder->RegisterInVorn());
  KRTAbendCapture capture;
  const auto info = InfoWith(Record("x"));
  auto* deleted = new RecordingContext("taken");
  auto* sharedLater = new RecordingContext("taken");
  EXPECT_FALSE(deleted->RegisterInVorn());  // the record made inside was its only other owner
  EXPECT_FALSE(sharedLater->RegisterInVorn(info));
  EXPECT_TRUE(deleted->IsExpired() && sharedLater->IsExpired());
  EXPECT_EQ(deleted->GetName(), "taken");
  EXPECT_TRUE(!info->context && !info->dataOptions->onDataTreeInitialized);
  EXPECT_EQ(RecordingContext::live, live + 3);
  delete deleted;

  // Shared by its owner, it registers with the same record once the name is free.
  const std::shared_ptr<RecordingContext> owned(sharedLater);
  EXPECT_EQ(owned->weak_from_this().lock(), owned);
  holder->RequestDestruction();
  holder.reset();
  ASSERT_TRUE(owned->RegisterInVorn(info));
  EXPECT_EQ(owned->log, (std::vector<std::string>{"new root", "new x", "change"}));
  owned->RequestDestruction();

  auto* fresh = new RecordingContext("fresh");
  ASSERT_TRUE(fresh->RegisterInVorn());
  EXPECT_EQ(RecordingContext::live, live + 2);
  fresh->RequestDestruction();  // frees it
  EXPECT_EQ(RecordingContext::live, live + 1);
  EXPECT_EQ(capture.Count(), 2u);
}

namespace {
// Contexts "one" and "two", and the app "app" naming "one", registered after
// a report that it connected on channel 7.
class ClientApps : public ::testing::Test {
protected:
  using M = VornClientAppsManager;
  void SetUp() override {
    ASSERT_TRUE(one->RegisterInVorn() && two->RegisterInVorn());
    M::ChangeClientAppConnectionStatus(channel, true, "app", {});
    connectedBefore = M::IsClientAppConnected("app");
    ASSERT_TRUE(M::Register(app));
  }
  void TearDown() override {
    for (const std::string& id : M::GetClientAppIDs()) M::Unregister(id);
    one->RequestDestruction();
    two->RequestDestruction();
  }
  void JoinTwo() { M::ChangeClientAppConnectionStatus(channel, true, "", {"two"}); }
  std::shared_ptr<RecordingContext> one = std::make_shared<RecordingContext>("one");
  std::shared_ptr<RecordingContext> two = std::make_shared<RecordingContext>("two");
  std::shared_ptr<TestApp> app = std::make_shared<TestApp>("app", std::vector<std::string>{"one"});
  const OVK::ChannelId channel{7};
  bool connectedBefore = false;
};
}  // namespace

// "two" is new and joined, "one" (named at construction) is not; the
// context joined after the event went out.
TEST_F(ClientApps, AReportByChannelJoinsOnlyTheContextsItNames) {
  JoinTwo();
  M::ChangeClientAppConnectionStatus(OVK::ChannelId(99), true, "", {"one"});  // unknown: ignored
  EXPECT_TRUE(app->IsConnected());
  EXPECT_FALSE(app->GetContextStatus("one"));
  EXPECT_TRUE(app->GetContextStatus("two"));
  EXPECT_TRUE(one->GetClientApps().empty());
  EXPECT_EQ(two->GetClientApps().size(), 1u);
  EXPECT_TRUE(two->log.empty());
}

TEST_F(ClientApps, ShowStatusAndDisconnectionReachTheJoinedContexts) {
  JoinTwo();
  M::ShowClientApp("app");
  EXPECT_TRUE(M::IsClientAppDisplayed("app"));
  M::HideClientApp("app");
  M::CloseClientApp("app");
  EXPECT_FALSE(app->IsDisplayed());
  M::ChangeClientContextStatus("app", "two", false);
  M::ChangeClientAppConnectionStatus(channel, false, "app", {"two"});
  EXPECT_EQ(two->log, (std::vector<std::string>{"app shown", "app inactive", "app disconnected"}));
}

TEST_F(ClientApps, RegistrationTakesAnEarlierConnectionAndRefusesDuplicatesWhoseEndLeavesTheFirst) {
  EXPECT_TRUE(connectedBefore);
  EXPECT_EQ(M::GetClientApp(channel), app);
  auto copy = std::make_shared<TestApp>("app", std::vector<std::string>{});
  EXPECT_FALSE(M::Register(copy));
  copy->RequestDestruction();
  EXPECT_TRUE(M::HasClientApp("app"));
  KRTAbendCapture capture;
  EXPECT_FALSE(M::Register(nullptr));
  EXPECT_EQ(capture.Last(), "[VornClientAppsManager::Register] The provided object is not a valid VornBaseClientApp!");
}

TEST_F(ClientApps, UnregisterEndsOnlyItsAppAndItsContextsLetGo) {
  JoinTwo();
  auto other = std::make_shared<TestApp>("other", std::vector<std::string>{});
  ASSERT_TRUE(M::Register(other));
  M::Unregister("app");
  EXPECT_TRUE(app->IsDestructionRequested());
  EXPECT_TRUE(two->GetClientApps().empty());
  EXPECT_EQ(M::GetClientAppIDs(), std::vector<std::string>{"other"});
  EXPECT_EQ(M::ListenToClientApp("app", "onShow", [](const auto&) {}), nullptr);
}

// Connection records, over identifiers used once each (one per connection,
// as a WebSocket host does), in every order of reports: r register,
// c connect, d disconnect, D disconnect by channel, u unregister, x the
// app's destruction request. Nothing is left after.
TEST(VornClientAppsManager, ConnectionRecordsGoWithTheirAppOrTheirConnection) {
  using M = VornClientAppsManager;
  const std::size_t before = M::ConnectionCount();
  int channels = 1000;
  for (const std::string order : {"rcdu", "crDu", "rcud", "rcx", "cd", "cD", "cu"}) {
    for (int i = 0; i < 25; ++i) {
      const std::string id = order + std::to_string(i);
      const OVK::ChannelId channel(channels++);
      std::shared_ptr<TestApp> app;
      for (const char step : order) {
        if (step == 'r') {
          ASSERT_TRUE(M::Register(app = std::make_shared<TestApp>(id, std::vector<std::string>{})));
        } else if (step == 'c') {
          M::ChangeClientAppConnectionStatus(channel, true, id, {});
          EXPECT_TRUE(M::IsClientAppConnected(id)) << id;  // kept, with or without an app
        } else if (step == 'd' || step == 'D') {
          M::ChangeClientAppConnectionStatus(channel, false, step == 'd' ? id : std::string(), {});
          // With an app registered, its record still finds it by channel.
          EXPECT_EQ(M::GetClientApp(channel), M::HasClientApp(id) ? app : nullptr) << id;
        } else if (step == 'u') {
          M::Unregister(id);
        } else {
          app->RequestDestruction();
        }
      }
    }
  }
  EXPECT_EQ(M::ConnectionCount(), before);
}
