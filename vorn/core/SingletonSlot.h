#pragma once

#include <atomic>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

// Where a process-wide manager keeps its one instance. Every manager of the
// library has one slot, a private static member, and does nothing else with
// its instance:
//
//   // ViewsManager.h, in the class:
//   friend class Vorn::SingletonSlot<VornViewsManager>;   // it creates and deletes the manager
//   static Vorn::SingletonSlot<VornViewsManager> _Instance;
//   // ViewsManager.cpp:
//   constinit Vorn::SingletonSlot<VornViewsManager> VornViewsManager::_Instance;
//   VornViewsManager* VornViewsManager::_GetInstance() { return _Instance.Get(); }
//   void VornViewsManager::_DeleteInstance() { _Instance.Delete(); }
//
// Get() creates the instance when there is none; Peek() returns it, or null,
// without creating one (for operations that have nothing to do without it);
// Delete() ends it.
//
// Teardown, the one order for every manager: Delete() takes the instance out
// of the slot first and deletes it afterwards. A manager's destructor runs
// code that is not its own (listeners, destruction requests of the objects it
// held, plug-in callbacks), and that code may come back through the manager's
// static functions: it must find no instance rather than a half-destroyed
// one. A Get() made meanwhile creates a fresh instance, unless the slot
// refuses creation (SingletonOptions below).
//
// Creation is `new (std::nothrow) T`: when memory runs out, Get() returns
// null and the slot stays empty (a later Get() tries again). An exception
// thrown by T's constructor leaves the slot empty too and propagates.
//
// The slot has a constexpr constructor and no destructor, so it is set
// before any code runs (define it `constinit`) and stays readable while the
// process's static objects are destroyed.
namespace Vorn {

// Which threads may use a slot.
enum class SingletonThreads {
  // The library's main thread only: a plain pointer, nothing locks. Every
  // manager but the main-thread manager.
  Main,
  // Any thread (the main-thread manager: timeouts are set and removed from
  // any thread). The pointer is atomic: Peek() and a Get() that finds the
  // instance only load it (acquire), so the common path never locks.
  // Creating and deleting hold the slot's mutex: two threads asking at once
  // get the same instance, and a Get() on another thread while Delete()
  // runs waits for the deletion to finish and then creates a new instance,
  // so the old and the new are never alive together. Hence the destructor of
  // an instance in such a slot may use Peek() (it finds nothing) but must not
  // call Get() on its own thread: that would wait for itself.
  Any,
};

// A manager's own rules, fixed where its slot is defined. Each is null or
// false by default.
template <class T>
struct SingletonOptions {
  // Runs on each new instance right after it is put in the slot, so it may
  // reach the manager through its static functions (the property
  // dictionaries register their default file, the tweaker factory its
  // default files). Should it throw, the instance stays.
  void (*onCreated)(T&) = nullptr;
  // Asked before each creation; false: Get() returns null and creates
  // nothing (the client apps manager is not made once the main component is
  // destroyed).
  bool (*mayCreate)() = nullptr;
  // Delete() closes the slot for good: Get() never creates again, not even
  // from code that the deletion itself runs, since the slot closes before the
  // instance is taken out (the main component after Destroy(), the libraries
  // manager after the process end). Delete() closes an empty slot too.
  bool closeOnDelete = false;
  // The instance still there at process end is deleted (Delete()) with the
  // process's static objects, in the reverse order of the slots' first
  // creations, as function-local statics are: a manager made while another
  // was being made (every plug-in factory makes the libraries manager in
  // its constructor) is deleted first. One slot per type: the type's first
  // slot to create an instance is the one deleted.
  bool deleteAtExit = false;
};

template <class T, SingletonThreads Threads = SingletonThreads::Main>
class SingletonSlot {
public:
  constexpr SingletonSlot() noexcept = default;
  constexpr explicit SingletonSlot(const SingletonOptions<T>& options) noexcept : m_options(options) {}
  SingletonSlot(const SingletonSlot&) = delete;
  SingletonSlot& operator=(const SingletonSlot&) = delete;

  // The instance, created when there is none; null when the slot refuses
  // creation or memory runs out.
  T* Get() {
    if (T* instance = m_state.Load()) return instance;
    typename State::Lock lock(m_state);
    if (T* instance = m_state.Load()) return instance;
    if (m_state.IsClosed() || (m_options.mayCreate && !m_options.mayCreate())) return nullptr;
    T* created = new (std::nothrow) T;
    if (!created) return nullptr;
    m_state.Store(created);
    if (m_options.deleteAtExit) {
      // Constructed once, now: its destruction at process end takes its place
      // among the static objects' destructions.
      static const AtExit atExit{*this};
    }
    if (m_options.onCreated) m_options.onCreated(*created);
    return created;
  }

  // The instance, or null; never creates one.
  T* Peek() const noexcept { return m_state.Load(); }

  // Unpublishes the instance, then deletes it (see the top of this file).
  void Delete() {
    typename State::Lock lock(m_state);
    if (m_options.closeOnDelete) m_state.Close();
    delete m_state.Take();
  }

  // True once a closing Delete() has run.
  bool IsClosed() const noexcept { return m_state.IsClosed(); }

private:
  struct AtExit {
    SingletonSlot& slot;
    ~AtExit() { slot.Delete(); }
  };

  struct MainState {
    T* instance = nullptr;
    bool closed = false;
    struct Lock {
      explicit Lock(MainState&) noexcept {}
    };
    T* Load() const noexcept { return instance; }
    void Store(T* value) noexcept { instance = value; }
    T* Take() noexcept { return std::exchange(instance, nullptr); }
    bool IsClosed() const noexcept { return closed; }
    void Close() noexcept { closed = true; }
  };

  struct AnyState {
    std::atomic<T*> instance{nullptr};
    std::atomic<bool> closed{false};
    std::mutex mutex;  // held while creating or deleting
    struct Lock {
      explicit Lock(AnyState& state) : guard(state.mutex) {}
      std::lock_guard<std::mutex> guard;
    };
    T* Load() const noexcept { return instance.load(std::memory_order_acquire); }
    void Store(T* value) noexcept { instance.store(value, std::memory_order_release); }
    T* Take() noexcept { return instance.exchange(nullptr, std::memory_order_acq_rel); }
    bool IsClosed() const noexcept { return closed.load(std::memory_order_acquire); }
    void Close() noexcept { closed.store(true, std::memory_order_release); }
  };

  using State = std::conditional_t<Threads == SingletonThreads::Any, AnyState, MainState>;
  static_assert(std::is_trivially_destructible_v<State>, "read during static destruction: no destructor");

  SingletonOptions<T> m_options;
  State m_state;
};

}  // namespace Vorn
