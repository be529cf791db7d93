#include "vorn/events/EventData.h"

#include "vorn/host/SysLog.h"

namespace Vorn::_Internal_ {
void ReportNoEventValue() { KRTSysLogAbend("VornEventData::GetRawValue: ERROR - No value in event data!"); }
}  // namespace Vorn::_Internal_

VornEventData::~VornEventData() = default;
VornMOAddChildEventData::~VornMOAddChildEventData() = default;
VornMORemoveChildEventData::~VornMORemoveChildEventData() = default;
VornTweakerCreationEventData::~VornTweakerCreationEventData() = default;
