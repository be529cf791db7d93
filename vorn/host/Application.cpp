#include "vorn/host/Application.h"

#include <atomic>
#include <cstring>

#include "vorn/host/Status.h"

namespace {
std::atomic<KRTApplication*> g_mainApplication{nullptr};
}  // namespace

KRTApplication::~KRTApplication() = default;

KRTApplication* KRTApplication::MainApplication() noexcept { return g_mainApplication.load(); }

KRTApplication* KRTApplication::SetMainApplication(KRTApplication* application) noexcept {
  return g_mainApplication.exchange(application);
}

int KRTApplication::IsKindOf(const char* className) const {
  return className && std::strcmp(className, "KRTApplication") == 0;
}

std::int32_t KRTApplication::AddTimeOut(unsigned long, void*, void*, TimeOutCallback, unsigned long*) {
  return KRT_E_UNSUPPORTED;
}

std::int32_t KRTApplication::RemoveTimeOut(unsigned long, unsigned long, int) { return KRT_E_UNSUPPORTED; }

int KRTInteractiveApplication::IsKindOf(const char* className) const {
  if (className && std::strcmp(className, "KRTInteractiveApplication") == 0) return 1;
  return KRTApplication::IsKindOf(className);
}
