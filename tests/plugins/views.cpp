// Views for the views tests: one that names its own templates and
// representations files, one that names only one of them, and a class
// exported where a view is expected that is not one.
#include <string>

#include "vorn/runtime/PluginExport.h"
#include "vorn/views/BaseTweaker.h"
#include "vorn/views/BaseView.h"

namespace {
struct TestView : VornBaseView {
  TestView() : VornBaseView("edit") {}
  void _InitializeView() override { ++initializations; }
  std::string Render() override { return "edit view: " + std::to_string(GetTweakers().size()) + " tweakers"; }
  int initializations = 0;
};
struct OneFileView : VornBaseView {
  OneFileView() : VornBaseView("compact") {}
  void _InitializeView() override {}
  std::string Render() override { return {}; }
};
struct NotAView : VornBaseTweaker {
  bool _IsValueAccepted(const VornValue&) override { return true; }
};
}  // namespace

VORN_EXPORT_PLUGIN_CLASS(VornBaseView, TestView)
VORN_EXPORT_PLUGIN_CLASS(VornBaseView, OneFileView)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, NotAView)

VORN_PLUGIN_EXPORT const char* TestViewVornViewDataTypesRepresentations() { return "TestViewRepresentations"; }
VORN_PLUGIN_EXPORT const char* TestViewVornViewDataTypesTemplates() { return "TestViewTemplates"; }
VORN_PLUGIN_EXPORT const char* OneFileViewVornViewDataTypesTemplates() { return "OneFileViewTemplates"; }
