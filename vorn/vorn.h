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

#include "vorn/containers/Hash.h"
#include "vorn/containers/HashTable.h"

#include "vorn/host/Env.h"
#include "vorn/host/SysLog.h"
#include "vorn/host/Status.h"
#include "vorn/host/UnicodeString.h"
#include "vorn/host/Paths.h"
#include "vorn/host/Uuid.h"
#include "vorn/host/CodePage.h"
#include "vorn/host/Files.h"
#include "vorn/host/Directory.h"
#include "vorn/host/Application.h"
#include "vorn/host/TestApplication.h"
#include "vorn/host/Library.h"
#include "vorn/host/Binary.h"
#include "vorn/host/Message.h"
#include "vorn/host/ChannelId.h"
#include "vorn/host/Errors.h"
#include "vorn/host/ObjectModel.h"

#include "vorn/values/Value.h"
#include "vorn/values/ValuesByString.h"
#include "vorn/values/NamedValues.h"
#include "vorn/values/ObjectRefID.h"
#include "vorn/values/ValueTypesManager.h"

#include "vorn/events/EventData.h"
#include "vorn/events/EventToken.h"
#include "vorn/events/EventsHandler.h"

#include "vorn/json/Value.h"
#include "vorn/json/Object.h"
#include "vorn/json/Array.h"
#include "vorn/json/Parser.h"

#include "vorn/json/Convert.h"
#include "vorn/host/JSONStreams.h"
#include "vorn/runtime/Resources.h"
#include "vorn/runtime/Process.h"

#include "vorn/core/CallableTraits.h"
#include "vorn/remote/FuncsRegistry.h"
