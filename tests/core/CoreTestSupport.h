#pragma once

// Test objects and helpers shared by the object-core and values suites.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "vorn/core/BaseClass.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/core/Facade.h"
#include "vorn/core/SharedPtr.h"
#include "vorn/host/SysLog.h"

namespace vorn_test {

inline const std::string kStillOwnedMessage =
    "[Vorn - Pointer deletion]\nObject is still owned, deletion aborted (pointer not deleted, not set to "
    "nullptr)!\nIMPORTANT: Owners of shared objects should add a callback by calling "
    "\"AddDestructionRequestCB\" on the object and release their ownership when notified!\n";

// The text of the one report `f` raises, thrown or logged.
inline std::string ReportOf(const std::function<void()>& f) {
  KRTAbendCapture capture;
  if (Vorn::UsesStdExceptions()) {
    try {
      f();
    } catch (const std::exception& e) {
      EXPECT_EQ(capture.Count(), 0u);
      return e.what();
    }
    return "<nothing thrown>";
  }
  f();
  EXPECT_EQ(capture.Count(), 1u);
  return capture.Last();
}

// In the default mode the reporting call goes on and answers `expected`.
template <class T>
void Answers(const T& actual, const T& expected) {
  if (!Vorn::UsesStdExceptions()) {
    EXPECT_EQ(actual, expected);
  }
}

// What happened to one object; outlives it.
struct Tracker {
  std::atomic<int> deleted{0};
  std::atomic<int> requestBegins{0};
};

// A counted class that reports its deletion to a tracker, if given one.
template <class Base>
class Tracked : public Base {
public:
  explicit Tracked(Tracker* tracker = nullptr) : m_tracker(tracker) {}
  ~Tracked() override {
    if (m_tracker) ++m_tracker->deleted;
  }

protected:
  Tracker* m_tracker;
};

// Also reports its destruction-request hook; exposes the handle helpers.
class Probe : public Tracked<Vorn_BaseClass> {
public:
  using Tracked::Tracked;
  Vorn::SharedPtr<Probe> GetSharedPtr() { return Vorn::StaticPointerCast<Probe>(_GetSharedPtrFromBase()); }
  Vorn::SharedPtr<Probe> TryGetSharedPtr() { return Vorn::StaticPointerCast<Probe>(_TryGetSharedPtrFromBase()); }
  void MakeShareable() { _InitCtrlBlock(0); }

protected:
  void _OnDestructionRequestBegin() override {
    if (m_tracker) ++m_tracker->requestBegins;
  }
};

// Expose the protected link operations.
class TestFacade : public Tracked<VornBaseFacade> {
public:
  using Tracked::Tracked;
  using VornBaseFacade::_LinkToImpl;
  using VornBaseFacade::_SetOwnsImpl;
};
class TestImpl : public Tracked<VornBaseImpl> {
public:
  using Tracked::Tracked;
  using VornBaseImpl::_LinkToFacade;
  using VornBaseImpl::_SetOwnsFacade;
};

// Ordered record of destruction callbacks and context deleters, and a context
// that names itself in it (freed by RecordDeleter).
using Journal = std::vector<std::string>;
struct NamedCtx {
  Journal* journal;
  std::string name;
};

inline void RecordCallback(unsigned int, Vorn_BaseClass*, void* ctx) {
  auto* c = static_cast<NamedCtx*>(ctx);
  c->journal->push_back("cb " + c->name);
}

inline void RecordDeleter(void* ctx) noexcept {
  auto* c = static_cast<NamedCtx*>(ctx);
  c->journal->push_back("del " + c->name);
  delete c;
}

inline NamedCtx* Named(Journal& journal, const char* name) { return new NamedCtx{&journal, name}; }

}  // namespace vorn_test
