#include "vorn/remote/FuncsRegistry.h"

#include <thread>

VornFuncsRegistryEntry::VornFuncsRegistryEntry(std::uint64_t key, std::string debugName,
                                               std::vector<Vorn::TypeInfo> argsTypes, const Vorn::TypeInfo& signature,
                                               void* callable, DestroyFn destroy) noexcept
    : m_callable(callable),
      m_destroy(destroy),
      m_argsTypes(std::move(argsTypes)),
      m_key(key),
      m_debugName(std::move(debugName)),
      m_signature(signature) {
  _SetExactType<VornFuncsRegistryEntry>();
}

VornFuncsRegistryEntry::~VornFuncsRegistryEntry() {
  if (m_callable && m_destroy) m_destroy(m_callable);
  m_callable = nullptr;
}

Vorn::SharedPtr<VornFuncsRegistryEntry> VornFuncsRegistryEntry::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornFuncsRegistryEntry>(_GetSharedPtrFromBase());
}

namespace {

// One reader slot per thread, claimed on the thread's first lookup and
// given back when it ends: a counter that is odd while the thread's lookup
// is in progress. It only grows, so a writer that saw it odd knows the
// lookup it saw is over once it reads another value.
struct alignas(64) ReaderSlot {
  std::atomic<std::uint64_t> count{0};
  std::atomic<bool> used{false};
};
constexpr std::size_t kReaderSlots = 256;
ReaderSlot g_readers[kReaderSlots];
// Slots at or beyond this index were never claimed: writers scan no further.
std::atomic<std::size_t> g_readersInUse{0};

struct ReaderOwner {
  ReaderSlot* slot = nullptr;
  ReaderOwner() {
    for (std::size_t i = 0; i < kReaderSlots; ++i) {
      ReaderSlot& s = g_readers[i];
      bool expected = false;
      if (!s.used.load(std::memory_order_relaxed) && s.used.compare_exchange_strong(expected, true)) {
        std::size_t inUse = g_readersInUse.load();
        while (inUse <= i && !g_readersInUse.compare_exchange_weak(inUse, i + 1)) {
        }
        slot = &s;
        break;
      }
    }
  }
  ~ReaderOwner() {
    if (slot) slot->used.store(false, std::memory_order_release);
  }
};

ReaderSlot* ThreadReaderSlot() {
  thread_local ReaderOwner owner;
  return owner.slot;
}

// Until the lookup the reader of `slot` had in progress at `count` is over.
void WaitPast(const ReaderSlot& slot, std::uint64_t count) noexcept {
  while (slot.count.load() == count) std::this_thread::yield();
}

char g_erasedMark;
VornFuncsRegistryEntry* const kErased = reinterpret_cast<VornFuncsRegistryEntry*>(&g_erasedMark);

std::size_t Home(std::uint64_t key, std::size_t mask) noexcept {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

constexpr std::size_t kFirstSlots = 64;

}  // namespace

VornFuncsRegistry::_Slots::_Slots(std::size_t count)
    : mask(count - 1), slots(new std::atomic<VornFuncsRegistryEntry*>[count]()) {}

VornFuncsRegistry::VornFuncsRegistry() : m_table(std::make_unique<_Slots>(kFirstSlots)) {
  _SetExactType<VornFuncsRegistry>();
  m_current.store(m_table.get());
}

VornFuncsRegistry::~VornFuncsRegistry() = default;

template <class Stop>
VornFuncsRegistry::_Probed VornFuncsRegistry::_Probe(const _Slots& table, std::uint64_t key, Stop stop) noexcept {
  for (std::size_t i = Home(key, table.mask);; i = (i + 1) & table.mask)
    if (VornFuncsRegistryEntry* held = table.slots[i].load(); stop(held)) return {i, held};
}

VornFuncsRegistryEntry* VornFuncsRegistry::_Find(const _Slots& table, std::uint64_t key) noexcept {
  // What the probe saw: the slot may change under a reader right after.
  return _Probe(table, key, [key](const VornFuncsRegistryEntry* held) {
           return !held || (held != kErased && held->GetKey() == key);
         }).entry;
}

template <class Read>
auto VornFuncsRegistry::_Read(Read read) const {
  ReaderSlot* slot = ThreadReaderSlot();
  if (!slot) {
    std::lock_guard lock(m_writeMutex);
    return read(*m_current.load());
  }
  // Marked before the table is read: a writer that takes an entry out
  // after this sees the mark and keeps the entry; one that took it out
  // before left no path to it.
  const std::uint64_t count = slot->count.load(std::memory_order_relaxed);
  slot->count.store(count + 1);
  struct Clear {
    ReaderSlot* slot;
    std::uint64_t count;
    ~Clear() { slot->count.store(count, std::memory_order_release); }
  } clear{slot, count + 2};
  return read(*m_current.load());
}

void VornFuncsRegistry::_Reserve() {
  m_retired.reserve(m_retired.size() + 1);
  m_waitsRoom.reserve(g_readersInUse.load());
}

void VornFuncsRegistry::_Retire(VornFuncsRegistryEntry_sp entry, std::unique_ptr<_Slots> table) noexcept {
  // Whoever reads from now on cannot reach it; the readers reading now may
  // hold it. A reader whose slot was claimed after _Reserve finds no room
  // in the list: the writer waits for its lookup to end instead.
  std::vector<_Wait> waits = std::move(m_waitsRoom);
  m_waitsRoom = {};
  const std::size_t inUse = g_readersInUse.load();
  for (std::size_t i = 0; i < inUse; ++i) {
    const std::uint64_t count = g_readers[i].count.load();
    if (!(count & 1)) continue;
    if (waits.size() < waits.capacity())
      waits.push_back({i, count});
    else
      WaitPast(g_readers[i], count);
  }
  m_retired.push_back({std::move(waits), std::move(entry), std::move(table)});
}

template <class Change>
bool VornFuncsRegistry::_Write(Change change) {
  std::vector<_Retired> released;  // destroyed after the lock
  std::lock_guard lock(m_writeMutex);
  if (!change()) return false;
  _Reclaim(released);
  return true;
}

void VornFuncsRegistry::_Reclaim(std::vector<_Retired>& released) noexcept {
  // Only the readers something waits on are read: each read takes the
  // line from its reader, who pays for it at its next lookup.
  std::size_t ready = 0;
  for (_Retired& retired : m_retired) {
    std::erase_if(retired.waits, [](const _Wait& wait) { return g_readers[wait.reader].count.load() != wait.count; });
    if (retired.waits.empty()) ++ready;
  }
  if (ready == 0) return;
  try {
    released.reserve(ready);
  } catch (...) {
    return;  // out of memory: the next write tries again
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < m_retired.size(); ++i) {
    if (m_retired[i].waits.empty())
      released.push_back(std::move(m_retired[i]));
    else if (kept++ != i)
      m_retired[kept - 1] = std::move(m_retired[i]);
  }
  m_retired.erase(m_retired.begin() + static_cast<std::ptrdiff_t>(kept), m_retired.end());
}

std::unique_ptr<VornFuncsRegistry::_Slots> VornFuncsRegistry::_Rebuilt(std::size_t& taken) const {
  // Without the erased marks, at a size with room to grow again.
  std::size_t count = kFirstSlots;
  while (count < 4 * (m_size.load() + 1)) count *= 2;
  auto grown = std::make_unique<_Slots>(count);
  taken = 0;
  for (std::size_t i = 0; i <= m_table->mask; ++i) {
    VornFuncsRegistryEntry* held = m_table->slots[i].load(std::memory_order_relaxed);
    if (!held || held == kErased) continue;
    const std::size_t free =
        _Probe(*grown, held->GetKey(), [](const VornFuncsRegistryEntry* other) { return !other; }).slot;
    grown->slots[free].store(held, std::memory_order_relaxed);
    ++taken;
  }
  return grown;
}

void VornFuncsRegistry::_Place(VornFuncsRegistryEntry* entry) noexcept {
  const _Probed place =
      _Probe(*m_table, entry->GetKey(), [](const VornFuncsRegistryEntry* held) { return !held || held == kErased; });
  if (!place.entry) ++m_taken;
  m_table->slots[place.slot].store(entry);
}

VornFuncsRegistryEntry_sp VornFuncsRegistry::GetEntry(std::string_view name) const {
  return GetEntryByKey(KeyOf(name));
}

VornFuncsRegistryEntry_sp VornFuncsRegistry::GetEntryByKey(std::uint64_t key) const {
  return _Read([key](const _Slots& table) { return VornFuncsRegistryEntry_sp(_Find(table, key)); });
}

bool VornFuncsRegistry::Has(std::string_view name) const {
  const std::uint64_t key = KeyOf(name);
  return _Read([key](const _Slots& table) { return _Find(table, key) != nullptr; });
}

bool VornFuncsRegistry::UnregisterByKey(std::uint64_t key) {
  return _Write([&] {
    auto owned = m_owned.find(key);
    if (owned == m_owned.end()) return false;
    _Reserve();  // the only step that may fail, before any change
    VornFuncsRegistryEntry* entry = owned->second.Get();
    m_table->slots[_Probe(*m_table, key, [entry](const VornFuncsRegistryEntry* held) { return held == entry; }).slot]
        .store(kErased);
    _Retire(std::move(owned->second), nullptr);
    m_owned.erase(owned);
    m_size.fetch_sub(1);
    return true;
  });
}

bool VornFuncsRegistry::Unregister(std::string_view name) { return UnregisterByKey(KeyOf(name)); }

bool VornFuncsRegistry::RegisterEntry(VornFuncsRegistryEntry_sp entry) {
  if (!entry) return false;
  return _Write([&] {
    const std::uint64_t key = entry->GetKey();
    if (m_owned.contains(key)) return false;
    // What may fail comes before any change.
    std::size_t taken = 0;
    std::unique_ptr<_Slots> grown = 2 * (m_taken + 1) > m_table->mask + 1 ? _Rebuilt(taken) : nullptr;
    if (grown) _Reserve();
    VornFuncsRegistryEntry* raw = entry.Get();
    m_owned.try_emplace(key, std::move(entry));
    if (grown) {
      m_current.store(grown.get());
      std::swap(m_table, grown);
      m_taken = taken;
      _Retire(nullptr, std::move(grown));
    }
    _Place(raw);
    m_size.fetch_add(1);
    return true;
  });
}

std::size_t VornFuncsRegistry::Size() const { return m_size.load(); }

Vorn::SharedPtr<VornFuncsRegistry> VornFuncsRegistry::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornFuncsRegistry>(_GetSharedPtrFromBase());
}
