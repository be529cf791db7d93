#pragma once

// Test objects shared by the object-core suites.

#include <atomic>
#include <string>
#include <vector>

#include "vorn/core/BaseClass.h"
#include "vorn/core/SharedPtr.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace vorn_test {

inline const std::string kStillOwnedMessage =
    "[Vorn - Pointer deletion]\nObject is still owned, deletion aborted (pointer not deleted, not set to "
    "nullptr)!\nIMPORTANT: Owners of shared objects should add a callback by calling "
    "\"AddDestructionRequestCB\" on the object and release their ownership when notified!\n";

inline const std::string kOwnedDestructorMessage =
    "[Vorn - Destructor]\nDestructor called on an owned object!\nPlease use Vorn::SharedPtr<MyClass> or "
    "MyClass_sp to manage the lifetime of shareable objects.\n";

// What happened to one object; outlives it.
struct Tracker {
  std::atomic<int> deleted{0};
  std::atomic<int> requestBegins{0};
};

// A counted object that reports its deletion and its destruction-request hook
// to a tracker, and exposes the protected handle helpers.
class Probe : public Vorn_BaseClass {
public:
  explicit Probe(Tracker* tracker = nullptr) : m_tracker(tracker) {}
  ~Probe() override {
    if (m_tracker) ++m_tracker->deleted;
  }

  Vorn::SharedPtr<Probe> GetSharedPtr() { return Vorn::StaticPointerCast<Probe>(_GetSharedPtrFromBase()); }
  Vorn::SharedPtr<Probe> TryGetSharedPtr() { return Vorn::StaticPointerCast<Probe>(_TryGetSharedPtrFromBase()); }
  void MakeShareable() { _InitCtrlBlock(0); }

protected:
  void _OnDestructionRequestBegin() override {
    if (m_tracker) ++m_tracker->requestBegins;
  }

private:
  Tracker* m_tracker;
};

// Ordered record of destruction callbacks and context deleters (one thread).
struct Journal {
  std::vector<std::string> events;
};

// A context that names itself in the journal; freed by RecordDeleter.
struct NamedCtx {
  Journal* journal;
  std::string name;
};

inline void RecordCallback(unsigned int, Vorn_BaseClass*, void* ctx) {
  auto* c = static_cast<NamedCtx*>(ctx);
  c->journal->events.push_back("cb " + c->name);
}

inline void RecordDeleter(void* ctx) noexcept {
  auto* c = static_cast<NamedCtx*>(ctx);
  c->journal->events.push_back("del " + c->name);
  delete c;
}

// Deleting an object that is still owned strands its control block by design
// (the handles that still point at it keep their share). Tests that do this on
// purpose keep the leak checker from reporting that block.
class ExpectedLeakScope {
public:
#if defined(__SANITIZE_ADDRESS__)
  ExpectedLeakScope() { __lsan_disable(); }
  ~ExpectedLeakScope() { __lsan_enable(); }
#else
  ExpectedLeakScope() {}
  ~ExpectedLeakScope() {}
#endif
  ExpectedLeakScope(const ExpectedLeakScope&) = delete;
  ExpectedLeakScope& operator=(const ExpectedLeakScope&) = delete;
};

}  // namespace vorn_test
