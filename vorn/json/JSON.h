#pragma once

// The JSON model: values, objects and arrays.
#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"
