#pragma once

// Umbrella header: every public header of the library.

#include "vorn/core/Export.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/core/BaseClass.h"
#include "vorn/core/SharedPtr.h"
#include "vorn/core/Any.h"
#include "vorn/core/Function.h"
#include "vorn/core/SharedBase.h"
#include "vorn/core/Facade.h"

#include "vorn/host/Env.h"
#include "vorn/host/SysLog.h"
