#pragma once

#include "vorn/core/Export.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"
#include "vorn/values/Value.h"
#include "vorn/values/ValuesByString.h"

// JSON values as library values. The reverse direction is VornAny::ToJSON.
namespace Vorn {

// The library value a JSON value stands for:
//   undefined -> an empty value        null    -> std::nullptr_t
//   boolean   -> bool                  integer -> int (its low 32 bits)
//   double    -> double                string  -> std::string
//   object    -> VornValuesByString (ConvertJSONObjectToValuesByString)
//   array     -> by its first element: null, boolean, double, integer or
//                string give a std::vector of std::nullptr_t, bool, double,
//                int or std::string, each element read by the JSON model's
//                typed conversion (a mismatching element is reported and
//                takes its default); an empty array, or one starting with
//                undefined, an object or an array, gives a
//                std::vector<VornValue> converted element by element.
VORN_API VornValue ConvertJSONValueToValue(const VornJSONValue& value);

// Every member, in order, undefined ones included (as empty values).
VORN_API VornValuesByString ConvertJSONObjectToValuesByString(const VornJSONObject& object);

}  // namespace Vorn
