#include "vorn/events/EventToken.h"

VornEventToken::VornEventToken(_Key, std::string name, std::uint32_t nameHash, unsigned int nameId,
                               unsigned int index, Callback callback, VornEventsHandler* handler)
    : m_eventName(std::move(name)),
      m_callback(std::move(callback)),
      m_handler(handler),
      m_index(index),
      m_nameHash(nameHash),
      m_nameId(nameId) {}

VornEventToken::~VornEventToken() = default;

void VornEventToken::_DropCallback() noexcept {
  if (m_running > 0) {
    m_dropPending = true;
    return;
  }
  m_dropPending = false;
  // Moved out before it is destroyed: the callable's destruction may do
  // anything, and must find this token without it.
  Callback dropped;
  dropped.swap(m_callback);
}

void VornEventToken::_Expire() noexcept {
  m_expired = true;
  m_handler = nullptr;
  _DropCallback();
}

// Unsubscribe() is defined with the handler it removes the token from.
