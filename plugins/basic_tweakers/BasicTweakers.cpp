// The library's basic tweakers: numbers (with the data's "unit", "min",
// "max", "step"), booleans, text, and choices among the data's
// "possibleValues". Each refuses the values its control could not hold.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "vorn/runtime/PluginExport.h"
#include "vorn/views/BaseTweaker.h"

namespace {

const VornValue* Find(const VornBaseTweaker& tweaker, const char* key) {
  if (tweaker.GetData().size() != 1) return nullptr;
  const auto& shown = tweaker.GetData().front();
  auto it = shown.find(key);
  return it == shown.end() ? nullptr : &it->second;
}

bool AsNumber(const VornValue* value, double& out) {
  if (value && value->Holds<double>()) out = value->GetRawValue<double>();
  else if (value && value->Holds<int>()) out = value->GetRawValue<int>();
  else return false;
  return true;
}

class VornNumberTweaker final : public VornBaseTweaker {
public:
  const char* GetKind() const override { return "number"; }

protected:
  bool _IsValueAccepted(const VornValue& value) override {
    double number, bound;
    if (!AsNumber(&value, number) || !std::isfinite(number)) return false;
    // Values outside the bounds the data gives are refused.
    if (AsNumber(Find(*this, "min"), bound) && number < bound) return false;
    if (AsNumber(Find(*this, "max"), bound) && number > bound) return false;
    return true;
  }
};

class VornBoolTweaker final : public VornBaseTweaker {
public:
  const char* GetKind() const override { return "boolean"; }

protected:
  bool _IsValueAccepted(const VornValue& value) override { return value.Holds<bool>(); }
};

class VornTextTweaker final : public VornBaseTweaker {
public:
  const char* GetKind() const override { return "text"; }

protected:
  bool _IsValueAccepted(const VornValue& value) override { return value.Holds<std::string>(); }
};

class VornChoiceTweaker final : public VornBaseTweaker {
public:
  const char* GetKind() const override { return "choice"; }

protected:
  bool _IsValueAccepted(const VornValue& value) override {
    if (!value.Holds<std::string>()) return false;
    const VornValue* choices = Find(*this, "possibleValues");
    if (!choices || !choices->Holds<std::vector<std::string>>()) return true;  // no list (yet): any text
    const auto& list = choices->GetRawValue<std::vector<std::string>>();
    return std::find(list.begin(), list.end(), value.GetRawValue<std::string>()) != list.end();
  }
};

}  // namespace

VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornNumberTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornBoolTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornTextTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornChoiceTweaker)
