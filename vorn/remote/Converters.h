#pragma once

#include <memory>
#include <string>

#include "vorn/core/BaseClass.h"
#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"
#include "vorn/core/SharedPtr.h"

class VornRemoteObject;
class VornKRTRemoteObject;

// Settings that decide how host objects among a remote function's
// arguments and results travel: as JSON, or as references kept in a named
// registry of object references. They hold settings only.

class VORN_API VornRemoteFuncBaseConverters_V1 : public VornBaseClass {
public:
  ~VornRemoteFuncBaseConverters_V1() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

protected:
  friend class VornRemoteObject;
  VornRemoteFuncBaseConverters_V1() = default;
};

class VORN_API VornKRTRemoteFuncConverters_V1 : public VornRemoteFuncBaseConverters_V1 {
public:
  const std::string& GetRefsRegistryName() const noexcept { return m_refsRegistryName; }
  bool MustConvertToJSON() const noexcept { return m_mustConvertToJSON; }

protected:
  friend class VornKRTRemoteObject;
  friend class VornKRTBaseContext;
  VornKRTRemoteFuncConverters_V1(const std::string& refsRegistryName, bool mustConvertToJSON);

private:
  std::string m_refsRegistryName;
  bool m_mustConvertToJSON;
};

// The same settings for the intrusively counted family.
class VORN_API VornRemoteFuncBasicConverters : public Vorn_BaseClass {
public:
  Vorn::SharedPtr<VornRemoteFuncBasicConverters> GetSharedPtr();

protected:
  VornRemoteFuncBasicConverters();
  ~VornRemoteFuncBasicConverters() override;
};

class VORN_API VornKRTRemoteFuncConverters : public VornRemoteFuncBasicConverters {
public:
  const std::string& GetRefsRegistryName() const noexcept { return m_refsRegistryName; }
  bool MustConvertToJSON() const noexcept { return m_mustConvertToJSON; }
  Vorn::SharedPtr<VornKRTRemoteFuncConverters> GetSharedPtr();

protected:
  VornKRTRemoteFuncConverters(const std::string& refsRegistryName, bool mustConvertToJSON);
  ~VornKRTRemoteFuncConverters() override;

private:
  std::string m_refsRegistryName;
  bool m_mustConvertToJSON;
};
