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

// Function names to registered callables. Readers take no lock; writers,
// one at a time (they take a mutex readers never take), change the table in
// place. Any thread may call any operation.
//
// The table is open addressing over atomic entry pointers, changed slot by
// slot: a write touches the one slot it changes, so readers on other cores
// keep the rest of the table in their caches. (Copying the table at each
// write, as an earlier version did, made every reader fetch the whole new
// copy from the writer's core after each write.) It is copied only to grow.
//
// A reader marks a counter in a slot of its own thread as reading (odd)
// and then idle (even) around each lookup, and copies out the entry's
// handle. A write that takes out an entry, or replaces the table by a
// larger one, notes the readers it finds reading and releases what it took
// out once each of them has moved on (the writer that took it out checks,
// and each later write checks again, reading only the slots of the readers
// still waited on). Besides the handle's count, a reader writes only its
// own slot and reads nothing a writer writes but the table: a busy writer
// costs each reader about one fetch of its slot per removal, where
// a shared epoch that every removal bumped, and a scan of every slot at
// every write, cost them several. Readers of a thread that finds no free
// slot (past 256 threads at once) take the writers' mutex instead.
class VORN_API VornFuncsRegistry : public Vorn_BaseClass {
public:
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
  // Power-of-two slots: null (free), an entry, or the erased mark. A free
  // slot ends a search, so erased slots keep their mark until a rebuild.
  struct _Slots {
    explicit _Slots(std::size_t count);
    std::size_t mask;
    std::unique_ptr<std::atomic<VornFuncsRegistryEntry*>[]> slots;
  };
  // A reader that was reading when something went, and its counter then.
  struct _Wait {
    std::size_t reader;
    std::uint64_t count;
  };
  // What a write took out, held until every reader in `waits` has moved on.
  struct _Retired {
    std::vector<_Wait> waits;
    VornFuncsRegistryEntry_sp entry;
    std::unique_ptr<_Slots> table;
  };
  // The first slot of `key`'s search whose content `stop` accepts, and that
  // content as read; `stop` must accept one the search reaches (a free
  // slot, or an entry known present).
  struct _Probed {
    std::size_t slot;
    VornFuncsRegistryEntry* entry;
  };
  template <class Stop>
  static _Probed _Probe(const _Slots& table, std::uint64_t key, Stop stop) noexcept;
  static VornFuncsRegistryEntry* _Find(const _Slots& table, std::uint64_t key) noexcept;
  // The current table's entries in a new table with room to grow, and how
  // many slots they take.
  std::unique_ptr<_Slots> _Rebuilt(std::size_t& taken) const;
  // Puts `entry` in the first free or erased slot of its search.
  void _Place(VornFuncsRegistryEntry* entry) noexcept;
  // Keeps what a write took out (an entry or a table) past every reader
  // that may hold it (room for it, and for the readers it waits on,
  // reserved beforehand by _Reserve), and releases into `released` what no
  // reader can hold any more.
  void _Reserve();
  void _Retire(VornFuncsRegistryEntry_sp entry, std::unique_ptr<_Slots> table) noexcept;
  void _Reclaim(std::vector<_Retired>& released) noexcept;
  // Runs `change` under the writers' lock, then reclaims; what is released
  // goes after the lock, since entry destructors run user code. Returns
  // what `change` returns.
  template <class Change>
  bool _Write(Change change);
  // Calls `read` with the current table, protected for the length of the
  // call. `read` must not call back into the registry.
  template <class Read>
  auto _Read(Read read) const;

  // What readers read, alone on its cache line: the writers' mutex and
  // counts beside it would take the line from every reader at each write.
  // (Padded rather than aligned: the class's own operator new need not
  // honour an extended alignment.)
  char m_padBefore[64] = {};
  std::atomic<const _Slots*> m_current{nullptr};
  char m_padAfter[64] = {};
  mutable std::mutex m_writeMutex;
  std::unique_ptr<_Slots> m_table;  // the current table's owner
  std::size_t m_taken = 0;          // slots of the current table not free
  std::atomic<std::size_t> m_size{0};
  Vorn::HashTable<std::uint64_t, VornFuncsRegistryEntry_sp> m_owned;  // the published entries (writers only)
  std::vector<_Retired> m_retired;
  std::vector<_Wait> m_waitsRoom;  // reserved by _Reserve for the next _Retire
};
