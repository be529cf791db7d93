#pragma once

#include <string>

#include "vorn/core/Export.h"
#include "vorn/json/Object.h"

class VornModelObject;

namespace Vorn {

// A data tree as nested JSON: each object's properties (ToJSON(), "id"
// last), then "children", an array of its children described the same way
// (left out when it has none). What clients read and a schema describes.
VORN_API VornJSONObject DescribeTree(const VornModelObject& root);

// A JSON Schema (draft 2020-12) that DescribeTree(root) satisfies, for
// schema-driven clients (validators, form renderers):
//   $defs     one entry per data type the tree uses: its value kind as a
//             schema (see VornValueConstraints), titled by the type's name,
//             its super types in the description (a type that derives from
//             no basic type takes any value there);
//   each object   an object schema titled by its "label" (else its "name",
//             else its id), its "description" as description, every
//             property it holds typed from the property dictionary,
//             "readOnly" (only "value" can be written by clients), and no
//             other property;
//   "value"   the kind of the object's data type written out (a type with
//             no basic kind: the kind the object holds), "$comment" naming
//             the data type, and the object's own limits ("minimum",
//             "maximum", "enum" of possibleValues), its label as title, its
//             description, and "readOnly" when it is;
//   "children"  an array of exactly the object's children: "items" holds
//             the child schemas (one, or "anyOf" them: ids are constants,
//             so each child matches its own).
// No "$ref" is used inside the objects: a renderer may compile one
// object's schema on its own. The schema is that of the tree as it is now:
// adding or removing an object changes it.
VORN_API VornJSONObject DescribeTreeSchema(const VornModelObject& root, const std::string& title);

}  // namespace Vorn
