#include "vorn/host/ObjectModel.h"

// Defined here so that the class's type information lives in the library.
KRTBaseUnknown::~KRTBaseUnknown() = default;
