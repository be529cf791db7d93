#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/Function.h"
#include "vorn/model/DataManager.h"
#include "vorn/values/ValuesByString.h"

// Declared with the views, which read it, so that views and contexts meet
// here: contexts fill it in and hand it down; the views never need a context's
// own declaration.
class VornBaseContext;
class VornBaseView;

// One view to create for a context: the plug-in library and class that
// make it, the options it copies when initialised, and a callback that
// receives the new view (may be empty).
struct VORN_API VornViewInfo {
  virtual ~VornViewInfo();
  std::string libraryName;
  std::string className;
  VornValuesByString options;
  Vorn::Function<void(const std::shared_ptr<VornBaseView>&)> onViewCreated;
};

// What a context hands over when it registers: the context, how its data
// tree starts, and the views to create, in order. Read by the views manager
// and the views; never changed after registration.
//
// The record owns its data options, its view descriptions and `userData`,
// and releases them in that order, then the context. `userData` is the
// host's own: the library never reads it, only destroys it with the record.
struct VORN_API VornContextInfo {
  VornContextInfo() = default;
  VornContextInfo(const VornContextInfo&) = delete;
  VornContextInfo& operator=(const VornContextInfo&) = delete;
  virtual ~VornContextInfo();

  // Data a host keeps with the record, of any type it derives from this.
  struct VORN_API UserData {
    virtual ~UserData();
  };

  std::shared_ptr<VornBaseContext> context;
  VornDataOptions* dataOptions = nullptr;
  std::vector<VornViewInfo*> viewInfos;
  UserData* userData = nullptr;
};
