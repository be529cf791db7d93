#pragma once

#include "vorn/core/Export.h"

// The host's object-model interface. The library only passes pointers to it
// around (an object's GetOMInterface()); hosts derive their interfaces from
// it.
class VORN_API KRTBaseUnknown {
public:
  virtual ~KRTBaseUnknown();

protected:
  KRTBaseUnknown() = default;
  KRTBaseUnknown(const KRTBaseUnknown&) = default;
  KRTBaseUnknown& operator=(const KRTBaseUnknown&) = default;
};
