#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/BaseClass.h"
#include "vorn/core/CallableTraits.h"
#include "vorn/core/Export.h"
#include "vorn/core/SharedPtr.h"
#include "vorn/core/TypeInfo.h"

class VornFuncsRegistryEntry;
using VornFuncsRegistryEntry_sp = Vorn::SharedPtr<VornFuncsRegistryEntry>;

// One registered callable: the callable itself (type-erased, destroyed with
// the entry), the types of its parameters, its key and a debug name. Entries
// live in shared ownership only (Create) and go with their last handle,
// whether a registry table or a caller holds it.
class VORN_API VornFuncsRegistryEntry : public Vorn_BaseClass {
public:
  using DestroyFn = void (*)(void*) noexcept;

  // An entry holding `callable` as a std::function of its own signature.
  // The argument types are the parameters' types without reference and
  // const qualifiers, in order.
  template <class F>
  static VornFuncsRegistryEntry_sp Create(std::uint64_t key, F&& callable, std::string debugName = {}) {
    using Sig = Vorn::SignatureOf<F>;
    using Stored = std::function<Sig>;
    auto* stored = new Stored(std::forward<F>(callable));
    VornFuncsRegistryEntry* entry = nullptr;
    try {
      entry = new VornFuncsRegistryEntry(key, std::move(debugName), _ArgsTypes<Sig>::Get(), Vorn::GetTypeInfo<Sig>(),
                                         stored, [](void* p) noexcept { delete static_cast<Stored*>(p); });
    } catch (...) {
      delete stored;
      throw;
    }
    return VornFuncsRegistryEntry_sp(entry);
  }

  std::uint64_t GetKey() const noexcept { return m_key; }
  const std::vector<Vorn::TypeInfo>& GetArgsTypes() const noexcept { return m_argsTypes; }
  const std::string& GetDebugName() const noexcept { return m_debugName; }
  // The callable's signature type, e.g. int(int, double).
  const Vorn::TypeInfo& GetSignature() const noexcept { return m_signature; }
  Vorn::SharedPtr<VornFuncsRegistryEntry> GetSharedPtr();

  // The stored callable when it was registered with exactly the signature
  // Sig; null otherwise. The registry never calls it: holders do, keeping
  // the entry's handle for the length of the call.
  template <class Sig>
  const std::function<Sig>* GetCallable() const noexcept {
    if (m_signature.key != Vorn::TypeKey<Sig>()) return nullptr;
    return static_cast<const std::function<Sig>*>(m_callable);
  }

protected:
  ~VornFuncsRegistryEntry() override;

private:
  template <class Sig>
  struct _ArgsTypes;
  template <class R, class... A>
  struct _ArgsTypes<R(A...)> {
    static std::vector<Vorn::TypeInfo> Get() { return {Vorn::GetTypeInfo<std::remove_cvref_t<A>>()...}; }
  };

  VornFuncsRegistryEntry(std::uint64_t key, std::string debugName, std::vector<Vorn::TypeInfo> argsTypes,
                         const Vorn::TypeInfo& signature, void* callable, DestroyFn destroy) noexcept;

  void* m_callable;
  DestroyFn m_destroy;
  std::vector<Vorn::TypeInfo> m_argsTypes;
  std::uint64_t m_key;
  std::string m_debugName;
  Vorn::TypeInfo m_signature;
};

// Function names to registered callables. Readers take an immutable
// snapshot of the table without locking; writers, one at a time (they take a
// mutex readers never take), copy the table, change the copy and publish it.
// Any thread may call any operation.
//
// Tables hold plain entry pointers, so that copying one for a write touches
// no entry's count (readers counting their handles on the same entries would
// contend with it). The registry owns the entries it publishes; an entry
// taken out is released with the last table that still shows it.
//
// Readers do not copy the table's shared pointer: the standard atomic
// shared pointer serialises its loads on an internal lock, so readers on
// several threads would contend on every lookup (and stall behind a reader
// preempted while holding it). A reader instead announces the raw table it
// reads in a hazard slot of its thread and copies out only the entry's
// handle; a replaced table is released by the writer that replaced it once
// no slot shows it (or by a later write, if a reader was still in it).
class VORN_API VornFuncsRegistry : public Vorn_BaseClass {
public:
  using Table = Vorn::HashTable<std::uint64_t, VornFuncsRegistryEntry*, Vorn::Hash<std::uint64_t>,
                                std::equal_to<std::uint64_t>, 80>;

  VornFuncsRegistry();
  ~VornFuncsRegistry() override;

  // 64-bit FNV-1a of the name's bytes, from the basis 14650FB0739D0383 hex.
  static constexpr std::uint64_t KeyOf(std::string_view name) noexcept {
    std::uint64_t h = 0x14650FB0739D0383ull;
    for (char c : name) {
      h ^= static_cast<unsigned char>(c);
      h *= 0x100000001B3ull;
    }
    return h;
  }

  bool Has(std::string_view name) const;
  VornFuncsRegistryEntry_sp GetEntry(std::string_view name) const;
  VornFuncsRegistryEntry_sp GetEntryByKey(std::uint64_t key) const;
  // True when this call removed the entry. Of several threads removing one
  // name at once, exactly one gets true.
  bool Unregister(std::string_view name);
  bool UnregisterByKey(std::uint64_t key);

  // Registers `callable` under `name` (debug name: the name itself unless
  // given). A name whose key is already present is refused and false is
  // returned, the first registration staying in place: names are not
  // silently rebound under a caller that holds the old entry.
  template <class F>
  bool Register(std::string_view name, F&& callable, std::string debugName = {}) {
    if (debugName.empty()) debugName = std::string(name);
    return RegisterEntry(VornFuncsRegistryEntry::Create(KeyOf(name), std::forward<F>(callable), std::move(debugName)));
  }
  // Publishes a ready entry under its key; false for a null entry or a key
  // already present.
  bool RegisterEntry(VornFuncsRegistryEntry_sp entry);

  std::size_t Size() const;
  Vorn::SharedPtr<VornFuncsRegistry> GetSharedPtr();

private:
  // A published table, and the entry the write that replaced it took out
  // (set once, under the writers' mutex, when the table is retired).
  struct Snapshot {
    Table table;
    mutable VornFuncsRegistryEntry_sp dropped;
  };
  using TablePtr = std::shared_ptr<const Snapshot>;
  TablePtr _LoadTable() const;
  void _StoreTable(TablePtr table);
  // The writers' protocol, under the writers' mutex: copy the published
  // table, `change` the copy and the owned entries (false: give up,
  // returning false; `change` may hand back an entry it took out), publish
  // the copy and retire the replaced table.
  template <class Change>
  bool _Write(Change change);
  // Calls `read` with the current table, protected for the length of the
  // call. `read` must not call back into the registry.
  template <class Read>
  auto _Read(Read read) const;

  std::atomic<TablePtr> m_table;
  std::atomic<const Table*> m_current{nullptr};  // what readers read
  std::mutex m_writeMutex;
  Vorn::HashTable<std::uint64_t, VornFuncsRegistryEntry_sp> m_owned;  // the published entries (writers only)
  std::vector<TablePtr> m_retired;  // replaced tables a reader may still be in
};
