#include "vorn/model/ValueConstraints.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <utility>

#include "vorn/json/Array.h"
#include "vorn/json/Convert.h"
#include "vorn/model/DataTypesManager.h"
#include "vorn/model/ModelObject.h"

namespace {

struct BasicKind {
  const char* type;
  VornValueKind kind;
  std::size_t components;
};

// The basic types a data type may derive from; the first one met while
// walking up the super types decides.
constexpr BasicKind kBasicKinds[] = {
    {"integer", VornValueKind::Integer, 0},     {"number", VornValueKind::Number, 0},
    {"boolean", VornValueKind::Boolean, 0},     {"color", VornValueKind::Color, 0},
    {"string", VornValueKind::String, 0},
    {"2DLengthVector", VornValueKind::Numbers, 2}, {"2DRatioVector", VornValueKind::Numbers, 2},
    {"3DLengthVector", VornValueKind::Numbers, 3}, {"point", VornValueKind::Numbers, 3},
    {"3DTransformationMatrix", VornValueKind::Numbers, 16}, {"matrix", VornValueKind::Numbers, 0},
    {"geometry", VornValueKind::Any, 0},
};

const BasicKind* FindBasic(const std::string& name) {
  for (const BasicKind& basic : kBasicKinds)
    if (name == basic.type) return &basic;
  return nullptr;
}

std::optional<double> NumberOf(const VornValue* value) {
  if (value && value->Holds<double>()) return value->GetRawValue<double>();
  if (value && value->Holds<int>()) return value->GetRawValue<int>();
  return std::nullopt;
}

// The kind of a value already held, for data types without a basic kind.
VornValueKind KindOfHeld(const VornValue* value) {
  if (!value) return VornValueKind::Any;
  if (value->Holds<double>() || value->Holds<int>()) return VornValueKind::Number;
  if (value->Holds<bool>()) return VornValueKind::Boolean;
  if (value->Holds<std::string>()) return VornValueKind::String;
  if (value->Holds<std::vector<double>>() || value->Holds<std::vector<int>>()) return VornValueKind::Numbers;
  return VornValueKind::Any;
}

// "#rrggbb", the one spelling a colour picker reads and writes.
bool IsColor(const std::string& text) {
  return text.size() == 7 && text[0] == '#' &&
         std::all_of(text.begin() + 1, text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

const char* JsonKind(const VornJSONValue& value) {
  switch (value.GetKind()) {
    case VornJSONValue::Kind::Undefined: return "nothing";
    case VornJSONValue::Kind::Null: return "null";
    case VornJSONValue::Kind::Bool: return "a boolean";
    case VornJSONValue::Kind::Double:
    case VornJSONValue::Kind::Int: return "a number";
    case VornJSONValue::Kind::String: return "a string";
    case VornJSONValue::Kind::Object: return "an object";
    case VornJSONValue::Kind::Array: return "an array";
  }
  return "a value";
}

// "a number", "an integer", "an array of 3 numbers"...
std::string WithArticle(const std::string& words) {
  return (std::string("aeiou").find(words.front()) != std::string::npos ? "an " : "a ") + words;
}

// At most 40 bytes of a client's text in a message (the whole value is in
// the details), cut between UTF-8 characters.
std::string Shortened(const std::string& text) {
  if (text.size() <= 40) return text;
  std::size_t end = 40;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end) + "...";
}

std::string NumberText(double value) { return VornJSONValue(value).Stringify(); }

// Reads the constraints from any source of named values.
template <class Lookup>
VornValueConstraints Read(const Lookup& find) {
  VornValueConstraints c;
  if (const VornValue* id = find("id"); id && id->Holds<std::string>()) c.objectId = id->GetRawValue<std::string>();
  if (const VornValue* type = find("type"); type && type->Holds<std::string>()) c.dataType = type->GetRawValue<std::string>();
  c.min = NumberOf(find("min"));
  c.max = NumberOf(find("max"));
  c.step = NumberOf(find("step"));
  if (const VornValue* choices = find("possibleValues"); choices && choices->Holds<std::vector<std::string>>())
    c.possibleValues = choices->GetRawValue<std::vector<std::string>>();
  if (const VornValue* readOnly = find("readOnly"); readOnly && readOnly->Holds<bool>())
    c.readOnly = readOnly->GetRawValue<bool>();
  if (auto kind = VornValueConstraints::KindOfDataType(c.dataType, &c.components)) c.kind = *kind;
  else c.kind = KindOfHeld(find("value"));
  return c;
}

}  // namespace

std::optional<VornValueKind> VornValueConstraints::KindOfDataType(const std::string& dataType, std::size_t* components) {
  const BasicKind* basic = FindBasic(dataType);
  // Bounded: the registry refuses cycles, but a long chain costs no more than this.
  auto definition = VornDataTypesManager::GetDataTypeDefinition(dataType);
  for (int depth = 0; !basic && definition && depth < 64; ++depth) {
    basic = FindBasic(definition->name);
    definition = definition->superType;
  }
  if (!basic) return std::nullopt;
  if (components) *components = basic->components;
  return basic->kind;
}

VornValueConstraints VornValueConstraints::Of(const VornModelObject& object) {
  VornValueConstraints c = Read([&](const char* name) { return object.GetValue(name); });
  c.objectId = object.GetID();
  return c;
}

VornValueConstraints VornValueConstraints::Of(const VornValuesByString& values) {
  return Read([&](const char* name) -> const VornValue* {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  });
}

std::string Vorn::DescribeValueKind(VornValueKind kind, std::size_t components) {
  switch (kind) {
    case VornValueKind::Number: return "number";
    case VornValueKind::Integer: return "integer";
    case VornValueKind::Boolean: return "boolean";
    case VornValueKind::String: return "string";
    case VornValueKind::Color: return "color written #rrggbb";
    case VornValueKind::Numbers:
      return components ? "array of " + std::to_string(components) + " numbers" : std::string("array of numbers");
    case VornValueKind::Any: break;
  }
  return "value that is not null or an object";
}

VornValueRefusal VornValueConstraints::_Refuse(const char* reason, const std::string& message,
                                               const VornJSONValue& value) const {
  VornValueRefusal refusal{reason, "'" + objectId + "' " + message, {}};
  refusal.details.Set("object", objectId);
  refusal.details.Set("property", "value");
  if (!value.IsUndefined()) refusal.details.Set("value", value);
  return refusal;
}

VornValueRefusal VornValueConstraints::_WrongType(const VornJSONValue& value) const {
  const std::string expected = Vorn::DescribeValueKind(kind, components);
  // A text of the wrong form is named, "a string" would not say what is wrong.
  std::string given = value.IsString() ? "\"" + Shortened(*value.GetIfString()) + "\"" : JsonKind(value);
  if (const VornJSONArray* array = value.GetIfArray()) given += " of " + std::to_string(array->size());
  VornValueRefusal refusal = _Refuse("type", "takes " + WithArticle(expected) + ", not " + given, value);
  refusal.details.Set("expected", expected);
  return refusal;
}

VornValueRefusal VornValueConstraints::_CheckNumber(double number, const VornJSONValue& shown) const {
  if ((min && number < *min) || (max && number > *max)) {
    std::string bounds = min && max ? "from " + NumberText(*min) + " to " + NumberText(*max)
                         : min     ? "from " + NumberText(*min)
                                   : "up to " + NumberText(*max);
    VornValueRefusal refusal = _Refuse("range", "takes values " + bounds + ", not " + NumberText(number), shown);
    if (min) refusal.details.Set("min", *min);
    if (max) refusal.details.Set("max", *max);
    return refusal;
  }
  if (kind == VornValueKind::Integer && step && std::isfinite(*step) && *step > 0) {
    const double base = min.value_or(0.0);
    const double steps = (number - base) / *step;
    if (std::abs(steps - std::round(steps)) > 1e-9 * std::max(1.0, std::abs(steps))) {
      VornValueRefusal refusal = _Refuse("step", "takes steps of " + NumberText(*step) + " from " + NumberText(base) +
                                                     ", not " + NumberText(number), shown);
      refusal.details.Set("step", *step);
      if (min) refusal.details.Set("min", *min);
      return refusal;
    }
  }
  return {};
}

VornValueRefusal VornValueConstraints::Check(const VornValue& value) const {
  const VornJSONValue shown = value.ToJSON();
  if (readOnly) return _Refuse("readOnly", "is read-only", shown);
  auto wrongType = [&] { return _WrongType(shown); };
  switch (kind) {
    case VornValueKind::Number:
    case VornValueKind::Integer: {
      const std::optional<double> number = NumberOf(&value);
      if (!number || !std::isfinite(*number)) return wrongType();
      if (kind == VornValueKind::Integer && !value.Holds<int>()) return wrongType();
      return _CheckNumber(*number, shown);
    }
    case VornValueKind::Boolean:
      return value.Holds<bool>() ? VornValueRefusal{} : wrongType();
    case VornValueKind::Color:
      return value.Holds<std::string>() && IsColor(value.GetRawValue<std::string>()) ? VornValueRefusal{} : wrongType();
    case VornValueKind::String: {
      if (!value.Holds<std::string>()) return wrongType();
      const std::string& text = value.GetRawValue<std::string>();
      if (possibleValues && std::find(possibleValues->begin(), possibleValues->end(), text) == possibleValues->end()) {
        // Elements made in place: pushing temporaries makes g++ 12 -O3 warn,
        // falsely, of uninitialized members of the moved variants.
        VornJSONArray choices(VornJSONArray::Elements(possibleValues->begin(), possibleValues->end()));
        VornValueRefusal refusal = _Refuse("choice", "takes one of " + VornJSONValue(choices).Stringify() + ", not \"" +
                                                         Shortened(text) + "\"", shown);
        refusal.details.Set("possibleValues", std::move(choices));
        return refusal;
      }
      return {};
    }
    case VornValueKind::Numbers: {
      std::vector<double> numbers;
      if (value.Holds<std::vector<double>>()) numbers = value.GetRawValue<std::vector<double>>();
      else if (value.Holds<std::vector<int>>())
        for (int n : value.GetRawValue<std::vector<int>>()) numbers.push_back(n);
      else return wrongType();
      if ((components && numbers.size() != components) ||
          std::any_of(numbers.begin(), numbers.end(), [](double n) { return !std::isfinite(n); }))
        return wrongType();
      for (double n : numbers)
        if (VornValueRefusal refusal = _CheckNumber(n, shown)) return refusal;
      return {};
    }
    case VornValueKind::Any: break;
  }
  return value.HasRawValue() ? VornValueRefusal{} : wrongType();
}

VornValueRefusal VornValueConstraints::Convert(const VornJSONValue& json, VornValue& out) const {
  VornValue value;
  switch (kind) {
    case VornValueKind::Number:
      if (const double* d = json.GetIfDouble()) value = *d;
      else if (const std::int64_t* i = json.GetIfInt()) value = static_cast<double>(*i);
      break;
    case VornValueKind::Integer: {
      // A whole double (3.0) is the integer 3; anything past int's range
      // is out of range, not of another kind.
      std::optional<double> number;
      if (const double* d = json.GetIfDouble()) number = *d;
      else if (const std::int64_t* i = json.GetIfInt()) number = static_cast<double>(*i);
      if (number && std::isfinite(*number) && std::trunc(*number) == *number) {
        constexpr double lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
        if (*number < lo || *number > hi) {
          VornValueRefusal refusal = _Refuse("range", "takes integers of 32 bits, not " + json.Stringify(), json);
          refusal.details.Set("min", lo);
          refusal.details.Set("max", hi);
          return refusal;
        }
        value = static_cast<int>(*number);
      }
      break;
    }
    case VornValueKind::Boolean:
      if (const bool* b = json.GetIfBool()) value = *b;
      break;
    case VornValueKind::String:
    case VornValueKind::Color:
      if (const std::string* s = json.GetIfString()) value = *s;
      break;
    case VornValueKind::Numbers:
      if (const VornJSONArray* array = json.GetIfArray()) {
        std::vector<double> numbers;
        numbers.reserve(array->size());
        for (const VornJSONValue& element : *array) {
          if (const double* d = element.GetIfDouble()) numbers.push_back(*d);
          else if (const std::int64_t* i = element.GetIfInt()) numbers.push_back(static_cast<double>(*i));
          else break;
        }
        if (numbers.size() == array->size()) value = std::move(numbers);
      }
      break;
    case VornValueKind::Any:
      // No control holds an object; arrays of mixed kinds convert to nothing.
      if (!json.IsObject() && !json.IsNullOrUndefined()) value = Vorn::ConvertJSONValueToValue(json);
      break;
  }
  if (readOnly) return _Refuse("readOnly", "is read-only", json);
  if (!value.HasRawValue()) return _WrongType(json);
  if (VornValueRefusal refusal = Check(value)) {
    refusal.details.Set("value", json);  // as the client wrote it
    return refusal;
  }
  out = std::move(value);
  return {};
}

VornJSONObject VornValueConstraints::ValueSchema() const {
  VornJSONObject schema;
  auto bounds = [&](VornJSONObject& target) {
    if (min) target.Set("minimum", *min);
    if (max) target.Set("maximum", *max);
  };
  switch (kind) {
    case VornValueKind::Number:
    case VornValueKind::Integer:
      schema.Set("type", kind == VornValueKind::Integer ? "integer" : "number");
      bounds(schema);
      // Exact only for integers on a grid through 0; otherwise the write's
      // own check is the only judge.
      if (kind == VornValueKind::Integer && step && *step >= 1 && std::trunc(*step) == *step &&
          std::fmod(min.value_or(0.0), *step) == 0)
        schema.Set("multipleOf", *step);
      break;
    case VornValueKind::Boolean: schema.Set("type", "boolean"); break;
    case VornValueKind::Color:
      schema.Set("type", "string");
      schema.Set("pattern", "^#[0-9a-fA-F]{6}$");
      break;
    case VornValueKind::String:
      schema.Set("type", "string");
      if (possibleValues) {
        schema.Set("enum", VornJSONArray(VornJSONArray::Elements(possibleValues->begin(), possibleValues->end())));
      }
      break;
    case VornValueKind::Numbers: {
      VornJSONObject item{{"type", "number"}};
      bounds(item);
      schema.Set("type", "array");
      schema.Set("items", std::move(item));
      if (components) {
        schema.Set("minItems", static_cast<std::int64_t>(components));
        schema.Set("maxItems", static_cast<std::int64_t>(components));
      }
      break;
    }
    case VornValueKind::Any: break;
  }
  if (readOnly) schema.Set("readOnly", true);
  return schema;
}

VornValueRefusal Vorn::WriteCheckedValue(VornModelObject& object, const VornJSONValue& json) {
  VornValue value;
  VornValueRefusal refusal = VornValueConstraints::Of(object).Convert(json, value);
  if (!refusal) object.SetValue("value", value);
  return refusal;
}
