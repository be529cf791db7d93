// Concrete tweakers for the views tests, each accepting some value kinds.
#include <string>

#include "vorn/runtime/PluginExport.h"
#include "vorn/views/BaseTweaker.h"

namespace {
struct TestNumberTweaker : VornBaseTweaker {
  bool _IsValueAccepted(const VornValue& value) override { return value.Holds<double>() || value.Holds<int>(); }
};
struct TestTextTweaker : VornBaseTweaker {
  bool _IsValueAccepted(const VornValue& value) override { return value.Holds<std::string>(); }
};
struct TestBoolTweaker : VornBaseTweaker {
  bool _IsValueAccepted(const VornValue& value) override { return value.Holds<bool>(); }
};
}  // namespace

VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, TestNumberTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, TestTextTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, TestBoolTweaker)
