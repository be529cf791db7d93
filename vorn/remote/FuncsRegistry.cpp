#include "vorn/remote/FuncsRegistry.h"

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

// One hazard slot per thread, claimed on the thread's first lookup and
// given back when it ends. Threads beyond the slots read through the atomic
// shared pointer instead.
struct alignas(64) HazardSlot {
  std::atomic<const void*> table{nullptr};
  std::atomic<bool> used{false};
};
constexpr std::size_t kHazardSlots = 256;
HazardSlot g_hazards[kHazardSlots];
// Slots at or beyond this index were never claimed: writers scan no further.
std::atomic<std::size_t> g_hazardsInUse{0};

struct HazardOwner {
  HazardSlot* slot = nullptr;
  HazardOwner() {
    for (std::size_t i = 0; i < kHazardSlots; ++i) {
      HazardSlot& s = g_hazards[i];
      bool expected = false;
      if (!s.used.load(std::memory_order_relaxed) && s.used.compare_exchange_strong(expected, true)) {
        std::size_t inUse = g_hazardsInUse.load();
        while (inUse <= i && !g_hazardsInUse.compare_exchange_weak(inUse, i + 1)) {
        }
        slot = &s;
        break;
      }
    }
  }
  ~HazardOwner() {
    if (slot) slot->used.store(false, std::memory_order_release);
  }
};

HazardSlot* ThreadHazard() {
  thread_local HazardOwner owner;
  return owner.slot;
}

bool IsHazard(const void* table) {
  const std::size_t inUse = g_hazardsInUse.load();
  for (std::size_t i = 0; i < inUse; ++i)
    if (g_hazards[i].table.load() == table) return true;
  return false;
}

}  // namespace

VornFuncsRegistry::VornFuncsRegistry() {
  _SetExactType<VornFuncsRegistry>();
  auto empty = std::make_shared<const Snapshot>();
  m_current.store(&empty->table);
  _StoreTable(std::move(empty));
}

VornFuncsRegistry::~VornFuncsRegistry() = default;

VornFuncsRegistry::TablePtr VornFuncsRegistry::_LoadTable() const { return m_table.load(std::memory_order_acquire); }

void VornFuncsRegistry::_StoreTable(TablePtr table) { m_table.store(std::move(table), std::memory_order_release); }

template <class Read>
auto VornFuncsRegistry::_Read(Read read) const {
  HazardSlot* slot = ThreadHazard();
  if (!slot) {
    const TablePtr held = _LoadTable();  // keeps the table and what it shows
    return read(held->table);
  }
  // Announce the table, then check it is still the published one: a writer
  // that replaced it after that check sees the announcement and keeps it.
  const Table* table = m_current.load(std::memory_order_acquire);
  for (;;) {
    slot->table.store(table);
    const Table* again = m_current.load();
    if (again == table) break;
    table = again;
  }
  struct Clear {
    HazardSlot* slot;
    ~Clear() { slot->table.store(nullptr, std::memory_order_release); }
  } clear{slot};
  return read(*table);
}

template <class Change>
bool VornFuncsRegistry::_Write(Change change) {
  std::vector<TablePtr> released;  // destroyed after the lock: entry destructors run user code
  {
    std::lock_guard lock(m_writeMutex);
    TablePtr snapshot = _LoadTable();
    VornFuncsRegistryEntry_sp dropped;
    auto copy = std::make_shared<Snapshot>(Snapshot{snapshot->table, {}});
    if (!change(copy->table, dropped)) return false;
    m_current.store(&copy->table);
    _StoreTable(std::move(copy));
    // Readers may still find the dropped entry in the replaced table: it
    // goes with that table.
    snapshot->dropped = std::move(dropped);
    m_retired.push_back(std::move(snapshot));
    for (auto it = m_retired.begin(); it != m_retired.end();) {
      if (IsHazard(&(*it)->table)) {
        ++it;
      } else {
        released.push_back(std::move(*it));
        it = m_retired.erase(it);
      }
    }
  }
  return true;
}

bool VornFuncsRegistry::Has(std::string_view name) const {
  const std::uint64_t key = KeyOf(name);
  return _Read([key](const Table& table) { return table.contains(key); });
}

VornFuncsRegistryEntry_sp VornFuncsRegistry::GetEntry(std::string_view name) const {
  return GetEntryByKey(KeyOf(name));
}

VornFuncsRegistryEntry_sp VornFuncsRegistry::GetEntryByKey(std::uint64_t key) const {
  return _Read([key](const Table& table) {
    auto it = table.find(key);
    return it == table.end() ? VornFuncsRegistryEntry_sp() : VornFuncsRegistryEntry_sp(it->second);
  });
}

bool VornFuncsRegistry::UnregisterByKey(std::uint64_t key) {
  return _Write([this, key](Table& copy, VornFuncsRegistryEntry_sp& dropped) {
    auto owned = m_owned.find(key);
    if (owned == m_owned.end()) return false;
    dropped = std::move(owned->second);
    m_owned.erase(owned);
    copy.erase(key);
    return true;
  });
}

bool VornFuncsRegistry::Unregister(std::string_view name) { return UnregisterByKey(KeyOf(name)); }

bool VornFuncsRegistry::RegisterEntry(VornFuncsRegistryEntry_sp entry) {
  if (!entry) return false;
  return _Write([this, &entry](Table& copy, VornFuncsRegistryEntry_sp&) {
    if (!m_owned.try_emplace(entry->GetKey(), entry).second) return false;
    copy.try_emplace(entry->GetKey(), entry.Get());
    return true;
  });
}

std::size_t VornFuncsRegistry::Size() const {
  return _Read([](const Table& table) { return table.size(); });
}

Vorn::SharedPtr<VornFuncsRegistry> VornFuncsRegistry::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornFuncsRegistry>(_GetSharedPtrFromBase());
}
