#include "vorn/events/EventToken.h"

VornEventToken::VornEventToken(std::string name, unsigned int index, Callback callback, Remover remover)
    : m_eventName(std::move(name)),
      m_index(index),
      m_callback(callback ? std::make_shared<const Callback>(std::move(callback)) : nullptr),
      m_remover(std::move(remover)) {}

VornEventToken::~VornEventToken() = default;

void VornEventToken::_Expire() noexcept {
  m_expired = true;
  m_callback.reset();
  m_remover = nullptr;
}

void VornEventToken::Unsubscribe() {
  // The handler's list may hold the last reference, and the remover expires
  // this token (destroying the remover itself): keep both alive for the call.
  std::shared_ptr<VornBaseClass> keepAlive = weak_from_this().lock();
  m_callback.reset();
  Remover remover;
  remover.swap(m_remover);
  if (remover) remover(m_eventName, m_index);
  if (!m_expired) _Expire();
}
