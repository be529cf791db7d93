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

VornFuncsRegistry::VornFuncsRegistry() {
  _SetExactType<VornFuncsRegistry>();
  _StoreTable(std::make_shared<const Table>());
}

VornFuncsRegistry::~VornFuncsRegistry() = default;

VornFuncsRegistry::TablePtr VornFuncsRegistry::_LoadTable() const { return m_table.load(std::memory_order_acquire); }

void VornFuncsRegistry::_StoreTable(TablePtr table) { m_table.store(std::move(table), std::memory_order_release); }

bool VornFuncsRegistry::_CompareSwapTable(TablePtr& expected, const TablePtr& desired) {
  return m_table.compare_exchange_strong(expected, desired, std::memory_order_acq_rel, std::memory_order_acquire);
}

bool VornFuncsRegistry::Has(std::string_view name) const { return _LoadTable()->contains(KeyOf(name)); }

VornFuncsRegistryEntry_sp VornFuncsRegistry::GetEntry(std::string_view name) const {
  return GetEntryByKey(KeyOf(name));
}

VornFuncsRegistryEntry_sp VornFuncsRegistry::GetEntryByKey(std::uint64_t key) const {
  const TablePtr table = _LoadTable();
  auto it = table->find(key);
  return it == table->end() ? VornFuncsRegistryEntry_sp() : it->second;
}

bool VornFuncsRegistry::UnregisterByKey(std::uint64_t key) {
  TablePtr snapshot = _LoadTable();
  for (;;) {
    if (!snapshot->contains(key)) return false;
    auto copy = std::make_shared<Table>(*snapshot);
    copy->erase(key);
    // On failure `snapshot` now holds the current table: start again from it.
    if (_CompareSwapTable(snapshot, copy)) return true;
  }
}

bool VornFuncsRegistry::Unregister(std::string_view name) { return UnregisterByKey(KeyOf(name)); }

bool VornFuncsRegistry::RegisterEntry(VornFuncsRegistryEntry_sp entry) {
  if (!entry) return false;
  const std::uint64_t key = entry->GetKey();
  TablePtr snapshot = _LoadTable();
  for (;;) {
    if (snapshot->contains(key)) return false;
    auto copy = std::make_shared<Table>(*snapshot);
    copy->try_emplace(key, entry);
    if (_CompareSwapTable(snapshot, copy)) return true;
  }
}

std::size_t VornFuncsRegistry::Size() const { return _LoadTable()->size(); }

Vorn::SharedPtr<VornFuncsRegistry> VornFuncsRegistry::GetSharedPtr() {
  return Vorn::StaticPointerCast<VornFuncsRegistry>(_GetSharedPtrFromBase());
}
