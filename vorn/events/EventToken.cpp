#include "vorn/events/EventToken.h"

#include <atomic>
#include <cstddef>
#include <functional>

namespace {
// Open addressing with a short probe: a slot goes from empty to a name once
// and never back, so readers need no lock and a name has one slot.
constexpr std::size_t kInternSlots = 512;  // a slot plus one fits a token's 10 bits
constexpr std::size_t kInternProbes = 16;
constexpr std::size_t kInternMaxLength = 64;
// Reachable for the life of the process (never freed: tokens anywhere may
// point at them until the very end).
std::atomic<const std::string*> g_interned[kInternSlots];

std::size_t InternHome(std::string_view name) noexcept { return std::hash<std::string_view>{}(name); }

// The interned copy of `name` (added first when `add` and there is room), or
// null; `slotOut` gets its slot plus one, or 0.
const std::string* Interned(std::string_view name, bool add, unsigned int* slotOut) {
  if (slotOut) *slotOut = 0;
  if (name.size() > kInternMaxLength) return nullptr;
  const std::size_t home = InternHome(name);
  for (std::size_t i = 0; i < kInternProbes; ++i) {
    const std::size_t at = (home + i) % kInternSlots;
    std::atomic<const std::string*>& slot = g_interned[at];
    const std::string* held = slot.load(std::memory_order_acquire);
    if (!held) {
      if (!add) return nullptr;
      auto made = std::make_unique<const std::string>(name);
      if (slot.compare_exchange_strong(held, made.get(), std::memory_order_acq_rel, std::memory_order_acquire))
        held = made.release();
      // Otherwise another thread filled the slot first: `held` is what it put there.
    }
    if (*held == name) {
      if (slotOut) *slotOut = static_cast<unsigned int>(at + 1);
      return held;
    }
  }
  return nullptr;
}
}  // namespace

const std::string* VornEventToken::_Intern(std::string_view name, unsigned int* slot) {
  return Interned(name, true, slot);
}

const std::string* VornEventToken::_FindInterned(std::string_view name, unsigned int* slot) noexcept {
  return Interned(name, false, slot);  // never allocates, so never throws
}

VornEventToken::VornEventToken(_Key, const std::string& name, const std::string* interned, unsigned int nameId,
                               unsigned int index, Callback callback, VornEventsHandler* handler)
    : m_eventName(interned ? interned : new std::string(name)),
      m_callback(std::move(callback)),
      m_handler(handler),
      m_index(index),
      m_nameId(nameId),
      m_ownsName(!interned) {}

VornEventToken::VornEventToken(_Key, const std::string* first, unsigned int slots, unsigned int index,
                               Callback callback, VornEventsHandler* handler)
    : m_eventName(first),
      m_callback(std::move(callback)),
      m_handler(handler),
      m_index(index),
      m_nameId(slots),
      m_ownsName(false),
      m_multi(true) {
  static_assert(kInternSlots < (1u << kSlotBits) && kMaxNames * kSlotBits <= 32);
}

VornEventToken::~VornEventToken() {
  if (m_ownsName) delete m_eventName;
}

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
