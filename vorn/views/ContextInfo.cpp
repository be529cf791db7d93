#include "vorn/views/ContextInfo.h"

VornViewInfo::~VornViewInfo() = default;

VornContextInfo::UserData::~UserData() = default;

VornContextInfo::~VornContextInfo() {
  delete dataOptions;
  dataOptions = nullptr;
  for (VornViewInfo* view : viewInfos) delete view;
  viewInfos.clear();
  delete userData;
  userData = nullptr;
  context.reset();
}
