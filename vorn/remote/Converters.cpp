#include "vorn/remote/Converters.h"

VornRemoteFuncBaseConverters_V1::~VornRemoteFuncBaseConverters_V1() = default;

VornKRTRemoteFuncConverters_V1::VornKRTRemoteFuncConverters_V1(const std::string& refsRegistryName,
                                                               bool mustConvertToJSON)
    : m_refsRegistryName(refsRegistryName), m_mustConvertToJSON(mustConvertToJSON) {}

VornRemoteFuncBasicConverters::VornRemoteFuncBasicConverters() { _SetExactType<VornRemoteFuncBasicConverters>(); }
VornRemoteFuncBasicConverters::~VornRemoteFuncBasicConverters() = default;

Vorn::SharedPtr<VornRemoteFuncBasicConverters> VornRemoteFuncBasicConverters::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornRemoteFuncBasicConverters>(_GetSharedPtrFromBase());
}

VornKRTRemoteFuncConverters::VornKRTRemoteFuncConverters(const std::string& refsRegistryName, bool mustConvertToJSON)
    : m_refsRegistryName(refsRegistryName), m_mustConvertToJSON(mustConvertToJSON) {
  _SetExactType<VornKRTRemoteFuncConverters>();
}
VornKRTRemoteFuncConverters::~VornKRTRemoteFuncConverters() = default;

Vorn::SharedPtr<VornKRTRemoteFuncConverters> VornKRTRemoteFuncConverters::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornKRTRemoteFuncConverters>(_GetSharedPtrFromBase());
}
