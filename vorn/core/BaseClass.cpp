#include "vorn/core/BaseClass.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/core/SharedPtr.h"
#include "vorn/host/SysLog.h"

namespace {

struct CallbackEntry {
  Vorn_BaseClass::DestructionRequestCB callback;
  void* ctx;
  Vorn_BaseClass::ContextDeleter deleter;
  unsigned int id;
  bool active;
};

constexpr const char* kStillOwnedMessage =
    "[Vorn - Pointer deletion]\nObject is still owned, deletion aborted (pointer not deleted, not set to "
    "nullptr)!\nIMPORTANT: Owners of shared objects should add a callback by calling "
    "\"AddDestructionRequestCB\" on the object and release their ownership when notified!\n";

constexpr const char* kOwnedDestructorMessage =
    "[Vorn - Destructor]\nDestructor called on an owned object!\nPlease use Vorn::SharedPtr<MyClass> or "
    "MyClass_sp to manage the lifetime of shareable objects.\n";

// Deletions running on this thread, innermost first. A destruction callback
// may take a temporary handle to the object being deleted and drop it again;
// that nested last release must leave the deletion to the outer one, which
// would otherwise check and delete an object already freed.
struct DeletionInProgress {
  const Vorn_BaseClass* object;
  DeletionInProgress* outer;
};
thread_local DeletionInProgress* t_deletions = nullptr;

bool IsBeingDeletedOnThisThread(const Vorn_BaseClass* object) {
  for (const DeletionInProgress* d = t_deletions; d; d = d->outer)
    if (d->object == object) return true;
  return false;
}

}  // namespace

struct Vorn_BaseClass::_DestructionManager {
  std::mutex mutex;
  std::vector<CallbackEntry> entries;

  // First active entry with this id, or end.
  std::vector<CallbackEntry>::iterator Find(unsigned int id) {
    for (auto it = entries.begin(); it != entries.end(); ++it)
      if (it->id == id && it->active) return it;
    return entries.end();
  }
};

Vorn_BaseClass::Vorn_BaseClass() noexcept : m_exactType(&Vorn::GetTypeInfo<Vorn_BaseClass>()) {}

Vorn_BaseClass::~Vorn_BaseClass() {
  if (IsOwned()) KRTSysLogAbend(kOwnedDestructorMessage);
  // An object deleted other than by its last release (never owned, or
  // deleted by whoever held it) still holds the strong owners' share of the
  // weak count: give it back so the control block is not leaked. The last
  // release clears the object pointer first and gives it back itself.
  if (m_ctrl && m_ctrl->strong.load() == 0) {
    Vorn_BaseClass* self = this;
    if (m_ctrl->object.compare_exchange_strong(self, nullptr)) _WeakDecrefBlock(m_ctrl);
  }
  // Contexts still registered are not handed to their deleters: the owners
  // were never told, so they may still use them.
  delete m_destrManager.load();
}

// --- allocation ----------------------------------------------------------

void* Vorn_BaseClass::operator new(std::size_t size) { return ::operator new(size); }
void* Vorn_BaseClass::operator new(std::size_t size, std::align_val_t align) { return ::operator new(size, align); }
void* Vorn_BaseClass::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}
void Vorn_BaseClass::operator delete(void* p) noexcept { ::operator delete(p); }
void Vorn_BaseClass::operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }
void Vorn_BaseClass::operator delete(void* p, std::align_val_t align) noexcept { ::operator delete(p, align); }
void Vorn_BaseClass::operator delete(void* p, std::size_t, std::align_val_t align) noexcept {
  ::operator delete(p, align);
}
void Vorn_BaseClass::operator delete(void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }

// --- state ---------------------------------------------------------------

bool Vorn_BaseClass::IsShareable() const noexcept { return m_ctrl != nullptr; }
bool Vorn_BaseClass::IsOwned() const noexcept { return m_ctrl && m_ctrl->strong.load() != 0; }
bool Vorn_BaseClass::IsDestroying() const noexcept { return m_destroying.load(); }

// --- destruction requests ---------------------------------------------------

void Vorn_BaseClass::RequestDestruction() {
  bool expected = false;
  if (!m_destroying.compare_exchange_strong(expected, true)) return;

  _OnDestructionRequestBegin();

  std::vector<CallbackEntry> snapshot;
  if (_DestructionManager* manager = m_destrManager.load()) {
    std::lock_guard lock(manager->mutex);
    snapshot.reserve(manager->entries.size());
    for (CallbackEntry& e : manager->entries) {
      if (e.active && e.callback) {
        snapshot.push_back(e);
        e.active = false;
      }
    }
    manager->entries.clear();
  }

  // From here on `this` may be deleted by any callback (an owner dropping the
  // last handle): only the snapshot is touched.
  Vorn_BaseClass* self = this;
  for (const CallbackEntry& e : snapshot) {
    try {
      e.callback(e.id, self, e.ctx);
    } catch (...) {
      // A callback's failure must not keep the other owners from being told.
    }
  }
  for (const CallbackEntry& e : snapshot)
    if (e.deleter && e.ctx) e.deleter(e.ctx);
}

unsigned int Vorn_BaseClass::AddDestructionRequestCB(DestructionRequestCB callback, void* ctx,
                                                     ContextDeleter ctxDeleter) {
  if (!callback || IsDestroying()) return 0;
  _DestructionManager* manager = _EnsureDestrManager();
  if (!manager) return 0;
  std::lock_guard lock(manager->mutex);
  // Checked again under the lock: a request that has already taken its
  // snapshot would never call this entry, nor hand its context back.
  if (IsDestroying()) return 0;
  const unsigned int id = m_nextCallbackId.fetch_add(1);
  try {
    manager->entries.push_back({callback, ctx, ctxDeleter, id, true});
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return id;
}

void Vorn_BaseClass::RemoveDestructionRequestCB(unsigned int id) {
  _DestructionManager* manager = m_destrManager.load();
  if (id == 0 || !manager) return;
  std::lock_guard lock(manager->mutex);
  auto it = manager->Find(id);
  if (it == manager->entries.end()) return;
  it->active = false;
  if (it->deleter && it->ctx) {
    it->deleter(it->ctx);
    it->ctx = nullptr;
  }
  manager->entries.erase(it);
}

void Vorn_BaseClass::UpdateDestructionRequestCtx(unsigned int id, void* ctx) {
  _DestructionManager* manager = m_destrManager.load();
  if (id == 0 || !manager) return;
  std::lock_guard lock(manager->mutex);
  auto it = manager->Find(id);
  if (it == manager->entries.end()) return;
  if (it->ctx == ctx) return;  // deleting it would leave the entry dangling
  if (it->deleter && it->ctx) it->deleter(it->ctx);
  it->ctx = ctx;
}

Vorn_BaseClass::_DestructionManager* Vorn_BaseClass::_EnsureDestrManager() noexcept {
  if (_DestructionManager* existing = m_destrManager.load()) return existing;
  auto* fresh = new (std::nothrow) _DestructionManager;
  if (!fresh) return nullptr;
  _DestructionManager* expected = nullptr;
  if (m_destrManager.compare_exchange_strong(expected, fresh)) return fresh;
  delete fresh;
  return expected;
}

bool Vorn_BaseClass::_DeleteUnlessOwnedImpl(Vorn_BaseClass* object, bool mayThrow) {
  if (!object || IsBeingDeletedOnThisThread(object)) return false;
  {
    struct Guard {
      DeletionInProgress entry;
      explicit Guard(const Vorn_BaseClass* o) : entry{o, t_deletions} { t_deletions = &entry; }
      ~Guard() { t_deletions = entry.outer; }
    } guard(object);
    if (mayThrow) {
      object->RequestDestruction();
    } else {
      try {
        object->RequestDestruction();
      } catch (...) {
        // Only an _OnDestructionRequestBegin override can throw here; nothing
        // owns the object, so it is deleted all the same.
      }
    }
  }
  if (object->IsOwned()) {
    if (mayThrow)
      Vorn::RaiseError(kStillOwnedMessage);
    else
      KRTSysLogAbend(kStillOwnedMessage);
    return false;
  }
  // Once a last release has cut the weak handles off (here or in a callback's
  // nested release), the strong owners' share of the weak count is given back
  // here; otherwise the destructor gives it back.
  _CtrlBlock* block = object->m_ctrl;
  const bool returnOwnersShare = block && block->object.load() == nullptr;
  delete object;
  if (returnOwnersShare) _WeakDecrefBlock(block);
  return true;
}

void Vorn_BaseClass::DeleteUnlessOwned(Vorn_BaseClass* object) { _DeleteUnlessOwnedImpl(object, true); }

void Vorn_BaseClass::_DeleteUnlessOwnedNoThrow(Vorn_BaseClass* object) noexcept {
  _DeleteUnlessOwnedImpl(object, false);
}

// --- counts ------------------------------------------------------------------

void Vorn_BaseClass::_InitCtrlBlock(unsigned int initialStrong) {
  if (m_ctrl) return;
  m_ctrl = new _CtrlBlock{{initialStrong}, {1}, {this}};
}

unsigned int Vorn_BaseClass::_Incref() const noexcept { return m_ctrl ? m_ctrl->strong.fetch_add(1) + 1 : 0; }

unsigned int Vorn_BaseClass::_Decref() const noexcept {
  _CtrlBlock* block = m_ctrl;
  if (!block) return 0;
  const unsigned int remaining = block->strong.fetch_sub(1) - 1;
  if (remaining != 0) return remaining;
  block->object.store(nullptr);
  // The release happens in a destructor or a noexcept reset: a report that
  // the object is owned again must not throw from there. An object kept alive
  // keeps the owners' weak share for its new owners.
  _DeleteUnlessOwnedImpl(const_cast<Vorn_BaseClass*>(this), false);
  return 0;
}

unsigned int Vorn_BaseClass::_WeakIncref() const noexcept { return m_ctrl ? _WeakIncrefBlock(m_ctrl) : 0; }
unsigned int Vorn_BaseClass::_WeakDecref() const noexcept { return m_ctrl ? _WeakDecrefBlock(m_ctrl) : 0; }
bool Vorn_BaseClass::_TryIncrefFromWeak() const noexcept { return m_ctrl && _TryIncrefBlock(m_ctrl); }

unsigned int Vorn_BaseClass::_WeakIncrefBlock(_CtrlBlock* block) noexcept { return block->weak.fetch_add(1) + 1; }

unsigned int Vorn_BaseClass::_WeakDecrefBlock(_CtrlBlock* block) noexcept {
  const unsigned int remaining = block->weak.fetch_sub(1) - 1;
  if (remaining == 0) delete block;
  return remaining;
}

Vorn_BaseClass* Vorn_BaseClass::_TryIncrefBlock(_CtrlBlock* block) noexcept {
  unsigned int strong = block->strong.load();
  while (strong != 0 && block->object.load() != nullptr) {
    if (block->strong.compare_exchange_weak(strong, strong + 1)) return block->object.load();
  }
  return nullptr;
}

// --- handles from the object itself -------------------------------------------

Vorn::SharedPtr<Vorn_BaseClass> Vorn_BaseClass::_TryGetSharedPtrFromBase() {
  if (m_ctrl && _TryIncrefBlock(m_ctrl)) return Vorn::SharedPtr<Vorn_BaseClass>::_Adopt(this);
  return {};
}

Vorn::SharedPtr<Vorn_BaseClass> Vorn_BaseClass::_GetSharedPtrFromBase() {
  if (!m_ctrl) return {};
  if (_TryIncrefBlock(m_ctrl)) return Vorn::SharedPtr<Vorn_BaseClass>::_Adopt(this);
  // Not owned: become the first owner. This also succeeds on an object whose
  // last owner has just gone; the deletion then finds it owned and keeps it.
  unsigned int zero = 0;
  if (m_ctrl->strong.compare_exchange_strong(zero, 1)) return Vorn::SharedPtr<Vorn_BaseClass>::_Adopt(this);
  if (_TryIncrefBlock(m_ctrl)) return Vorn::SharedPtr<Vorn_BaseClass>::_Adopt(this);
  return {};
}
