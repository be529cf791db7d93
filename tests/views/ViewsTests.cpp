// Tweaker templates and representations, tweakers, views and the views
// manager, with the tweakers and views of the test plug-ins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/host/SysLog.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/views/TweakerFactory.h"
#include "vorn/views/ViewsManager.h"

namespace {
using Ptr = VornModelObject::Ptr;

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
    KRTAbendCapture capture;
    VornTweakerFactory::RegisterTypes("TestTweakerRepresentations", "TestTweakerTemplates");
    messages = capture.Messages();
  }
  static inline std::vector<std::string> messages;
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

TEST_F(TweakerFiles, ViewsKeepTweakersAndModelInStepAndLetGoWhenReleased) {
  auto contextInfo = std::make_shared<VornContextInfo>();
  contextInfo->context = std::make_shared<TestContext>();
  contextInfo->viewInfos = {View("TestView"), View("NotAView"), View("OneFileView")};
  const Ptr root = VornDataManager::InitializeDataTree(nullptr, "views");
  root->UpdateChildren(Record("A", "angle", 1.0), false);
  const Ptr a = root->GetChildren()[0];
  a->AddChild(Record("B", "angle", 2.0));
  a->AddChild(Record("C", nullptr, VornValue()));
  root->UpdateChildren(Record("D", "boolean", true), false);

  VornViewsManager::GenerateViews(contextInfo, "views", root);
  ASSERT_EQ(VornViewsManager::GetViews("views").size(), 2u);  // the class that is not a view is skipped
  auto view = VornViewsManager::GetView("views", "edit");
  ASSERT_NE(view, nullptr);
  std::vector<std::string> shown;
  for (const auto& info : view->GetTweakers()) shown.push_back(info->modelObjects[0]->GetID());
  EXPECT_EQ(shown, (std::vector<std::string>{"B", "A", "D"}));  // children before parents, no root
  // The view's own files were registered; the second view exports one name only.
  std::shared_ptr<VornTypeTemplateDef> found;
  EXPECT_TRUE(VornTweakerFactory::GetTemplateDefinition("viewText", found));
  EXPECT_FALSE(VornTweakerFactory::GetTemplateDefinition("compactOnly", found));
  ASSERT_TRUE(VornTweakerFactory::GetTemplateDefinition("number", found));
  EXPECT_EQ(found->library, "vorn_test_plugin_tweakers");  // first definition kept

  auto tweakerA = view->GetTweakers()[1]->tweaker;
  int echoes = 0;
  auto token = tweakerA->Subscribe("onValueChange", [&](const auto&) { ++echoes; });
  a->SetValue("value", VornValue(5.0));  // model -> tweaker, as data
  EXPECT_EQ(tweakerA->GetValue()->GetRawValue<double>(), 5.0);
  EXPECT_EQ(echoes, 0);
  int changes = 0;
  auto change = a->Subscribe("onChange", [&](const auto&) { ++changes; });
  EXPECT_TRUE(tweakerA->EditValue(VornValue(7.0)));  // tweaker -> model "value"
  EXPECT_EQ(a->GetValue("value")->GetRawValue<double>(), 7.0);
  EXPECT_EQ(changes, 1);

  a->AddChild(Record("E", "angle", 3.0));  // listened to: a tweaker of its own
  EXPECT_EQ(view->GetTweakers().size(), 4u);
  root->RemoveChild("D", true);  // its destruction takes the tweaker out
  EXPECT_EQ(view->GetTweakers().size(), 3u);

  view->Initialize(nullptr, root, contextInfo, false);  // a second call does nothing
  EXPECT_EQ(view->GetTweakers().size(), 3u);
  VornViewsManager::GenerateViews(contextInfo, "views", root);  // the first list stays
  EXPECT_EQ(VornViewsManager::GetView("views", "edit"), view);

  // Released views are never called back.
  const std::weak_ptr<VornBaseView> gone = view;
  const auto kept = std::move(tweakerA);
  view.reset();
  VornViewsManager::OnContextEnd("views");
  EXPECT_TRUE(gone.expired());
  a->AddChild(Record("F", "angle", 4.0));
  EXPECT_TRUE(kept->EditValue(VornValue(9.0)));
  EXPECT_EQ(a->GetValue("value")->GetRawValue<double>(), 7.0);
  VornDataManager::OnContextEnd("views");

  EXPECT_EQ(VornViewsManager::GetView("views", "edit"), nullptr);

  // A record without its context: the view reports it and generates nothing.
  auto noContext = std::make_shared<VornContextInfo>();
  noContext->viewInfos = {View("TestView")};
  KRTAbendCapture capture;
  VornViewsManager::GenerateViews(noContext, "alone", root);
  EXPECT_EQ(capture.Last(), "[Vorn - Base View] VornBaseView::Initialize => Context not found in VornContextInfo!");
  EXPECT_TRUE(VornViewsManager::GetView("alone", "edit")->GetTweakers().empty());
  VornViewsManager::OnContextEnd("alone");
}
