#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"
#include "vorn/values/Value.h"
#include "vorn/values/ValuesByString.h"

class VornModelObject;

// Checked writes: what a model object's "value" may become.
//
// Where the check lives. A model object describes its own value: its data
// type ("type") and the properties "min", "max", "step", "possibleValues"
// and "readOnly". The check is therefore read from the object (or from the
// data a tweaker was given, which is the object's Dump()), in the model
// layer, and runs as an explicit step before the write:
// Vorn::WriteCheckedValue for a model object, VornBaseTweaker::EditValue for
// an edit through a control. VornModelObject::SetValue itself is unchanged:
// host code that writes directly keeps writing whatever the property
// dictionary admits. Everything a client sends (the host's methods, the
// sample's functions, a plug-in's own functions) goes through the check.
//
// The kind of value a data type holds comes from the basic type it derives
// from, following its super types: "integer" -> an integer (int); "number"
// (length, angle, ratio...) -> a number (double); "boolean"; "string"
// (literal, choice...); "2DLengthVector", "2DRatioVector" -> 2 numbers;
// "3DLengthVector", "point" -> 3 numbers; "3DTransformationMatrix" -> 16
// numbers (a 4x4 matrix, row by row); "matrix" -> numbers; "geometry" and
// anything else -> any value. A data type that derives from none of these
// (or is not registered) takes the kind of the value the object holds.
//
// The checks, in this order, each a refusal reason:
//   readOnly  "readOnly" is true
//   type      the value is not of the kind (JSON numbers are converted by
//             the kind: 3 for a length becomes 3.0, 2.5 for an integer is
//             refused, so are null and objects)
//   range     a number, or a vector's component, outside "min"/"max"
//   step      for integer kinds only: not min (or 0) plus a whole number
//             of "step"s. For other numbers "step" is the control's
//             increment, not a constraint.
//   choice    a text not among "possibleValues" (when the object has them)
struct VORN_API VornValueRefusal {
  std::string reason;  // empty: accepted
  std::string message;
  // What is concerned: "object", "property", "value", and the limit that
  // refused it ("expected", "min", "max", "step", "possibleValues").
  VornJSONObject details;

  explicit operator bool() const noexcept { return !reason.empty(); }
};

enum class VornValueKind { Any, Number, Integer, Boolean, String, Color, Numbers };

class VORN_API VornValueConstraints {
public:
  // From a model object's properties, or from a values map holding them
  // (a Dump(), the data of a tweaker).
  static VornValueConstraints Of(const VornModelObject& object);
  static VornValueConstraints Of(const VornValuesByString& values);

  // The kind a data type's values have; `components` receives the number of
  // numbers of a Numbers kind (0: any number of them). nullopt when the type
  // derives from no basic type.
  static std::optional<VornValueKind> KindOfDataType(const std::string& dataType, std::size_t* components = nullptr);

  // Converts `json` by the kind and checks it; `out` is set only when accepted.
  VornValueRefusal Convert(const VornJSONValue& json, VornValue& out) const;
  // Checks a library value (a number may be held as int or double).
  VornValueRefusal Check(const VornValue& value) const;
  // A JSON Schema (draft 2020-12) of the values accepted, "readOnly" set
  // when they are.
  VornJSONObject ValueSchema() const;

  std::string objectId;
  std::string dataType;
  VornValueKind kind = VornValueKind::Any;
  std::size_t components = 0;
  std::optional<double> min, max, step;
  std::optional<std::vector<std::string>> possibleValues;
  bool readOnly = false;

private:
  VornValueRefusal _Refuse(const char* reason, const std::string& message, const VornJSONValue& value) const;
  VornValueRefusal _CheckNumber(double number, const VornJSONValue& shown) const;
  VornValueRefusal _WrongType(const VornJSONValue& value) const;
};

namespace Vorn {

// The words clients see for a kind: "number", "integer", "boolean",
// "string", "array of 3 numbers", "value that is not null or an object".
VORN_API std::string DescribeValueKind(VornValueKind kind, std::size_t components);

// Converts and checks `json` against `object`'s constraints and, when
// accepted, sets it as the object's "value" (not silent). A refusal
// changes nothing and publishes nothing. A value equal to the one held is
// accepted and publishes nothing.
VORN_API VornValueRefusal WriteCheckedValue(VornModelObject& object, const VornJSONValue& json);

}  // namespace Vorn
