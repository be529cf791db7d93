#include "vorn/host/Errors.h"

#include <exception>
#include <mutex>
#include <utility>
#include <vector>

namespace {

thread_local std::size_t t_scopeDepth = 0;
thread_local std::vector<KRTErrorPtr> t_pending;

struct Handled {
  std::mutex mutex;
  std::size_t count = 0;
  std::string lastMessage;
};
Handled& GetHandled() {
  static Handled h;
  return h;
}

}  // namespace

KRTError::KRTError(std::string message, std::int32_t code) : m_message(std::move(message)), m_code(code) {}

KRTError::~KRTError() = default;

void KRTError::ThrowSmartPtr(KRTErrorPtr error) {
  if (!error) error = std::make_shared<KRTError>("KRTError::ThrowSmartPtr called with a null error");
  throw error;
}

void KRTError::ThrowSmartPtr(std::string message, std::int32_t code) {
  throw std::make_shared<KRTError>(std::move(message), code);
}

TolvTkCompatCtx::TolvTkCompatCtx() noexcept { ++t_scopeDepth; }

TolvTkCompatCtx::~TolvTkCompatCtx() { --t_scopeDepth; }

void TolvTkCompatCtx::Rethrow() {
  if (std::exception_ptr current = std::current_exception()) std::rethrow_exception(current);
  KRTError::ThrowSmartPtr("TolvTkCompatCtx::Rethrow called with no exception being handled");
}

std::size_t TolvTkCompatCtx::Depth() noexcept { return t_scopeDepth; }

void KRTXHContextCxx::CatchBlockProlog(const KRTErrorPtr& error) {
  if (error) t_pending.push_back(error);
}

void KRTXHContextCxx::Flush() {
  std::vector<KRTErrorPtr> pending;
  pending.swap(t_pending);
  if (pending.empty()) return;
  Handled& h = GetHandled();
  std::lock_guard lock(h.mutex);
  h.count += pending.size();
  h.lastMessage = pending.back()->GetMessage();
}

std::size_t KRTXHContextCxx::PendingCount() noexcept { return t_pending.size(); }

std::size_t KRTXHContextCxx::HandledCount() {
  Handled& h = GetHandled();
  std::lock_guard lock(h.mutex);
  return h.count;
}

std::string KRTXHContextCxx::LastHandledMessage() {
  Handled& h = GetHandled();
  std::lock_guard lock(h.mutex);
  return h.lastMessage;
}

void KRTXHContextCxx::ResetHandled() {
  Handled& h = GetHandled();
  std::lock_guard lock(h.mutex);
  h.count = 0;
  h.lastMessage.clear();
}
