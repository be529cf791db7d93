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
//   array     -> one std::vector for the whole array, by its elements:
//                all null, all booleans or all strings give a vector of
//                std::nullptr_t, bool or std::string; numbers give
//                std::vector<int> (low 32 bits) when all are integers, and
//                std::vector<double> as soon as one is a double, wherever it
//                stands, so that no fraction is lost. An empty array, or one
//                starting with undefined, an object or an array, gives a
//                std::vector<VornValue> converted element by element.
//                Any other mix (a string among numbers, a boolean or null
//                among others...) has no vector type: it is refused,
//                reported ("[Vorn - JSON Bridge] Array refused: element N is
//                <kind> but element 0 is <kind>...", N the first element
//                that does not fit) and gives an empty value, never a
//                vector with elements cut off or made up.
VORN_API VornValue ConvertJSONValueToValue(const VornJSONValue& value);

// Every member, in order, undefined ones included (as empty values).
VORN_API VornValuesByString ConvertJSONObjectToValuesByString(const VornJSONObject& object);

}  // namespace Vorn
