// Incomplete exports: a class with only its creation symbol, and one whose
// creation fails.
#include "vorn/remote/RemoteFunction.h"

namespace {
class OnlyCreate final : public VornRemoteFunction_V1 {
public:
  OnlyCreate() : VornRemoteFunction_V1("OnlyCreate", false, {}) {}
};
}  // namespace

VORN_PLUGIN_EXPORT VornRemoteFunction_V1* VornCreatePtr_OnlyCreate() { return new OnlyCreate(); }
VORN_PLUGIN_EXPORT VornRemoteFunction_V1* VornCreatePtr_Null() { return nullptr; }
