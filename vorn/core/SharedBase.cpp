#include "vorn/core/SharedBase.h"

// Out of line so the class's virtual table lives in the library.
VornBaseClass::~VornBaseClass() = default;
