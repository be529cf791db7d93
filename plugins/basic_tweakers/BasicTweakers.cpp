// The library's basic tweakers, one per kind of control: numbers (with the
// data's "unit", "min", "max", "step"), booleans, text, choices among the
// data's "possibleValues", vectors and points (one number per component),
// matrices (a grid), colours ("#rrggbb") and a read-only summary for values
// no control edits (geometries). What a value may be is checked by the
// shown object's constraints before a tweaker sees an edit; each tweaker
// only says which values its control can hold.
//
// Also the shipped view "form" (VornFormView): a context that lists it in
// its manifest gets a tweaker for every object with a data type.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "vorn/json/Array.h"
#include "vorn/model/ModelObject.h"
#include "vorn/model/ValueConstraints.h"
#include "vorn/runtime/PluginExport.h"
#include "vorn/views/BaseTweaker.h"
#include "vorn/views/BaseView.h"

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

// The numbers of a vector value, or nothing.
bool AsNumbers(const VornValue& value, std::vector<double>& out) {
  if (value.Holds<std::vector<double>>()) out = value.GetRawValue<std::vector<double>>();
  else if (value.Holds<std::vector<int>>()) out.assign(value.GetRawValue<std::vector<int>>().begin(), value.GetRawValue<std::vector<int>>().end());
  else return false;
  return std::all_of(out.begin(), out.end(), [](double n) { return std::isfinite(n); });
}

// How many numbers the shown data type holds (0: any).
std::size_t ComponentsOf(const VornBaseTweaker& tweaker) {
  std::size_t components = 0;
  if (const VornValue* type = Find(tweaker, "type"); type && type->Holds<std::string>())
    VornValueConstraints::KindOfDataType(type->GetRawValue<std::string>(), &components);
  return components;
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

class VornColorTweaker final : public VornBaseTweaker {
public:
  const char* GetKind() const override { return "color"; }

protected:
  bool _IsValueAccepted(const VornValue& value) override { return value.Holds<std::string>(); }
};

// One field per component: "components" and their "componentLabels" (x, y,
// z for 2 or 3 of them) are in the description.
class VornVectorTweaker final : public VornBaseTweaker {
public:
  const char* GetKind() const override { return "vector"; }
  VornJSONObject Describe() const override {
    VornJSONObject description = VornBaseTweaker::Describe();
    std::size_t components = ComponentsOf(*this);
    std::vector<double> numbers;
    if (!components && GetValue() && AsNumbers(*GetValue(), numbers)) components = numbers.size();
    VornJSONArray labels;
    static const char* const kAxes[] = {"x", "y", "z"};
    for (std::size_t i = 0; i < components; ++i)
      labels.PushBack(components <= 3 ? std::string(kAxes[i]) : std::to_string(i + 1));
    description.Set("components", static_cast<std::int64_t>(components));
    description.Set("componentLabels", std::move(labels));
    return description;
  }

protected:
  bool _IsValueAccepted(const VornValue& value) override {
    std::vector<double> numbers;
    const std::size_t components = ComponentsOf(*this);
    return AsNumbers(value, numbers) && (!components || numbers.size() == components);
  }
};

// A grid: "rows" and "columns" in the description (16 numbers are 4 x 4,
// other squares square, anything else one row), the value row by row.
class VornMatrixTweaker final : public VornBaseTweaker {
public:
  const char* GetKind() const override { return "matrix"; }
  VornJSONObject Describe() const override {
    VornJSONObject description = VornBaseTweaker::Describe();
    std::vector<double> numbers;
    std::size_t count = ComponentsOf(*this);
    if (!count && GetValue() && AsNumbers(*GetValue(), numbers)) count = numbers.size();
    const auto side = static_cast<std::size_t>(std::lround(std::sqrt(static_cast<double>(count))));
    const bool square = side * side == count && count > 0;
    description.Set("rows", static_cast<std::int64_t>(square ? side : 1));
    description.Set("columns", static_cast<std::int64_t>(square ? side : count));
    return description;
  }

protected:
  bool _IsValueAccepted(const VornValue& value) override {
    std::vector<double> numbers;
    return AsNumbers(value, numbers);
  }
};

// Values no control edits (circles, curves, other geometries): shown as a
// short text, "summary", and never edited.
class VornSummaryTweaker final : public VornBaseTweaker {
public:
  const char* GetKind() const override { return "summary"; }
  bool IsReadOnly() const override { return true; }
  VornJSONObject Describe() const override {
    VornJSONObject description = VornBaseTweaker::Describe();
    std::vector<double> numbers;
    std::string summary = "no value";
    if (const VornValue* value = GetValue()) {
      if (AsNumbers(*value, numbers)) summary = std::to_string(numbers.size()) + " numbers";
      else summary = value->ToJSON().Stringify();
    }
    if (summary.size() > 80) summary = summary.substr(0, 77) + "...";
    if (const VornValue* type = Find(*this, "type"); type && type->Holds<std::string>())
      summary = type->GetRawValue<std::string>() + ": " + summary;
    description.Set("summary", summary);
    return description;
  }

protected:
  bool _IsValueAccepted(const VornValue& value) override { return value.HasRawValue(); }
};

// The shipped form: every object with a data type gets the tweaker its
// type's "form" representation names; its text is the tree of labels and
// values, for hosts that show text.
class VornFormView final : public VornBaseView {
public:
  VornFormView() : VornBaseView("form") {}

  std::string Render() override {
    std::ostringstream out;
    const auto root = m_root.lock();
    if (!root) return {};
    // Depth first without recursion, children in their order.
    std::vector<std::pair<std::shared_ptr<VornModelObject>, int>> stack;
    const auto push = [&stack](const std::shared_ptr<VornModelObject>& parent, int depth) {
      const auto below = parent->GetChildren();
      for (auto it = below.rbegin(); it != below.rend(); ++it) stack.push_back({*it, depth});
    };
    push(root, 0);
    while (!stack.empty()) {
      auto [object, depth] = stack.back();
      stack.pop_back();
      out << std::string(2 * static_cast<std::size_t>(depth), ' ');
      const auto info = FindTweakerOfObject(object->GetID());
      if (info && info->tweaker) {
        const VornJSONObject d = info->tweaker->Describe();
        out << (d.Get("label").IsString() ? d.Get("label").ToString() : object->GetID()) << ": " << d.Get("value").Stringify();
        if (d.Get("unit").IsString()) out << " " << d.Get("unit").ToString();
      } else {
        const VornValue* name = object->GetValue("name");
        out << "[" << (name ? name->ToJSON().ToString() : object->GetID()) << "]";
      }
      out << "\n";
      push(object, depth + 1);
    }
    return out.str();
  }

protected:
  void _InitializeView() override {}
  void _OnNewModelObject(const ModelObjectPtr& object, const bool& listenOnly) override {
    if (object && object->IsTrueRoot()) m_root = object;
    VornBaseView::_OnNewModelObject(object, listenOnly);
  }

private:
  std::weak_ptr<VornModelObject> m_root;
};

}  // namespace

VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornNumberTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornBoolTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornTextTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornChoiceTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornColorTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornVectorTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornMatrixTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseTweaker, VornSummaryTweaker)
VORN_EXPORT_PLUGIN_CLASS(VornBaseView, VornFormView)
