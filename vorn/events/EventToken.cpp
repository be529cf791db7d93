#include "vorn/events/EventToken.h"

VornEventToken::VornEventToken(std::string name, unsigned int index, Callback callback, Remover remover)
    : m_eventName(std::move(name)),
      m_index(index),
      m_callback(callback ? std::make_unique<const Callback>(std::move(callback)) : nullptr),
      m_remover(std::move(remover)) {}

VornEventToken::~VornEventToken() = default;

void VornEventToken::_DropCallback() noexcept {
  if (m_running > 0 && m_callback)
    m_droppedCallback = std::move(m_callback);
  else
    m_callback.reset();
}

void VornEventToken::_Expire() noexcept {
  m_expired = true;
  _DropCallback();
  m_remover = nullptr;
}

void VornEventToken::Unsubscribe() {
  // The handler's list may hold the last reference, and the remover expires
  // this token (destroying the remover itself): keep both alive for the call.
  std::shared_ptr<VornBaseClass> keepAlive = weak_from_this().lock();
  _DropCallback();
  Remover remover;
  remover.swap(m_remover);
  if (remover) remover(m_eventName, m_index);
  if (!m_expired) _Expire();
}
