#include "vorn/runtime/Process.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <system_error>

#include "vorn/host/Application.h"
#include "vorn/host/Uuid.h"

namespace Vorn {

namespace {
constexpr std::string_view kNodeHostName = "orvelnode";
constexpr std::uint64_t kOrdinaryAlignment = 8;
}  // namespace

std::string GenerateUUID() {
  char buffer[48] = {};
  if (KRTUuid().ToString(buffer, sizeof buffer, 0) < 0) return {};
  return buffer;
}

namespace _Internal_ {

bool IsNodeHostPath(std::string_view executablePath) {
  std::string lowered(executablePath);
  // Through unsigned char: tolower of a negative char (any UTF-8 byte) is
  // undefined behaviour.
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered.find(kNodeHostName) != std::string::npos;
}

}  // namespace _Internal_

bool IsInXApp() {
  // Atomic flags rather than plain ones: two threads may make the first
  // call together, and both then store the same answer.
  static std::atomic<bool> computed{false};
  static std::atomic<bool> answer{false};
  if (computed.load(std::memory_order_acquire)) return answer.load(std::memory_order_relaxed);
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  const bool result = !ec && _Internal_::IsNodeHostPath(exe.native());
  answer.store(result, std::memory_order_relaxed);
  computed.store(true, std::memory_order_release);
  return result;
}

bool IsKRTInteractiveApplication() {
  static const bool answer = [] {
    const KRTApplication* application = KRTApplication::MainApplication();
    return application != nullptr && application->IsKindOf("KRTInteractiveApplication") != 0;
  }();
  return answer;
}

void* AlignedAlloc(std::uint64_t size, std::uint64_t alignment) {
  if (alignment <= kOrdinaryAlignment) return ::operator new(static_cast<std::size_t>(size));
  // Checked here: the platform's answer to a bad alignment is not to be
  // relied on (some allocators abort instead of refusing).
  if ((alignment & (alignment - 1)) != 0) return nullptr;
  // posix_memalign rather than aligned_alloc: it takes any size.
  void* pointer = nullptr;
  if (posix_memalign(&pointer, static_cast<std::size_t>(alignment), static_cast<std::size_t>(size)) != 0)
    return nullptr;
  return pointer;
}

void AlignedFree(void* pointer, std::uint64_t alignment) {
  if (!pointer) return;
  if (alignment <= kOrdinaryAlignment)
    ::operator delete(pointer);
  else
    std::free(pointer);
}

}  // namespace Vorn
