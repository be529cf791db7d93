#pragma once

// A handler the events suites can create, and labels for their callbacks.

#include <memory>
#include <string>

#include "vorn/events/EventsHandler.h"

namespace vorn_test {

// A handler that can be created (the base constructor is protected).
// Allocated on its own (not with make_shared) so that its memory is freed
// with it and any later use of it is caught by the address sanitizer.
class TestHandler : public VornEventsHandler {
public:
  static std::shared_ptr<TestHandler> Create() { return std::shared_ptr<TestHandler>(new TestHandler()); }
};

// Long enough to live on the heap: a callback that reads it after its
// callable was destroyed reads freed memory, which the address sanitizer
// reports.
inline std::string HeapLabel(const std::string& name) { return name + std::string(40, '.'); }

}  // namespace vorn_test
