#pragma once

#include <atomic>
#include <cstddef>
#include <new>
#include <string_view>

#include "vorn/core/Export.h"
#include "vorn/core/TypeInfo.h"

namespace Vorn {
template <class T> class SharedPtr;
template <class T> class WeakPtr;
}  // namespace Vorn

// Root of the library's intrusively counted objects.
//
// An object may carry a control block (it is then "shareable") with atomic
// strong and weak counts; Vorn::SharedPtr handles own it through the strong
// count. Anyone may request the object's destruction; every party that
// registered a destruction callback is then told, once, so that it can drop
// its reference. The last strong release requests destruction and deletes the
// object unless a callback took a new strong reference.
//
// Objects live in the library's heap whichever module creates or deletes them
// (class-level allocation functions).
class VORN_API Vorn_BaseClass {
public:
  // Called with (callback id, object, context). Should not throw; an
  // exception that escapes anyway is swallowed and the next callback runs.
  using DestructionRequestCB = void (*)(unsigned int id, Vorn_BaseClass* object, void* ctx);
  using ContextDeleter = void (*)(void* ctx) noexcept;

  bool IsShareable() const noexcept;
  bool IsOwned() const noexcept;
  bool IsDestroying() const noexcept;

  // Starts the destruction request: the first call (from any thread) calls
  // _OnDestructionRequestBegin(), then every registered callback in
  // registration order, then the deleters of their contexts. Later or
  // concurrent calls return at once without waiting. Callbacks may release
  // the last reference, so the object may be gone when this returns.
  void RequestDestruction();

  // Registers a destruction callback and takes ownership of `ctx` (handed to
  // `ctxDeleter` when the entry goes). Returns its id (1, 2, ... per object),
  // or 0 when nothing was registered: null callback, the object is already
  // destroying, or memory ran out. A refused registration leaves `ctx` with
  // the caller.
  unsigned int AddDestructionRequestCB(DestructionRequestCB callback, void* ctx, ContextDeleter ctxDeleter);

  // Unregisters the callback `id`, handing its context to its deleter at once
  // (under the object's lock: the deleter must not call back into Add, Remove
  // or Update on this object). Unknown ids and 0 are ignored.
  void RemoveDestructionRequestCB(unsigned int id);

  // Replaces the context of callback `id`; the previous context goes to the
  // deleter at once. Storing the context that is already stored changes
  // nothing (it is neither deleted nor duplicated). With an unknown id `ctx`
  // stays with the caller.
  void UpdateDestructionRequestCtx(unsigned int id, void* ctx);

  const Vorn::TypeInfo& GetExactTypeInfo() const noexcept { return *m_exactType; }
  unsigned long long GetExactTypeKey() const noexcept { return m_exactType->key; }
  std::string_view GetExactTypeName() const noexcept { return m_exactType->name; }
  bool HasExactType(unsigned long long key) const noexcept { return m_exactType->key == key; }

  // Requests the destruction of `object`, then deletes it unless a callback
  // made it owned again (reported through RaiseError: the object is then left
  // alive). Null is ignored.
  static void DeleteUnlessOwned(Vorn_BaseClass* object);
  // The same for paths that must not throw (handle releases, destruction
  // callbacks): the still-owned report goes straight to KRTSysLogAbend.
  static void _DeleteUnlessOwnedNoThrow(Vorn_BaseClass* object) noexcept;

private:
  // Returns true when the object was deleted.
  static bool _DeleteUnlessOwnedImpl(Vorn_BaseClass* object, bool mayThrow);

public:

  static void* operator new(std::size_t size);
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void* operator new(std::size_t size, std::align_val_t align);
  // The class's own operator new hides the global nothrow form, which
  // Vorn::SingletonSlot creates its instances with.
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* p) noexcept;
  static void operator delete(void* p, std::size_t size) noexcept;
  static void operator delete(void* p, std::align_val_t align) noexcept;
  static void operator delete(void* p, std::size_t size, std::align_val_t align) noexcept;
  static void operator delete(void*, void*) noexcept {}
  static void operator delete(void* p, const std::nothrow_t&) noexcept;

  Vorn_BaseClass(const Vorn_BaseClass&) = delete;
  Vorn_BaseClass& operator=(const Vorn_BaseClass&) = delete;

protected:
  Vorn_BaseClass() noexcept;
  virtual ~Vorn_BaseClass();

  // Hook run once at the start of the first destruction request, before any
  // callback.
  virtual void _OnDestructionRequestBegin() {}

  // A strong handle to this object; takes first ownership of a shareable,
  // never-owned object. Empty for a non-shareable object.
  Vorn::SharedPtr<Vorn_BaseClass> _GetSharedPtrFromBase();
  // A strong handle only while the object is already owned.
  Vorn::SharedPtr<Vorn_BaseClass> _TryGetSharedPtrFromBase();

  // Derived classes record their own exact type here (the base leaves its
  // own record in place).
  void _SetExactTypeInfo(const Vorn::TypeInfo& info) noexcept { m_exactType = &info; }
  template <class Self>
  void _SetExactType() noexcept { _SetExactTypeInfo(Vorn::GetTypeInfo<Self>()); }

  // Makes the object shareable with the given strong count; an existing
  // control block is left unchanged. Throws std::bad_alloc.
  void _InitCtrlBlock(unsigned int initialStrong);

private:
  template <class T> friend class Vorn::SharedPtr;
  template <class T> friend class Vorn::WeakPtr;

  struct _CtrlBlock {
    std::atomic<unsigned int> strong;
    std::atomic<unsigned int> weak;
    std::atomic<Vorn_BaseClass*> object;
  };
  struct _DestructionManager;

  unsigned int _Incref() const noexcept;
  unsigned int _Decref() const noexcept;
  unsigned int _WeakIncref() const noexcept;
  unsigned int _WeakDecref() const noexcept;
  bool _TryIncrefFromWeak() const noexcept;
  _DestructionManager* _EnsureDestrManager() noexcept;

  // Weak handles keep the control block, which may outlive the object.
  _CtrlBlock* _GetCtrlBlock() const noexcept { return m_ctrl; }
  static unsigned int _WeakIncrefBlock(_CtrlBlock* block) noexcept;
  static unsigned int _WeakDecrefBlock(_CtrlBlock* block) noexcept;
  static Vorn_BaseClass* _TryIncrefBlock(_CtrlBlock* block) noexcept;

  std::atomic<_DestructionManager*> m_destrManager{nullptr};
  _CtrlBlock* m_ctrl = nullptr;
  const Vorn::TypeInfo* m_exactType;
  std::atomic<unsigned int> m_nextCallbackId{1};
  std::atomic<bool> m_destroying{false};
};
