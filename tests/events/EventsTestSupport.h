#pragma once

// Handlers and recorders shared by the events suites.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vorn/events/EventsHandler.h"

namespace vorn_test {

// A handler that can be created (the base constructor is protected) and that
// notes its own destruction, which runs before the base destructor publishes
// "__Vorn__onDestruction__".
class TestHandler : public VornEventsHandler {
public:
  explicit TestHandler(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
  ~TestHandler() override {
    if (m_destroyed) *m_destroyed = true;
  }
  // Allocated on its own (not with make_shared) so that its memory is freed
  // with it and any later use of it is caught by the address sanitizer.
  static std::shared_ptr<TestHandler> Create(bool* destroyed = nullptr) {
    return std::shared_ptr<TestHandler>(new TestHandler(destroyed));
  }

private:
  bool* m_destroyed;
};

// An ordered record of what callbacks did.
struct Journal {
  std::vector<std::string> entries;
  void Add(std::string entry) { entries.push_back(std::move(entry)); }
  // A callback that only records `name`.
  VornEventToken::Callback Recorder(std::string name) {
    return [this, name = std::move(name)](const std::shared_ptr<VornEventData>&) { Add(name); };
  }
};

// Long enough to live on the heap: a callback that reads it after its
// callable was destroyed reads freed memory, which the address sanitizer
// reports.
inline std::string HeapLabel(const std::string& name) { return name + std::string(40, '.'); }

}  // namespace vorn_test
