#pragma once

#include <functional>
#include <string>

#include "vorn/containers/HashTable.h"
#include "vorn/values/Value.h"

// Values grouped by name: the record form of model-object data, data-tree
// updates and tweaker data. Insertion-ordered (an erasure moves the last
// entry into the hole). Two tables are equal when they hold the same names
// with equal values, in any order.
using VornValuesByString =
    Vorn::HashTable<std::string, VornValue, Vorn::Hash<std::string>, std::equal_to<std::string>, 80>;
