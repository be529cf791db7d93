#pragma once

#include "vorn/host/HostExport.h"

// The host's object-model interface. The library only passes pointers to it
// around (an object's GetOMInterface()); hosts derive their interfaces from
// it.
class KRT_API KRTBaseUnknown {
public:
  virtual ~KRTBaseUnknown();

protected:
  KRTBaseUnknown() = default;
  KRTBaseUnknown(const KRTBaseUnknown&) = default;
  KRTBaseUnknown& operator=(const KRTBaseUnknown&) = default;
};
