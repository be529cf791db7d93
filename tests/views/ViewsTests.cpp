// Tweaker templates and representations, tweakers, views and the views
// manager, with the tweakers and views of the test plug-ins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/events/EventData.h"
#include "vorn/events/EventsHandler.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Convert.h"
#include "vorn/json/Parser.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/DataTypesManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/views/TweakerFactory.h"
#include "vorn/views/ViewsManager.h"

namespace {
using Ptr = VornModelObject::Ptr;

struct Handler : VornEventsHandler {};

// With VORN_TEST_FULL_EVENT_NAMES set (a second run of this suite), the
// process's table of event names is full before any view listens: views
// then take a token per event rather than one for all.
const bool kEventNamesFull = [] {
  if (!std::getenv("VORN_TEST_FULL_EVENT_NAMES")) return false;
  auto filler = std::make_shared<Handler>();
  for (int i = 0; i < 4000; ++i) filler->Subscribe("filler" + std::to_string(i), [](const auto&) {});
  return true;
}();

struct TestContext : VornBaseContext {
  TestContext() : VornBaseContext("views", "tests") {}
};

VornValuesByString Record(const char* id, const char* type, VornValue value) {
  VornValuesByString record;
  record.try_emplace("id", VornValue(std::string(id)));
  if (type) record.try_emplace("type", VornValue(std::string(type)));
  if (value.HasRawValue()) record.try_emplace("value", value);
  return record;
}

std::string TemplateOf(const char* type, const char* representation) {
  std::shared_ptr<VornTypeTemplateDef> found;
  return VornTweakerFactory::GetTypeTemplate(type, representation, found) ? found->name : "-";
}

VornViewInfo* View(const char* className) {
  auto* info = new VornViewInfo;
  info->libraryName = "vorn_test_plugin_views";
  info->className = className;
  return info;
}

class TweakerFiles : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (registered) return;  // once, whichever suite sharing the files runs first
    registered = true;
    KRTAbendCapture capture;
    VornTweakerFactory::RegisterTypes("TestTweakerRepresentations", "TestTweakerTemplates");
    messages = capture.Messages();
  }
  static inline std::vector<std::string> messages;
  static inline bool registered = false;
};
}  // namespace

TEST_F(TweakerFiles, BadEntriesCostOnlyThemselvesAndLaterFilesReplaceSingleRepresentations) {
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "[Vorn - Tweaker Factory] VornTypeTemplateVisitor for string => error: Unknown key = \"comment\"!",
                          "[Vorn - Tweaker Factory] VornTypeRepVisitor for string => error: Template \"nowhere\" not found!"}));
  EXPECT_EQ(TemplateOf("length", "edit"), "number");  // same call: templates read first
  EXPECT_EQ(TemplateOf("boolean", "edit"), "bool");   // after the bad "ghost" entry
  EXPECT_EQ(TemplateOf("ghost", "edit"), "-");        // the bad entry's data type is dropped
  EXPECT_EQ(TemplateOf("length", "nothing"), "-");
  EXPECT_EQ(TemplateOf("number", "edit"), "-");  // no fallback from a subtype to "number"

  VornTweakerFactory::RegisterTypes("TestTweakerRepresentationsLater", "");
  VornTweakerFactory::RegisterTypes("NoSuchRepresentations", "NoSuchTemplates");
  EXPECT_EQ(TemplateOf("length", "edit"), "text");
  EXPECT_EQ(TemplateOf("length", "compact"), "number");
  EXPECT_TRUE(VornTweakerFactory::HasFileBeenLoaded("NoSuchTemplates", false));
  EXPECT_TRUE(VornTweakerFactory::HasFileBeenLoaded("NoSuchRepresentations", true));
  EXPECT_FALSE(VornTweakerFactory::HasFileBeenLoaded("NoSuchTemplates", true));

  std::shared_ptr<VornTypeTemplateDef> kept = std::make_shared<VornTypeTemplateDef>();
  const auto before = kept;
  EXPECT_FALSE(VornTweakerFactory::GetTemplateDefinition("nowhere", kept));
  EXPECT_EQ(kept, before);

  // Tweakers come from their libraries; a missing library or a class that
  // is not a tweaker gives none.
  KRTAbendCapture capture;
  EXPECT_NE(VornTweakerFactory::GenerateTweaker("angle", "edit"), nullptr);
  EXPECT_EQ(VornTweakerFactory::GenerateTweaker("lost", "edit"), nullptr);
  EXPECT_EQ(VornTweakerFactory::GenerateTweaker("odd", "edit"), nullptr);
  EXPECT_GE(capture.Count(), 1u);  // the library that does not load
}

TEST_F(TweakerFiles, ATweakerTakesAcceptedNewValuesFromDataWithoutEcho) {
  const auto tweaker = VornTweakerFactory::GenerateTweaker("angle", "edit");
  ASSERT_NE(tweaker, nullptr);
  EXPECT_TRUE(tweaker->GetValue() == nullptr && !tweaker->IsActive() && tweaker->CanBeShown() && !tweaker->IsUsed());
  int published = 0;
  auto token = tweaker->Subscribe("onValueChange", [&](const auto&) { ++published; });
  const VornBaseTweaker::Data two{Record("a", nullptr, 1.0), Record("b", nullptr, 2.0)};
  EXPECT_FALSE(tweaker->SetData(two));
  EXPECT_EQ(tweaker->GetData().size(), 2u);  // kept all the same
  EXPECT_FALSE(tweaker->SetData({Record("a", nullptr, VornValue())}));
  EXPECT_FALSE(tweaker->SetData({Record("a", nullptr, std::string("text"))}));
  EXPECT_TRUE(tweaker->SetData({Record("a", nullptr, 1.5)}));
  EXPECT_FALSE(tweaker->SetData({Record("a", nullptr, 1.5)}));
  EXPECT_EQ(published, 0);
  EXPECT_FALSE(tweaker->EditValue(VornValue(std::string("text"))));
  EXPECT_TRUE(tweaker->EditValue(VornValue(2.5)));
  EXPECT_EQ(published, 1);
  EXPECT_EQ(tweaker->GetValue()->GetRawValue<double>(), 2.5);
}

namespace {
// A tweaker exposing the usage flag's setter that concrete tweakers call.
struct UsageTweaker : VornBaseTweaker {
  bool _IsValueAccepted(const VornValue&) override { return true; }
  using VornBaseTweaker::_SetIsUsed;
};
}  // namespace

TEST(Tweaker, UsageChangesAreAnnouncedOnlyWhenAsked) {
  const auto tweaker = std::make_shared<UsageTweaker>();
  std::vector<bool> heard;
  auto token = tweaker->Subscribe("onUsageStatusChange", [&](const std::shared_ptr<VornEventData>& data) {
    heard.push_back(data->GetValue()->GetRawValue<bool>());
  });
  tweaker->_SetIsUsed(true, true);
  tweaker->_SetIsUsed(false, false);
  EXPECT_FALSE(tweaker->IsUsed());
  EXPECT_EQ(heard, std::vector<bool>{true});
}

namespace {
// The views of context `name` over a tree built from JSON records.
class ViewOfTree : public TweakerFiles {
protected:
  void Build(const std::string& name, std::initializer_list<const char*> records,
             std::vector<VornViewInfo*> views = {View("TestView")}, bool withContext = true) {
    VornDataTypesManager::RegisterDataTypes("VornBasicDataTypes");
    context = name;
    info = std::make_shared<VornContextInfo>();
    if (withContext) info->context = std::make_shared<TestContext>();
    info->viewInfos = std::move(views);
    root = VornDataManager::InitializeDataTree(nullptr, name);
    for (const char* json : records)
      root->AddChild(Vorn::ConvertJSONObjectToValuesByString(VornJSONParser::ParseText(json, false)));
    VornViewsManager::GenerateViews(info, name, root);
    view = VornViewsManager::GetView(name, "edit");
  }
  void TearDown() override {
    VornViewsManager::OnContextEnd(context);
    VornDataManager::OnContextEnd(context);
  }
  std::string context;
  std::shared_ptr<VornContextInfo> info;
  Ptr root;
  std::shared_ptr<VornBaseView> view;
};

// A typed angle A with a typed child B and an untyped C, and a boolean D.
class TreeView : public ViewOfTree {
protected:
  void SetUp() override {
    Build("views", {R"({"id":"A","type":"angle","value":1.0,"children":[{"id":"B","type":"angle","value":2.0},
                       {"id":"C"}]})", R"({"id":"D","type":"boolean","value":true})"},
          {View("TestView"), View("NotAView"), View("OneFileView")});
    ASSERT_NE(view, nullptr);
    a = root->GetChildren()[0];
  }
  std::shared_ptr<VornBaseTweaker> TweakerOf(const char* id) { return view->FindTweakerOfObject(id)->tweaker; }
  Ptr a;
};
}  // namespace

TEST_F(TreeView, ANewTypedObjectGetsATweakerAndItIsAnnounced) {
  std::vector<std::string> generated;
  auto token = view->Subscribe("onTweakerGenerated", [&](const std::shared_ptr<VornEventData>& data) {
    const auto created = std::dynamic_pointer_cast<VornTweakerCreationEventData>(data);
    generated.push_back(created ? created->GetTweaker()->GetID() : "?");
  });
  a->AddChild(Record("E", "angle", 3.0));
  EXPECT_EQ(view->GetTweakers().size(), 4u);
  EXPECT_EQ(generated, std::vector<std::string>{"edit/E"});
}

TEST_F(TreeView, AModelChangeReachesItsTweaker) {
  const bool shared = std::make_shared<Handler>()->SubscribeToEach({"onChange", "onAddChild"}, [](const auto&) {}) != nullptr;
  EXPECT_EQ(shared, !kEventNamesFull);  // which way the view listens
  a->SetValue("value", VornValue(7.0));
  EXPECT_EQ(TweakerOf("A")->GetValue()->GetRawValue<double>(), 7.0);
}

// A client may still hold a tweaker its view dropped, or one whose view
// went: its edits reach its own listeners and nothing of the view.
TEST_F(TreeView, AnObjectsDestructionTakesItsTweakerOut) {
  const auto kept = TweakerOf("D"), survivor = TweakerOf("A");
  root->RemoveChild("D", true);
  EXPECT_EQ(view->GetTweakers().size(), 2u);
  EXPECT_EQ(view->FindTweakerOfObject("D"), nullptr);
  int heard = 0;
  auto token = kept->Subscribe("onValueChange", [&](const auto&) { ++heard; });
  EXPECT_FALSE(kept->Edit(VornValue(false)));
  EXPECT_EQ(heard, 1);
  VornViewsManager::OnContextEnd(context);
  view.reset();
  EXPECT_FALSE(survivor->Edit(VornValue(30.0)));
  EXPECT_EQ(a->GetValue("value")->GetRawValue<double>(), 1.0);
}

// A view whose tweakers also follow one related object.
struct RelatedView : VornBaseView {
  RelatedView() : VornBaseView("edit") {}
  void _InitializeView() override {}
  std::string Render() override { return {}; }
  std::shared_ptr<VornBaseTweaker> _GenerateTweaker(const ModelObjectPtr& object) override {
    if (object->IsTrueRoot() || !object->HasProperty("type") || object == related) return nullptr;
    auto info = std::make_shared<VornTweakerInfo>();
    info->dataType = object->GetRawValue<std::string>("type");
    info->modelObjects = {object};
    info->relatedModelObjects = {related};
    return VornBaseView::_GenerateTweaker(info);
  }
  ModelObjectPtr related;
};

// R is listened as related before the walk reaches it, and still hears its new children.
TEST_F(TreeView, AnObjectListenedFirstAsRelatedHearsItsNewChildren) {
  RelatedView other;
  root->AddChild(Record("R", "angle", 0.0));
  other.related = root->GetChildren().back();
  other.Initialize(nullptr, root, info, false);
  ASSERT_NE(other.FindTweakerOfObject("A"), nullptr);
  other.related->AddChild(Record("X", "angle", 5.0));
  EXPECT_NE(other.FindTweakerOfObject("X"), nullptr);
}

TEST_F(ViewOfTree, AViewWithoutItsContextReportsAndGeneratesNothing) {
  KRTAbendCapture capture;
  Build("alone", {R"({"id":"A","type":"angle","value":1.0})"}, {View("TestView")}, false);
  EXPECT_EQ(capture.Last(), "[Vorn - Base View] VornBaseView::Initialize => Context not found in VornContextInfo!");
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->GetTweakers().empty());
}

namespace {
// A view of four objects: a bounded angle, a read-only boolean, two angles
// sharing an id.
class CheckedEdits : public ViewOfTree {
protected:
  void SetUp() override {
    Build("checked", {R"({"id":"a","type":"angle","value":1.0,"min":0,"max":90})",
                      R"({"id":"ro","type":"boolean","value":false,"readOnly":true})",
                      R"({"id":"twin","type":"angle","value":1.0})", R"({"id":"twin","type":"angle"})"});
    ASSERT_NE(view, nullptr);
  }
};
}  // namespace

TEST_F(CheckedEdits, EditsAreWrittenToTheShownObjectUnlessItsConstraintsRefuse) {
  struct Row { const char* tweaker; VornValue value; bool asJSON; const char* reason; VornValue held; };
  const Row rows[] = {{"edit/a", 91.0, false, "range", 1.0},           {"edit/a", 91.0, true, "range", 1.0},
                      {"edit/a", std::string("x"), true, "type", 1.0}, {"edit/ro", true, false, "readOnly", false},
                      {"edit/ro", true, true, "readOnly", false},      {"edit/a", 45, true, "", 45.0},
                      {"edit/a", 7.0, false, "", 7.0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.tweaker) + " <- " + row.value.ToJSON().Stringify());
    const auto tweaker = view->FindTweaker(row.tweaker)->tweaker;
    const auto shown = view->FindTweaker(row.tweaker)->modelObjects[0];
    // The view hears an edit first: a listener finds it in the model.
    int published = 0;
    auto token = tweaker->Subscribe("onValueChange", [&](const auto&) {
      published += *shown->GetValue("value") == row.held ? 1 : 100;
    });
    const VornValueRefusal refusal = row.asJSON ? tweaker->Edit(row.value.ToJSON()) : tweaker->Edit(row.value);
    EXPECT_EQ(refusal.reason, row.reason) << refusal.message;
    EXPECT_EQ(published, refusal ? 0 : 1);
    EXPECT_TRUE(*shown->GetValue("value") == row.held);
    token->Unsubscribe();
  }
}
